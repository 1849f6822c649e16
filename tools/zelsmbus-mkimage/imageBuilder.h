// Builds firmware images with the library's own image writer, so that what
// the image maker writes is what the library reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/firmwareImageText.h"

namespace zelsmbus_mkimage {

using tImageFields = nZELSMBUS000::tFirmwareImageFields;

// Standard Base64 (RFC 4648) with padding, on one line.
inline std::string encodeBase64(const std::vector<uint8_t> &bytes) {
    return nZELSMBUS000::encodePayload(bytes.data(), bytes.size());
}

// The complete image: header lines ending in "\r\n", an empty line, the
// payload and a final "\r\n".
inline std::string buildFirmwareImage(const tImageFields &fields,
                                      const std::vector<uint8_t> &firmware) {
    return nZELSMBUS000::formatFirmwareImage(fields, firmware.data(), firmware.size());
}

}  // namespace zelsmbus_mkimage
