// Every way a program can sleep, counted on the world's virtual clock while
// virtual time is on (it then returns at once), slept for real when it is
// off: nanosleep, clock_nanosleep (Python's time.sleep), sleep, usleep,
// thrd_sleep, and select/poll without descriptors and pselect/ppoll without
// descriptors or signal mask (the older idioms of sleeping, Python before
// 3.11 among them). A program sleeps the same way on the simulator whichever
// of them it uses. alarm() goes off on the process's own timeline (real time
// plus what it slept virtually), so `alarm(1); sleep(3)` ends after one
// second with SIGALRM.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/select.h>
#include <threads.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "client.h"
#include "real.h"
#include "vtime.h"

namespace zelsim {
namespace {

constexpr uint64_t kNsPerSecond = 1000000000ull;

// Counts one sleep on the world's clock; true when it was virtual, so there
// is nothing left to sleep (the process's timeline then moves on by it).
bool counted(uint64_t nanoseconds) {
    bool slept = client::active() ? client::sleep(nanoseconds) : accountSleep(nanoseconds);
    if (slept) advanceProcessClock(nanoseconds);
    return slept;
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

// --- alarm() on the process's clock ----------------------------------------
// An alarm is due when the process's clock (which its virtual sleeps move on)
// reaches it: a sleep that passes that moment ends there, interrupted by the
// SIGALRM as the kernel would interrupt it. The real timer is armed too, for
// a program that waits for its alarm without sleeping; whichever comes first
// delivers the one signal.

std::atomic<uint64_t> gAlarmAt{0};  // on the process's clock; 0: none
using AlarmFunction = unsigned int (*)(unsigned int);
AlarmFunction realAlarm = nullptr;

__attribute__((constructor)) void findRealAlarm() { resolved(realAlarm, "alarm"); }

uint64_t processNow() { return realMonotonicNs() + processClockOffset(); }

bool realTimerArmed() {
    itimerval timer{};
    return ::getitimer(ITIMER_REAL, &timer) == 0 &&
           (timer.it_value.tv_sec != 0 || timer.it_value.tv_usec != 0);
}

// True, with `upTo` the part of `ns` before it, when the alarm falls within a
// sleep of `ns` starting now.
bool alarmWithin(uint64_t ns, uint64_t &upTo) {
    const uint64_t at = gAlarmAt.load();
    if (at == 0) return false;
    if (!realTimerArmed()) {  // it went off for real already
        uint64_t expected = at;
        gAlarmAt.compare_exchange_strong(expected, 0);
        return false;
    }
    const uint64_t now = processNow();
    if (at > now + ns) return false;
    upTo = at > now ? at - now : 0;
    return true;
}

// Delivers the alarm now; true when it interrupts the sleep (the signal is
// neither ignored nor blocked).
bool deliverAlarm() {
    gAlarmAt.store(0);
    resolved(realAlarm, "alarm")(0);
    struct sigaction action {};
    sigset_t blocked;
    ::sigaction(SIGALRM, nullptr, &action);
    ::pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
    const bool interrupts = action.sa_handler != SIG_IGN && !sigismember(&blocked, SIGALRM);
    ::raise(SIGALRM);
    return interrupts;
}

struct Sleep {
    bool virtualTime = false;  // false: sleep for real instead
    bool interrupted = false;  // by the alarm: `left` was not slept
    uint64_t left = 0;
};

// A thread that sleeps again without a driver command in between is waiting
// for something the simulator does not model (another program, a child, a
// moment on a real clock): its sleep still counts in full on the virtual
// clock, and takes up to this much real time too, so that such a loop ends
// when its real deadline passes instead of spinning until then.
constexpr uint64_t kIdleSleepRealNs = 10'000'000;
__attribute__((tls_model("initial-exec"))) thread_local bool tSleptVirtually = false;
__attribute__((tls_model("initial-exec"))) thread_local uint64_t tCallsAtLastSleep = 0;

void letRealTimePass(uint64_t ns) {
    const bool idle = tSleptVirtually && deviceCallsOfThisThread() == tCallsAtLastSleep;
    tSleptVirtually = true;
    tCallsAtLastSleep = deviceCallsOfThisThread();
    if (!idle || ns == 0) return;
    const uint64_t part = ns < kIdleSleepRealNs ? ns : kIdleSleepRealNs;
    const timespec pause{0, long(part)};
    real::nanosleep(&pause, nullptr);
}

// A sleep of `ns` on the virtual clock, cut short by an alarm that falls in it.
Sleep sleepVirtually(uint64_t ns) {
    uint64_t upTo = ns;
    const bool alarmDue = alarmWithin(ns, upTo);
    if (!counted(upTo)) return {};
    letRealTimePass(upTo);
    if (!alarmDue) return {true, false, 0};
    if (deliverAlarm()) return {true, true, ns - upTo};
    counted(ns - upTo);  // an ignored or blocked alarm does not end the sleep
    return {true, false, 0};
}

timespec asTimespec(uint64_t ns) {
    return timespec{time_t(ns / kNsPerSecond), long(ns % kNsPerSecond)};
}

int interruptedCall() {
    errno = EINTR;
    return -1;
}

}  // namespace
}  // namespace zelsim

using namespace zelsim;

#pragma GCC visibility push(default)
extern "C" {

int nanosleep(const struct timespec *request, struct timespec *remaining) {
    uint64_t ns = 0;
    Sleep slept;
    if (duration(request, ns) && (slept = sleepVirtually(ns)).virtualTime) {
        if (remaining != nullptr) *remaining = asTimespec(slept.left);
        return slept.interrupted ? interruptedCall() : 0;
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
    Sleep slept;
    if (known && (slept = sleepVirtually(ns)).virtualTime) {
        if (remaining != nullptr && (flags & TIMER_ABSTIME) == 0)
            *remaining = asTimespec(slept.left);
        return slept.interrupted ? EINTR : 0;  // clock_nanosleep answers the error itself
    }
    return resolved(realClockNanosleep, "clock_nanosleep")(clock, flags, request, remaining);
}

unsigned int sleep(unsigned int seconds) {
    Sleep slept = sleepVirtually(uint64_t(seconds) * kNsPerSecond);
    if (!slept.virtualTime) return resolved(realSleep, "sleep")(seconds);
    // What was not slept, to the nearest second (as the C library's sleep).
    return unsigned((slept.left + kNsPerSecond / 2) / kNsPerSecond);
}

int usleep(useconds_t microseconds) {
    Sleep slept = sleepVirtually(uint64_t(microseconds) * 1000u);
    if (!slept.virtualTime) return resolved(realUsleep, "usleep")(microseconds);
    return slept.interrupted ? interruptedCall() : 0;
}

int thrd_sleep(const struct timespec *duration_, struct timespec *remaining) {
    uint64_t ns = 0;
    Sleep slept;
    if (duration(duration_, ns) && (slept = sleepVirtually(ns)).virtualTime) {
        if (remaining != nullptr) *remaining = asTimespec(slept.left);
        return slept.interrupted ? -1 : 0;  // thrd_sleep's answer for a signal
    }
    return resolved(realThrdSleep, "thrd_sleep")(duration_, remaining);
}

unsigned int alarm(unsigned int seconds) {
    const uint64_t now = processNow();
    const uint64_t previous = gAlarmAt.exchange(seconds == 0 ? 0 : now + seconds * kNsPerSecond);
    const unsigned realLeft = resolved(realAlarm, "alarm")(seconds);
    if (previous == 0 || realLeft == 0) return realLeft;
    // The earlier alarm's time left on the process's clock, rounded up.
    return previous > now ? unsigned((previous - now + kNsPerSecond - 1) / kNsPerSecond) : 1;
}

int select(int count, fd_set *readable, fd_set *writable, fd_set *failed, struct timeval *timeout) {
    Sleep slept;
    if (count == 0 && timeout != nullptr && timeout->tv_sec >= 0 && timeout->tv_usec >= 0 &&
        (slept = sleepVirtually(uint64_t(timeout->tv_sec) * kNsPerSecond +
                                uint64_t(timeout->tv_usec) * 1000u))
            .virtualTime) {
        // What Linux leaves in it: the time not waited.
        *timeout = timeval{time_t(slept.left / kNsPerSecond),
                           suseconds_t(slept.left % kNsPerSecond / 1000)};
        return slept.interrupted ? interruptedCall() : 0;
    }
    return resolved(realSelect, "select")(count, readable, writable, failed, timeout);
}

// With a signal mask the call is a wait for a signal (the race-free way to
// take one): it runs in real time, so that the signal comes in.
int pselect(int count, fd_set *readable, fd_set *writable, fd_set *failed,
            const struct timespec *timeout, const sigset_t *mask) {
    uint64_t ns = 0;
    Sleep slept;
    if (count == 0 && mask == nullptr && duration(timeout, ns) &&
        (slept = sleepVirtually(ns)).virtualTime)
        return slept.interrupted ? interruptedCall() : 0;
    return resolved(realPselect, "pselect")(count, readable, writable, failed, timeout, mask);
}

int poll(struct pollfd *descriptors, nfds_t count, int timeout) {
    Sleep slept;
    if (count == 0 && timeout > 0 && (slept = sleepVirtually(uint64_t(timeout) * 1000000u)).virtualTime)
        return slept.interrupted ? interruptedCall() : 0;
    return resolved(realPoll, "poll")(descriptors, count, timeout);
}

int ppoll(struct pollfd *descriptors, nfds_t count, const struct timespec *timeout,
          const sigset_t *mask) {
    uint64_t ns = 0;
    Sleep slept;
    if (count == 0 && mask == nullptr && duration(timeout, ns) &&
        (slept = sleepVirtually(ns)).virtualTime)
        return slept.interrupted ? interruptedCall() : 0;
    return resolved(realPpoll, "ppoll")(descriptors, count, timeout, mask);
}

}  // extern "C"
#pragma GCC visibility pop
