// A request channel in memory shared by a client thread and its server
// thread: one request, then one reply, handed over through `state` with a
// short spin and then a futex wait. The socket of the connection stays open
// beside it: it carries the setup and tells either side that the other is gone.
#pragma once

#include <linux/futex.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>

#include "remoteProtocol.h"

namespace zelsim::remote {

enum ChannelState : uint32_t { kIdle = 0, kRequestPosted = 1, kReplyPosted = 2 };

struct Channel {
    std::atomic<uint32_t> state;
    std::atomic<uint32_t> sleepers;  // threads in a futex wait on `state`
    Request request;
    Reply reply;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "futex word must be a plain word");

inline void post(Channel &channel, uint32_t state) {
    channel.state.store(state, std::memory_order_seq_cst);
    if (channel.sleepers.load(std::memory_order_seq_cst) != 0) {
        ::syscall(SYS_futex, &channel.state, FUTEX_WAKE, 1, nullptr, nullptr, 0);
    }
}

// True when the other side closed its end of the connection.
inline bool hungUp(int socket) {
    pollfd p{socket, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLIN)) != 0;
}

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// How long a side spins before it sleeps, adapted to what it finds: on an
// idle machine the other side answers within microseconds and spinning
// saves two context switches per command; on a busy one a spinning thread
// only takes the processor from the thread it waits for, so the budget
// shrinks to nothing (and is tried again now and then).
struct SpinBudget {
    unsigned most;        // microseconds
    unsigned now = most;  // microseconds
    unsigned waits = 0;
    void found(bool whileSpinning) {
        if (whileSpinning)
            now = std::min(most, now * 2 + 1);
        else
            now /= 2;
        if (++waits % 1024 == 0 && now == 0) now = most;
    }
};

// Waits until `state` holds `wanted`: spins within the budget, then sleeps
// on the futex, checking the socket every `checkMilliseconds`. False when
// the peer is gone.
inline bool awaitState(Channel &channel, uint32_t wanted, int socket, SpinBudget &budget,
                       unsigned checkMilliseconds) {
    if (budget.now != 0) {
        auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(budget.now);
        for (unsigned i = 0;; ++i) {
            if (channel.state.load(std::memory_order_acquire) == wanted) {
                budget.found(true);
                return true;
            }
            if ((i & 63) == 63 && std::chrono::steady_clock::now() >= spinUntil) break;
            cpuRelax();
        }
    }
    budget.found(false);
    const timespec check{static_cast<time_t>(checkMilliseconds / 1000),
                         static_cast<long>(checkMilliseconds % 1000) * 1000000L};
    for (;;) {
        uint32_t seen = channel.state.load(std::memory_order_seq_cst);
        if (seen == wanted) return true;
        channel.sleepers.fetch_add(1, std::memory_order_seq_cst);
        seen = channel.state.load(std::memory_order_seq_cst);
        if (seen != wanted) {
            ::syscall(SYS_futex, &channel.state, FUTEX_WAIT, seen, &check, nullptr, 0);
        }
        channel.sleepers.fetch_sub(1, std::memory_order_seq_cst);
        if (channel.state.load(std::memory_order_acquire) == wanted) return true;
        if (hungUp(socket)) return false;
    }
}

}  // namespace zelsim::remote
