#include "imageBuilder.h"

#include <cstdio>

#include "firmware/firmwareChecksums.h"

namespace zelsmbus_mkimage {

std::string encodeBase64(const std::vector<uint8_t> &bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t at = 0; at < bytes.size(); at += 3) {
        const size_t left = bytes.size() - at;
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

namespace {
std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}
}  // namespace

std::string buildFirmwareImage(const tImageFields &fields, const std::vector<uint8_t> &firmware) {
    const uint32_t crc = nZELSMBUS000::firmwareCrc32(firmware.data(), firmware.size());
    std::string image;
    image += "HeaderVersion::" + std::to_string(fields.headerVersion) + "\r\n";
    image += "SubSystemID::" + hex(fields.subsystemId) + "\r\n";
    image += "PinOutAddr::" + hex(fields.pinOutAddress) + "\r\n";
    image += "PinOutVer::" + std::to_string(fields.pinOutVersion) + "\r\n";
    image += "UpdateType::\"" + fields.updateType + "\"\r\n";
    image += "Offset::" + hex(fields.offset) + "\r\n";
    image += "Version::" + std::to_string(fields.version) + "\r\n";
    image += "CRC::" + hex(crc) + "\r\n";
    image += "ByteCount::" + std::to_string(firmware.size()) + "\r\n";
    image += "\r\n";
    image += encodeBase64(firmware);
    image += "\r\n";
    return image;
}

}  // namespace zelsmbus_mkimage
