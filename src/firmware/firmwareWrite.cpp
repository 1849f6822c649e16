#include "firmware/firmwareWrite.h"

#include <algorithm>
#include <cstring>

#include "controller/flashAccess.h"
#include "controller/flashBitOrder.h"
#include "controller/flashScope.h"
#include "driver/sleep.h"
#include "firmware/firmwareChecksums.h"
#include "status/memory.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

using nZELOSAL000::sleepMilliseconds;
namespace reg = nFlashRegister;

namespace {

constexpr uint32_t kIndirectSectorBytes = 0x10000;
constexpr uint32_t kBF8EBlockBytes = 0x10000;
constexpr uint32_t k1010EraseBlocks = 2;
constexpr uint32_t k1010EraseBlockBytes = 0x8000;
constexpr uint32_t kTrailerBytes = 2;
constexpr uint32_t kSerialAddressSpace = 0x1000000;

// Activation points 0x9D17's boot header at the new region.
constexpr uint16_t kBootHeader[18] = {0xAA99, 0x5566, 0x2000, 0x0000, 0x3002, 0x0001,
                                      0x0030, 0x0000, 0x3000, 0x8001, 0x0000, 0x000F,
                                      0x2000, 0x0000, 0x2000, 0x0000, 0x2000, 0x0000};

// Polls the indirect device after an erase until it is no longer busy, a
// sleep after each reading; any of its error bits refuses.
void waitIndirectErase(iRegisterPort &port, tStatus &status) {
    uint32_t deviceStatus = 0;
    for (int poll = 0; poll < kIndirectBusyPolls && !status.isFatal(); ++poll) {
        deviceStatus = readIndirectStatus(port, status);
        sleepMilliseconds(kIndirectBusyPollMilliseconds);
        if ((deviceStatus & kIndirectBusy) == 0) break;
    }
    if (!status.isFatal() && (deviceStatus & kIndirectErrorBits))
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
}

void eraseIndirectSector(iRegisterPort &port, uint32_t sector, tStatus &status) {
    setFlashWriteEnable(port, kFlashId9D17, true, status);
    port.writeRegister(reg::kIndirectErase, sector, status);
    waitIndirectIdle(port, status);
    waitIndirectErase(port, status);
}

// One indirect transfer programming `length` bytes (even, within a page) at address.
void programIndirect(iRegisterPort &port, uint32_t address, const uint8_t *bytes, uint32_t length,
                     tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope transfer(port, kFlashId9D17, tFlashHold::indirectTransfer, status);
    setFlashWriteEnable(port, kFlashId9D17, true, status);
    port.writeRegister(reg::kIndirectAddress, address, status);
    port.writeRegister(reg::kIndirectControl, kIndirectOpen, status);
    for (uint32_t at = 0; at + 1 < length && !status.isFatal(); at += 2) {
        port.writeRegister(reg::kIndirectWriteData, bytes[at] * 256u + bytes[at + 1], status);
        waitIndirectIdle(port, status);
    }
    port.writeRegister(reg::kIndirectControl, kIndirectClose, status);
    if (!status.isFatal()) sleepMilliseconds(1);
}

void writeSerialPages(iRegisterPort &port, uint16_t flashId, uint32_t address, uint32_t length,
                      const uint8_t *buffer, tStatus &status) {
    const uint32_t pages = (length + kFlashPageBytes - 1) / kFlashPageBytes;
    for (uint32_t page = 0; page < pages && !status.isFatal(); ++page) {
        setFlashWriteEnable(port, flashId, true, status);
        programFlashPage(
            port, address + page * kFlashPageBytes,
            *reinterpret_cast<const uint8_t(*)[kFlashPageBytes]>(buffer + page * kFlashPageBytes),
            status);
    }
}

// 0xBF8E's only way to program: auto-increment, the address and the first
// two bytes in one command, then two bytes per command. The mode takes
// nothing but its own commands, write disable and the busy output switches:
// write disable ends it before the blocks are protected again.
void programAutoIncrement(iRegisterPort &port, uint32_t address, const uint8_t *bytes,
                          uint32_t length, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope procedure(port, kFlashIdBF8E, tFlashHold::writeProcedure, status);
    flashCommand(port, serialCommand(kOpBusyOutputOn), kSerialSendOne, status);
    setFlashWriteEnable(port, kFlashIdBF8E, true, status);
    flashCommand(port, serialCommand(kOpAutoIncrement, address), kSerialAutoIncrementStart, status);
    for (uint32_t at = 0; at + 1 < length && !status.isFatal(); at += 2) {
        // The pair as the serial port sends it: each byte's bits reversed.
        const uint32_t pair = uint32_t(reverseByteBits(bytes[at])) << 8 | reverseByteBits(bytes[at + 1]);
        if (at == 0)
            flashCommand(port, pair << 16, kSerialSendTwo, status);
        else
            flashCommand(port, serialCommand(kOpAutoIncrement, pair << 8), kSerialSendThree, status);
    }
    flashCommand(port, serialCommand(kOpWriteDisable), kSerialSendOne, status);
    setFlashWriteEnable(port, kFlashIdBF8E, false, status);
    flashCommand(port, serialCommand(kOpBusyOutputOff), kSerialBusyOutputOff, status);
}

void write1010(iRegisterPort &port, const uint8_t *buffer, uint32_t regionSize, tStatus &status) {
    const tFlashScope procedure(port, kFlashId1010, tFlashHold::writeProcedure, status);
    for (uint32_t block = 0; block < k1010EraseBlocks && !status.isFatal(); ++block) {
        setFlashWriteEnable(port, kFlashId1010, true, status);
        port.writeRegister(reg::kSerialCommand,
                           serialCommand(kOpBlockErase, block * k1010EraseBlockBytes), status);
        port.writeRegister(reg::kSerialControl, kSerialSendFour, status);
        waitFlashIdle(port, status);
    }
    writeSerialPages(port, kFlashId1010, 0, regionSize, buffer, status);
    setFlashWriteEnable(port, kFlashId1010, false, status);
}

void writeBF8E(iRegisterPort &port, uint32_t offset, const uint8_t *buffer, uint32_t regionSize,
               tStatus &status) {
    const tFlashScope procedure(port, kFlashIdBF8E, tFlashHold::writeProcedure, status);
    for (uint32_t block = 0; block < regionSize / kBF8EBlockBytes && !status.isFatal(); ++block) {
        setFlashWriteEnable(port, kFlashIdBF8E, true, status);
        flashCommand(port, serialCommand(kOpBlockErase, offset + block * kBF8EBlockBytes),
                     kSerialSendFour, status);
        if (!status.isFatal()) sleepMilliseconds(kBF8EEraseMilliseconds);
    }
    if (status.isFatal()) return;

    programAutoIncrement(port, offset, buffer, regionSize, status);
}

void write9D17(iRegisterPort &port, const uint8_t *buffer, uint32_t byteCount, uint32_t regionSize,
               tStatus &status) {
    const tFlashScope procedure(port, kFlashId9D17, tFlashHold::writeProcedure, status);
    // Sector 0 holds the boot header that activation rewrites to point at the region.
    eraseIndirectSector(port, 0, status);
    const uint32_t firstSector = kIndirectRegionBase / kIndirectSectorBytes;
    const uint32_t endSector = firstSector + regionSize / kIndirectSectorBytes;
    for (uint32_t sector = firstSector; sector < endSector && !status.isFatal(); ++sector)
        eraseIndirectSector(port, sector, status);

    uint32_t pages = byteCount / kFlashPageBytes + 1;
    if (pages > regionSize / kFlashPageBytes) pages = regionSize / kFlashPageBytes;
    for (uint32_t page = 0; page < pages && !status.isFatal(); ++page)
        programIndirect(port, kIndirectRegionBase + page * kFlashPageBytes,
                        buffer + page * kFlashPageBytes, kFlashPageBytes, status);
}

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
    const uint32_t regionSize = firmwareRegionSize(flashId);
    return flashId == kFlashIdBF8E ? regionSize - kTrailerBytes : regionSize;
}

