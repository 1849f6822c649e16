#include "nodeLock.h"

#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <set>

namespace zelsim {

namespace {

struct NodeLock {
    uint64_t generation = 0;  // the world the lock was taken in
    int exclusive = -1;
    std::set<int> shared;
};

// Node index -> its lock; guarded by the state mutex.
std::map<unsigned, NodeLock> &nodeLocks() {
    static auto *locks = new std::map<unsigned, NodeLock>;  // never destroyed: late closes stay safe
    return *locks;
}

std::condition_variable &nodeReleased() {
    static auto *released = new std::condition_variable;
    return *released;
}

NodeLock &lockOf(Sim &s, unsigned node) {
    NodeLock &entry = nodeLocks()[node];
    if (entry.generation != s.generation) entry = NodeLock{s.generation, -1, {}};
    return entry;
}

bool grantable(const NodeLock &entry, int fd, bool exclusive) {
    if (entry.exclusive != -1 && entry.exclusive != fd) return false;
    if (!exclusive) return true;
    for (int owner : entry.shared)
        if (owner != fd) return false;
    return true;
}

}  // namespace

void releaseNodeLock(Sim &s, int fd) {
    auto it = s.openNodes.find(fd);
    if (it == s.openNodes.end() || it->second.generation != s.generation) return;
    NodeLock &entry = lockOf(s, it->second.node);
    bool released = entry.shared.erase(fd) != 0;
    if (entry.exclusive == fd) {
        entry.exclusive = -1;
        released = true;
    }
    if (released) nodeReleased().notify_all();
}

int nodeFlock(int fd, int operation, bool (*abandoned)(const void *), const void *context) {
    const int kind = operation & ~LOCK_NB;
    if (kind != LOCK_EX && kind != LOCK_SH && kind != LOCK_UN) {
        errno = EINVAL;
        return -1;
    }
    Sim &s = sim();
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        auto it = s.openNodes.find(fd);
        if (it == s.openNodes.end()) {
            errno = EBADF;
            return -1;
        }
        if (it->second.generation != s.generation) {
            errno = ENODEV;  // a world replaced since: the node is gone
            return -1;
        }
        if (kind == LOCK_UN) {
            releaseNodeLock(s, fd);
            return 0;
        }
        NodeLock &entry = lockOf(s, it->second.node);
        if (grantable(entry, fd, kind == LOCK_EX)) {
            // A lock taken anew replaces the descriptor's earlier one, as flock converts.
            entry.shared.erase(fd);
            if (entry.exclusive == fd) entry.exclusive = -1;
            if (kind == LOCK_EX)
                entry.exclusive = fd;
            else
                entry.shared.insert(fd);
            return 0;
        }
        if (operation & LOCK_NB) {
            errno = EWOULDBLOCK;
            return -1;
        }
        if (abandoned == nullptr) {
            nodeReleased().wait(lock);
        } else if (nodeReleased().wait_for(lock, std::chrono::milliseconds(100)) ==
                       std::cv_status::timeout &&
                   abandoned(context)) {
            errno = EINTR;
            return -1;
        }
    }
}

}  // namespace zelsim
