// The request channel of one open node: memory shared by the client
// processes that hold the node's descriptor and the server thread that
// serves it. One request at a time: a client claims the slot (Idle ->
// Claimed) with a compare-and-swap, writes the request and posts it; the
// server copies it out, runs it and posts the reply; the client copies the
// reply and sets the slot idle again. A caller that finds the slot taken
// (another thread, a forked process sharing the open file, or the very
// thread a signal handler interrupted) sends its request over the node's
// socket instead, so nothing ever waits for a slot.
//
// Waking: the server spins briefly, then sleeps in poll() on the node's
// socket, saying so in `serverAsleep`; a client that posts while it sleeps
// rings with a one-byte datagram. The client spins, then sleeps on the
// futex of `state`, checking every 100 ms that the server is still there.
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

enum ChannelState : uint32_t {
    kIdle = 0,
    kRequestPosted = 1,
    kReplyPosted = 2,
    kClaimed = 3,
    kClosed = 4,  // the server closed the node: its last descriptor is gone
};

struct Channel {
    std::atomic<uint32_t> state;
    std::atomic<uint32_t> clientSleepers;  // client threads in a futex wait on `state`
    std::atomic<uint32_t> serverAsleep;    // the server waits in poll() for a doorbell
    uint32_t pad;
    Request request;
    Reply reply;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "futex word must be a plain word");

inline void wakeClient(Channel &channel) {
    if (channel.clientSleepers.load(std::memory_order_seq_cst) != 0) {
        ::syscall(SYS_futex, &channel.state, FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
    }
}

// True when the server end of `socket` is gone, or `socket` is no longer an
// open descriptor at all (closed behind our back). A node's socket always
// reads end of file (the server shut its side), so only a hang-up counts.
inline bool hungUp(int socket) {
    pollfd p{socket, 0, 0};
    int n = ::poll(&p, 1, 0);
    return n < 0 || (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
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
// shrinks to nothing (and is tried again now and then). Shared by threads
// without locking: a lost update only changes how long one wait spins.
struct SpinBudget {
    unsigned most;  // microseconds
    std::atomic<unsigned> now;
    std::atomic<unsigned> waits;
    constexpr explicit SpinBudget(unsigned mostMicroseconds)
        : most(mostMicroseconds), now(mostMicroseconds), waits(0) {}
    void found(bool whileSpinning) {
        unsigned current = now.load(std::memory_order_relaxed);
        unsigned next = whileSpinning ? std::min(most, current * 2 + 1) : current / 2;
        if ((waits.fetch_add(1, std::memory_order_relaxed) + 1) % 1024 == 0 && next == 0)
            next = most;
        now.store(next, std::memory_order_relaxed);
    }
};

// Spins within the budget until `state` holds `wanted`.
inline bool spinFor(const Channel &channel, uint32_t wanted, SpinBudget &budget) {
    unsigned micros = budget.now.load(std::memory_order_relaxed);
    if (micros != 0) {
        auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(micros);
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
    return false;
}

enum class Wait { Done, Gone, TimedOut };

// The client's wait for the reply: spin, then futex waits of 100 ms, each
// followed by a look at the socket; at most `timeoutMs` in all (kNoTimeout:
// for as long as the server is there).
inline Wait awaitReply(Channel &channel, int socket, SpinBudget &budget, int timeoutMs) {
    if (spinFor(channel, kReplyPosted, budget)) return Wait::Done;
    const timespec check{0, 100 * 1000000L};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        uint32_t seen = channel.state.load(std::memory_order_seq_cst);
        if (seen == kReplyPosted) return Wait::Done;
        channel.clientSleepers.fetch_add(1, std::memory_order_seq_cst);
        seen = channel.state.load(std::memory_order_seq_cst);
        if (seen != kReplyPosted) {
            ::syscall(SYS_futex, &channel.state, FUTEX_WAIT, seen, &check, nullptr, 0);
        }
        channel.clientSleepers.fetch_sub(1, std::memory_order_seq_cst);
        if (channel.state.load(std::memory_order_acquire) == kReplyPosted) return Wait::Done;
        if (hungUp(socket)) return Wait::Gone;
        if (timeoutMs != kNoTimeout && std::chrono::steady_clock::now() >= deadline)
            return Wait::TimedOut;
    }
}

}  // namespace zelsim::remote
