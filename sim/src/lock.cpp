#include "lock.h"

#include <chrono>

namespace zelsim {
namespace {

// A closed holder wakes no one: a waiter looks again this often.
constexpr auto kHolderCheck = std::chrono::milliseconds(20);

// Whether `ref` may use the port now; a lock whose open file is gone is
// dropped on the way.
bool mayUse(Port &port, int fd, const NodeRef &ref) {
    if (port.lockOwner == 0 || port.lockOwner == ref.openId) return true;
    if (port.lockOwner == kLockHeldByFault || openFileAlive(fd, port.lockOwner)) return false;
    port.lockOwner = 0;
    port.lockOwnerDescriptor = -1;
    return true;
}

}  // namespace

BusWait waitForBus(Sim &s, std::unique_lock<std::mutex> &lock, int fd, const NodeRef &ref,
                   unsigned port) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(s.world.lockTimeoutMs);
    const uint64_t generation = s.generation;
    for (;;) {
        Device *device = s.generation == generation ? deviceOf(s, ref.node) : nullptr;
        if (device == nullptr || port >= device->ports.size()) return BusWait::Stale;
        if (mayUse(device->ports[port], fd, ref)) return BusWait::Free;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return BusWait::Busy;
        s.busReleased.wait_until(lock, std::min(deadline, now + kHolderCheck));
    }
}

}  // namespace zelsim
