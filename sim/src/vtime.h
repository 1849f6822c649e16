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

}  // namespace zelsim