void composeFirmwareRegion(uint16_t flashId, const uint8_t *bytes, uint32_t byteCount,
                           uint8_t *region) {
    const uint32_t regionSize = firmwareRegionSize(flashId);
    std::memset(region, 0xFF, regionSize);
    if (byteCount > 0) std::memcpy(region, bytes, std::min(byteCount, regionSize));
    if (flashId != kFlashIdBF8E) return;
    const uint16_t trailer = regionCrc16(region, regionSize - kTrailerBytes);
    region[regionSize - 2] = uint8_t(trailer >> 8);
    region[regionSize - 1] = uint8_t(trailer);
}

bool firmwareOffsetFits(uint16_t flashId, uint32_t offset) {
    if (flashId == kFlashId1010) return offset == 0;
    if (flashId != kFlashIdBF8E) return true;
    return offset % kBF8EBlockBytes == 0 &&
           offset <= kSerialAddressSpace - firmwareRegionSize(flashId);
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
    const uint16_t flashId = identifyFlash(port, status);
    if (status.isFatal()) return;
    const uint32_t regionSize = firmwareRegionSize(flashId);
    if (regionSize == 0 || !firmwareOffsetFits(flashId, offset)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        return;
    }
    // On 0xBF8E the firmware must leave the trailer's two bytes free.
    if (firmwareCapacity(flashId) < byteCount) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TOO_LARGE);
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
    composeFirmwareRegion(flashId, bytes, byteCount, buffer);

    if (erasing != nullptr) *erasing = true;
    switch (flashId) {
        case kFlashId1010:
            write1010(port, buffer, regionSize, status);
            break;
        case kFlashIdBF8E:
            writeBF8E(port, offset, buffer, regionSize, status);
            break;
        case kFlashId9D17:
            write9D17(port, buffer, byteCount, regionSize, status);
            break;
        default:
            break;  // refused above: no region
    }
    release(buffer);
}

