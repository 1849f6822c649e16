#include "firmwareImage.h"

#include <cstdio>

namespace zelrel {

uint32_t imageCrc32(const uint8_t *data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x1EDC6F41u : crc << 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

std::string base64(const std::vector<uint8_t> &bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(v >> shift) & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest != 0) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        if (rest == 2) v |= uint32_t(bytes[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string systemFirmwareImage(const std::vector<uint8_t> &payload, uint32_t version) {
    char header[512];
    std::snprintf(header, sizeof header,
                  "HeaderVersion::1\r\nSubSystemID::0x7270\r\nPinOutAddr::0x100\r\n"
                  "PinOutVer::255\r\nUpdateType::\"FWUpdate\"\r\nOffset::0\r\n"
                  "Version::0x%08X\r\nCRC::%u\r\nByteCount::%zu\r\n\r\n",
                  version, imageCrc32(payload.data(), payload.size()), payload.size());
    return header + base64(payload) + "\r\n";
}

}  // namespace zelrel
