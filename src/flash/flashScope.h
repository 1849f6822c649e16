// Scopes that end what a flash operation started, on every way out of it,
// and the identification every flash procedure starts with.
//
// A serial flash stays selected between transfers whose control word keeps
// it selected, and carries the next command on into the same frame; a write
// enable, 0xBF8E's auto-increment programming and its lifted block
// protection, and an open transfer on the indirect port all last until
// something ends them. The operations end them with their own closing steps,
// but those run under the caller's status and are skipped once it holds an
// error. A scope therefore ends its hold itself when it is left with an error
// that arose inside it, under a status of its own: the caller's status keeps
// its first failure (or its first warning) and is never written here.
//
// Each device is brought to rest by its own means, with nothing but the
// instructions its procedures use anyway: 0x1010 by its status register,
// 0xBF8E by the time its longest operation takes (its status register is
// never read), 0x9D17 through the indirect port (its serial port tells its
// identifier and nothing else).
#pragma once

#include <cstdint>

#include "flash/iRegisterPort.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

enum class tFlashHold {
    serialTransfer,    // a serial transfer kept selected (control bit 8)
    indirectTransfer,  // an indirect transfer opened by writing 1 to 0x2000
    writeProcedure,    // erasing or programming a device (write enable, busy time,
                       // 0xBF8E auto-increment and protection)
};

// Brings the port or device back to rest after an interrupted operation:
// ends the transfer; for a write procedure also lets the device finish what
// it is busy with, drops the write enable (which ends auto-increment
// programming), protects every block of 0xBF8E again and releases the
// indirect port. Where the device can tell, checks it is at rest afterwards;
// a step whose request failed is gone through once more. Every step runs
// whatever the earlier ones reported; a failure is merged into `status`,
// which is never cleared.
void releaseFlash(iRegisterPort &port, uint16_t flashId, tFlashHold hold,
                  tStatus &status) noexcept;

// Identifies the flash before a procedure that only reads it: readFlashId,
// asked once more when the answer names no known device (all ones, or the
// tail of a frame a killed process left open, which the first identification
// ends). Sends the flash nothing else. Returns the second answer then; 0 on
// error.
uint16_t identifyFlashForReading(iRegisterPort &port, tStatus &status) noexcept;

// Identifies the flash before a procedure that writes it. As above; when
// both answers are all ones (a device busy with, or held in, what a killed
// writer started), ends an open serial transfer, disables writing (which
// also ends 0xBF8E's auto-increment programming) and identifies again,
// paced like the serial flash's own wait, until an answer comes (about 6 s;
// then ZELSMBUS_ERROR_TIMEOUT). A known device is then brought to rest by
// its own means (releaseFlash of a write procedure). Returns the identifier
// (which may name an unknown device); 0 on error.
uint16_t identifyFlashForWriting(iRegisterPort &port, tStatus &status) noexcept;

// Whether a device cannot be shown to be idle: still busy with an erase or a
// program, or its status unreadable. A device in that state is not erased or
// programmed again. 0xBF8E, whose status is never read, is first given the
// time of its longest operation and then counts as idle.
bool flashStillBusy(iRegisterPort &port, uint16_t flashId) noexcept;

class tFlashScope {
public:
    tFlashScope(iRegisterPort &port, uint16_t flashId, tFlashHold hold,
                tStatus &status) noexcept
        : port_(port),
          flashId_(flashId),
          hold_(hold),
          status_(status),
          armed_(!status.isFatal()) {}
    ~tFlashScope() {
        if (!armed_ || !status_.isFatal()) return;
        tStatus own;
        releaseFlash(port_, flashId_, hold_, own);
    }
    tFlashScope(const tFlashScope &) = delete;
    tFlashScope &operator=(const tFlashScope &) = delete;

private:
    iRegisterPort &port_;
    uint16_t flashId_;
    tFlashHold hold_;
    tStatus &status_;
    bool armed_;  // nothing was started when the status already held an error
};

}  // namespace nZELSMBUS000
