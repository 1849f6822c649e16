// Writing a firmware image: the keyed text header, the CRC and byte count of
// the firmware bytes, and the Base64 payload line. What this writes,
// parseFirmwareImage() reads back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nZELSMBUS000 {

struct tFirmwareImageFields {
    uint32_t headerVersion = 1;
    uint32_t subsystemId = 0;
    uint32_t pinOutAddress = 0;
    uint32_t pinOutVersion = 0;
    uint32_t offset = 0;
    uint32_t version = 1;
    std::string updateType = "FWUpdate";
};

// A header number as the image writes it: "0x" and lower-case hex digits,
// no leading zeros ("0x20000").
std::string hexNumber(uint32_t value);

// Standard Base64 (RFC 4648) with padding, on one line.
std::string encodePayload(const uint8_t *bytes, size_t length);

// The complete image: header lines ending in "\r\n", an empty line, the
// payload and a final "\r\n". CRC and ByteCount come from the bytes.
std::string formatFirmwareImage(const tFirmwareImageFields &fields, const uint8_t *firmware,
                                size_t length);

}  // namespace nZELSMBUS000
