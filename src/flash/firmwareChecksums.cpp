#include "flash/firmwareChecksums.h"

#include <array>

namespace nZELSMBUS000 {

namespace {

constexpr uint32_t kCrc32Polynomial = 0x1EDC6F41;
constexpr uint16_t kCrc16Polynomial = 0x1021;

constexpr std::array<uint32_t, 256> makeCrc32Table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t index = 0; index < 256; ++index) {
        uint32_t value = index << 24;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 0x80000000u) ? (value << 1) ^ kCrc32Polynomial : value << 1;
        table[index] = value;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrc32Table = makeCrc32Table();

}  // namespace

uint32_t firmwareCrc32(const uint8_t *data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t index = 0; index < length; ++index)
        crc = (crc << 8) ^ kCrc32Table[(crc >> 24) ^ data[index]];
    return crc ^ 0xFFFFFFFFu;
}

uint16_t regionCrc16(const uint8_t *data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t index = 0; index < length; ++index) {
        crc = static_cast<uint16_t>(crc ^ (uint16_t(data[index]) << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000u) ? (crc << 1) ^ kCrc16Polynomial : crc << 1);
    }
    return crc;
}

}  // namespace nZELSMBUS000
