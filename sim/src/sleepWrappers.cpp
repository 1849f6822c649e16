// Every way a program can sleep, counted on the world's virtual clock while
// virtual time is on (it then returns at once), slept for real when it is
// off: nanosleep, clock_nanosleep (Python's time.sleep), sleep, usleep,
// thrd_sleep, and select/pselect/poll/ppoll without descriptors (the older
// idioms of sleeping, Python before 3.11 among them). A program sleeps the
// same way on the simulator whichever of them it uses.
#include <poll.h>
#include <sys/select.h>
#include <threads.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "client.h"
#include "real.h"
#include "vtime.h"

namespace zelsim {
namespace {

constexpr uint64_t kNsPerSecond = 1000000000ull;

// Counts one sleep on the world's clock; true when it was virtual, so there
// is nothing left to sleep.
bool counted(uint64_t nanoseconds) {
    return client::active() ? client::sleep(nanoseconds) : accountSleep(nanoseconds);
}

bool duration(const timespec *t, uint64_t &nanoseconds) {
    if (t == nullptr || t->tv_sec < 0 || t->tv_nsec < 0 || t->tv_nsec >= long(kNsPerSecond))
        return false;
    nanoseconds = uint64_t(t->tv_sec) * kNsPerSecond + uint64_t(t->tv_nsec);
    return true;
}

template <typename Function>
Function realFunction(const char *name) {
    return reinterpret_cast<Function>(real::next(name));
}

// The C library's own versions. Looked up when the library loads, so never
// first inside a signal handler; a call that comes earlier (from another
// library's constructor) looks its function up then.
template <typename Function>
Function resolved(Function &slot, const char *name) {
    if (slot == nullptr) slot = realFunction<Function>(name);
    return slot;
}

using ClockNanosleepFunction = int (*)(clockid_t, int, const timespec *, timespec *);
ClockNanosleepFunction realClockNanosleep = nullptr;
using SleepFunction = unsigned int (*)(unsigned int);
SleepFunction realSleep = nullptr;
using UsleepFunction = int (*)(useconds_t);
UsleepFunction realUsleep = nullptr;
using ThrdSleepFunction = int (*)(const timespec *, timespec *);
ThrdSleepFunction realThrdSleep = nullptr;
using SelectFunction = int (*)(int, fd_set *, fd_set *, fd_set *, timeval *);
SelectFunction realSelect = nullptr;
using PselectFunction = int (*)(int, fd_set *, fd_set *, fd_set *, const timespec *,
                                const sigset_t *);
PselectFunction realPselect = nullptr;
using PollFunction = int (*)(pollfd *, nfds_t, int);
PollFunction realPoll = nullptr;
using PpollFunction = int (*)(pollfd *, nfds_t, const timespec *, const sigset_t *);
PpollFunction realPpoll = nullptr;

__attribute__((constructor)) void findRealSleeps() {
    resolved(realClockNanosleep, "clock_nanosleep");
    resolved(realSleep, "sleep");
    resolved(realUsleep, "usleep");
    resolved(realThrdSleep, "thrd_sleep");
    resolved(realSelect, "select");
    resolved(realPselect, "pselect");
    resolved(realPoll, "poll");
    resolved(realPpoll, "ppoll");
}

}  // namespace
}  // namespace zelsim

using namespace zelsim;

#pragma GCC visibility push(default)
extern "C" {

int nanosleep(const struct timespec *request, struct timespec *remaining) {
    uint64_t ns = 0;
    if (duration(request, ns) && counted(ns)) {
        if (remaining != nullptr) *remaining = timespec{0, 0};
        return 0;
    }
    return real::nanosleep(request, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec *request,
                    struct timespec *remaining) {
    uint64_t ns = 0;
    timespec now{};
    bool known = duration(request, ns);
    if (known && (flags & TIMER_ABSTIME) != 0) {
        // A deadline on that clock: what is left of it is the sleep.
        uint64_t at = 0;
        known = ::clock_gettime(clock, &now) == 0 && duration(&now, at);
        ns = known && ns > at ? ns - at : 0;
    }
    if (known && counted(ns)) {
        if (remaining != nullptr && (flags & TIMER_ABSTIME) == 0) *remaining = timespec{0, 0};
        return 0;
    }
    return resolved(realClockNanosleep, "clock_nanosleep")(clock, flags, request, remaining);
}

unsigned int sleep(unsigned int seconds) {
    return counted(uint64_t(seconds) * kNsPerSecond) ? 0 : resolved(realSleep, "sleep")(seconds);
}

int usleep(useconds_t microseconds) {
    return counted(uint64_t(microseconds) * 1000u) ? 0
                                                   : resolved(realUsleep, "usleep")(microseconds);
}

int thrd_sleep(const struct timespec *duration_, struct timespec *remaining) {
    uint64_t ns = 0;
    if (duration(duration_, ns) && counted(ns)) {
        if (remaining != nullptr) *remaining = timespec{0, 0};
        return 0;
    }
    return resolved(realThrdSleep, "thrd_sleep")(duration_, remaining);
}

int select(int count, fd_set *readable, fd_set *writable, fd_set *failed, struct timeval *timeout) {
    if (count == 0 && timeout != nullptr && timeout->tv_sec >= 0 && timeout->tv_usec >= 0 &&
        counted(uint64_t(timeout->tv_sec) * kNsPerSecond + uint64_t(timeout->tv_usec) * 1000u)) {
        *timeout = timeval{0, 0};  // what Linux leaves in it after the full wait
        return 0;
    }
    return resolved(realSelect, "select")(count, readable, writable, failed, timeout);
}

int pselect(int count, fd_set *readable, fd_set *writable, fd_set *failed,
            const struct timespec *timeout, const sigset_t *mask) {
    uint64_t ns = 0;
    if (count == 0 && duration(timeout, ns) && counted(ns)) return 0;
    return resolved(realPselect, "pselect")(count, readable, writable, failed, timeout, mask);
}

int poll(struct pollfd *descriptors, nfds_t count, int timeout) {
    if (count == 0 && timeout > 0 && counted(uint64_t(timeout) * 1000000u)) return 0;
    return resolved(realPoll, "poll")(descriptors, count, timeout);
}

int ppoll(struct pollfd *descriptors, nfds_t count, const struct timespec *timeout,
          const sigset_t *mask) {
    uint64_t ns = 0;
    if (count == 0 && duration(timeout, ns) && counted(ns)) return 0;
    return resolved(realPpoll, "ppoll")(descriptors, count, timeout, mask);
}

}  // extern "C"
#pragma GCC visibility pop
