#include "controller/flashScope.h"

#include "controller/flashAccess.h"
#include "driver/sleep.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

using nZELOSAL000::sleepMilliseconds;
namespace reg = nFlashRegister;

namespace {

constexpr uint32_t kBF8EAutoIncrement = 1u << 6;
// 0x2000: transfer open, writing enabled, reset granted.
constexpr uint32_t kIndirectHeld = 0x7u;

// Runs one step under a fresh status, so that a failed step does not skip
// the next; the first failure is kept in `status`.
template <typename Step>
void step(tStatus &status, Step run) {
    tStatus own;
    run(own);
    status.merge(own);
}

void endSerialTransfer(iRegisterPort &port, tStatus &status) {
    step(status, [&](tStatus &own) {
        port.writeRegister(reg::kSerialControl, kSerialEnd, own);
        waitInterfaceReady(port, own);
    });
}

// The indirect port drops the write enable first, so that closing a transfer
// that was cut short discards its data instead of programming a partial page.
void endIndirectTransfer(iRegisterPort &port, tStatus &status) {
    step(status, [&](tStatus &own) {
        port.writeRegister(reg::kIndirectControl, kIndirectWriteDisable, own);
        waitIndirectIdle(port, own);
    });
    step(status,
         [&](tStatus &own) { port.writeRegister(reg::kIndirectControl, kIndirectClose, own); });
}

bool serialAtRest(iRegisterPort &port, uint16_t flashId, tStatus &status) {
    const uint32_t value = readFlashStatus(port, status);
    if (status.isFatal()) return false;
    if (value & (kFlashStatusBusy | kFlashStatusWriteEnabled)) return false;
    if (flashId != kFlashIdBF8E) return true;
    return (value & kBF8EAutoIncrement) == 0 &&
           (value & kBF8EProtectAllBlocks) == kBF8EProtectAllBlocks;
}

void restSerial(iRegisterPort &port, uint16_t flashId, tStatus &status) {
    endSerialTransfer(port, status);
    // A busy flash ignores everything but its status read.
    step(status, [&](tStatus &own) { waitFlashReady(port, own); });
    // Write disable also ends auto-increment programming.
    step(status, [&](tStatus &own) {
        flashCommand(port, serialCommand(kOpWriteDisable), kSerialSendOne, own);
    });
    if (flashId == kFlashIdBF8E) {
        step(status, [&](tStatus &own) { setFlashWriteEnable(port, flashId, false, own); });
        step(status, [&](tStatus &own) {
            flashCommand(port, serialCommand(kOpBusyOutputOff), kSerialBusyOutputOff, own);
        });
    }
}

bool indirectAtRest(iRegisterPort &port, tStatus &status) {
    uint32_t control = 0;
    port.readRegister(reg::kIndirectControl, control, status);
    return !status.isFatal() && (control & kIndirectHeld) == 0;
}

void restIndirect(iRegisterPort &port, tStatus &status) {
    // An erase in progress: up to 10 status reads 100 ms apart.
    step(status, [&](tStatus &own) {
        for (int poll = 0; poll < 10; ++poll) {
            if ((readIndirectStatus(port, own) & 1u) == 0 || own.isFatal()) return;
            sleepMilliseconds(100);
        }
        ZELSMBUS_SET_CODE(own, ZELSMBUS_ERROR_TIMEOUT);
    });
    endIndirectTransfer(port, status);
}

void release(iRegisterPort &port, uint16_t flashId, tFlashHold hold, tStatus &status) {
    switch (hold) {
        case tFlashHold::serialTransfer:
            endSerialTransfer(port, status);
            return;
        case tFlashHold::indirectTransfer:
            endIndirectTransfer(port, status);
            return;
        case tFlashHold::writeProcedure:
            break;
    }
    // The device state is checked afterwards: a step whose request failed is
    // gone through once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        tStatus own;
        bool atRest;
        if (flashId == kFlashId9D17) {
            restIndirect(port, own);
            atRest = indirectAtRest(port, own);
        } else {
            restSerial(port, flashId, own);
            atRest = serialAtRest(port, flashId, own);
        }
        if (atRest) {
            status.clear();
            return;
        }
        status.clear();
        if (!own.isFatal())
            ZELSMBUS_SET_CODE(own, ZELSMBUS_ERROR_INVALID_PARAMETER);  // the device refuses to rest
        status.merge(own);
    }
}

}  // namespace

uint16_t bringFlashToRest(iRegisterPort &port, tStatus &status) noexcept {
    if (status.isFatal()) return 0;
    try {
        port.writeRegister(reg::kSerialControl, kSerialEnd, status);
        waitInterfaceReady(port, status);
        flashCommand(port, serialCommand(kOpWriteDisable), kSerialSendOne, status);
        waitFlashReady(port, status);
        const uint16_t flashId = identifyFlash(port, status);
        if (status.isFatal()) return 0;
        if (flashId == kFlashIdBF8E || flashId == kFlashId9D17)
            release(port, flashId, tFlashHold::writeProcedure, status);
        return status.isFatal() ? 0 : flashId;
    } catch (...) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OS);
        return 0;
    }
}

bool flashStillBusy(iRegisterPort &port, uint16_t flashId) noexcept {
    tStatus own;
    const uint32_t value =
        flashId == kFlashId9D17 ? readIndirectStatus(port, own) : readFlashStatus(port, own);
    return own.isFatal() || (value & kFlashStatusBusy) != 0;
}

void releaseFlash(iRegisterPort &port, uint16_t flashId, tFlashHold hold,
                  tStatus &status) noexcept {
    try {
        release(port, flashId, hold, status);
    } catch (...) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OS);
    }
}

}  // namespace nZELSMBUS000
