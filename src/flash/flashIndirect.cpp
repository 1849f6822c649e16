// Indirect port of device 0x9D17: control/status at 0x2000, sector erase at
// 0x2004, transfers through 0x2008 (address), 0x200C (read) and 0x2010
// (write), device commands and status at 0x2014.
#include "driver/sleep.h"
#include "flash/flashAccess.h"
#include "flash/flashScope.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

using nZELOSAL000::sleepMilliseconds;
namespace reg = nFlashRegister;

namespace {
constexpr uint32_t kPortBusy = 1u << 4;
constexpr uint32_t kResetGranted = 1u << 2;
}  // namespace

void waitIndirectIdle(iRegisterPort &port, tStatus &status) {
    if (status.isFatal()) return;
    for (int poll = 0; poll < 2; ++poll) {
        uint32_t control = 0;
        port.readRegister(reg::kIndirectControl, control, status);
        if (status.isFatal()) return;
        if ((control & kPortBusy) == 0) return;
        sleepMilliseconds(1);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TIMEOUT);
}

uint32_t readIndirectStatus(iRegisterPort &port, tStatus &status) {
    if (status.isFatal()) return 0;
    port.writeRegister(reg::kIndirectCommand, kIndirectReadStatus, status);
    waitIndirectIdle(port, status);
    uint32_t value = 0;
    port.readRegister(reg::kIndirectCommand, value, status);
    return status.isFatal() ? 0 : value;
}

uint32_t waitIndirectDeviceReady(iRegisterPort &port, tStatus &status) {
    uint32_t deviceStatus = 0;
    for (int poll = 0; poll < kIndirectBusyPolls; ++poll) {
        deviceStatus = readIndirectStatus(port, status);
        if (status.isFatal()) return 0;
        if ((deviceStatus & kIndirectBusy) == 0) return deviceStatus;
        sleepMilliseconds(kIndirectBusyPollMilliseconds);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TIMEOUT);
    return deviceStatus;
}

void resetIndirectFlash(iRegisterPort &port, tStatus &status) {
    if (status.isFatal()) return;
    port.writeRegister(reg::kIndirectControl, kIndirectRequestReset, status);
    for (int poll = 0; poll < 2; ++poll) {
        uint32_t control = 0;
        port.readRegister(reg::kIndirectControl, control, status);
        if (status.isFatal()) return;
        if (control & kResetGranted) {
            port.writeRegister(reg::kIndirectCommand, kIndirectResetEnable, status);
            waitIndirectIdle(port, status);
            port.writeRegister(reg::kIndirectCommand, kIndirectReset, status);
            waitIndirectIdle(port, status);
            setFlashWriteEnable(port, kFlashId9D17, false, status);
            port.writeRegister(reg::kIndirectControl, kIndirectClose, status);
            return;
        }
        sleepMilliseconds(1);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TIMEOUT);
}

uint32_t readIndirectWord(iRegisterPort &port, uint32_t address, tStatus &status) {
    if (status.isFatal()) return 0;
    const tFlashScope transfer(port, kFlashId9D17, tFlashHold::indirectTransfer, status);
    resetIndirectFlash(port, status);
    if (status.isFatal()) return 0;
    port.writeRegister(reg::kIndirectControl, kIndirectOpen, status);
    port.writeRegister(reg::kIndirectAddress, address, status);
    port.writeRegister(reg::kIndirectReadData, 0, status);
    waitIndirectIdle(port, status);
    uint32_t value = 0;
    port.readRegister(reg::kIndirectReadData, value, status);
    port.writeRegister(reg::kIndirectControl, kIndirectClose, status);
    return status.isFatal() ? 0 : value;
}

}  // namespace nZELSMBUS000
