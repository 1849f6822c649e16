// Scopes that end what a flash operation started, on every way out of it.
//
// A serial flash stays selected between transfers whose control word keeps
// it selected, and carries the next command on into the same frame; a write
// enable, 0xBF8E's auto-increment programming and its lifted block
// protection, and an open transfer on the indirect port all last until
// something ends them. The operations end them with their own closing steps,
// but those run under the caller's status and are skipped once it holds an
// error. A scope therefore ends its hold itself when it is left with an error
// that arose inside it, under a status of its own: the caller's status keeps
// its first failure and is never written here.
#pragma once

#include <cstdint>

#include "controller/iRegisterPort.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

enum class tFlashHold {
    serialTransfer,    // a serial transfer kept selected (control bit 8)
    indirectTransfer,  // an indirect transfer opened by writing 1 to 0x2000
    writeProcedure,    // erasing or programming a device (write enable, busy time,
                       // 0xBF8E auto-increment and protection)
};

// Brings the port or device back to rest after an interrupted operation:
// ends the transfer; for a write procedure also waits until the device is no
// longer busy, drops the write enable (which ends auto-increment
// programming), protects every block of 0xBF8E again and releases the
// indirect port. Checks the device is at rest afterwards and goes through the
// steps once more when it is not. Every step runs whatever the earlier ones
// reported; the outcome is in `status`.
void releaseFlash(iRegisterPort &port, uint16_t flashId, tFlashHold hold,
                  tStatus &status) noexcept;

// Brings whatever flash sits behind the port to rest before anything else is
// asked of it, whatever an earlier process left (killed mid-transfer or
// mid-programming): ends an open serial transfer, drops the write enable
// (which also ends 0xBF8E's auto-increment programming), waits until the
// flash is no longer busy, identifies it, and then releases it as a write
// procedure would (0xBF8E protected again, 0x9D17's indirect port
// released). Returns the device's identifier; 0 on error.
uint16_t bringFlashToRest(iRegisterPort &port, tStatus &status) noexcept;

// Whether the device is still busy with an erase or a program (true as well
// when its status cannot be read): a device in that state is not erased or
// programmed again.
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
