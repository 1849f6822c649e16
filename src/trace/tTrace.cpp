#include "trace/tTrace.h"

namespace nZELSMBUS000::nZELOSAL000 {

tTrace::tTrace(iTraceDestination *destination) noexcept
    : destination_(destination),
      switches_{1, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1},
      firstValue_(50),
      secondValue_(0),
      lock_(),
      lockInitialised_(0),
      buffer_(),
      writePosition_(buffer_) {
    buffer_[kBufferSize - 1] = '\0';
}

tTrace::~tTrace() {
    switches_[kEnabledSwitch - 1] = 0;
    if (switches_[kLockCreatedSwitch - 1] != 0) {
        if (lockInitialised_ != 0) {
            pthread_mutex_destroy(&lock_);
        }
        lockInitialised_ = 0;
        switches_[kLockCreatedSwitch - 1] = 0;
    }
}

}  // namespace nZELSMBUS000::nZELOSAL000
