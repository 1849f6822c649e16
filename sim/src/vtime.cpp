#include "vtime.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace zelsim {
namespace {
std::atomic<bool> gVirtual{true};
std::atomic<uint64_t> gSlept{0};
std::atomic<uint64_t> gCalls{0};
std::atomic<uint64_t> gProcessOffset{0};
}  // namespace

__attribute__((tls_model("initial-exec"))) thread_local uint64_t tDeviceCalls = 0;
void noteDeviceCall() { ++tDeviceCalls; }
uint64_t deviceCallsOfThisThread() { return tDeviceCalls; }

uint64_t processClockOffset() { return gProcessOffset.load(std::memory_order_relaxed); }
void advanceProcessClock(uint64_t nanoseconds) { gProcessOffset.fetch_add(nanoseconds); }

uint64_t realMonotonicNs() {
    timespec now{};
    ::syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

void setVirtualTime(bool on) { gVirtual.store(on); }
bool virtualTime() { return gVirtual.load(); }
uint64_t virtualNow() { return gSlept.load(); }
uint64_t nanosleepCalls() { return gCalls.load(); }

void resetVirtualClock() {
    gSlept.store(0);
    gCalls.store(0);
}

bool accountSleep(uint64_t nanoseconds) {
    gCalls.fetch_add(1);
    if (!gVirtual.load()) return false;
    gSlept.fetch_add(nanoseconds);
    return true;
}

}  // namespace zelsim
