#include "firmwareImage.h"

#include <cctype>

namespace zelsmbus_tool {
namespace {

constexpr const char *kLineBreak = "\r\n";

// The value after a key: the text up to the next line break.
bool fieldText(const std::string &image, const std::string &key, std::string &value) {
    const size_t at = image.find(key);
    if (at == std::string::npos) return false;
    const size_t start = at + key.size();
    const size_t end = image.find(kLineBreak, start);
    value = image.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
}

// "0x" (lower-case x) selects base 16; blanks before the digits are skipped, as is
// a 0x prefix in either base.
uint32_t numberOf(const std::string &text) {
    const unsigned base = text.compare(0, 2, "0x") == 0 ? 16 : 10;
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int c = std::tolower(static_cast<unsigned char>(text[i]));
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = unsigned(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = unsigned(c - 'a' + 10);
        } else {
            break;
        }
        if (digit >= base) break;
        value = value * base + digit;
    }
    return value;
}

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;  // padding, blanks and stray line breaks carry nothing
}

std::vector<uint8_t> decodeBase64(const std::string &text) {
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;
    int count = 0;
    for (unsigned char c : text) {
        const int v = base64Value(c);
        if (v < 0) continue;
        bits = (bits << 6) | unsigned(v);
        if (++count == 4) {
            bytes.push_back(uint8_t(bits >> 16));
            bytes.push_back(uint8_t(bits >> 8));
            bytes.push_back(uint8_t(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) bytes.push_back(uint8_t(bits >> 4));
    if (count == 3) {
        bytes.push_back(uint8_t(bits >> 10));
        bytes.push_back(uint8_t(bits >> 2));
    }
    return bytes;
}

}  // namespace

uint32_t firmwareCrc(const uint8_t *data, size_t length) {
    static const auto table = [] {
        std::vector<uint32_t> entries(256);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ 0x1EDC6F41u : r << 1;
            entries[i] = r;
        }
        return entries;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) crc = (crc << 8) ^ table[(crc >> 24) ^ data[i]];
    return crc ^ 0xFFFFFFFFu;
}

FirmwareCheck checkFirmwareImage(const std::string &image) {
    FirmwareCheck result;
    FirmwareHeader &h = result.header;
    struct NumberField {
        const char *key;
        uint32_t *target;
    };
    const NumberField fields[] = {
        {"HeaderVersion::", &h.headerVersion}, {"\r\nSubSystemID::", &h.subsystemId},
        {"\r\nPinOutAddr::", &h.pinOutAddress}, {"\r\nPinOutVer::", &h.pinOutVersion},
        {"\r\nOffset::", &h.offset},            {"\r\nVersion::", &h.version},
        {"\r\nCRC::", &h.crc},                  {"\r\nByteCount::", &h.byteCount},
    };
    for (const NumberField &field : fields) {
        std::string text;
        if (fieldText(image, field.key, text)) {
            *field.target = numberOf(text);
        } else {
            std::string name = field.key;
            if (name.compare(0, 2, kLineBreak) == 0) name = name.substr(2);
            result.problems.push_back("the header has no " + name.substr(0, name.size() - 2) +
                                      " line");
        }
    }
    std::string type;
    if (!fieldText(image, "\r\nUpdateType::", type)) {
        result.problems.push_back("the header has no UpdateType line");
    } else {
        // A quoted text: "FWUpdate".
        if (type.size() >= 2 && type.front() == '"' && type.back() == '"') {
            h.updateType = type.substr(1, type.size() - 2);
        } else {
            h.updateType = type;
        }
        if (h.updateType != "FWUpdate") {
            result.problems.push_back("UpdateType is \"" + h.updateType + "\", not \"FWUpdate\"");
        }
    }
    if (h.headerVersion != 1 && h.headerVersion != 2) {
        result.problems.push_back("HeaderVersion " + std::to_string(h.headerVersion) +
                                  " is not 1 or 2");
    }

    const size_t headerEnd = image.find("\r\n\r\n");
    if (headerEnd == std::string::npos) {
        result.problems.push_back("the header does not end with an empty line");
        return result;
    }
    const size_t start = headerEnd + 4;
    const size_t end = image.find(kLineBreak, start);
    const std::vector<uint8_t> payload = decodeBase64(
        image.substr(start, end == std::string::npos ? std::string::npos : end - start));
    result.decodedLength = payload.size();
    result.computedCrc = firmwareCrc(payload.data(), payload.size());
    if (payload.empty()) {
        // The library refuses such an image too: an update would only erase the region.
        result.problems.push_back("the payload decodes to no bytes");
    } else if (payload.size() != h.byteCount) {
        result.problems.push_back("the payload holds " + std::to_string(payload.size()) +
                                  " bytes, the header says " + std::to_string(h.byteCount));
    } else if (result.computedCrc != h.crc) {
        result.problems.push_back("the payload's CRC does not match the header's");
    }
    return result;
}

}  // namespace zelsmbus_tool
