// Builds firmware images: the keyed text header, the CRC and byte count of
// the firmware bytes, and the Base64 payload line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelsmbus_mkimage {

struct tImageFields {
    uint32_t headerVersion = 1;
    uint32_t subsystemId = 0;
    uint32_t pinOutAddress = 0;
    uint32_t pinOutVersion = 0;
    uint32_t offset = 0;
    uint32_t version = 1;
    std::string updateType = "FWUpdate";
};

// Standard Base64 (RFC 4648) with padding, on one line.
std::string encodeBase64(const std::vector<uint8_t> &bytes);

// The complete image: header lines ending in "\r\n", an empty line, the
// payload and a final "\r\n".
std::string buildFirmwareImage(const tImageFields &fields, const std::vector<uint8_t> &firmware);

}  // namespace zelsmbus_mkimage
