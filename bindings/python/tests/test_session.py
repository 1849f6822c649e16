"""Sessions: opening and closing, every transaction, lock, attributes, EEPROMs."""

import pytest

import zelsmbus
from conftest import BACKPLANE, EEPROM, PROTECTED_DEVICE, SENSOR, SYSTEM_PORT


# ---- opening and closing -------------------------------------------------------

def test_context_manager_closes_and_close_is_idempotent(sim):
    with zelsmbus.SMBus(SYSTEM_PORT) as bus:
        assert not bus.closed
        bus.read_byte_data(EEPROM, 0)
    assert bus.closed
    bus.close()
    bus.close()
    with pytest.raises(ValueError):
        bus.read_byte_data(EEPROM, 0)


def test_open_later_like_smbus2(sim):
    bus = zelsmbus.Session()
    assert bus.closed
    bus.open("zelsmbus::system")
    assert bus.read_byte_data(EEPROM, 0) == sim.eeprom(EEPROM, 0, 1)[0]
    bus.close()


def test_open_takes_names_not_bus_numbers(sim):
    with pytest.raises(TypeError):
        zelsmbus.SMBus(1)


def test_resource_names_all_open(sim):
    names = zelsmbus.resource_names()
    assert SYSTEM_PORT in names and "ZELSMBUS::SYSTEM::0::1" in names
    assert any(name.startswith("ZELSMBUS::REMOTE::") for name in names)
    assert any(name.endswith("::BACKPLANE") for name in names)
    for name in names:
        with zelsmbus.Session(name) as bus:
            assert bus.port_string


def test_a_device_without_text_reads_as_empty(sim):
    # The example world of zelsim-world(5): no device_string.
    world = b"""
[[device]]
vendor_id = 0x8086
  [[device.port]]
  text = "HOST::SMBUS0"
"""
    assert sim.lib.zelsim_load_world_text(world) == 0
    with zelsmbus.Session(SYSTEM_PORT) as bus:
        assert bus.device_string == ""
        assert bus.port_string == "HOST::SMBUS0"
        with pytest.raises(zelsmbus.ZELSMBusError) as raised:
            bus.get_attribute("DEVICE_STRING")  # the library's own answer stays
        assert raised.value.name == "ZELSMBUS_ERROR_NOT_SUPPORTED"


def test_open_all_gives_one_session_per_port(sim):
    port_names = [n for n in zelsmbus.resource_names() if not n.endswith("::BACKPLANE")]
    sessions = zelsmbus.open_all()
    assert len(sessions) == len(port_names)
    texts = [s.port_string for s in sessions]
    for name, text in zip(port_names, texts):  # same order as the listing
        with zelsmbus.Session(name) as bus:
            assert bus.port_string == text
    # Closing in any order, twice, leaves the others working.
    sessions[0].close()
    sessions[0].close()
    assert sessions[-1].port_string == texts[-1]
    for session in reversed(sessions):
        session.close()
    assert all(s.closed for s in sessions)


# ---- transactions as in smbus2 ---------------------------------------------------

def test_eeprom_byte_and_block_transactions(bus, sim):
    bus.write_byte_data(EEPROM, 0x05, 0xA5)
    assert sim.eeprom(EEPROM, 0x05, 1) == b"\xa5"
    assert bus.read_byte_data(EEPROM, 0x05) == 0xA5

    data = list(range(100, 116))  # one 16-byte page of the EEPROM
    bus.write_i2c_block_data(EEPROM, 0x40, data)
    assert sim.eeprom(EEPROM, 0x40, len(data)) == bytes(data)
    assert bus.read_i2c_block_data(EEPROM, 0x40, len(data)) == data
    assert bus.last_status == zelsmbus.ZELSMBUS_WARNING_TRANSFER_DONE

    bus.write_byte(EEPROM, 0x40)  # set the address pointer, then read from it
    assert bus.read_byte(EEPROM) == data[0]
    bus.write_quick(EEPROM)
    bus.read_quick(EEPROM)


