#include "flash/flashScope.h"

#include "driver/sleep.h"
#include "flash/flashAccess.h"
#include "flash/flashChips.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

using nZELOSAL000::sleepMilliseconds;
namespace reg = nFlashRegister;

namespace {

// 0x2000: transfer open, writing enabled, reset granted.
constexpr uint32_t kIndirectHeld = 0x7u;

// Runs one step under a fresh status, so that a failed step does not skip
// the next; the first failure is kept in `status`.
template <typename Step>
void step(tStatus &status, Step run) {
    tStatus own;
    run(own);
    if (own.isFatal()) status.merge(own);
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

void disableSerialWrites(iRegisterPort &port, tStatus &status) {
    step(status, [&](tStatus &own) {
        flashCommand(port, serialCommand(kOpWriteDisable), kSerialSendOne, own);
    });
}

// A device whose status register tells when an erase or a program is done.
void restByStatusRegister(iRegisterPort &port, tStatus &status) {
    endSerialTransfer(port, status);
    // A busy flash ignores everything but its status read.
    step(status, [&](tStatus &own) { waitFlashReady(port, own); });
    disableSerialWrites(port, status);
}

bool atRestByStatusRegister(iRegisterPort &port, tStatus &status) {
    const uint32_t value = readFlashStatus(port, status);
    return !status.isFatal() && (value & (kFlashStatusBusy | kFlashStatusWriteEnabled)) == 0;
}

// A device whose status is never read (0xBF8E): given the time of a block
// erase (its programming holds each transfer until the flash is ready), then
// write disable, which also ends auto-increment programming and so has to
// come before the protection, the protection, and the busy output switched
// off.
void restByEraseTime(iRegisterPort &port, const tFlashChip &device, tStatus &status) {
    endSerialTransfer(port, status);
    sleepMilliseconds(device.eraseMilliseconds);
    disableSerialWrites(port, status);
    step(status, [&](tStatus &own) { setFlashWriteEnable(port, device.id, false, own); });
    step(status, [&](tStatus &own) {
        flashCommand(port, serialCommand(kOpBusyOutputOff), kSerialBusyOutputOff, own);
    });
}

// A device behind the indirect port: an erase in progress is waited for
// through the device status.
void restByIndirectStatus(iRegisterPort &port, tStatus &status) {
    step(status, [&](tStatus &own) { waitIndirectDeviceReady(port, own); });
    endIndirectTransfer(port, status);
}

bool atRestByIndirectStatus(iRegisterPort &port, tStatus &status) {
    uint32_t control = 0;
    port.readRegister(reg::kIndirectControl, control, status);
    return !status.isFatal() && (control & kIndirectHeld) == 0;
}

// One pass of a device's rest; true when the device is at rest as far as it
// can tell (one rested by its erase time: when every step's request went
// through).
bool restOnce(iRegisterPort &port, uint16_t flashId, tStatus &status) {
    const tFlashChip *device = findFlashChip(flashId);
    if (device == nullptr) {
        // A device no procedure writes: only a transfer can be open.
        endSerialTransfer(port, status);
        return !status.isFatal();
    }
    switch (device->rest) {
        case tRestMethod::statusRegister:
            restByStatusRegister(port, status);
            return atRestByStatusRegister(port, status);
        case tRestMethod::eraseTime:
            restByEraseTime(port, *device, status);
            return !status.isFatal();
        case tRestMethod::indirectStatus:
            restByIndirectStatus(port, status);
            return atRestByIndirectStatus(port, status);
    }
    return false;
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
    // A pass whose request failed, or after which the device says it is not
    // at rest, is gone through once more. Every failed request is reported.
    for (int attempt = 0; attempt < 2; ++attempt) {
        tStatus own;
        const bool atRest = restOnce(port, flashId, own);
        if (own.isFatal()) status.merge(own);
        if (atRest) return;
        if (attempt == 1 && !own.isFatal())
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);  // the device refuses to rest
    }
}

bool knownFlash(uint16_t flashId) { return findFlashChip(flashId) != nullptr; }

// Identifies again, paced like waitFlashIdle, until the flash answers
// something other than all ones.
uint16_t awaitIdentification(iRegisterPort &port, tStatus &status) {
    for (int poll = 0; poll < kFlashIdlePolls; ++poll) {
        const uint16_t flashId = readFlashId(port, status);
        if (status.isFatal()) return 0;
        if (flashId != 0xFFFF) return flashId;
        sleepMilliseconds(poll < kFlashIdleFastPolls ? 1 : 10);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TIMEOUT);
    return 0;
}

}  // namespace

uint16_t identifyFlashForReading(iRegisterPort &port, tStatus &status) noexcept {
    if (status.isFatal()) return 0;
    try {
        uint16_t flashId = readFlashId(port, status);
        if (!status.isFatal() && !knownFlash(flashId)) flashId = readFlashId(port, status);
        return status.isFatal() ? 0 : flashId;
    } catch (...) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OS);
        return 0;
    }
}

uint16_t identifyFlashForWriting(iRegisterPort &port, tStatus &status) noexcept {
    if (status.isFatal()) return 0;
    try {
        const uint16_t first = readFlashId(port, status);
        uint16_t flashId = first;
        if (!status.isFatal() && !knownFlash(first)) flashId = readFlashId(port, status);
        if (status.isFatal()) return 0;
        if (first == 0xFFFF && flashId == 0xFFFF) {
            // What a killed writer may have left: the flash held selected,
            // writing enabled, 0xBF8E in auto-increment programming (which
            // takes no identification), or a part busy for a while yet.
            port.writeRegister(reg::kSerialControl, kSerialEnd, status);
            waitInterfaceReady(port, status);
            flashCommand(port, serialCommand(kOpWriteDisable), kSerialSendOne, status);
            flashId = awaitIdentification(port, status);
            if (status.isFatal()) return 0;
        }
        if (knownFlash(flashId)) release(port, flashId, tFlashHold::writeProcedure, status);
        return status.isFatal() ? 0 : flashId;
    } catch (...) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OS);
        return 0;
    }
}

bool flashStillBusy(iRegisterPort &port, uint16_t flashId) noexcept {
    try {
        tStatus own;
        const tFlashChip *device = findFlashChip(flashId);
        if (device == nullptr) return true;
        switch (device->rest) {
            case tRestMethod::statusRegister:
                return (readFlashStatus(port, own) & kFlashStatusBusy) != 0 || own.isFatal();
            case tRestMethod::eraseTime:
                sleepMilliseconds(device->eraseMilliseconds);
                return false;
            case tRestMethod::indirectStatus:
                return (readIndirectStatus(port, own) & kIndirectBusy) != 0 || own.isFatal();
        }
        return true;
    } catch (...) {
        return true;
    }
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
