// The world the simulator shows when no world file is named: a host system
// controller with two ports and a remote controller in chassis 1.
#include "model.h"

namespace zelsim {

const char *defaultWorldText() {
    return R"toml(
[simulator]
lock_timeout_ms = 100
virtual_time = true

# Host (system) SMBus controller.
[[device]]
instance = "zel0"
vendor_id = 0x8086
device_id = 0xA323
subsystem_vendor_id = 0x8086
subsystem_id = 0x7270
bus = 0
device = 31
function = 4
device_string = "Host SMBus controller"
flash_id = 0x1010
signature = 0x727EBABE
firmware_version = 0x01020000
# Installed firmware (an image as an update writes it) and the board's
# pin-out version 3 in block 3, outside the firmware region.
firmware_image_text = "HeaderVersion::1\r\nSubSystemID::0x7270\r\nPinOutAddr::0x18000\r\nPinOutVer::3\r\nUpdateType::\"FWUpdate\"\r\nOffset::0x0\r\nVersion::0x01020000\r\nCRC::0x060db734\r\nByteCount::64\r\n\r\nWkVMIGhvc3QgU01CdXMgY29udHJvbGxlciBmaXJtd2FyZSAxLjIuMC4wAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA==\r\n"
pin_out = { address = 0x18000, version = 3 }

  [[device.port]]
  text = "HOST::SMBUS0"
  protected = [0x58, 0xD2]
  attributes = { 10001 = 100, 10004 = 1 }

    [[device.port.target]]
    address = 0xA0
    kind = "eeprom"
    contents = "ascii:ZEL host memory module SPD 00112233"

    [[device.port.target]]
    address = 0x90
    kind = "registers"
    # temperature sensor with 16-bit registers sent most-significant byte
    # first: 0 the temperature (25 degrees C in the top byte), 1 the
    # configuration, 2 and 3 the limits (75 and 80 degrees C); an
    # identification block at 0x20
    layout = "words_msb_first"
    words = [0x1900, 0x0000, 0x4B00, 0x5000]
    blocks = [ { command = 0x20, data = [0x5A, 0x45, 0x4C, 0x01] } ]

  [[device.port]]
  text = "HOST::SMBUS1"
  attributes = { 10001 = 100, 10004 = 1 }

    [[device.port.target]]
    address = 0xA2
    kind = "eeprom"
    contents = "counter"

# Remote controller on the chassis backplane.
[[device]]
instance = "zel0"
vendor_id = 0x1E2D
device_id = 0x7A51
subsystem_vendor_id = 0x1E2D
subsystem_id = 0x7A51
bus = 4
device = 0
function = 0
device_string = "ZEL PXI chassis SMBus controller"
flash_id = 0x9D17
signature = 0x727EBABE
firmware_version = 0x02000100
# Installed and started firmware; pin-out version 3 at 0x20000, the address
# of the example in docs/firmware-images.md.
firmware_image_text = "HeaderVersion::1\r\nSubSystemID::0x7a51\r\nPinOutAddr::0x20000\r\nPinOutVer::3\r\nUpdateType::\"FWUpdate\"\r\nOffset::0x0\r\nVersion::0x02000100\r\nCRC::0x0cddb873\r\nByteCount::64\r\n\r\nWkVMIGNoYXNzaXMgU01CdXMgY29udHJvbGxlciBmaXJtd2FyZSAyLjAuMS4wAAAAAAAAAAAAAAAAAAAAAAAAAA==\r\n"
pin_out = { address = 0x20000, version = 3 }

  [[device.port]]
  text = "CHASSIS1::BACKPLANE"
  chassis_eeprom = true
  chassis = 1
  protected = [0xA4]
  attributes = { 10001 = 100, 10004 = 2 }

    [[device.port.target]]
    address = 0xAE
    kind = "eeprom"
    contents = "ascii:ZEL backplane fan module"

[[chassis]]
number = 1
model = "ZEL-1084 PXI Express Chassis"
vendor = "ZEL Instruments"
serial = "ZC1084000123"
slot1 = "ZELSMBUS system controller slot"
)toml";
}

}  // namespace zelsim
