#include "firmware/firmwareUpdate.h"

#include <cstring>

#include "controller/flashAccess.h"
#include "controller/tControllerRegisterPort.h"
#include "firmware/firmwareChecksums.h"
#include "firmware/firmwareImage.h"
#include "firmware/firmwarePayload.h"
#include "firmware/firmwareWrite.h"
#include "status/memory.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace {

namespace reg = nFlashRegister;

// A status-reporting buffer released on every path.
class tBuffer {
public:
    explicit tBuffer(uint8_t *owned) : bytes_(owned) {}
    tBuffer(size_t size, tStatus &status)
        : bytes_(static_cast<uint8_t *>(allocate(size, status))) {}
    ~tBuffer() { release(bytes_); }
    tBuffer(const tBuffer &) = delete;
    tBuffer &operator=(const tBuffer &) = delete;
    uint8_t *get() const { return bytes_; }

private:
    uint8_t *bytes_;
};

struct tPinOut {
    uint32_t version = 0;
    bool erased = false;  // the whole word reads as erased flash
};

// The pin-out version the installed firmware carries at the header's address.
tPinOut readPinOut(iRegisterPort &port, uint16_t flashId, uint32_t address,
                   tStatus &status) {
    tPinOut pinOut;
    if (flashId == kFlashId9D17) {
        const uint32_t word = readIndirectWord(port, address, status);
        pinOut.version = (word >> 8) & 0xFFu;
        pinOut.erased = (word & 0xFFFFu) == 0xFFFFu;
        return pinOut;
    }
    uint32_t word = readFlashWord(port, address, status);
    if (word == 0xFFFFFFFFu) word = readFlashWord(port, address, status);
    pinOut.version = word & 0xFFu;
    pinOut.erased = word == 0xFFFFFFFFu;
    return pinOut;
}

void checkImageAgainstController(iSMBusController &controller, iRegisterPort &port,
                                 const tFirmwareImageHeader &header,
                                 uint32_t flags, uint16_t &flashId, tStatus &status) {
    if (!header.isFirmwareUpdate) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    uint32_t installedVersion = 0;
    port.readRegister(reg::kFirmwareVersion, installedVersion, status);
    if (status.isFatal()) return;
    if (header.version <= installedVersion && (flags & ZELSMBUS_FIRMWARE_FORCE) == 0) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    if (header.headerVersion != 1 && header.headerVersion != 2) {
        ZELSMBUS_SET_CODE(status, -52002);
        return;
    }
    flashId = identifyFlash(port, status);
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
    waitInterfaceReady(port, status);
    const tPinOut pinOut = readPinOut(port, flashId, header.pinOutAddress, status);
    if (status.isFatal()) return;
    if (pinOut.version != header.pinOutVersion) {
        // An erased word is what an update cut short leaves when the image
        // rewrites the pin-out word itself: say so rather than "wrong board".
        ZELSMBUS_SET_CODE(status, pinOut.erased ? ZELSMBUS_ERROR_PIN_OUT_ERASED : -52002);
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

// Reads the region back into `readBack` (a whole region's room); true when its
// first byteCount bytes are `expected`, -52018 when they differ.
bool verifyRegion(iRegisterPort &port, uint16_t flashId, uint32_t offset,
                  const uint8_t *expected, uint32_t byteCount, uint8_t *readBack, tStatus &status) {
    if (status.isFatal()) return false;
    const uint32_t regionSize = firmwareRegionSize(flashId);
    readFlashRegion(port, flashId, offset, regionSize, readBack, status);
    if (status.isFatal()) return false;
    if (std::memcmp(readBack, expected, byteCount) != 0) {
        ZELSMBUS_SET_CODE(status, -52018);
        return false;
    }
    return true;
}

// Device 0x1010: writes the saved region back and reads it again, under a
// status of its own (the caller's holds the failure that made this
// necessary and keeps it). A restore that does not verify is tried once more.
// It allocates nothing, so running out of memory cannot stop it.
void restoreRegion(iRegisterPort &port, uint32_t offset, const uint8_t *saved,
                   uint8_t *readBack) {
    const uint32_t regionSize = firmwareRegionSize(kFlashId1010);
    for (int attempt = 0; attempt < 2; ++attempt) {
        tStatus restoreStatus;
        writeFirmwareRegion(port, offset, regionSize, saved, restoreStatus);
        if (verifyRegion(port, kFlashId1010, offset, saved, regionSize, readBack,
                         restoreStatus))
            return;
    }
}

}  // namespace

void writeFirmware(iSMBusController &controller, uint32_t length, const char *image, uint32_t flags,
                   tStatus &status) {
    tControllerRegisterPort port(controller);
    uint32_t signature = 0;
    port.readRegister(reg::kSignature, signature, status);
    if (status.isFatal()) return;
    if (signature != kControllerSignature) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    tFirmwareImageHeader header;
    parseFirmwareImage(image, length, header, status);
    uint16_t flashId = 0;
    if (!status.isFatal()) checkImageAgainstController(controller, port, header, flags, flashId, status);
    uint8_t *decodedBytes = decodeImage(header, status);
    if (decodedBytes == nullptr) return;
    const tBuffer decoded(decodedBytes);

    // Device 0x1010 keeps the old region: once its erase has begun, any
    // failure puts it back, so the region holds the old firmware or the new
    // one, never a mix. Without a saved copy nothing is erased.
    const uint32_t regionSize = firmwareRegionSize(flashId);
    const bool keepsCopy = flashId == kFlashId1010;
    const tBuffer saved(keepsCopy ? static_cast<uint8_t *>(allocate(regionSize, status)) : nullptr);
    // Room for the read-back is taken before anything is erased.
    const tBuffer readBack(regionSize, status);
    if (keepsCopy)
        readFlashRegion(port, flashId, header.offset, regionSize, saved.get(), status);
    if (status.isFatal()) return;

    bool erasing = false;
    writeFirmwareRegion(port, header.offset, header.byteCount, decoded.get(), status,
                        &erasing);
    const bool verified = verifyRegion(port, flashId, header.offset, decoded.get(),
                                       header.byteCount, readBack.get(), status);

    // Only firmware that read back whole is started.
    if (flashId == kFlashId9D17 && verified) activateIndirectFirmware(port, status);
    if (keepsCopy && erasing && status.isFatal())
        restoreRegion(port, header.offset, saved.get(), readBack.get());
}

}  // namespace nZELSMBUS000
