#include "firmware/firmwareUpdate.h"

#include <cstring>

#include "controller/tControllerRegisterPort.h"
#include "flash/firmwareChecksums.h"
#include "flash/firmwareImage.h"
#include "flash/firmwarePayload.h"
#include "flash/firmwareWrite.h"
#include "flash/flashAccess.h"
#include "flash/flashBitOrder.h"
#include "flash/flashScope.h"
#include "status/memory.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace {

namespace reg = nFlashRegister;

constexpr uint32_t kErasedWord = 0xFFFFFFFFu;

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

// The pin-out word the installed firmware carries at the header's address,
// as its bytes lie in the flash: four on the serial devices (the version in
// the first), two on 0x9D17 (the version in the first).
struct tPinOut {
    uint32_t address = 0;
    uint8_t bytes[4] = {};
    uint32_t length = 0;
    bool erased = false;  // every byte reads 0xFF: nothing to put back
    uint32_t version() const { return bytes[0]; }
};

// The word at the address; through the indirect port its 16 bits, all ones
// when erased.
uint32_t readPinOutWord(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                        tStatus &status) {
    switch (device.port) {
        case tFlashPort::indirect: {
            const uint32_t word = readIndirectWord(port, address, status) & 0xFFFFu;
            return word == 0xFFFFu ? kErasedWord : word;
        }
        case tFlashPort::serial:
            break;
    }
    return readFlashWord(port, address, status);
}

// A reading of all ones is replaced by a second reading (a flash that did
// not answer reads the same way), which stands whatever it reads. An erased
// word's version is then 255, as its byte reads.
tPinOut readPinOut(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                   tStatus &status) {
    tPinOut pinOut;
    pinOut.address = address;
    uint32_t word = readPinOutWord(port, device, address, status);
    if (!status.isFatal() && word == kErasedWord)
        word = readPinOutWord(port, device, address, status);
    if (status.isFatal()) return pinOut;
    pinOut.erased = word == kErasedWord;
    pinOut.length = device.pinOutBytes;
    if (device.pinOutBytes == 2) {
        // A 16-bit word, its first byte (the version) in bits 8 to 15.
        pinOut.bytes[0] = uint8_t(word >> 8);
        pinOut.bytes[1] = uint8_t(word);
    } else {
        storeLittleEndian(word, pinOut.bytes);
    }
    return pinOut;
}

void checkImageAgainstController(iSMBusController &controller, iRegisterPort &port,
                                 const tFirmwareImageHeader &header, uint32_t flags,
                                 uint16_t &flashId, tPinOut &pinOut, tStatus &status) {
    if (status.isFatal()) return;
    if (!header.isFirmwareUpdate) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    uint32_t installedVersion = 0;
    port.readRegister(reg::kFirmwareVersion, installedVersion, status);
    if (status.isFatal()) return;
    if (header.version <= installedVersion && (flags & ZELSMBUS_FIRMWARE_FORCE) == 0) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    if (header.headerVersion != 1 && header.headerVersion != 2) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        return;
    }
    // Whatever an earlier process left behind, the flash is identified and
    // brought to rest before anything else is asked of it.
    flashId = identifyFlashForWriting(port, status);
    if (status.isFatal()) return;
    const tFlashChip *device = findFlashChip(flashId);
    if (device == nullptr || !firmwareOffsetFits(flashId, header.offset)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        return;
    }
    uint16_t vendor = 0, pciDevice = 0, subsystemVendor = 0, subsystem = 0;
    controller.getPciIds(vendor, pciDevice, subsystemVendor, subsystem, status);
    if (status.isFatal()) return;
    if (header.subsystemId != subsystem) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        return;
    }
    waitInterfaceReady(port, status);
    pinOut = readPinOut(port, *device, header.pinOutAddress, status);
    if (status.isFatal()) return;
    if (pinOut.version() != header.pinOutVersion) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        return;
    }
    // A pin-out word that activation's boot header would overwrite could not
    // be kept: refused before anything is erased.
    if (device->activation && header.pinOutAddress < kBootHeaderBytes) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        return;
    }
    // On 0xBF8E an image reaching into the trailer's two bytes could never
    // verify: refused before anything is erased.
    if (firmwareCapacity(flashId) < header.byteCount)
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TOO_LARGE);
}

