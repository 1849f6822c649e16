"""Finding libzelsmbus.so.2 and declaring its 29 C functions for ctypes."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from ctypes import POINTER, c_char_p, c_int32, c_uint8, c_uint16, c_uint32, c_void_p
from typing import List, Optional, Union

SONAME = "libzelsmbus.so.2"
ENVIRONMENT_VARIABLE = "ZELSMBUS_LIBRARY"

_handle_p = c_void_p
_u8_p = POINTER(c_uint8)
_u16_p = POINTER(c_uint16)
_u32_p = POINTER(c_uint32)
_i32_p = POINTER(c_int32)

# name -> (result type, argument types), in the header's order.
_PROTOTYPES = {
    "ZELSMBusOpen": (c_int32, [c_char_p, POINTER(_handle_p)]),
    "ZELSMBusOpenList": (POINTER(_handle_p), [_u32_p, _i32_p]),
    "ZELSMBusOpenListEx": (POINTER(_handle_p), [c_void_p, _u32_p, _i32_p]),
    "ZELSMBusClose": (c_int32, [_handle_p]),
    "ZELSMBusCloseList": (None, [c_uint32, POINTER(_handle_p)]),
    "ZELSMBusGetResourceNameList": (c_void_p, []),
    "ZELSMBusPutResourceNameList": (None, [c_void_p]),
    "ZELSMBusQuickRead": (c_int32, [_handle_p, c_uint8]),
    "ZELSMBusQuickWrite": (c_int32, [_handle_p, c_uint8]),
    "ZELSMBusSendByte": (c_int32, [_handle_p, c_uint8, c_uint8, c_int32]),
    "ZELSMBusReceiveByte": (c_int32, [_handle_p, c_uint8, c_int32, _u8_p]),
    "ZELSMBusWriteByte": (c_int32, [_handle_p, c_uint8, c_uint8, c_uint8, c_int32]),
    "ZELSMBusReadByte": (c_int32, [_handle_p, c_uint8, c_uint8, c_int32, _u8_p]),
    "ZELSMBusWriteWord": (c_int32, [_handle_p, c_uint8, c_uint8, c_uint16, c_int32]),
    "ZELSMBusReadWord": (c_int32, [_handle_p, c_uint8, c_uint8, c_int32, _u16_p]),
    "ZELSMBusProcessCall": (c_int32, [_handle_p, c_uint8, c_uint8, c_uint16, c_int32, _u16_p]),
    "ZELSMBusWriteBlock": (c_int32, [_handle_p, c_uint8, c_uint8, c_uint8, _u8_p, c_int32]),
    "ZELSMBusReadBlock": (c_int32, [_handle_p, c_uint8, c_uint8, c_int32, _u8_p, _u8_p]),
    "ZELSMBusBlockProcessCall": (
        c_int32, [_handle_p, c_uint8, c_uint8, c_uint8, _u8_p, c_int32, _u8_p, _u8_p]),
    "ZELSMBusWriteBlockI2C": (c_int32, [_handle_p, c_uint8, c_uint8, c_uint32, _u8_p]),
    "ZELSMBusReadBlockI2C": (c_int32, [_handle_p, c_uint8, c_uint8, c_uint32, _u8_p]),
    "ZELSMBusLock": (c_int32, [_handle_p]),
    "ZELSMBusUnlock": (c_int32, [_handle_p]),
    "ZELSMBusResetBus": (c_int32, [_handle_p]),
    "ZELSMBusGetAttribute": (c_int32, [_handle_p, c_uint32, c_void_p]),
    "ZELSMBusSetAttribute": (c_int32, [_handle_p, c_uint32, c_void_p]),
    "ZELSMBusReadI2CEEPROM": (c_int32, [_handle_p, c_uint32, c_uint32, c_uint32, _u8_p]),
    "ZELSMBusGetChassisEEPROM": (c_int32, [_handle_p, c_uint32, c_uint32, _u8_p]),
    "ZELSMBusWriteFirmware": (c_int32, [_handle_p, c_uint32, c_void_p, c_uint32]),
}

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    for name, (restype, argtypes) in _PROTOTYPES.items():
        try:
            function = getattr(lib, name)
        except AttributeError:
            continue  # an older library: calling it raises AttributeError naming the symbol
        function.restype = restype
        function.argtypes = argtypes
    return lib


def _candidates(path: Union[str, "os.PathLike[str]", None]) -> List[str]:
    if path is not None:
        return [os.fspath(path)]
    from_environment = os.environ.get(ENVIRONMENT_VARIABLE)
    if from_environment:
        return [from_environment]
    found = ctypes.util.find_library("zelsmbus")
    # The soname first: the dynamic loader's own search (LD_LIBRARY_PATH,
    # the cache, the default directories) finds the ABI this binding speaks.
    return [SONAME] + ([found] if found and found != SONAME else [])


def _loaded_path(lib: ctypes.CDLL) -> str:
    """The file a loaded library came from (the loader's search may have found it)."""
    if "/" in lib._name:
        return os.path.realpath(lib._name)
    try:
        with open("/proc/self/maps") as maps:
            for line in maps:
                path = line.split(maxsplit=5)[-1].strip()
                if os.path.basename(path).startswith("libzelsmbus.so"):
                    return os.path.realpath(path)
    except OSError:
        pass
    return lib._name


def load_library(path: Union[str, "os.PathLike[str]", None] = None) -> ctypes.CDLL:
    """Loads libzelsmbus and returns it; later calls return the same library.

    The library is looked for, in this order: the path given here; the path in
    the environment variable ZELSMBUS_LIBRARY; the soname libzelsmbus.so.2
    through the dynamic loader's usual search; whatever
    ctypes.util.find_library("zelsmbus") finds. Call this before opening a
    session to choose an explicit file; a different path after the library was
    loaded raises RuntimeError.
    """
    global _library
    with _lock:
        if _library is not None:
            if path is not None and os.path.realpath(os.fspath(path)) != _loaded_path(_library):
                raise RuntimeError(f"libzelsmbus is already loaded from {_loaded_path(_library)}")
            return _library
        errors = []
        for candidate in _candidates(path):
            try:
                _library = _declare(ctypes.CDLL(candidate))
                return _library
            except OSError as error:
                errors.append(str(error))
        raise OSError("libzelsmbus.so.2 not found (set ZELSMBUS_LIBRARY or pass a path to "
                      "zelsmbus.load_library): " + "; ".join(errors))
