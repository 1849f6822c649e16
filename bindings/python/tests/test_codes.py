"""The status and attribute tables against the C header, and how statuses surface."""

import errno
import importlib.util
import pickle
import warnings

import pytest

import zelsmbus
from zelsmbus import _codes
from zelsmbus._library import _loaded_path
from conftest import ABSENT, EEPROM, PACKAGE_ROOT, SOURCE_ROOT, SYSTEM_PORT

_spec = importlib.util.spec_from_file_location("generate_codes", PACKAGE_ROOT / "tools" / "generate_codes.py")
generate_codes = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(generate_codes)

HEADER = (SOURCE_ROOT / "include" / "zelsmbus.h").read_text()


def test_committed_tables_match_the_header():
    assert (PACKAGE_ROOT / "zelsmbus" / "_codes.py").read_text() == generate_codes.render(HEADER), \
        "run tools/generate_codes.py: zelsmbus/_codes.py is out of date"
    statuses = generate_codes.parse_status_codes(HEADER)
    # Every enumerator of the header's enum made it into the table, spelled as in C.
    assert {name for name, _, _ in statuses} == set(zelsmbus.STATUS_CODES)
    assert zelsmbus.STATUS_CODES["ZELSMBUS_ERROR_PROTECTED"] == (-26983, statuses[
        [n for n, _, _ in statuses].index("ZELSMBUS_ERROR_PROTECTED")][2])
    assert zelsmbus.ATTRIBUTES["ZELSMBUS_ATTR_PROTECTED_COUNT"][:2] == (401, 1)
    assert _codes.ZELSMBUS_I2C_MAX == 256 and _codes.ZELSMBUS_BLOCK_MAX == 32


def test_parser_reads_every_row_of_a_macro():
    text = '''#define ZELSMBUS_STATUS_CODES(X) \\
    X(A_OK, 0, "fine") \\
    X(A_BAD, -7, "broken, \\"badly\\"")
int after;'''
    assert generate_codes.parse_status_codes(text) == [("A_OK", 0, "fine"), ("A_BAD", -7, 'broken, \\"badly\\"')]
    with pytest.raises(ValueError):
        generate_codes.parse_attributes(text)


@pytest.mark.parametrize("name", sorted(n for n, (v, _) in zelsmbus.STATUS_CODES.items() if v < 0))
def test_every_error_code_maps_to_its_name_and_meaning(name):
    value, meaning = zelsmbus.STATUS_CODES[name]
    error = zelsmbus.ZELSMBusError(value, "ZELSMBusReadByte")
    assert (error.code, error.name, error.meaning) == (value, name, meaning)
    assert isinstance(error, OSError)
    assert error.errno == zelsmbus.errno_of(value) and error.errno > 0
    assert error.strerror == f"ZELSMBusReadByte: {name} ({value}): {meaning}"
    assert str(error) == f"[Errno {error.errno}] {error.strerror}"
    assert pickle.loads(pickle.dumps(error)).errno == error.errno


# The errno smbus2 users test for: each code as its meaning suggests.
@pytest.mark.parametrize("name, expected", [
    ("ZELSMBUS_ERROR_IO", errno.EREMOTEIO),  # the driver's answer when no device acknowledges
    ("ZELSMBUS_ERROR_BUSY", errno.EBUSY),
    ("ZELSMBUS_ERROR_TIMEOUT", errno.ETIMEDOUT),
    ("ZELSMBUS_ERROR_INVALID_PARAMETER", errno.EINVAL),
    ("ZELSMBUS_ERROR_NOT_FOUND", errno.ENOENT),
    ("ZELSMBUS_ERROR_PROTECTED", errno.EPERM),
    ("ZELSMBUS_ERROR_ACCESS_DENIED", errno.EACCES),
    ("ZELSMBUS_ERROR_NOT_SUPPORTED", errno.EOPNOTSUPP),
    ("ZELSMBUS_ERROR_OUT_OF_MEMORY", errno.ENOMEM),
    ("ZELSMBUS_ERROR_CORRUPT_DATA", errno.EBADMSG),
])
def test_errors_carry_the_errno_that_fits(name, expected):
    assert zelsmbus.ZELSMBusError(zelsmbus.STATUS_CODES[name][0]).errno == expected


def test_codes_outside_the_table_are_eio():
    assert zelsmbus.ZELSMBusError(-123456).errno == errno.EIO
    assert zelsmbus.ZELSMBusError(None, "ZELSMBusGetResourceNameList").errno == errno.EIO


def test_codes_outside_the_table_keep_their_value():
    error = zelsmbus.ZELSMBusError(-123456)
    assert (error.code, error.name) == (-123456, "UNKNOWN")
    assert zelsmbus.describe(50254) == ("ZELSMBUS_WARNING_TRANSFER_DONE", zelsmbus.STATUS_CODES[
        "ZELSMBUS_WARNING_TRANSFER_DONE"][1])


def test_library_errors_raise_with_their_code(sim):
    with pytest.raises(zelsmbus.ZELSMBusError) as raised:
        zelsmbus.SMBus("ZELSMBUS::SYSTEM::7::0")
    assert (raised.value.code, raised.value.name) == (-52006, "ZELSMBUS_ERROR_NOT_FOUND")
    assert raised.value.function == "ZELSMBusOpen"

    with zelsmbus.SMBus(SYSTEM_PORT) as bus:
        # smbus2 scripts probe for devices with "except OSError"; that still works.
        with pytest.raises(OSError) as raised:
            bus.read_byte_data(ABSENT, 0)
        assert raised.value.code == bus.last_status < 0
        assert raised.value.errno in (errno.ENXIO, errno.EREMOTEIO, errno.EIO)
        bus.read_byte_data(EEPROM, 0)  # the session stays usable
        assert bus.last_status == 0


def test_transfer_done_is_recorded_not_warned(bus):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        bus.write_i2c_block_data(EEPROM, 0x10, [1, 2, 3])
    assert bus.last_status == zelsmbus.ZELSMBUS_WARNING_TRANSFER_DONE
    assert bus.last_warning.name == "ZELSMBUS_WARNING_TRANSFER_DONE"
    bus.read_byte_data(EEPROM, 0x10)
    assert (bus.last_status, bus.last_warning) == (0, None)


def test_other_positive_status_is_a_warning_and_the_value_comes_through(bus, sim):
    sim.set_eeprom(EEPROM, 0x20, b"\x5a")
    sim.answer_next(0x0E, 4242)  # readByte answered with a positive driver word
    with pytest.warns(zelsmbus.ZELSMBusWarning) as caught:
        assert bus.read_byte_data(EEPROM, 0x20) == 0x5A
    assert caught[0].message.code == 4242 == bus.last_status
    assert caught[0].filename == __file__  # points at the caller's line


def test_load_library_keeps_the_first_library(sim):
    lib = zelsmbus.load_library()
    assert zelsmbus.load_library() is lib
    loaded = _loaded_path(lib)
    assert zelsmbus.load_library(loaded) is lib
    with pytest.raises(RuntimeError):
        zelsmbus.load_library("/nonexistent/libzelsmbus.so.2")
