#include "vtime.h"

#include <atomic>

namespace zelsim {
namespace {
std::atomic<bool> gVirtual{true};
std::atomic<uint64_t> gSlept{0};
std::atomic<uint64_t> gCalls{0};
}  // namespace

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
