#include "controller/flashLock.h"

#include <sys/file.h>

#include <cerrno>

#include "driver/errnoTable.h"
#include "driver/sleep.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

void lockFlashNode(int descriptor, tStatus &status) noexcept {
    if (status.isFatal()) return;
    for (int poll = 0; poll < kFlashLockPolls; ++poll) {
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) return;
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ZELSMBUS_SET_CODE(status, nZELOSAL000::statusCodeForErrno(error));
            return;
        }
        nZELOSAL000::sleepMilliseconds(kFlashLockPollMilliseconds);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_BUSY);
}

void unlockFlashNode(int descriptor) noexcept { ::flock(descriptor, LOCK_UN); }

}  // namespace nZELSMBUS000
