#include "lock.h"

#include "nodeLock.h"

#include <chrono>

namespace zelsim {

BusWait waitForBus(Sim &s, std::unique_lock<std::mutex> &lock, int fd, unsigned port) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(s.world.lockTimeoutMs);
    for (;;) {
        Device *device = deviceOf(s, fd);
        if (device == nullptr || port >= device->ports.size()) return BusWait::Stale;
        int owner = device->ports[port].lockOwner;
        if (owner == -1 || owner == fd) return BusWait::Free;
        if (s.busReleased.wait_until(lock, deadline) == std::cv_status::timeout) {
            device = deviceOf(s, fd);
            if (device == nullptr || port >= device->ports.size()) return BusWait::Stale;
            owner = device->ports[port].lockOwner;
            return owner == -1 || owner == fd ? BusWait::Free : BusWait::Busy;
        }
    }
}

void releaseLocks(Sim &s, int fd) {
    releaseNodeLock(s, fd);
    auto it = s.openNodes.find(fd);
    if (it == s.openNodes.end() || it->second.generation != s.generation) return;
    Device &device = s.world.devices[it->second.node];
    bool released = false;
    for (Port &port : device.ports) {
        if (port.lockOwner == fd) {
            port.lockOwner = -1;
            released = true;
        }
    }
    if (released) s.busReleased.notify_all();
}

}  // namespace zelsim
