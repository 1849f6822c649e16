// Virtual time: nanosleep counted instead of slept.
#pragma once

#include <cstdint>

namespace zelsim {

void setVirtualTime(bool on);
bool virtualTime();
// Virtual nanoseconds slept so far (what device busy times are measured on).
uint64_t virtualNow();
uint64_t nanosleepCalls();
void resetVirtualClock();
// Accounts one nanosleep; true when it was virtual (nothing left to sleep).
bool accountSleep(uint64_t nanoseconds);

// What this process has slept virtually, in every world and never reset:
// the process's own timeline (real time plus it) is what alarm() goes off on.
uint64_t processClockOffset();
void advanceProcessClock(uint64_t nanoseconds);

// Counts a driver command made by the calling thread: a thread that sleeps
// again without one in between waits for something that is not simulated
// (sleepWrappers.cpp).
void noteDeviceCall();
uint64_t deviceCallsOfThisThread();

// The real monotonic clock, in nanoseconds, past every wrapper: for the
// simulator's own measures of real time.
uint64_t realMonotonicNs();

}  // namespace zelsim