// Decodes the payload and checks its length and CRC; null on failure.
uint8_t *decodeImage(const tFirmwareImageHeader &header, tStatus &status) {
    if (status.isFatal()) return nullptr;
    if (decodedPayloadLength(header.payload, header.payloadLength) != header.byteCount) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_CORRUPT_DATA);
        return nullptr;
    }
    auto *bytes = static_cast<uint8_t *>(allocate(size_t(header.byteCount) + 1, status));
    if (bytes == nullptr) return nullptr;
    const size_t decoded = decodePayload(header.payload, header.payloadLength, bytes);
    if (decoded != header.byteCount || firmwareCrc32(bytes, decoded) != header.crc) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_CORRUPT_DATA);
        release(bytes);
        return nullptr;
    }
    return bytes;
}

// Reads the region to keep it, twice: a word that did not answer reads all
// ones, which a region may hold as well, so only two readings that agree are
// kept. Readings that differ fail with ZELSMBUS_ERROR_IO (nothing is erased
// then).
void saveRegion(iRegisterPort &port, uint16_t flashId, uint32_t offset, uint8_t *saved,
                uint8_t *scratch, tStatus &status) {
    const uint32_t regionSize = firmwareRegionSize(flashId);
    readFlashRegion(port, flashId, offset, regionSize, saved, status);
    readFlashRegion(port, flashId, offset, regionSize, scratch, status);
    if (!status.isFatal() && std::memcmp(saved, scratch, regionSize) != 0)
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_IO);
}

// Reads the whole region back into `readBack`; true when it is `expected`
// (the firmware, its 0xFF fill and 0xBF8E's trailer), else
// ZELSMBUS_ERROR_VERIFY_FAILED.
bool verifyRegion(iRegisterPort &port, uint16_t flashId, uint32_t offset, const uint8_t *expected,
                  uint8_t *readBack, tStatus &status) {
    if (status.isFatal()) return false;
    const uint32_t regionSize = firmwareRegionSize(flashId);
    readFlashRegion(port, flashId, offset, regionSize, readBack, status);
    if (status.isFatal()) return false;
    if (std::memcmp(readBack, expected, regionSize) != 0) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_VERIFY_FAILED);
        return false;
    }
    return true;
}

// Device 0x1010: whether the region holds the saved contents, writing them
// back when it does not, under statuses of their own. A region that still
// reads as saved (the failure came before its erase did anything) is left
// alone; a write-back that does not verify is tried once more. It allocates
// nothing, so running out of memory cannot stop it.
bool restoreRegion(iRegisterPort &port, const tFlashChip &device, uint32_t offset,
                   const uint8_t *saved, uint8_t *readBack) {
    tStatus checkStatus;
    if (verifyRegion(port, device.id, offset, saved, readBack, checkStatus)) return true;
    for (int attempt = 0; attempt < 2; ++attempt) {
        tStatus restoreStatus;
        writeFirmwareRegion(port, offset, device.regionBytes, saved, restoreStatus);
        if (verifyRegion(port, device.id, offset, saved, readBack, restoreStatus)) return true;
    }
    return false;
}

// Programs the pin-out word read before the erase back when it now reads
// erased, so that the same update can be made again. Under a status of its own.
void restorePinOut(iRegisterPort &port, const tFlashChip &device, const tPinOut &pinOut) {
    if (pinOut.erased) return;
    tStatus own;
    const tPinOut now = readPinOut(port, device, pinOut.address, own);
    if (own.isFatal() || !now.erased) return;
    programFlashBytes(port, device.id, pinOut.address, pinOut.bytes, pinOut.length, own);
}

