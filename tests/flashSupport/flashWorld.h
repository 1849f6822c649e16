// The simulated world of the flash tests: one controller per flash device
// (0x1010, 0xBF8E, 0x9D17), each with one port named after it.
#pragma once

namespace flashworld {

inline constexpr char kFlashWorld[] = R"toml(
[simulator]
virtual_time = true

[[device]]
vendor_id = 0x8086
device_id = 0x1111
subsystem_vendor_id = 0x8086
subsystem_id = 0x1010
bus = 1
device_string = "serial flash 0x1010"
flash_id = 0x1010
firmware_version = 7
  [[device.port]]
  text = "FLASH::1010"

[[device]]
vendor_id = 0x8086
device_id = 0x2222
subsystem_vendor_id = 0x8086
subsystem_id = 0xBF8E
bus = 2
device_string = "serial flash 0xBF8E"
flash_id = 0xBF8E
firmware_version = 7
  [[device.port]]
  text = "FLASH::BF8E"

[[device]]
vendor_id = 0x8086
device_id = 0x3333
subsystem_vendor_id = 0x8086
subsystem_id = 0x9D17
bus = 3
device_string = "indirect flash 0x9D17"
flash_id = 0x9D17
firmware_version = 7
  [[device.port]]
  text = "FLASH::9D17"
)toml";

}  // namespace flashworld
