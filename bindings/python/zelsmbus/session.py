"""Sessions on a controller port, shaped like smbus2.SMBus.

Addresses are 7-bit bus addresses (0x00 to 0x7F), as smbus2 takes them; the
session shifts them left by one into the 8-bit form that the C library uses.
Methods that exist in smbus2 take the same arguments and return the same types
(ints and lists of ints); the methods only this library has return bytes for
EEPROM contents.
"""

from __future__ import annotations

import contextlib
import ctypes
import os
import warnings
from ctypes import byref, c_int32, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p
from typing import Any, Iterator, List, Optional, Sequence, Tuple, Union

from . import _codes
from ._library import load_library
from .errors import TRANSFER_DONE, ZELSMBusError, ZELSMBusWarning

BLOCK_MAX = _codes.ZELSMBUS_BLOCK_MAX
I2C_MAX = _codes.ZELSMBUS_I2C_MAX
REGISTER_FIRST = _codes.ZELSMBUS_ATTR_REGISTER_FIRST
REGISTER_LAST = _codes.ZELSMBUS_ATTR_REGISTER_LAST
EEPROM_MAX = 256

# These calls report their success as ZELSMBUS_WARNING_TRANSFER_DONE; it is
# recorded in last_status but not issued as a Python warning.
_DONE_MEANS_SUCCESS = frozenset({"ZELSMBusBlockProcessCall", "ZELSMBusWriteBlockI2C", "ZELSMBusReadBlockI2C"})

_WIDTH_TYPES = {1: c_uint8, 2: c_uint16, 4: c_uint32, 8: c_uint64}
_ATTR_PREFIX = "ZELSMBUS_ATTR_"
_TEXT_ATTRIBUTES = {"ZELSMBUS_ATTR_PORT_STRING", "ZELSMBUS_ATTR_DEVICE_STRING"}
_ATTRIBUTE_NAMES = {ident: name for name, (ident, _, _) in _codes.ATTRIBUTES.items()}

AttributeKey = Union[str, int]
BytesLike = Union[bytes, bytearray, memoryview]


def _check_int(value: object, low: int, high: int, what: str) -> int:
    if not isinstance(value, int):
        raise TypeError(f"{what} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{what} {value:#x} is outside {low:#x}..{high:#x}")
    return value


def _address(i2c_addr: int) -> int:
    """The library's 8-bit form of a 7-bit address."""
    return _check_int(i2c_addr, 0, 0x7F, "7-bit address") << 1


def _byte(value: int, what: str = "byte") -> int:
    return _check_int(value, 0, 0xFF, what)


def _word(value: int) -> int:
    return _check_int(value, 0, 0xFFFF, "word")


def _block(data: Sequence[int], limit: int) -> Tuple[int, "ctypes.Array[c_uint8]"]:
    """Checks a block of byte values and copies it into a C array of `limit` bytes."""
    if isinstance(data, (int, str)):
        raise TypeError(f"block data must be a sequence of byte values, not {type(data).__name__}")
    try:
        raw = bytes(data)
    except (TypeError, ValueError) as error:
        raise ValueError(f"block data must be byte values 0..255: {error}") from None
    if len(raw) > limit:
        raise ValueError(f"block of {len(raw)} bytes is longer than the {limit} the library accepts")
    buffer = (c_uint8 * limit)()
    ctypes.memmove(buffer, raw, len(raw))
    return len(raw), buffer


def _constant_name(text: str) -> str:
    """The header's constant for an attribute name in any of its spellings.

    "VENDOR_ID", "ZELSMBUS_ATTR_VENDOR_ID" and the command-line tool's
    "vendor-id" name the same attribute, in any case; the tool's
    "setting-1004" is ZELSMBUS_ATTR_1004.
    """
    name = text.strip().upper().replace("-", "_")
    if name.startswith("SETTING_") and name[len("SETTING_"):].isdigit():
        name = name[len("SETTING_"):]
    return name if name.startswith(_ATTR_PREFIX) else _ATTR_PREFIX + name


def _decode(text: bytes) -> str:
    return text.decode("utf-8", "surrogateescape")