void programFlashBytes(iRegisterPort &port, uint16_t flashId, uint32_t address,
                       const uint8_t *bytes, uint32_t length, tStatus &status) {
    if (status.isFatal()) return;
    if (bytes == nullptr || length == 0 || length > kFlashPageBytes) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    // Whole pages of 0xFF around the bytes (whole pairs on 0xBF8E):
    // programming 0xFF changes nothing.
    uint8_t pages[2 * kFlashPageBytes];
    std::memset(pages, 0xFF, sizeof pages);
    const uint32_t start = address & ~(kFlashPageBytes - 1);
    std::memcpy(pages + (address - start), bytes, length);
    const uint32_t span = address - start + length > kFlashPageBytes ? 2 * kFlashPageBytes
                                                                      : kFlashPageBytes;
    switch (flashId) {
        case kFlashId1010: {
            const tFlashScope procedure(port, flashId, tFlashHold::writeProcedure, status);
            writeSerialPages(port, flashId, start, span, pages, status);
            setFlashWriteEnable(port, flashId, false, status);
            return;
        }
        case kFlashIdBF8E: {
            const uint32_t first = (address - start) & ~1u;
            const uint32_t end = (address - start + length + 1) & ~1u;
            programAutoIncrement(port, start + first, pages + first, end - first, status);
            return;
        }
        case kFlashId9D17: {
            const tFlashScope procedure(port, flashId, tFlashHold::writeProcedure, status);
            for (uint32_t at = 0; at < span && !status.isFatal(); at += kFlashPageBytes)
                programIndirect(port, start + at, pages + at, kFlashPageBytes, status);
            return;
        }
        default:
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
            return;
    }
}

void activateIndirectFirmware(iRegisterPort &port, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope procedure(port, kFlashId9D17, tFlashHold::writeProcedure, status);
    setFlashWriteEnable(port, kFlashId9D17, true, status);
    port.writeRegister(reg::kIndirectAddress, 0, status);
    port.writeRegister(reg::kIndirectControl, kIndirectOpen, status);
    for (uint16_t word : kBootHeader) {
        if (status.isFatal()) return;
        port.writeRegister(reg::kIndirectWriteData, word, status);
        waitIndirectIdle(port, status);
    }
    port.writeRegister(reg::kIndirectControl, kIndirectClose, status);
    if (!status.isFatal()) sleepMilliseconds(1);
}

bool indirectBootHeaderIntact(iRegisterPort &port, tStatus &status) {
    uint8_t bytes[sizeof kBootHeader];
    // The header's page is being programmed until the device says it is done.
    waitIndirectDeviceReady(port, status);
    readIndirectBytes(port, 0, sizeof bytes, bytes, status);
    if (status.isFatal()) return false;
    for (size_t index = 0; index < sizeof kBootHeader / 2; ++index)
        if (bytes[2 * index] != kBootHeader[index] >> 8 ||
            bytes[2 * index + 1] != (kBootHeader[index] & 0xFFu))
            return false;
    return true;
}

}  // namespace nZELSMBUS000
