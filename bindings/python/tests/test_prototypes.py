"""The ctypes prototypes of the 29 functions against the C header's declarations."""

import ctypes
import re

from zelsmbus import _library
from conftest import SOURCE_ROOT

HEADER = (SOURCE_ROOT / "include" / "zelsmbus.h").read_text()

# How each C type of the header crosses ctypes. A handle is opaque; a char
# list returned by the library is kept as an address so that it can be
# handed back for release.
C_TYPES = {
    "int32_t": ctypes.c_int32,
    "uint8_t": ctypes.c_uint8,
    "uint16_t": ctypes.c_uint16,
    "uint32_t": ctypes.c_uint32,
    "void": None,
    "const char *": ctypes.c_char_p,
    "char *": ctypes.c_void_p,
    "void *": ctypes.c_void_p,
    "const void *": ctypes.c_void_p,
    "tSMBusHandle *": ctypes.c_void_p,
    "tSMBusHandle **": ctypes.POINTER(ctypes.c_void_p),
    "uint8_t *": ctypes.POINTER(ctypes.c_uint8),
    "const uint8_t *": ctypes.POINTER(ctypes.c_uint8),
    "uint16_t *": ctypes.POINTER(ctypes.c_uint16),
    "uint32_t *": ctypes.POINTER(ctypes.c_uint32),
    "int32_t *": ctypes.POINTER(ctypes.c_int32),
}


def normalise(declaration):
    """'const uint8_t *data' -> 'const uint8_t *'; 'tSMBusHandle **handle' -> 'tSMBusHandle **'."""
    declaration = " ".join(declaration.split())
    match = re.fullmatch(r"(.*?)\s*(\**)\s*(\w+)?", declaration)
    base, stars = match.group(1), match.group(2)
    return base + (" " + stars if stars else "")


def header_prototypes():
    prototypes = {}
    for match in re.finditer(r"ZELSMBUS_API\s+([^;(]*?)\b(ZELSMBus\w+)\s*\(([^)]*)\)\s*;", HEADER):
        result = normalise(match.group(1).strip() + " x")
        parameters = [p.strip() for p in match.group(3).split(",") if p.strip()]
        if parameters == ["void"]:
            parameters = []
        prototypes[match.group(2)] = (result, [normalise(p) for p in parameters])
    return prototypes


def test_every_function_is_declared_as_the_header_declares_it():
    declared = header_prototypes()
    assert len(declared) == 29
    assert set(declared) == set(_library._PROTOTYPES)
    for name, (result, parameters) in declared.items():
        restype, argtypes = _library._PROTOTYPES[name]
        assert restype == C_TYPES[result], f"{name}: result {result}"
        assert len(argtypes) == len(parameters), f"{name}: {len(parameters)} parameters"
        for position, (actual, c_type) in enumerate(zip(argtypes, parameters)):
            assert actual == C_TYPES[c_type], f"{name}: parameter {position + 1} is {c_type}"


def test_the_reading_of_declarations_sees_pointers_and_widths():
    assert normalise("const uint8_t *data") == "const uint8_t *"
    assert normalise("tSMBusHandle **handles") == "tSMBusHandle **"
    assert normalise("uint32_t length") == "uint32_t"
    assert header_prototypes()["ZELSMBusGetResourceNameList"] == ("char *", [])
