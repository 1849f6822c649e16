// Builds firmware images for the simulator's system controller (flash 0x1010,
// subsystem 0x7270, pin-out version 255 at 0x100).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelrel {

// A complete image that the system controller of the built-in world accepts.
std::string systemFirmwareImage(const std::vector<uint8_t> &payload, uint32_t version = 0x01030000);

}  // namespace zelrel
