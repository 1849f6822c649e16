// Reading a firmware image's header and checking its payload before an update.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelsmbus_tool {

struct FirmwareHeader {
    uint32_t headerVersion = 0, subsystemId = 0, pinOutAddress = 0, pinOutVersion = 0;
    uint32_t offset = 0, version = 0, crc = 0, byteCount = 0;
    std::string updateType;
};

struct FirmwareCheck {
    FirmwareHeader header;
    std::vector<std::string> problems;  // empty when the image is sound
    size_t decodedLength = 0;
    uint32_t computedCrc = 0;
    // The payload as firmware-read gives it back once installed: without its
    // trailing 0xFF bytes (the rest of the region reads erased).
    size_t installedLength = 0;
    uint32_t installedCrc = 0;
};

// Reads the keyed header and decodes the Base64 payload, as the library will;
// every defect found goes into problems.
FirmwareCheck checkFirmwareImage(const std::string &image);

// CRC-32, polynomial 0x1EDC6F41, MSB first, initial and final value 0xFFFFFFFF.
uint32_t firmwareCrc(const uint8_t *data, size_t length);

}  // namespace zelsmbus_tool
