#include "flash/firmwareWrite.h"

#include <algorithm>
#include <cstring>

#include "flash/firmwareChecksums.h"
#include "flash/flashAccess.h"
#include "flash/flashChips.h"
#include "flash/writeMethods.h"
#include "status/memory.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace reg = nFlashRegister;

namespace {
constexpr uint32_t kSerialAddressSpace = 0x1000000;
}  // namespace

bool firmwareRefusedBeforeErase(int32_t code) {
    switch (code) {
        case ZELSMBUS_ERROR_NOT_FOUND:       // no image or handle
        case ZELSMBUS_ERROR_NOT_SUPPORTED:   // the image does not suit the controller
        case ZELSMBUS_ERROR_TOO_LARGE:       // larger than the region
        case ZELSMBUS_ERROR_CORRUPT_DATA:    // payload length or CRC
        case ZELSMBUS_ERROR_OUT_OF_MEMORY:   // every buffer is taken before the erase
        case ZELSMBUS_ERROR_BUSY:            // another writer holds the flash lock
            return true;
        default:
            return false;
    }
}

uint32_t firmwareCapacity(uint16_t flashId) {
    const tFlashChip *device = findFlashChip(flashId);
    return device == nullptr ? 0 : device->regionBytes - device->trailerBytes;
}

void composeFirmwareRegion(uint16_t flashId, const uint8_t *bytes, uint32_t byteCount,
                           uint8_t *region) {
    const tFlashChip *device = findFlashChip(flashId);
    if (device == nullptr) return;
    const uint32_t regionSize = device->regionBytes;
    std::memset(region, 0xFF, regionSize);
    if (byteCount > 0) std::memcpy(region, bytes, std::min(byteCount, regionSize));
    if (device->trailerBytes == 0) return;
    // A CRC-16 of everything before it, high byte first.
    const uint16_t trailer = regionCrc16(region, regionSize - device->trailerBytes);
    region[regionSize - 2] = uint8_t(trailer >> 8);
    region[regionSize - 1] = uint8_t(trailer);
}

bool firmwareOffsetFits(uint16_t flashId, uint32_t offset) {
    const tFlashChip *device = findFlashChip(flashId);
    if (device == nullptr) return false;
    switch (device->placement) {
        case tRegionPlacement::fixedAtZero:
            return offset == 0;
        case tRegionPlacement::atOffset:
            return offset % device->eraseBytes == 0 &&
                   offset <= kSerialAddressSpace - device->regionBytes;
        case tRegionPlacement::fixedBase:
            return true;
    }
    return false;
}

void writeFirmwareRegion(iRegisterPort &port, uint32_t offset, uint32_t byteCount,
                         const uint8_t *bytes, tStatus &status, bool *erasing) {
    if (status.isFatal()) return;
    uint32_t signature = 0;
    port.readRegister(reg::kSignature, signature, status);
    if (status.isFatal()) return;
    if (signature != kControllerSignature) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    const tFlashChip *device = findFlashChip(identifyFlash(port, status));
    if (status.isFatal()) return;
    if (device == nullptr || !firmwareOffsetFits(device->id, offset)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        return;
    }
    // The firmware must leave a trailer's bytes free.
    if (firmwareCapacity(device->id) < byteCount) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TOO_LARGE);
        return;
    }
    const uint32_t regionSize = device->regionBytes;
    const uint8_t *region = bytes;
    uint8_t *composed = nullptr;
    // A whole region of a device that keeps a copy is written as it stands:
    // putting a saved region back then needs no memory once the erase has begun.
    if (!(device->keepsCopy && byteCount == regionSize)) {
        composed = static_cast<uint8_t *>(allocate(regionSize, status));
        if (composed == nullptr) return;
        composeFirmwareRegion(device->id, bytes, byteCount, composed);
        region = composed;
    }

    if (erasing != nullptr) *erasing = true;
    switch (device->write) {
        case tWriteMethod::pageProgram:
            writeRegionPageProgram(port, *device, region, status);
            break;
        case tWriteMethod::autoIncrement:
            writeRegionAutoIncrement(port, *device, offset, region, status);
            break;
        case tWriteMethod::indirectPages:
            writeRegionIndirect(port, *device, region, byteCount, status);
            break;
    }
    release(composed);
}

void programFlashBytes(iRegisterPort &port, uint16_t flashId, uint32_t address,
                       const uint8_t *bytes, uint32_t length, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashChip *device = findFlashChip(flashId);
    if (bytes == nullptr || length == 0 || length > kFlashPageBytes || device == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    // Whole pages of 0xFF around the bytes (whole pairs for auto-increment):
    // programming 0xFF changes nothing.
    uint8_t pages[2 * kFlashPageBytes];
    std::memset(pages, 0xFF, sizeof pages);
    const uint32_t start = address & ~(kFlashPageBytes - 1);
    std::memcpy(pages + (address - start), bytes, length);
    const uint32_t span = address - start + length > kFlashPageBytes ? 2 * kFlashPageBytes
                                                                      : kFlashPageBytes;
    switch (device->write) {
        case tWriteMethod::pageProgram:
            programPageProgram(port, *device, start, pages, span, status);
            return;
        case tWriteMethod::autoIncrement: {
            const uint32_t first = (address - start) & ~1u;
            const uint32_t end = (address - start + length + 1) & ~1u;
            programAutoIncrement(port, *device, start + first, pages + first, end - first, status);
            return;
        }
        case tWriteMethod::indirectPages:
            programIndirectPages(port, *device, start, pages, span, status);
            return;
    }
}

}  // namespace nZELSMBUS000
