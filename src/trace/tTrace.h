// The trace object of the platform layer: bound to a destination, idle in
// this library (nothing writes through it).
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "trace/iTraceDestination.h"

namespace nZELSMBUS000::nZELOSAL000 {

class tTrace {
public:
    static constexpr size_t kSwitchCount = 11;
    // Switches are numbered from 1; these two have a meaning here.
    static constexpr size_t kEnabledSwitch = 1;
    static constexpr size_t kLockCreatedSwitch = 9;
    static constexpr size_t kBufferSize = 254;

    explicit tTrace(iTraceDestination *destination) noexcept;
    virtual ~tTrace();

    tTrace(const tTrace &) = delete;
    tTrace &operator=(const tTrace &) = delete;

    iTraceDestination *destination() const noexcept { return destination_; }
    uint8_t traceSwitch(size_t number) const noexcept { return switches_[number - 1]; }
    uint64_t firstValue() const noexcept { return firstValue_; }
    uint64_t secondValue() const noexcept { return secondValue_; }

private:
    iTraceDestination *destination_;  // not owned
    uint8_t switches_[kSwitchCount];
    uint64_t firstValue_;
    uint64_t secondValue_;
    pthread_mutex_t lock_;
    uint8_t lockInitialised_;
    char buffer_[kBufferSize];
    char *writePosition_;
};

// The library's trace object, bound to gConsoleTraceDestination (see globals.cpp).
extern tTrace gTrace;

}  // namespace nZELSMBUS000::nZELOSAL000
