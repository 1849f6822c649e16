// Firmware images for the simulator's system controller (node 0 of the
// built-in world: flash 0x1010, subsystem 0x7270) and the pin-out word they
// ask for (version 3 at 0x100).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelrel {

// A complete image that the system controller of the built-in world accepts
// once its pin-out word is in place.
std::string systemFirmwareImage(const std::vector<uint8_t> &payload, uint32_t version = 0x01030000);

// Writes that pin-out word into the system controller's flash (the built-in
// world's flash starts erased, and an erased word is no version).
void installSystemPinOut();

}  // namespace zelrel
