#include "firmware/firmwareWrite.h"

#include <cstring>

#include "controller/flashAccess.h"
#include "controller/flashBitOrder.h"
#include "controller/flashScope.h"
#include "driver/sleep.h"
#include "firmware/firmwareChecksums.h"
#include "status/memory.h"

namespace nZELSMBUS000 {

using nZELOSAL000::sleepMilliseconds;
namespace reg = nFlashRegister;

namespace {

constexpr uint32_t kIndirectSectorBytes = 0x10000;
constexpr uint32_t kBF8EBlockBytes = 0x10000;

// Polls the indirect device after an erase: up to 10 reads 100 ms apart
// until it is no longer busy; any of the error bits 0x5D refuses.
void waitIndirectErase(iRegisterPort &port, tStatus &status) {
    uint32_t deviceStatus = 0;
    for (int poll = 0; poll < 10 && !status.isFatal(); ++poll) {
        deviceStatus = readIndirectStatus(port, status);
        sleepMilliseconds(100);
        if ((deviceStatus & 1u) == 0) break;
    }
    if (!status.isFatal() && (deviceStatus & 0x5Du)) ZELSMBUS_SET_CODE(status, -52005);
}

void eraseIndirectSector(iRegisterPort &port, uint32_t sector, tStatus &status) {
    setFlashWriteEnable(port, kFlashId9D17, true, status);
    port.writeRegister(reg::kIndirectErase, sector, status);
    waitIndirectIdle(port, status);
    waitIndirectErase(port, status);
}

void writeSerialPages(iRegisterPort &port, uint32_t regionSize, const uint8_t *buffer,
                      tStatus &status) {
    const uint32_t pages = (regionSize + kFlashPageBytes - 1) / kFlashPageBytes;
    for (uint32_t page = 0; page < pages && !status.isFatal(); ++page) {
        setFlashWriteEnable(port, kFlashId1010, true, status);
        programFlashPage(
            port, page * kFlashPageBytes,
            *reinterpret_cast<const uint8_t(*)[kFlashPageBytes]>(buffer + page * kFlashPageBytes),
            status);
    }
}

void write1010(iRegisterPort &port, const uint8_t *buffer, uint32_t regionSize,
               tStatus &status) {
    const tFlashScope procedure(port, kFlashId1010, tFlashHold::writeProcedure, status);
    for (uint32_t block = 0; block < 2 && !status.isFatal(); ++block) {
        setFlashWriteEnable(port, kFlashId1010, true, status);
        port.writeRegister(reg::kSerialCommand, 0xD8000000 + block * 0x8000, status);
        port.writeRegister(reg::kSerialControl, 0x204, status);
        waitFlashIdle(port, status);
    }
    writeSerialPages(port, regionSize, buffer, status);
    setFlashWriteEnable(port, kFlashId1010, false, status);
}

void writeBF8E(iRegisterPort &port, uint32_t offset, uint8_t *buffer, uint32_t regionSize,
               tStatus &status) {
    const tFlashScope procedure(port, kFlashIdBF8E, tFlashHold::writeProcedure, status);
    for (uint32_t block = 0; block < regionSize / kBF8EBlockBytes && !status.isFatal(); ++block) {
        setFlashWriteEnable(port, kFlashIdBF8E, true, status);
        flashCommand(port, 0xD8000000 + offset + block * kBF8EBlockBytes, 0x204, status);
        if (!status.isFatal()) sleepMilliseconds(25);
    }
    if (status.isFatal()) return;

    const uint16_t trailer = regionCrc16(buffer, regionSize - 2);
    buffer[regionSize - 2] = uint8_t(trailer >> 8);
    buffer[regionSize - 1] = uint8_t(trailer);

    // Auto-increment programming: two bytes per command after the first.
    flashCommand(port, 0x70000000, 0x201, status);
    setFlashWriteEnable(port, kFlashIdBF8E, true, status);
    flashCommand(port, offset | 0xAD000000, 0x704, status);
    bool first = true;
    for (uint32_t at = 0; at < regionSize && !status.isFatal(); at += 4) {
        const uint32_t word = reverseWordBits(loadLittleEndian(buffer + at));
        const uint32_t halves[2] = {word >> 16, word & 0xFFFFu};
        for (uint32_t half : halves) {
            if (first)
                flashCommand(port, half << 16, 0x202, status);
            else
                flashCommand(port, 0xAD000000 | half << 8, 0x203, status);
            first = false;
        }
    }
    // Auto-increment programming takes nothing but its own commands, write
    // disable and the status read: it has to end before the protection can
    // be set again.
    flashCommand(port, 0x04000000, 0x201, status);
    setFlashWriteEnable(port, kFlashIdBF8E, false, status);
    flashCommand(port, 0x80000000, 0xA01, status);
}

void write9D17(iRegisterPort &port, const uint8_t *buffer, uint32_t byteCount,
               uint32_t regionSize, tStatus &status) {
    const tFlashScope procedure(port, kFlashId9D17, tFlashHold::writeProcedure, status);
    // Sector 0 holds the boot header that activation rewrites to point at the region.
    eraseIndirectSector(port, 0, status);
    const uint32_t firstSector = kIndirectRegionBase / kIndirectSectorBytes;
    const uint32_t endSector = firstSector + regionSize / kIndirectSectorBytes;
    for (uint32_t sector = firstSector; sector < endSector && !status.isFatal(); ++sector)
        eraseIndirectSector(port, sector, status);

    uint32_t pages = byteCount / kFlashPageBytes + 1;
    if (pages > regionSize / kFlashPageBytes) pages = regionSize / kFlashPageBytes;
    for (uint32_t page = 0; page < pages && !status.isFatal(); ++page) {
        const uint8_t *bytes = buffer + page * kFlashPageBytes;
        const tFlashScope transfer(port, kFlashId9D17, tFlashHold::indirectTransfer, status);
        setFlashWriteEnable(port, kFlashId9D17, true, status);
        port.writeRegister(reg::kIndirectAddress,
                                 kIndirectRegionBase + page * kFlashPageBytes, status);
        port.writeRegister(reg::kIndirectControl, 1, status);
        for (uint32_t at = 0; at < kFlashPageBytes && !status.isFatal(); at += 2) {
            port.writeRegister(reg::kIndirectWriteData, bytes[at] * 256u + bytes[at + 1],
                                     status);
            waitIndirectIdle(port, status);
        }
        port.writeRegister(reg::kIndirectControl, 2, status);
        if (!status.isFatal()) sleepMilliseconds(1);
    }
}

}  // namespace

bool firmwareOffsetFits(uint16_t flashId, uint32_t offset) {
    if (flashId == kFlashId1010) return offset == 0;
    if (flashId != kFlashIdBF8E) return true;
    return offset % kBF8EBlockBytes == 0 && offset <= 0x1000000u - firmwareRegionSize(flashId);
}

void writeFirmwareRegion(iRegisterPort &port, uint32_t offset, uint32_t byteCount,
                         const uint8_t *bytes, tStatus &status, bool *erasing) {
    if (status.isFatal()) return;
    uint32_t signature = 0;
    port.readRegister(reg::kSignature, signature, status);
    if (status.isFatal()) return;
    if (signature != kControllerSignature) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    const uint16_t flashId = identifyFlash(port, status);
    if (status.isFatal()) return;
    const uint32_t regionSize = firmwareRegionSize(flashId);
    if (regionSize == 0 || !firmwareOffsetFits(flashId, offset)) {
        ZELSMBUS_SET_CODE(status, -52002);
        return;
    }
    if (regionSize < byteCount) {
        ZELSMBUS_SET_CODE(status, -52019);
        return;
    }
    // A whole 0x1010 region is written as it stands: putting a saved region
    // back then needs no memory once the erase has begun.
    if (flashId == kFlashId1010 && byteCount == regionSize) {
        if (erasing != nullptr) *erasing = true;
        write1010(port, bytes, regionSize, status);
        return;
    }
    auto *buffer = static_cast<uint8_t *>(allocate(regionSize, status));
    if (buffer == nullptr) return;
    std::memset(buffer, 0xFF, regionSize);
    if (byteCount > 0) std::memcpy(buffer, bytes, byteCount);

    if (erasing != nullptr) *erasing = true;
    switch (flashId) {
        case kFlashId1010:
            write1010(port, buffer, regionSize, status);
            break;
        case kFlashIdBF8E:
            writeBF8E(port, offset, buffer, regionSize, status);
            break;
        default:
            write9D17(port, buffer, byteCount, regionSize, status);
            break;
    }
    release(buffer);
}

void activateIndirectFirmware(iRegisterPort &port, tStatus &status) {
    static constexpr uint16_t kBootHeader[18] = {0xAA99, 0x5566, 0x2000, 0x0000, 0x3002, 0x0001,
                                                 0x0030, 0x0000, 0x3000, 0x8001, 0x0000, 0x000F,
                                                 0x2000, 0x0000, 0x2000, 0x0000, 0x2000, 0x0000};
    if (status.isFatal()) return;
    const tFlashScope procedure(port, kFlashId9D17, tFlashHold::writeProcedure, status);
    setFlashWriteEnable(port, kFlashId9D17, true, status);
    port.writeRegister(reg::kIndirectAddress, 0, status);
    port.writeRegister(reg::kIndirectControl, 1, status);
    for (uint16_t word : kBootHeader) {
        if (status.isFatal()) return;
        port.writeRegister(reg::kIndirectWriteData, word, status);
        waitIndirectIdle(port, status);
    }
    port.writeRegister(reg::kIndirectControl, 2, status);
    if (!status.isFatal()) sleepMilliseconds(1);
}

}  // namespace nZELSMBUS000
