// The serial flash port moves every byte with its bits reversed.
#pragma once

#include <cstdint>

namespace nZELSMBUS000 {

inline uint8_t reverseByteBits(uint8_t value) {
    value = static_cast<uint8_t>((value & 0xF0u) >> 4 | (value & 0x0Fu) << 4);
    value = static_cast<uint8_t>((value & 0xCCu) >> 2 | (value & 0x33u) << 2);
    value = static_cast<uint8_t>((value & 0xAAu) >> 1 | (value & 0x55u) << 1);
    return value;
}

// Reverses the bits within each of the four bytes in place (flash word order).
inline uint32_t reverseBitsInBytes(uint32_t value) {
    value = (value & 0xF0F0F0F0u) >> 4 | (value & 0x0F0F0F0Fu) << 4;
    value = (value & 0xCCCCCCCCu) >> 2 | (value & 0x33333333u) << 2;
    value = (value & 0xAAAAAAAAu) >> 1 | (value & 0x55555555u) << 1;
    return value;
}

// Full 32-bit reversal: turns four bytes in memory order (a little-endian
// word) into the port's word and back.
inline uint32_t reverseWordBits(uint32_t value) {
    return __builtin_bswap32(reverseBitsInBytes(value));
}

inline uint32_t loadLittleEndian(const uint8_t *bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

inline void storeLittleEndian(uint32_t value, uint8_t *bytes) {
    bytes[0] = uint8_t(value);
    bytes[1] = uint8_t(value >> 8);
    bytes[2] = uint8_t(value >> 16);
    bytes[3] = uint8_t(value >> 24);
}

inline void storeBigEndian(uint32_t value, uint8_t *bytes) {
    bytes[0] = uint8_t(value >> 24);
    bytes[1] = uint8_t(value >> 16);
    bytes[2] = uint8_t(value >> 8);
    bytes[3] = uint8_t(value);
}

}  // namespace nZELSMBUS000
