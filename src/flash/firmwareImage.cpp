#include "flash/firmwareImage.h"

#include <algorithm>
#include <cstring>

#include "flash/firmwarePayload.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace {

constexpr char kLineBreak[] = "\r\n";
constexpr char kEmptyLine[] = "\r\n\r\n";

// First occurrence of needle in [begin, end), or end.
const char *findText(const char *begin, const char *end, const char *needle) {
    return std::search(begin, end, needle, needle + std::strlen(needle));
}

int digitValue(char character) {
    if (character >= '0' && character <= '9') return character - '0';
    if (character >= 'a' && character <= 'f') return character - 'a' + 10;
    if (character >= 'A' && character <= 'F') return character - 'A' + 10;
    return 99;
}

bool isBlank(char character) {
    return character == ' ' || (character >= '\t' && character <= '\r');
}

// The value of a numeric key: the text after the key up to the line break,
// searched for from the key's third character so that a key's own leading
// line break does not end it.
bool readNumber(const char *image, const char *end, const char *key, uint32_t &value) {
    const char *found = findText(image, end, key);
    if (found == end) return false;
    const char *text = found + std::strlen(key);
    const char *lineEnd = findText(std::min(found + 2, end), end, kLineBreak);
    if (lineEnd < text) lineEnd = text;
    value = parseImageNumber(text, static_cast<size_t>(lineEnd - text));
    return true;
}

// UpdateType: the text between the opening quote and the closing "\"\r\n".
bool readQuoted(const char *image, const char *end, const char *key, const char *&value,
                size_t &length) {
    const char *found = findText(image, end, key);
    if (found == end) return false;
    const char *text = found + std::strlen(key);
    const char *closing = findText(text, end, "\"\r\n");
    if (closing == end || closing < text + 1) return false;
    value = text + 1;
    length = static_cast<size_t>(closing - value);
    return true;
}

}  // namespace

uint32_t parseImageNumber(const char *text, size_t length) {
    const char *position = text;
    const char *end = text + length;
    const uint32_t base = (length >= 2 && text[0] == '0' && text[1] == 'x') ? 16 : 10;
    while (position < end && isBlank(*position)) ++position;
    if (end - position >= 2 && position[0] == '0' && (position[1] == 'x' || position[1] == 'X'))
        position += 2;
    uint32_t value = 0;
    for (; position < end; ++position) {
        const int digit = digitValue(*position);
        if (digit >= static_cast<int>(base)) break;
        value = value * base + static_cast<uint32_t>(digit);
    }
    return value;
}

void parseFirmwareImage(const char *image, size_t length, tFirmwareImageHeader &header,
                        tStatus &status) {
    if (status.isFatal()) return;
    const char *end = image + length;
    const char *updateType = nullptr;
    size_t updateTypeLength = 0;
    const bool complete =
        readNumber(image, end, "HeaderVersion::", header.headerVersion) &&
        readNumber(image, end, "\r\nSubSystemID::", header.subsystemId) &&
        readNumber(image, end, "\r\nPinOutAddr::", header.pinOutAddress) &&
        readNumber(image, end, "\r\nPinOutVer::", header.pinOutVersion) &&
        readQuoted(image, end, "\r\nUpdateType::", updateType, updateTypeLength) &&
        readNumber(image, end, "\r\nOffset::", header.offset) &&
        readNumber(image, end, "\r\nVersion::", header.version) &&
        readNumber(image, end, "\r\nCRC::", header.crc) &&
        readNumber(image, end, "\r\nByteCount::", header.byteCount);
    const char *emptyLine = findText(image, end, kEmptyLine);
    if (!complete || emptyLine == end) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    header.isFirmwareUpdate = updateTypeLength == 8 && std::memcmp(updateType, "FWUpdate", 8) == 0;
    header.payload = emptyLine + 4;
    header.payloadLength =
        static_cast<size_t>(findText(header.payload, end, kLineBreak) - header.payload);
    // No firmware at all (an empty line, or only padding and blanks) would
    // pass the byte count and CRC checks of ByteCount::0 and erase the region.
    if (decodedPayloadLength(header.payload, header.payloadLength) == 0)
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
}

}  // namespace nZELSMBUS000
