"""Firmware update of the simulated controllers through write_firmware."""

import os
import subprocess

import pytest

import zelsmbus
from firmware_image import make_image

REMOTE_PORT = "ZELSMBUS::REMOTE::0::0"  # flash device 0x9D17, restarts into new firmware
HOST_PORT = "ZELSMBUS::SYSTEM::0::0"    # flash device 0x1010
# Where the built-in world's boards keep their pin-out word (version 3), by subsystem.
PINOUT_ADDRESS = {0x7270: 0x18000, 0x7A51: 0x20000}
PINOUT_VERSION = 3
PAYLOAD = bytes((i * 37) & 0xFF for i in range(1000))


def image_for(bus, version, **changes):
    subsystem = bus.get_attribute("SUBSYSTEM_ID")
    fields = dict(version=version, subsystem=subsystem,
                  pinout_address=PINOUT_ADDRESS[subsystem], pinout_version=PINOUT_VERSION)
    fields.update(changes)
    return make_image(fields.pop("payload", PAYLOAD), **fields)


def tool_image(bus, version, directory):
    """An image made by the project's zelsmbus-mkimage when the build has it."""
    tool = os.environ.get("ZELSMBUS_MKIMAGE")
    path = directory / "firmware.img"
    if not tool:
        path.write_bytes(image_for(bus, version))
        return path
    binary = directory / "firmware.bin"
    binary.write_bytes(PAYLOAD)
    subsystem = bus.get_attribute("SUBSYSTEM_ID")
    subprocess.run([tool, str(binary), "-o", str(path), "--firmware-version", str(version),
                    "--subsystem-id", str(subsystem), "--pinout-addr", str(PINOUT_ADDRESS[subsystem]),
                    "--pinout-ver", str(PINOUT_VERSION)], check=True, timeout=60)
    return path


def test_update_restarts_the_controller_into_the_new_firmware(sim, tmp_path):
    with zelsmbus.Session(REMOTE_PORT) as bus:
        installed = bus.firmware_version
        image = tool_image(bus, installed + 0x100, tmp_path)
        bus.write_firmware(image)  # a path works as well as the bytes
        assert bus.last_status == 0
        # The simulated controller counts its restart in the version register.
        assert bus.firmware_version == installed + 1


def test_an_image_that_is_not_newer_needs_force(sim):
    with zelsmbus.Session(HOST_PORT) as bus:
        image = image_for(bus, bus.firmware_version)
        with pytest.raises(zelsmbus.ZELSMBusError) as raised:
            bus.write_firmware(image)
        assert raised.value.code == zelsmbus.ZELSMBUS_ERROR_INVALID_PARAMETER
        bus.write_firmware(bytearray(image), force=True)
        assert bus.last_status == 0


@pytest.mark.parametrize("changes,code", [
    ({"crc": 0x12345678}, zelsmbus.ZELSMBUS_ERROR_CORRUPT_DATA),
    ({"subsystem": 0x1234}, zelsmbus.ZELSMBUS_ERROR_NOT_SUPPORTED),
    ({"payload": bytes(0x10001)}, zelsmbus.ZELSMBUS_ERROR_TOO_LARGE),
])
def test_a_wrong_image_is_refused_with_its_code(sim, changes, code):
    with zelsmbus.Session(HOST_PORT) as bus:
        with pytest.raises(zelsmbus.ZELSMBusError) as raised:
            bus.write_firmware(image_for(bus, bus.firmware_version + 1, **changes))
        assert raised.value.code == code


def test_empty_or_untyped_image_is_refused_before_the_library(bus, sim):
    sent = sim.commands_sent()
    with pytest.raises(ValueError):
        bus.write_firmware(b"")
    with pytest.raises(TypeError):
        bus.write_firmware(12345)
    assert sim.commands_sent() == sent