def test_register_device_transactions(bus, sim):
    bus.write_word_data(SENSOR, 0x02, 0x1234)
    assert bus.read_word_data(SENSOR, 0x02) == 0x1234
    bus.write_byte_data(SENSOR, 0x03, 0x7E)
    assert bus.read_byte_data(SENSOR, 0x03) == 0x7E
    bus.write_block_data(SENSOR, 0x04, [9, 8, 7])
    assert bus.read_block_data(SENSOR, 0x04) == [9, 8, 7]
    # The simulated device answers a process call with the word inverted and a
    # block process call with the bytes reversed.
    assert bus.process_call(SENSOR, 0x02, 0x00FF) == 0xFF00
    assert bus.block_process_call(SENSOR, 0x04, [1, 2, 3]) == [3, 2, 1]
    assert bus.last_status == zelsmbus.ZELSMBUS_WARNING_TRANSFER_DONE
    bus.write_byte(SENSOR, 0x03)  # register pointer
    assert bus.read_byte(SENSOR) == 0x7E


@pytest.mark.parametrize("pec", [False, True])
def test_pec_reaches_the_driver(bus, sim, pec):
    bus.pec = pec
    assert bus.pec is pec
    bus.read_byte_data(EEPROM, 0)
    assert sim.last_pec() == int(pec)


BAD_CALLS = [
    ("read_byte_data", (0x80, 0)),
    ("read_byte_data", (-1, 0)),
    ("read_byte_data", (EEPROM, 0x100)),
    ("write_byte_data", (EEPROM, 0, 256)),
    ("write_byte", (EEPROM, -1)),
    ("write_word_data", (SENSOR, 0, 0x10000)),
    ("process_call", (SENSOR, 0, -1)),
    ("write_block_data", (SENSOR, 0, [0] * 33)),
    ("block_process_call", (SENSOR, 0, [0] * 33)),
    ("write_block_data", (SENSOR, 0, [0, 256])),
    ("write_i2c_block_data", (EEPROM, 0, [0] * 257)),
    ("read_i2c_block_data", (EEPROM, 0, 257)),
    ("read_eeprom", (EEPROM, 0, 0)),
    ("read_eeprom", (EEPROM, 0, 257)),
    ("chassis_eeprom", (256, 1)),
    ("write_quick", (0x80,)),
]


@pytest.mark.parametrize("method,args", BAD_CALLS)
def test_bad_arguments_raise_value_error_before_any_call(bus, sim, method, args):
    sent = sim.commands_sent()
    with pytest.raises(ValueError):
        getattr(bus, method)(*args)
    assert sim.commands_sent() == sent


def test_largest_blocks_are_accepted(bus, sim):
    bus.write_block_data(SENSOR, 0x06, list(range(32)))
    assert bus.read_block_data(SENSOR, 0x06) == list(range(32))
    assert bus.block_process_call(SENSOR, 0x06, list(range(32))) == list(range(31, -1, -1))
    data = [(7 * i) & 0xFF for i in range(256)]  # far beyond smbus2's 32
    bus.write_i2c_block_data(SENSOR, 0, data)
    assert bus.read_i2c_block_data(SENSOR, 0, 256) == data


# ---- lock ------------------------------------------------------------------------------

def test_lock_unlock_and_locked_section(bus, sim):
    bus.lock()
    assert sim.lock_owner() != -1
    bus.unlock()
    assert sim.lock_owner() == -1

    with pytest.raises(RuntimeError):
        with bus.locked() as held:
            assert held is bus and sim.lock_owner() != -1
            raise RuntimeError("inside the section")
    assert sim.lock_owner() == -1  # released on the way out


# ---- attributes ---------------------------------------------------------------------------