// A device that erases its boot sector along with the region (0x9D17: sector
// 0, where the boot header lies) also erases a pin-out word kept there,
// outside the region; a verified update programs it back and reads it back.
void keepPinOutOfBootSector(iRegisterPort &port, const tFlashChip &device, const tPinOut &pinOut,
                            tStatus &status) {
    if (status.isFatal() || !device.activation || pinOut.erased ||
        pinOut.address >= device.eraseBytes)
        return;
    programFlashBytes(port, device.id, pinOut.address, pinOut.bytes, pinOut.length, status);
    const tPinOut now = readPinOut(port, device, pinOut.address, status);
    if (!status.isFatal() && std::memcmp(now.bytes, pinOut.bytes, pinOut.length) != 0)
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_VERIFY_FAILED);
}

// The region holds neither the old firmware nor the new: that outranks
// whatever failure led here.
void reportDamaged(tStatus &status) {
    status.clear();
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_REGION_DAMAGED);
}

// After a failure once the erase has begun. A device that is still busy
// after the release's wait (or whose status cannot be read) is neither
// erased nor programmed again: it answers nothing, and each attempt would
// cost another wait. A device that keeps a copy must then end with its old
// region verified, or the call says the region is damaged.
void recover(iRegisterPort &port, const tFlashChip &device, uint32_t offset,
             const uint8_t *saved, uint8_t *readBack, const tPinOut &pinOut, tStatus &status) {
    if (flashStillBusy(port, device.id)) {
        if (saved != nullptr) reportDamaged(status);
        return;
    }
    if (saved != nullptr && !restoreRegion(port, device, offset, saved, readBack))
        reportDamaged(status);
    restorePinOut(port, device, pinOut);
}

}  // namespace

void writeFirmware(iSMBusController &controller, uint32_t length, const char *image,
                   uint32_t flags, tStatus &status) {
    tControllerRegisterPort port(controller);
    uint32_t signature = 0;
    port.readRegister(reg::kSignature, signature, status);
    if (status.isFatal()) return;
    if (signature != kControllerSignature) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    tFirmwareImageHeader header;
    parseFirmwareImage(image, length, header, status);
    uint16_t flashId = 0;
    tPinOut pinOut;
    checkImageAgainstController(controller, port, header, flags, flashId, pinOut, status);
    uint8_t *decodedBytes = decodeImage(header, status);
    if (decodedBytes == nullptr) return;
    const tBuffer decoded(decodedBytes);

    // A device that keeps a copy (0x1010) has its old region saved: once its
    // erase has begun, any failure puts it back, so the region holds the old
    // firmware or the new one, never a mix. Without a saved copy nothing is
    // erased. Every buffer is taken before anything is erased.
    const tFlashChip *found = findFlashChip(flashId);
    if (found == nullptr) return;  // refused by the checks above
    const tFlashChip &device = *found;
    const uint32_t regionSize = device.regionBytes;
    const bool keepsCopy = device.keepsCopy;
    const tBuffer saved(keepsCopy ? static_cast<uint8_t *>(allocate(regionSize, status)) : nullptr);
    const tBuffer expected(regionSize, status);
    const tBuffer readBack(regionSize, status);
    if (status.isFatal()) return;
    composeFirmwareRegion(flashId, decoded.get(), header.byteCount, expected.get());
    if (keepsCopy)
        saveRegion(port, flashId, header.offset, saved.get(), readBack.get(), status);
    if (status.isFatal()) return;

    bool erasing = false;
    writeFirmwareRegion(port, header.offset, header.byteCount, decoded.get(), status, &erasing);
    const bool verified =
        verifyRegion(port, flashId, header.offset, expected.get(), readBack.get(), status);

    // Only firmware that read back whole is started, and the start counts
    // only when the boot header reads back as written.
    if (device.activation && verified) {
        activateIndirectFirmware(port, status);
        if (!indirectBootHeaderIntact(port, status) && !status.isFatal())
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_VERIFY_FAILED);
    }
    if (device.activation && verified) keepPinOutOfBootSector(port, device, pinOut, status);
    if (erasing && status.isFatal())
        recover(port, device, header.offset, saved.get(), readBack.get(), pinOut, status);
}

}  // namespace nZELSMBUS000
