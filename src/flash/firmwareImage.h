// The keyed text header of a firmware image and where its payload lies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "status/tStatus.h"

namespace nZELSMBUS000 {

struct tFirmwareImageHeader {
    uint32_t headerVersion = 0;
    uint32_t subsystemId = 0;
    uint32_t pinOutAddress = 0;
    uint32_t pinOutVersion = 0;
    uint32_t offset = 0;
    uint32_t version = 0;
    uint32_t crc = 0;
    uint32_t byteCount = 0;
    bool isFirmwareUpdate = false;  // UpdateType is exactly "FWUpdate"
    const char *payload = nullptr;  // the Base64 line after the empty line
    size_t payloadLength = 0;
};

// Reads the header fields and locates the payload, looking only at the first
// length bytes (the image need not end in a NUL). A missing key, quoted value,
// empty line, or a payload that decodes to no bytes gives ZELSMBUS_ERROR_INVALID_PARAMETER.
void parseFirmwareImage(const char *image, size_t length, tFirmwareImageHeader &header,
                        tStatus &status);

// A numeric field's text: base 16 when it starts with "0x", else base 10;
// leading white space and a 0x/0X prefix are skipped in either base; digits are
// taken up to the first other character, modulo 2^32.
uint32_t parseImageNumber(const char *text, size_t length);

}  // namespace nZELSMBUS000
