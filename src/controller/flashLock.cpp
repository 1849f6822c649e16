#include "controller/flashLock.h"

#include <sys/file.h>

#include <cerrno>
#include <ctime>

#include "driver/errnoTable.h"
#include "driver/sleep.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace {
long long monotonicNs() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}
}  // namespace

void lockFlashNode(int descriptor, tStatus &status) noexcept {
    if (status.isFatal()) return;
    // The wait is bounded by the monotonic clock, not by counting sleeps: a
    // sleep may return early (a signal, a simulated driver's virtual clock),
    // and the holder that just died needs real time for its release to land.
    const long long waitNs = 1000000LL * kFlashLockPolls * kFlashLockPollMilliseconds;
    const long long deadline = monotonicNs() + waitNs;
    for (;;) {
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) return;
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ZELSMBUS_SET_CODE(status, nZELOSAL000::statusCodeForErrno(error));
            return;
        }
        if (monotonicNs() >= deadline) break;
        nZELOSAL000::sleepMilliseconds(kFlashLockPollMilliseconds);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_BUSY);
}

void unlockFlashNode(int descriptor) noexcept { ::flock(descriptor, LOCK_UN); }

}  // namespace nZELSMBUS000
