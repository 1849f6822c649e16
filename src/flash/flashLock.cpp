#include "flash/flashLock.h"

#include <sys/file.h>

#include <cerrno>

#include "driver/errnoTable.h"
#include "driver/sleep.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

void lockFlashNode(int descriptor, tFlashAccess access, tStatus &status) noexcept {
    lockFlashNode(descriptor, access, std::chrono::steady_clock::now() + kFlashLockWait, status);
}

void lockFlashNode(int descriptor, tFlashAccess access,
                   std::chrono::steady_clock::time_point deadline, tStatus &status) noexcept {
    if (status.isFatal()) return;
    // The wait is bounded by the monotonic clock, not by counting sleeps: a
    // sleep may return early (a signal, a simulated driver's virtual clock),
    // and the holder that just died needs real time for its release to land.
    for (;;) {
        const int kind = access == tFlashAccess::write ? LOCK_EX : LOCK_SH;
        if (::flock(descriptor, kind | LOCK_NB) == 0) return;
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ZELSMBUS_SET_CODE(status, nZELOSAL000::statusCodeForErrno(error));
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        nZELOSAL000::sleepMilliseconds(kFlashLockPollMilliseconds);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_BUSY);
}

void unlockFlashNode(int descriptor) noexcept { ::flock(descriptor, LOCK_UN); }

}  // namespace nZELSMBUS000
