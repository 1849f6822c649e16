// Checksums of firmware images.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nZELSMBUS000 {

// CRC of an image's firmware bytes: polynomial 0x1EDC6F41, most significant bit
// first, initial value and final exclusive-or 0xFFFFFFFF.
uint32_t firmwareCrc32(const uint8_t *data, size_t length);

// Trailer of a 0xBF8E firmware region: polynomial 0x1021, most significant bit
// first, initial value 0xFFFF, no final exclusive-or.
uint16_t regionCrc16(const uint8_t *data, size_t length);

}  // namespace nZELSMBUS000
