#include "flash/firmwareImageText.h"

#include <cstdio>

#include "flash/firmwareChecksums.h"

namespace nZELSMBUS000 {

std::string hexNumber(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

std::string encodePayload(const uint8_t *bytes, size_t length) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((length + 2) / 3 * 4);
    for (size_t at = 0; at < length; at += 3) {
        const size_t left = length - at;
        uint32_t group = uint32_t(bytes[at]) << 16;
        if (left > 1) group |= uint32_t(bytes[at + 1]) << 8;
        if (left > 2) group |= bytes[at + 2];
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += left > 1 ? kAlphabet[group >> 6 & 63] : '=';
        text += left > 2 ? kAlphabet[group & 63] : '=';
    }
    return text;
}

std::string formatFirmwareImage(const tFirmwareImageFields &fields, const uint8_t *firmware,
                                size_t length) {
    const uint32_t crc = firmwareCrc32(firmware, length);
    std::string image;
    image += "HeaderVersion::" + std::to_string(fields.headerVersion) + "\r\n";
    image += "SubSystemID::" + hexNumber(fields.subsystemId) + "\r\n";
    image += "PinOutAddr::" + hexNumber(fields.pinOutAddress) + "\r\n";
    image += "PinOutVer::" + std::to_string(fields.pinOutVersion) + "\r\n";
    image += "UpdateType::\"" + fields.updateType + "\"\r\n";
    image += "Offset::" + hexNumber(fields.offset) + "\r\n";
    image += "Version::" + std::to_string(fields.version) + "\r\n";
    image += "CRC::" + hexNumber(crc) + "\r\n";
    image += "ByteCount::" + std::to_string(length) + "\r\n";
    image += "\r\n";
    image += encodePayload(firmware, length);
    image += "\r\n";
    return image;
}

}  // namespace nZELSMBUS000