class _HandleArray:
    """The handle array of ZELSMBusOpenList, shared by the sessions made from it.

    Each session closes its own handle; when the last one is closed, the array
    goes back to the library through ZELSMBusCloseList (which skips the null
    entries left by the sessions that closed already).
    """

    def __init__(self, lib: ctypes.CDLL, array: Any, count: int) -> None:  # a ctypes pointer to handles
        self._lib = lib
        self._array = array
        self._count = count
        self._open = count

    def handle(self, index: int) -> int:
        return self._array[index]  # type: ignore[no-any-return]

    def release(self, index: int) -> None:
        if self._array is None or not self._array[index]:
            return
        self._lib.ZELSMBusClose(self._array[index])
        self._array[index] = None
        self._open -= 1
        if self._open == 0:
            self._lib.ZELSMBusCloseList(self._count, self._array)
            self._array = None


class Session:
    """An open session on one controller port (smbus2's SMBus, by resource name).

    ``Session("ZELSMBUS::SYSTEM::0::0")`` opens port 0 of the first system
    controller; any name from resource_names() works, as does a port's own text
    or a backplane name such as "PXI0::1::BACKPLANE". Use it as a context
    manager or call close(), which may be called any number of times.

    ``force`` is accepted on the constructor and on every transaction for
    compatibility with smbus2 and has no effect: the library needs no
    I2C_SLAVE_FORCE. Protected addresses are opened by ``unrestricted``.
    """

    def __init__(self, bus: Optional[str] = None, force: bool = False) -> None:
        self._handle: Optional[int] = None
        self._owner: Optional[Tuple[_HandleArray, int]] = None
        self._pec = False
        self.force = force
        self.resource_name: Optional[str] = None
        self.last_status = 0
        self.last_warning: Optional[ZELSMBusWarning] = None
        self._lib = load_library()
        if bus is not None:
            self.open(bus)

    # ---- opening and closing ------------------------------------------------

    def open(self, bus: str) -> None:
        """Opens the port named `bus`, closing the port opened before, if any."""
        if not isinstance(bus, str):
            raise TypeError(f"resource name must be a str, not {type(bus).__name__}"
                            " (this library names ports, it has no bus numbers)")
        if "\0" in bus:
            raise ValueError("resource name contains a NUL character")
        self.close()
        self.resource_name = bus
        handle = c_void_p()
        status = self._lib.ZELSMBusOpen(bus.encode("utf-8", "surrogateescape"), byref(handle))
        if status >= 0:
            self._handle = handle.value  # owned before a warning can turn into an exception
        self._result("ZELSMBusOpen", status)

    @classmethod
    def _adopt(cls, owner: _HandleArray, index: int) -> "Session":
        session = cls()
        session._handle = owner.handle(index)
        session._owner = (owner, index)
        session.resource_name = session.port_string
        return session

    def close(self) -> None:
        """Closes the session; closing a closed session does nothing."""
        handle, self._handle = self._handle, None
        owner, self._owner = self._owner, None
        if owner is not None:
            owner[0].release(owner[1])
        elif handle:
            self._lib.ZELSMBusClose(handle)

    @property
    def closed(self) -> bool:
        return self._handle is None

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # interpreter shutdown: the library may be gone already
            pass

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<zelsmbus.Session {self.resource_name!r} {state}>"

    # ---- status handling ----------------------------------------------------

    def _result(self, function: str, status: int, stacklevel: int = 3) -> int:
        self.last_status = status
        self.last_warning = None
        if status < 0:
            raise ZELSMBusError(status, function)
        if status > 0:
            self.last_warning = ZELSMBusWarning(status, function)
            if not (status == TRANSFER_DONE and function in _DONE_MEANS_SUCCESS):
                warnings.warn(self.last_warning, stacklevel=stacklevel)
        return status

    def _call(self, function: str, *args: object) -> int:
        if self._handle is None:
            raise ValueError("I/O operation on a closed session")
        # stacklevel 4: the warning points at the caller of the public method
        return self._result(function, getattr(self._lib, function)(self._handle, *args), stacklevel=4)

    # ---- packet error checking ----------------------------------------------

    @property
    def pec(self) -> bool:
        """Whether SMBus transactions ask for packet error checking."""
        return self._pec

    @pec.setter
    def pec(self, enable: bool) -> None:
        self._pec = bool(enable)

    def enable_pec(self, enable: bool = True) -> None:
        self.pec = enable

    # ---- SMBus transactions, as in smbus2 -----------------------------------

    def write_quick(self, i2c_addr: int, force: Optional[bool] = None) -> None:
        """Quick command with the write bit.

        The library sends nothing to a protected address on a restricted
        session and reports success; the read form, read_quick, raises instead.
        """
        self._call("ZELSMBusQuickWrite", _address(i2c_addr))

    def read_quick(self, i2c_addr: int, force: Optional[bool] = None) -> None:
        """Quick command with the read bit (not in smbus2)."""
        self._call("ZELSMBusQuickRead", _address(i2c_addr))

    def read_byte(self, i2c_addr: int, force: Optional[bool] = None) -> int:
        """SMBus receive byte."""
        value = c_uint8()
        self._call("ZELSMBusReceiveByte", _address(i2c_addr), int(self._pec), byref(value))
        return value.value

    def write_byte(self, i2c_addr: int, value: int, force: Optional[bool] = None) -> None:
        """SMBus send byte."""
        self._call("ZELSMBusSendByte", _address(i2c_addr), _byte(value), int(self._pec))

    def read_byte_data(self, i2c_addr: int, register: int, force: Optional[bool] = None) -> int:
        value = c_uint8()
        self._call("ZELSMBusReadByte", _address(i2c_addr), _byte(register, "register"), int(self._pec),
                   byref(value))
        return value.value

    def write_byte_data(self, i2c_addr: int, register: int, value: int, force: Optional[bool] = None) -> None:
        self._call("ZELSMBusWriteByte", _address(i2c_addr), _byte(register, "register"), _byte(value),
                   int(self._pec))

    def read_word_data(self, i2c_addr: int, register: int, force: Optional[bool] = None) -> int:
        value = c_uint16()
        self._call("ZELSMBusReadWord", _address(i2c_addr), _byte(register, "register"), int(self._pec),
                   byref(value))
        return value.value

    def write_word_data(self, i2c_addr: int, register: int, value: int, force: Optional[bool] = None) -> None:
        self._call("ZELSMBusWriteWord", _address(i2c_addr), _byte(register, "register"), _word(value),
                   int(self._pec))

    def process_call(self, i2c_addr: int, register: int, value: int, force: Optional[bool] = None) -> int:
        result = c_uint16()
        self._call("ZELSMBusProcessCall", _address(i2c_addr), _byte(register, "register"), _word(value),
                   int(self._pec), byref(result))
        return result.value

    def read_block_data(self, i2c_addr: int, register: int, force: Optional[bool] = None) -> List[int]:
        """SMBus block read: the device says how many bytes (at most 32) follow."""
        count = c_uint8()
        data = (c_uint8 * BLOCK_MAX)()
        self._call("ZELSMBusReadBlock", _address(i2c_addr), _byte(register, "register"), int(self._pec),
                   byref(count), data)
        return list(data[:min(count.value, BLOCK_MAX)])

    def write_block_data(self, i2c_addr: int, register: int, data: Sequence[int],
                         force: Optional[bool] = None) -> None:
        """SMBus block write of at most 32 bytes."""
        address, command = _address(i2c_addr), _byte(register, "register")
        count, buffer = _block(data, BLOCK_MAX)
        self._call("ZELSMBusWriteBlock", address, command, count, buffer, int(self._pec))

    def block_process_call(self, i2c_addr: int, register: int, data: Sequence[int],
                           force: Optional[bool] = None) -> List[int]:
        """SMBus block process call: writes up to 32 bytes, returns the reply block."""
        address, command = _address(i2c_addr), _byte(register, "register")
        count, buffer = _block(data, BLOCK_MAX)
        reply_count = c_uint8()
        reply = (c_uint8 * BLOCK_MAX)()
        self._call("ZELSMBusBlockProcessCall", address, command, count, buffer, int(self._pec),
                   byref(reply_count), reply)
        return list(reply[:min(reply_count.value, BLOCK_MAX)])

    def read_i2c_block_data(self, i2c_addr: int, register: int, length: int,
                            force: Optional[bool] = None) -> List[int]:
        """I2C block read of `length` bytes (up to 256, where smbus2 stops at 32) after `register`."""
        address, command = _address(i2c_addr), _byte(register, "register")
        length = _check_int(length, 0, I2C_MAX, "length")
        data = (c_uint8 * I2C_MAX)()
        self._call("ZELSMBusReadBlockI2C", address, command, length, data)
        return list(data[:length])

    def write_i2c_block_data(self, i2c_addr: int, register: int, data: Sequence[int],
                             force: Optional[bool] = None) -> None:
        """I2C block write of up to 256 bytes after `register`."""
        address, command = _address(i2c_addr), _byte(register, "register")
        length, buffer = _block(data, I2C_MAX)
        self._call("ZELSMBusWriteBlockI2C", address, command, length, buffer)

    # ---- bus lock -------------------------------------------------------------

    def lock(self) -> None:
        """Takes the bus lock of this port (the driver decides how long it waits)."""
        self._call("ZELSMBusLock")

    def unlock(self) -> None:
        """Releases the bus lock of this port."""
        self._call("ZELSMBusUnlock")

    @contextlib.contextmanager
    def locked(self) -> Iterator["Session"]:
        """``with bus.locked(): ...`` holds the bus lock for the block, released on every exit."""
        self.lock()
        try:
            yield self
        finally:
            self.unlock()

    # ---- attributes -------------------------------------------------------------

    @staticmethod
    def _attribute(attribute: AttributeKey) -> Tuple[int, int, str]:
        """(identifier, width, name) of an attribute given by name or number."""
        if isinstance(attribute, str):
            name = _constant_name(attribute)
            if name not in _codes.ATTRIBUTES:
                raise ValueError(f"unknown attribute {attribute!r}")
            ident, width, _ = _codes.ATTRIBUTES[name]
            return ident, width, name
        ident = _check_int(attribute, 0, 0xFFFFFFFF, "attribute identifier")
        if ident in _ATTRIBUTE_NAMES:
            name = _ATTRIBUTE_NAMES[ident]
            return ident, _codes.ATTRIBUTES[name][1], name
        if REGISTER_FIRST <= ident <= REGISTER_LAST:
            return ident, 4, ""
        raise ValueError(f"unknown attribute identifier {ident}")

    def _get_raw(self, ident: int, width: int) -> int:
        value = _WIDTH_TYPES[width]()
        self._call("ZELSMBusGetAttribute", ident, byref(value))
        return value.value

    def get_attribute(self, attribute: AttributeKey) -> Union[int, str, List[int]]:
        """Reads an attribute by name ("VENDOR_ID", "ZELSMBUS_ATTR_VENDOR_ID" or
        the command-line tool's "vendor-id", any case) or by identifier.

        Numeric attributes give an int (booleans 0 or 1). PORT_STRING and
        DEVICE_STRING give the text itself, PROTECTED_LIST the list of protected
        8-bit addresses, rather than the addresses of C memory that the library
        returns for them.
        """
        ident, width, name = self._attribute(attribute)
        raw = self._get_raw(ident, width)
        if name in _TEXT_ATTRIBUTES:
            return _decode(ctypes.string_at(raw)) if raw else ""
        if name == "ZELSMBUS_ATTR_PROTECTED_LIST":
            count = self._get_raw(*self._attribute("PROTECTED_COUNT")[:2])
            return list(ctypes.string_at(raw, count)) if raw and count else []
        return raw

    def set_attribute(self, attribute: AttributeKey, value: int) -> None:
        """Sets an attribute by name or identifier; the library refuses read-only ones."""
        ident, width, _ = self._attribute(attribute)
        value = _check_int(int(value) if isinstance(value, bool) else value, 0, (1 << (8 * width)) - 1, "value")
        self._call("ZELSMBusSetAttribute", ident, byref(_WIDTH_TYPES[width](value)))

    def read_register(self, offset: int) -> int:
        """Reads the 32-bit controller register at a byte offset (needs unrestricted)."""
        return self._get_raw(REGISTER_FIRST + _check_int(offset, 0, REGISTER_LAST - REGISTER_FIRST, "offset"), 4)

    def write_register(self, offset: int, value: int) -> None:
        """Writes the 32-bit controller register at a byte offset (needs unrestricted)."""
        self.set_attribute(REGISTER_FIRST + _check_int(offset, 0, REGISTER_LAST - REGISTER_FIRST, "offset"),
                           value)

    @property
    def unrestricted(self) -> bool:
        """Whether this session may reach protected addresses and full-access attributes."""
        return bool(self.get_attribute("UNRESTRICTED"))

    @unrestricted.setter
    def unrestricted(self, enable: bool) -> None:
        self.set_attribute("UNRESTRICTED", 1 if enable else 0)

    @property
    def port_string(self) -> str:
        """The port's own text (it opens the port as a resource name too)."""
        return str(self.get_attribute("PORT_STRING"))

    @property
    def device_string(self) -> str:
        """The device's text; empty when the driver gives none (the library
        then answers ZELSMBUS_ERROR_NOT_SUPPORTED for the attribute)."""
        try:
            return str(self.get_attribute("DEVICE_STRING"))
        except ZELSMBusError as error:
            if error.code == _codes.ZELSMBUS_ERROR_NOT_SUPPORTED:
                return ""
            raise

    @property
    def firmware_version(self) -> int:
        return int(self.get_attribute("FIRMWARE_VERSION"))  # type: ignore[arg-type]

    @property
    def protected_addresses(self) -> List[int]:
        """The protected devices as 7-bit addresses, sorted, without repeats."""
        listed = self.get_attribute("PROTECTED_LIST")
        assert isinstance(listed, list)
        return sorted({a >> 1 for a in listed})

    # ---- EEPROMs and firmware -------------------------------------------------------

    def read_eeprom(self, i2c_addr: int, offset: int = 0, length: int = EEPROM_MAX) -> bytes:
        """Reads `length` (1 to 256) bytes of the I2C EEPROM at a 7-bit address from an 8-bit offset."""
        address = _address(i2c_addr)
        offset = _byte(offset, "offset")
        length = _check_int(length, 1, EEPROM_MAX, "length")
        data = (c_uint8 * EEPROM_MAX)()
        self._call("ZELSMBusReadI2CEEPROM", address, offset, length, data)
        return bytes(data[:length])

    def chassis_eeprom(self, offset: int = 0, length: int = EEPROM_MAX) -> bytes:
        """Reads `length` (1 to 256) bytes of the chassis EEPROM, on a port that reaches it."""
        offset = _byte(offset, "offset")
        length = _check_int(length, 1, EEPROM_MAX, "length")
        data = (c_uint8 * EEPROM_MAX)()
        self._call("ZELSMBusGetChassisEEPROM", offset, length, data)
        return bytes(data[:length])

    def write_firmware(self, image: Union[BytesLike, str, "os.PathLike[str]"], force: bool = False) -> None:
        """Replaces the controller's firmware from an image (its bytes, or a path to its file).

        force=True accepts an image whose version is not newer than the installed one.
        """
        if isinstance(image, (str, os.PathLike)):
            with open(image, "rb") as file:
                data = file.read()
        elif isinstance(image, (bytes, bytearray, memoryview)):
            data = bytes(image)
        else:
            raise TypeError(f"image must be bytes or a path, not {type(image).__name__}")
        if not data:
            raise ValueError("firmware image is empty")
        if len(data) > 0xFFFFFFFF:
            raise ValueError("firmware image is larger than 4 GiB")
        buffer = ctypes.create_string_buffer(data, len(data))
        flags = _codes.ZELSMBUS_FIRMWARE_FORCE if force else 0
        self._call("ZELSMBusWriteFirmware", len(data), buffer, flags)


