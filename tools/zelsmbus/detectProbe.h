// How detect (and capture, which surveys a bus the same way) probes an address.
#pragma once

#include <cstdint>

namespace zelsmbus_tool {

// The addresses detect probes without -a: 0x03 to 0x77.
constexpr uint8_t kDetectFirst = 0x03;
constexpr uint8_t kDetectLast = 0x77;

// True where a receive byte probes the address (0x30-0x37, 0x50-0x5f), false
// where a quick write does.
bool probeWithRead(uint8_t address7);

}  // namespace zelsmbus_tool
