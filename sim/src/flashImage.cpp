#include "flashImage.h"

#include <cstring>

namespace zelsim {
namespace {

// The value after "\r\nKEY::" up to the line's end: hexadecimal after "0x",
// decimal otherwise.
bool field(const std::string &text, const char *key, uint32_t &value) {
    const size_t at = text.find(std::string("\r\n") + key + "::");
    if (at == std::string::npos) return false;
    const size_t start = at + std::strlen(key) + 4;
    const size_t end = text.find("\r\n", start);
    std::string digits = text.substr(start, end == std::string::npos ? end : end - start);
    const bool hex = digits.rfind("0x", 0) == 0;
    if (hex) digits.erase(0, 2);
    if (digits.empty()) return false;
    value = 0;
    for (char c : digits) {
        const char *set = hex ? "0123456789abcdef" : "0123456789";
        const char *found = std::strchr(set, c >= 'A' && c <= 'F' ? c + 32 : c);
        if (found == nullptr || c == '\0') return false;
        value = value * (hex ? 16 : 10) + uint32_t(found - set);
    }
    return true;
}

// Standard Base64; characters outside the alphabet (padding, blanks) are skipped.
std::vector<uint8_t> decodeBase64(const std::string &text) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const char *found = c == '\0' ? nullptr : std::strchr(kAlphabet, c);
        if (found == nullptr) continue;
        bits = bits << 6 | uint32_t(found - kAlphabet);
        if ((count += 6) >= 8) {
            count -= 8;
            bytes.push_back(uint8_t(bits >> count));
        }
    }
    return bytes;
}

// CRC-32, polynomial 0x1EDC6F41, most significant bit first, 0xFFFFFFFF in and out.
uint32_t crc32(const std::vector<uint8_t> &bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= uint32_t(byte) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? crc << 1 ^ 0x1EDC6F41u : crc << 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

}  // namespace

bool readFlashImage(const std::string &text, FlashImage &image, std::string &error) {
    uint32_t crc = 0, byteCount = 0;
    if (!field(text, "Offset", image.offset) || !field(text, "Version", image.version) ||
        !field(text, "CRC", crc) || !field(text, "ByteCount", byteCount)) {
        error = "not a firmware image (Offset, Version, CRC or ByteCount missing)";
        return false;
    }
    const size_t body = text.find("\r\n\r\n");
    if (body == std::string::npos) {
        error = "not a firmware image (no empty line before the payload)";
        return false;
    }
    const size_t end = text.find("\r\n", body + 4);
    image.bytes = decodeBase64(text.substr(body + 4, end == std::string::npos ? end : end - body - 4));
    if (image.bytes.size() != byteCount || crc32(image.bytes) != crc) {
        error = "the image's payload does not match its ByteCount and CRC";
        return false;
    }
    return true;
}

}  // namespace zelsim
