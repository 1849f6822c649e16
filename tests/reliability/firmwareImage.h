// Builds firmware images for the simulator's system controller (flash 0x1010,
// subsystem 0x7270, erased flash so the pin-out byte reads 0xFF).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelrel {

uint32_t imageCrc32(const uint8_t *data, size_t length);
std::string base64(const std::vector<uint8_t> &bytes);

// A complete image that the system controller of the built-in world accepts.
std::string systemFirmwareImage(const std::vector<uint8_t> &payload, uint32_t version = 0x01030000);

}  // namespace zelrel
