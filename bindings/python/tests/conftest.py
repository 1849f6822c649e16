"""Fixtures for the binding's tests.

The tests run under the simulated driver: build the project, then

    ZELSMBUS_LIBRARY=build/src/libzelsmbus.so.2 \
        build/sim/zelsim --in-process -- /usr/bin/python3 -m pytest bindings/python/tests

(ctest runs exactly this). The simulator's control functions are then part of
the process, and `sim` reaches them to reset the world and to look at what
reached the simulated devices.
"""

from __future__ import annotations

import ctypes
import os
import sys
from pathlib import Path

import pytest

PACKAGE_ROOT = Path(__file__).resolve().parents[1]
SOURCE_ROOT = Path(os.environ.get("ZELSMBUS_SOURCE_DIR", PACKAGE_ROOT.parents[1]))
sys.path.insert(0, str(PACKAGE_ROOT))

import zelsmbus  # noqa: E402

# The default world of the simulator (sim/README.md).
SYSTEM_PORT = "ZELSMBUS::SYSTEM::0::0"
EEPROM = 0x50  # 7-bit address of the EEPROM on the first system port
SENSOR = 0x48  # 7-bit address of the register device on the first system port
ABSENT = 0x11  # nobody answers here
PROTECTED_DEVICE = 0x2C  # 8-bit 0x58, protected on the first system port
BACKPLANE = "PXI0::1::BACKPLANE"  # the remote controller's port, in chassis 1


class Simulator:
    """The few control functions of libzelsim.so that the tests use."""

    def __init__(self) -> None:
        lib = ctypes.CDLL(None)
        if not hasattr(lib, "zelsim_reset") or os.environ.get("ZELSIM_SERVER"):
            # The control functions act on the world inside this process: not a shared one.
            pytest.exit("run the tests under the simulator: "
                        "build/sim/zelsim --in-process -- python3 -m pytest ...", 2)
        self.lib = lib
        lib.zelsim_log_count.restype = ctypes.c_size_t
        lib.zelsim_eeprom_read.argtypes = [ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_uint,
                                           ctypes.c_void_p, ctypes.c_size_t]
        lib.zelsim_eeprom_write.argtypes = lib.zelsim_eeprom_read.argtypes
        lib.zelsim_set_driver_status.argtypes = [ctypes.c_uint, ctypes.c_int32, ctypes.c_uint]
        lib.zelsim_register_read.argtypes = [ctypes.c_uint, ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)]
        lib.zelsim_register_write.argtypes = [ctypes.c_uint, ctypes.c_uint32, ctypes.c_uint32]

    def reset(self) -> None:
        self.lib.zelsim_reset()

    def commands_sent(self) -> int:
        return self.lib.zelsim_log_count()

    def eeprom(self, address7: int, offset: int, length: int, node: int = 0, port: int = 0) -> bytes:
        buffer = ctypes.create_string_buffer(length)
        assert self.lib.zelsim_eeprom_read(node, port, address7 << 1, offset, buffer, length) == 0
        return buffer.raw

    def set_eeprom(self, address7: int, offset: int, data: bytes, node: int = 0, port: int = 0) -> None:
        assert self.lib.zelsim_eeprom_write(node, port, address7 << 1, offset, data, len(data)) == 0

    def last_pec(self, node: int = 0, port: int = 0) -> int:
        return self.lib.zelsim_last_pec(node, port)

    def lock_owner(self, node: int = 0, port: int = 0) -> int:
        return self.lib.zelsim_lock_owner(node, port)

    def answer_next(self, command: int, word: int) -> None:
        """The next reply to a driver command carries this status word."""
        self.lib.zelsim_set_driver_status(command, word, 1)

    def register(self, node: int, offset: int) -> int:
        value = ctypes.c_uint32()
        assert self.lib.zelsim_register_read(node, offset, ctypes.byref(value)) == 0
        return value.value

    def set_register(self, node: int, offset: int, value: int) -> None:
        assert self.lib.zelsim_register_write(node, offset, value) == 0


@pytest.fixture(scope="session")
def _simulator() -> Simulator:
    return Simulator()


@pytest.fixture
def sim(_simulator: Simulator) -> Simulator:
    """A fresh default world for every test."""
    _simulator.reset()
    return _simulator


@pytest.fixture
def bus(sim: Simulator):
    with zelsmbus.SMBus(SYSTEM_PORT) as session:
        yield session