SMBus = Session


def open_all() -> List[Session]:
    """Opens a session on every controller port, in the order of resource_names()."""
    lib = load_library()
    count = c_uint32(0)
    status = c_int32(0)
    array = lib.ZELSMBusOpenList(byref(count), byref(status))
    if not array:
        raise ZELSMBusError(status.value, "ZELSMBusOpenList")
    owner = _HandleArray(lib, array, count.value)
    sessions: List[Session] = []
    try:
        for index in range(count.value):
            sessions.append(Session._adopt(owner, index))
    except BaseException:
        for session in sessions:
            session.close()
        for index in range(len(sessions), count.value):
            owner.release(index)
        raise
    return sessions


def resource_names() -> List[str]:
    """Every resource name that Session() opens: backplanes first, then ports."""
    lib = load_library()
    block = lib.ZELSMBusGetResourceNameList()
    if not block:
        raise ZELSMBusError(None, "ZELSMBusGetResourceNameList",
                            "the name list could not be built (chassis-query library unavailable "
                            "or out of memory)")
    try:
        names: List[str] = []
        position = block
        while True:
            name = ctypes.string_at(position)
            if not name:
                return names
            names.append(_decode(name))
            position += len(name) + 1
    finally:
        lib.ZELSMBusPutResourceNameList(block)
