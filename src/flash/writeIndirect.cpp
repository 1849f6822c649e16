// Devices written through the indirect port (0x9D17): sector erases polled
// through the device status, 256-byte transfers, and the boot header that
// starts the new firmware.
#include "driver/sleep.h"
#include "flash/firmwareWrite.h"
#include "flash/flashAccess.h"
#include "flash/flashScope.h"
#include "flash/writeMethods.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

using nZELOSAL000::sleepMilliseconds;
namespace reg = nFlashRegister;

namespace {

// Activation points the boot header at the new region.
constexpr uint16_t kBootHeader[18] = {0xAA99, 0x5566, 0x2000, 0x0000, 0x3002, 0x0001,
                                      0x0030, 0x0000, 0x3000, 0x8001, 0x0000, 0x000F,
                                      0x2000, 0x0000, 0x2000, 0x0000, 0x2000, 0x0000};
static_assert(sizeof kBootHeader == kBootHeaderBytes, "the header's size is known to callers");

// Polls the device after an erase until it is no longer busy, a sleep after
// each reading; any of its error bits refuses.
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

void eraseSector(iRegisterPort &port, uint16_t flashId, uint32_t sector, tStatus &status) {
    setFlashWriteEnable(port, flashId, true, status);
    port.writeRegister(reg::kIndirectErase, sector, status);
    waitIndirectIdle(port, status);
    waitIndirectErase(port, status);
}

// One transfer programming `length` bytes (even, within a page) at address.
void programTransfer(iRegisterPort &port, uint16_t flashId, uint32_t address, const uint8_t *bytes,
                     uint32_t length, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope transfer(port, flashId, tFlashHold::indirectTransfer, status);
    setFlashWriteEnable(port, flashId, true, status);
    port.writeRegister(reg::kIndirectAddress, address, status);
    port.writeRegister(reg::kIndirectControl, kIndirectOpen, status);
    for (uint32_t at = 0; at + 1 < length && !status.isFatal(); at += 2) {
        port.writeRegister(reg::kIndirectWriteData, bytes[at] * 256u + bytes[at + 1], status);
        waitIndirectIdle(port, status);
    }
    port.writeRegister(reg::kIndirectControl, kIndirectClose, status);
    if (!status.isFatal()) sleepMilliseconds(1);
}

}  // namespace

void writeRegionIndirect(iRegisterPort &port, const tFlashChip &device, const uint8_t *region,
                         uint32_t byteCount, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope procedure(port, device.id, tFlashHold::writeProcedure, status);
    // Sector 0 holds the boot header that activation rewrites to point at the region.
    eraseSector(port, device.id, 0, status);
    const uint32_t firstSector = device.regionBase / device.eraseBytes;
    const uint32_t endSector = firstSector + device.regionBytes / device.eraseBytes;
    for (uint32_t sector = firstSector; sector < endSector && !status.isFatal(); ++sector)
        eraseSector(port, device.id, sector, status);

    // The pages that hold the firmware and one more, never beyond the region.
    uint32_t pages = byteCount / kFlashPageBytes + 1;
    if (pages > device.regionBytes / kFlashPageBytes) pages = device.regionBytes / kFlashPageBytes;
    for (uint32_t page = 0; page < pages && !status.isFatal(); ++page)
        programTransfer(port, device.id, device.regionBase + page * kFlashPageBytes,
                        region + page * kFlashPageBytes, kFlashPageBytes, status);
}

void programIndirectPages(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                          const uint8_t *bytes, uint32_t length, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope procedure(port, device.id, tFlashHold::writeProcedure, status);
    for (uint32_t at = 0; at < length && !status.isFatal(); at += kFlashPageBytes)
        programTransfer(port, device.id, address + at, bytes + at, kFlashPageBytes, status);
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
