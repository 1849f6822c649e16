// A request channel in memory shared by a client thread and its server
// thread: one request, then one reply, handed over through `state` with a
// short spin and then a futex wait. The socket of the connection stays open
// beside it: it carries the setup and tells either side that the other is gone.
#pragma once

#include <linux/futex.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sched.h>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>

#include "remote_protocol.h"

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

// Waits until `state` holds `wanted`: spins for up to `spinMicroseconds`
// (the other side usually answers within that), then sleeps on the futex,
// checking the socket every `checkMilliseconds`. False when the peer is gone.
inline bool awaitState(Channel &channel, uint32_t wanted, int socket, unsigned spinMicroseconds,
                       unsigned checkMilliseconds) {
    auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(spinMicroseconds);
    for (unsigned i = 0;; ++i) {
        if (channel.state.load(std::memory_order_acquire) == wanted) return true;
        if ((i & 63) == 63 && std::chrono::steady_clock::now() >= spinUntil) break;
        static int mode = std::getenv("ZELSIM_SPIN") ? std::atoi(std::getenv("ZELSIM_SPIN")) : 0;
        if (mode == 1 || (mode == 2 && i > 256)) sched_yield(); else cpuRelax();
    }
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