def test_attributes_by_name_and_number(bus):
    vendor = bus.get_attribute("VENDOR_ID")
    # The header's constant, its short form and the command-line tool's name, any case.
    for spelling in ("zelsmbus_attr_vendor_id", "vendor-id", "Vendor-ID", "ZELSMBUS-ATTR-VENDOR-ID", 101):
        assert bus.get_attribute(spelling) == vendor, spelling
    bus.set_attribute("setting-2001", 7)  # the tool's name of ZELSMBUS_ATTR_2001
    assert bus.get_attribute("2001") == bus.get_attribute("ZELSMBUS_ATTR_2001") == 7
    for wrong in ("vendor id", "setting-", "setting-vendor-id", "vendor--id"):
        with pytest.raises(ValueError):
            bus.get_attribute(wrong)
    assert bus.get_attribute("PORT") == 0
    assert isinstance(bus.port_string, str) and bus.port_string
    with zelsmbus.Session(bus.port_string) as same:  # a port's text opens it
        assert same.get_attribute("PORT") == 0
    assert isinstance(bus.device_string, str)
    assert bus.get_attribute("PROTECTED_COUNT") == len(bus.get_attribute("PROTECTED_LIST"))
    with pytest.raises(ValueError):
        bus.get_attribute("NO_SUCH_ATTRIBUTE")
    with pytest.raises(zelsmbus.ZELSMBusError) as raised:
        bus.set_attribute("VENDOR_ID", 1)  # read only
    assert raised.value.name == "ZELSMBUS_ERROR_INVALID_PARAMETER"


def test_protected_address_until_unrestricted(bus, sim):
    assert PROTECTED_DEVICE in bus.protected_addresses
    sent = sim.commands_sent()
    with pytest.raises(zelsmbus.ZELSMBusError) as raised:
        bus.read_byte_data(PROTECTED_DEVICE, 0)
    assert raised.value.name == "ZELSMBUS_ERROR_PROTECTED"
    bus.write_quick(PROTECTED_DEVICE)  # the library drops it silently
    assert sim.commands_sent() == sent

    bus.unrestricted = True
    try:
        bus.write_quick(PROTECTED_DEVICE)
    except zelsmbus.ZELSMBusError:
        pass  # nobody answers there; what matters is that it reached the driver
    assert sim.commands_sent() == sent + 1


def test_unrestricted_opens_full_access_attributes(bus):
    assert bus.unrestricted is False
    with pytest.raises(zelsmbus.ZELSMBusError) as raised:
        bus.get_attribute("ZELSMBUS_ATTR_3001")
    assert raised.value.code == zelsmbus.ZELSMBUS_ERROR_PROTECTED
    with pytest.raises(zelsmbus.ZELSMBusError):
        bus.read_register(4)

    bus.unrestricted = True
    assert bus.unrestricted is True
    bus.set_attribute("ZELSMBUS_ATTR_3001", 0xCAFE)
    assert bus.get_attribute(3001) == 0xCAFE
    assert bus.read_register(4) == bus.firmware_version
    bus.unrestricted = False
    with pytest.raises(zelsmbus.ZELSMBusError):
        bus.get_attribute(3001)


# ---- EEPROMs -------------------------------------------------------------------------------

def test_read_eeprom(bus, sim):
    sim.set_eeprom(EEPROM, 0xF0, bytes(range(16)))
    assert bus.read_eeprom(EEPROM, 0xF0, 16) == bytes(range(16))
    assert bus.read_eeprom(EEPROM) == sim.eeprom(EEPROM, 0, 256)


def test_chassis_eeprom_on_the_port_that_reaches_it(sim):
    with zelsmbus.Session(BACKPLANE) as backplane:
        assert backplane.get_attribute("CHASSIS_EEPROM_PORT") == 1
        data = backplane.chassis_eeprom(0, 123)
        assert data[5:5 + 60].rstrip(b"\0") == b"ZEL-1084 PXI Express Chassis"
        assert backplane.chassis_eeprom(5, 8) == data[5:13]
    with zelsmbus.Session(SYSTEM_PORT) as host:
        assert host.get_attribute("CHASSIS_EEPROM_PORT") == 0
        with pytest.raises(zelsmbus.ZELSMBusError) as raised:
            host.chassis_eeprom()
        assert raised.value.code == zelsmbus.ZELSMBUS_ERROR_PROTECTED
