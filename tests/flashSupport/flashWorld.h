// The simulated world of the flash tests: one controller per flash device
// (0x1010, 0xBF8E, 0x9D17), each with one port named after it, and where each
// keeps its firmware region and the board's pin-out word. The in-process
// tests (a flash model behind a mock controller) use the same devices.
#pragma once

#include <cstdint>
#include <set>

namespace flashworld {

struct tFlashDevice {
    const char *name;        // the port's resource name
    unsigned node;           // the simulator's node, in world order
    uint16_t flashId;        // also the controller's subsystem identifier
    uint32_t regionBase;     // flash address of the firmware region
    uint32_t regionSize;
    uint32_t offset;         // the image header's Offset
    uint32_t pinOutAddress;  // inside the region on 0x1010, outside it on the others
};

inline constexpr tFlashDevice k1010{"FLASH::1010", 0, 0x1010, 0, 0x10000, 0, 0x20};
inline constexpr tFlashDevice kBF8E{"FLASH::BF8E", 1, 0xBF8E, 0x80000, 0x80000, 0x80000, 0x20};
inline constexpr tFlashDevice k9D17{"FLASH::9D17", 2, 0x9D17, 0x300000, 0x300000, 0, 0x20000};

// The serial instructions each device's procedures use on it: all that may
// reach its serial port (0x9D17's port only identifies).
inline std::set<unsigned> instructionsOf(uint16_t flashId) {
    switch (flashId) {
        case 0x1010:
            return {0xAB, 0x03, 0x05, 0x06, 0x04, 0x02, 0xD8};
        case 0xBF8E:
            return {0xAB, 0x03, 0x06, 0x04, 0x50, 0x01, 0xD8, 0xAD, 0x70, 0x80};
        default:
            return {0xAB};
    }
}

// 0x1010's configuration block 2, beyond its firmware region.
inline constexpr uint32_t kBlock2 = 0x10000;
inline constexpr uint32_t kBlockBytes = 0x8000;

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
