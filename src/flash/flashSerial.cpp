// Serial command port: register 64 takes a command word (instruction in the
// top byte), register 68 a transfer control word, register 72 reports the
// interface ready, register 76 returns what the flash clocked out.
#include "driver/sleep.h"
#include "flash/flashAccess.h"
#include "flash/flashBitOrder.h"
#include "flash/flashChips.h"
#include "flash/flashScope.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

using nZELOSAL000::sleepMilliseconds;
namespace reg = nFlashRegister;

namespace {
constexpr int kInterfacePolls = 2;
}  // namespace

uint32_t firmwareRegionSize(uint16_t flashId) {
    const tFlashChip *device = findFlashChip(flashId);
    return device == nullptr ? 0 : device->regionBytes;
}

void waitInterfaceReady(iRegisterPort &port, tStatus &status) {
    if (status.isFatal()) return;
    for (int poll = 0; poll < kInterfacePolls; ++poll) {
        uint32_t value = 0;
        port.readRegister(reg::kSerialStatus, value, status);
        if (status.isFatal()) return;
        if (value & kSerialInterfaceReady) return;
        sleepMilliseconds(1);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TIMEOUT);
}

void flashCommand(iRegisterPort &port, uint32_t word, uint32_t control, tStatus &status) {
    if (status.isFatal()) return;
    port.writeRegister(reg::kSerialCommand, word, status);
    port.writeRegister(reg::kSerialControl, control, status);
    waitInterfaceReady(port, status);
}

uint32_t readFlashStatus(iRegisterPort &port, tStatus &status) {
    flashCommand(port, serialCommand(kOpReadStatus), kSerialSendTwo, status);
    uint32_t value = 0;
    port.readRegister(reg::kSerialData, value, status);
    return status.isFatal() ? 0 : value & 0xFFu;
}

namespace {
// Polls the status register until none of `bits` is set: 1 ms after each of
// the first 30 polls, 10 ms after each later one, ZELSMBUS_ERROR_TIMEOUT after 627 (about 6 s).
void waitFlashStatusClear(iRegisterPort &port, uint32_t bits, tStatus &status) {
    if (status.isFatal()) return;
    for (int poll = 0; poll < kFlashIdlePolls; ++poll) {
        const uint32_t flashStatus = readFlashStatus(port, status);
        if (status.isFatal()) return;
        if ((flashStatus & bits) == 0) return;
        sleepMilliseconds(poll < kFlashIdleFastPolls ? 1 : 10);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TIMEOUT);
}
}  // namespace

void waitFlashIdle(iRegisterPort &port, tStatus &status) {
    waitFlashStatusClear(port, kFlashStatusBusy | kFlashStatusWriteEnabled, status);
}

void waitFlashReady(iRegisterPort &port, tStatus &status) {
    waitFlashStatusClear(port, kFlashStatusBusy, status);
}

uint16_t readFlashId(iRegisterPort &port, tStatus &status) {
    if (status.isFatal()) return 0;
    const tFlashScope transfer(port, 0, tFlashHold::serialTransfer, status);
    flashCommand(port, serialCommand(kOpIdentify), kSerialKeepFour, status);
    port.writeRegister(reg::kSerialControl, kSerialSendTwo, status);
    waitInterfaceReady(port, status);
    uint32_t value = 0;
    port.readRegister(reg::kSerialData, value, status);
    return status.isFatal() ? 0 : static_cast<uint16_t>(value);
}

uint16_t identifyFlash(iRegisterPort &port, tStatus &status) {
    uint16_t flashId = readFlashId(port, status);
    if (flashId == 0xFFFF) flashId = readFlashId(port, status);
    return flashId;
}

void setFlashWriteEnable(iRegisterPort &port, uint16_t flashId, bool enable,
                         tStatus &status) {
    if (status.isFatal()) return;
    const tFlashChip *device = findFlashChip(flashId);
    if (device == nullptr) return;  // a device no procedure writes
    const uint32_t latch = serialCommand(enable ? kOpWriteEnable : kOpWriteDisable);
    switch (device->writeEnable) {
        case tWriteEnable::latch:
            flashCommand(port, latch, kSerialSendOne, status);
            return;
        case tWriteEnable::latchAndProtection:
            // Status register: cleared to allow writing, every block protected otherwise.
            flashCommand(port, serialCommand(kOpEnableStatusWrite), kSerialSendOne, status);
            flashCommand(port,
                         serialCommand(kOpWriteStatus, enable ? 0 : kBF8EProtectAllBlocks << 16),
                         kSerialSendTwo, status);
            flashCommand(port, latch, kSerialSendOne, status);
            return;
        case tWriteEnable::indirectPort: {
            port.writeRegister(reg::kIndirectControl,
                               enable ? kIndirectWriteEnable : kIndirectWriteDisable, status);
            waitIndirectIdle(port, status);
            uint32_t control = 0;
            port.readRegister(reg::kIndirectControl, control, status);
            if (status.isFatal()) return;
            if (((control & kIndirectWriteEnabledBit) != 0) != enable) {
                ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
                return;
            }
            const uint32_t wanted = enable ? kIndirectStatusWriteEnabled : 0;
            uint32_t deviceStatus = 0;
            for (int poll = 0; poll < 10; ++poll) {
                deviceStatus = readIndirectStatus(port, status);
                if (status.isFatal()) return;
                if ((deviceStatus & 0xFFu) == wanted) break;
                sleepMilliseconds(1);
            }
            if (deviceStatus & kIndirectErrorBits)
                ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
            return;
        }
    }
}

uint32_t readFlashWord(iRegisterPort &port, uint32_t address, tStatus &status) {
    if (status.isFatal()) return 0;
    const tFlashScope transfer(port, 0, tFlashHold::serialTransfer, status);
    flashCommand(port, serialCommand(kOpRead, address), kSerialKeepFour, status);
    flashCommand(port, 0, kSerialSendFour, status);
    uint32_t value = 0;
    port.readRegister(reg::kSerialData, value, status);
    return status.isFatal() ? 0 : reverseWordBits(value);
}

void programFlashPage(iRegisterPort &port, uint32_t address,
                      const uint8_t (&page)[kFlashPageBytes], tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope transfer(port, 0, tFlashHold::serialTransfer, status);
    flashCommand(port, serialCommand(kOpPageProgram, address & 0xFFFFC0), kSerialKeepFour, status);
    for (uint32_t offset = 0; offset < kFlashPageBytes && !status.isFatal(); offset += 4)
        flashCommand(port, reverseWordBits(loadLittleEndian(page + offset)), kSerialKeepFour,
                     status);
    port.writeRegister(reg::kSerialControl, kSerialEnd, status);
    waitFlashIdle(port, status);
}

}  // namespace nZELSMBUS000
