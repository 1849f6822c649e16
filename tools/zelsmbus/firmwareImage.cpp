// The library's own image reader (the flash library's parser, Base64 decoder
// and CRC), with the defects it finds put into words for the user.
#include "firmwareImage.h"

#include "flash/firmwareChecksums.h"
#include "flash/firmwareImage.h"
#include "flash/firmwarePayload.h"

namespace zelsmbus_tool {
namespace {

// The keys the parser looks for, to name the ones an image lacks.
constexpr const char *kKeys[] = {"HeaderVersion::", "\r\nSubSystemID::", "\r\nPinOutAddr::",
                                 "\r\nPinOutVer::",  "\r\nUpdateType::",  "\r\nOffset::",
                                 "\r\nVersion::",    "\r\nCRC::",         "\r\nByteCount::"};

std::string keyName(const std::string &key) {
    const size_t start = key.compare(0, 2, "\r\n") == 0 ? 2 : 0;
    return key.substr(start, key.size() - start - 2);
}

// The UpdateType line as written, for showing it (the check is the parser's).
std::string updateTypeText(const std::string &image) {
    const std::string key = "\r\nUpdateType::";
    const size_t at = image.find(key);
    if (at == std::string::npos) return {};
    const size_t start = at + key.size();
    const size_t end = image.find("\r\n", start);
    return image.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

uint32_t firmwareCrc(const uint8_t *data, size_t length) {
    return nZELSMBUS000::firmwareCrc32(data, length);
}

FirmwareCheck checkFirmwareImage(const std::string &image) {
    FirmwareCheck result;
    nZELSMBUS000::tFirmwareImageHeader parsed;
    nZELSMBUS000::tStatus status;
    nZELSMBUS000::parseFirmwareImage(image.data(), image.size(), parsed, status);
    FirmwareHeader &h = result.header;
    h.headerVersion = parsed.headerVersion;
    h.subsystemId = parsed.subsystemId;
    h.pinOutAddress = parsed.pinOutAddress;
    h.pinOutVersion = parsed.pinOutVersion;
    h.offset = parsed.offset;
    h.version = parsed.version;
    h.crc = parsed.crc;
    h.byteCount = parsed.byteCount;
    h.updateType = parsed.isFirmwareUpdate ? "FWUpdate" : updateTypeText(image);
    if (status.isFatal()) {
        for (const char *key : kKeys) {
            if (image.find(key) == std::string::npos)
                result.problems.push_back("the header has no " + keyName(key) + " line");
        }
        if (image.find("\r\n\r\n") == std::string::npos) {
            result.problems.push_back("the header does not end with an empty line");
        } else if (parsed.payload != nullptr) {
            result.problems.push_back("the payload decodes to no bytes");
        } else if (result.problems.empty()) {
            result.problems.push_back("UpdateType is not a quoted text (\"FWUpdate\")");
        }
        return result;
    }
    if (!parsed.isFirmwareUpdate) {
        result.problems.push_back("UpdateType is " + h.updateType + ", not \"FWUpdate\"");
    }
    if (h.headerVersion != 1 && h.headerVersion != 2) {
        result.problems.push_back("HeaderVersion " + std::to_string(h.headerVersion) +
                                  " is not 1 or 2");
    }
    std::vector<uint8_t> payload(
        nZELSMBUS000::decodedPayloadLength(parsed.payload, parsed.payloadLength) + 1);
    payload.resize(nZELSMBUS000::decodePayload(parsed.payload, parsed.payloadLength, payload.data()));
    result.decodedLength = payload.size();
    result.computedCrc = firmwareCrc(payload.data(), payload.size());
    size_t used = payload.size();
    while (used > 1 && payload[used - 1] == 0xFF) --used;
    result.installedLength = used;
    result.installedCrc = firmwareCrc(payload.data(), used);
    if (payload.size() != h.byteCount) {
        result.problems.push_back("the payload holds " + std::to_string(payload.size()) +
                                  " bytes, the header says " + std::to_string(h.byteCount));
    } else if (result.computedCrc != h.crc) {
        result.problems.push_back("the payload's CRC does not match the header's");
    }
    return result;
}

}  // namespace zelsmbus_tool
