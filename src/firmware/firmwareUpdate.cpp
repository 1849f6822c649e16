// ZELSMBusWriteFirmware: checks an image against the controller, writes it,
// reads it back and, where the device needs it, starts it.
#include <cstring>
#include <new>

#include "api/firmwareChecksums.h"
#include "api/firmwareImage.h"
#include "api/firmwarePayload.h"
#include "api/firmwareWrite.h"
#include "api/tSMBusHandle.h"
#include "controller/flashAccess.h"
#include "status/memory.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;

namespace {

namespace reg = nFlashRegister;

// A status-reporting buffer released on every path.
class tBuffer {
public:
    tBuffer(size_t size, tStatus &status)
        : bytes_(static_cast<uint8_t *>(allocate(size, status))) {}
    ~tBuffer() { release(bytes_); }
    tBuffer(const tBuffer &) = delete;
    tBuffer &operator=(const tBuffer &) = delete;
    uint8_t *get() const { return bytes_; }

private:
    uint8_t *bytes_;
};

// The pin-out version the installed firmware carries at the header's address.
uint32_t readPinOutVersion(iSMBusController &controller, uint16_t flashId, uint32_t address,
                           tStatus &status) {
    if (flashId == kFlashId9D17)
        return (readIndirectWord(controller, address, status) >> 8) & 0xFFu;
    uint32_t word = readFlashWord(controller, address, status);
    if (word == 0xFFFFFFFFu) word = readFlashWord(controller, address, status);
    return word & 0xFFu;
}

void checkImageAgainstController(iSMBusController &controller, const tFirmwareImageHeader &header,
                                 uint32_t flags, uint16_t &flashId, tStatus &status) {
    if (!header.isFirmwareUpdate) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    uint32_t installedVersion = 0;
    controller.readRegister(reg::kFirmwareVersion, installedVersion, status);
    if (status.isFatal()) return;
    if (header.version <= installedVersion && (flags & ZELSMBUS_FIRMWARE_FORCE) == 0) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    if (header.headerVersion != 1 && header.headerVersion != 2) {
        ZELSMBUS_SET_CODE(status, -52002);
        return;
    }
    flashId = identifyFlash(controller, status);
    if (status.isFatal()) return;
    if (firmwareRegionSize(flashId) == 0 || !firmwareOffsetFits(flashId, header.offset)) {
        ZELSMBUS_SET_CODE(status, -52002);
        return;
    }
    uint16_t vendor = 0, device = 0, subsystemVendor = 0, subsystem = 0;
    controller.getPciIds(vendor, device, subsystemVendor, subsystem, status);
    if (status.isFatal()) return;
    if (header.subsystemId != subsystem) {
        ZELSMBUS_SET_CODE(status, -52002);
        return;
    }
    waitInterfaceReady(controller, status);
    const uint32_t pinOutVersion =
        readPinOutVersion(controller, flashId, header.pinOutAddress, status);
    if (status.isFatal()) return;
    if (pinOutVersion != header.pinOutVersion) {
        ZELSMBUS_SET_CODE(status, -52002);
        return;
    }
    if (firmwareRegionSize(flashId) < header.byteCount) ZELSMBUS_SET_CODE(status, -52019);
}

// Decodes the payload and checks its length and CRC; null on failure.
uint8_t *decodeImage(const tFirmwareImageHeader &header, tStatus &status) {
    if (status.isFatal()) return nullptr;
    if (decodedPayloadLength(header.payload, header.payloadLength) != header.byteCount) {
        ZELSMBUS_SET_CODE(status, -52023);
        return nullptr;
    }
    auto *bytes = static_cast<uint8_t *>(allocate(size_t(header.byteCount) + 1, status));
    if (bytes == nullptr) return nullptr;
    const size_t decoded = decodePayload(header.payload, header.payloadLength, bytes);
    if (decoded != header.byteCount || firmwareCrc32(bytes, decoded) != header.crc) {
        ZELSMBUS_SET_CODE(status, -52023);
        release(bytes);
        return nullptr;
    }
    return bytes;
}

// Reads the region back; true when its first byteCount bytes are the image.
bool verifyRegion(iSMBusController &controller, uint16_t flashId,
                  const tFirmwareImageHeader &header, const uint8_t *image, tStatus &status) {
    const uint32_t regionSize = firmwareRegionSize(flashId);
    tBuffer readBack(regionSize, status);
    readFlashRegion(controller, flashId, header.offset, regionSize, readBack.get(), status);
    if (status.isFatal()) return false;
    if (std::memcmp(readBack.get(), image, header.byteCount) != 0) {
        ZELSMBUS_SET_CODE(status, -52018);
        return false;
    }
    return true;
}

void writeFirmware(tSMBusHandle &handle, uint32_t length, const char *image, uint32_t flags,
                   tStatus &status) {
    iSMBusController &controller = *handle.controller;
    uint32_t signature = 0;
    controller.readRegister(reg::kSignature, signature, status);
    if (status.isFatal()) return;
    if (signature != kControllerSignature) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    tFirmwareImageHeader header;
    parseFirmwareImage(image, length, header, status);
    uint16_t flashId = 0;
    if (!status.isFatal()) checkImageAgainstController(controller, header, flags, flashId, status);
    uint8_t *decoded = decodeImage(header, status);
    if (decoded == nullptr) return;

    // Device 0x1010 keeps the old region so that a failed verification can put it back.
    const uint32_t regionSize = firmwareRegionSize(flashId);
    uint8_t *backup = nullptr;
    if (flashId == kFlashId1010) {
        backup = static_cast<uint8_t *>(allocate(regionSize, status));
        readFlashRegion(controller, flashId, header.offset, regionSize, backup, status);
    }
    const bool backedUp = backup != nullptr && !status.isFatal();

    writeFirmwareRegion(controller, header.offset, header.byteCount, decoded, status);
    const bool writeFailed = status.isFatal();
    const bool verified = verifyRegion(controller, flashId, header, decoded, status);

    if (flashId == kFlashId9D17 && verified && !status.isFatal())
        activateIndirectFirmware(controller, status);
    if (flashId == kFlashId1010 && backedUp && !writeFailed && !verified) {
        tStatus restoreStatus;
        writeFirmwareRegion(controller, header.offset, regionSize, backup, restoreStatus);
    }
    release(backup);
    release(decoded);
}

}  // namespace

extern "C" int32_t ZELSMBusWriteFirmware(tSMBusHandle *handle, uint32_t length, const void *image,
                                         uint32_t flags) {
    tStatus status;
    if (handle == nullptr || image == nullptr || length == 0) {
        ZELSMBUS_SET_CODE(status, -52006);
        return status.result();
    }
    try {
        writeFirmware(*handle, length, static_cast<const char *>(image), flags, status);
    } catch (const std::bad_alloc &) {
        ZELSMBUS_SET_CODE(status, -52000);
    } catch (...) {
        ZELSMBUS_SET_CODE(status, -52008);
    }
    return status.result();
}
