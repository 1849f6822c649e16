// Sending and receiving the messages of remoteProtocol.h: a datagram with at
// most one descriptor beside it, waits with a deadline, connecting to a
// server of the caller's own user, and one request answered on a socket
// made for it. Every function here is async-signal-safe, so the client can
// use them from any thread, after fork and inside a signal handler.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "remoteProtocol.h"

namespace zelsim::remote {

inline ssize_t sendWithDescriptor(int socket, const void *data, size_t length, int fd,
                                  int flags = 0) {
    iovec part{const_cast<void *>(data), length};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(rights), &fd, sizeof fd);
    }
    ssize_t n;
    do {
        n = ::sendmsg(socket, &message, MSG_NOSIGNAL | flags);
    } while (n < 0 && errno == EINTR);
    return n;
}

// One datagram; `fd` receives the descriptor that came with it (close-on-exec)
// or -1. Descriptors beyond the first are not installed by the kernel.
inline ssize_t receiveWithDescriptor(int socket, void *data, size_t length, int &fd,
                                     int flags = 0) {
    fd = -1;
    iovec part{data, length};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(socket, &message, flags | MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return n;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof received);
            if (fd < 0)
                fd = received;
            else
                ::close(received);
        }
    }
    return n;
}

inline long long monotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until `fd` can be read or hung up; false (ETIMEDOUT) after
// `timeoutMs` (kNoTimeout: no limit).
inline bool awaitReadable(int fd, int timeoutMs) {
    long long deadline = monotonicMs() + timeoutMs;
    for (;;) {
        long long left = timeoutMs == kNoTimeout ? -1 : deadline - monotonicMs();
        if (left < 0 && timeoutMs != kNoTimeout) left = 0;
        pollfd p{fd, POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
        if (n == 0) {
            errno = ETIMEDOUT;
            return false;
        }
    }
}

// The user id of the process at the other end of a Unix socket, or -1.
inline long peerUid(int socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return -1;
    return static_cast<long>(credentials.uid);
}

// A connection to the server at `path`; -1 with errno set when it cannot be
// made, EACCES when the server runs as another user (a world is its user's).
inline int connectToServer(const char *path, bool closeOnExec) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path == nullptr || std::strlen(path) >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(address.sun_path, path);
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | (closeOnExec ? SOCK_CLOEXEC : 0),
                      0);
    if (fd < 0) return -1;
    // A server that accepts nothing (stopped, or out of descriptors) leaves
    // its queue full: tried again for a while, never waited on for good.
    const long long deadline = monotonicMs() + kGreetingTimeoutMs;
    int result;
    for (;;) {
        result = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        if (result == 0 || (errno != EINTR && errno != EAGAIN)) break;
        if (errno == EAGAIN) {
            if (monotonicMs() >= deadline) {
                errno = ETIMEDOUT;
                break;
            }
            // The system call itself: the C library's sleeps are the
            // simulator's wrappers, counted on the world's clock.
            const timespec pause{0, 10 * 1000000L};
            ::syscall(SYS_clock_nanosleep, CLOCK_MONOTONIC, 0, &pause, nullptr);
        }
    }
    if (result == 0) result = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (result == 0 && peerUid(fd) != static_cast<long>(::getuid())) {
        result = -1;
        errno = EACCES;
    }
    if (result != 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// Sends `request` over `carrier` with a socket made for its reply, and waits
// for the reply at most `timeoutMs`. Nothing is shared with another caller,
// so it is safe from any thread, in a forked child and in a signal handler.
// False with errno: ECONNRESET when the server is gone, ETIMEDOUT.
// `descriptor`, when given, receives a descriptor sent with the reply (or -1).
inline bool exchange(int carrier, Request &request, size_t dataLength, Reply &reply,
                     int timeoutMs, int *descriptor = nullptr) {
    if (descriptor != nullptr) *descriptor = -1;
    request.dataLength = static_cast<uint32_t>(dataLength);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return false;
    bool sent = sendWithDescriptor(carrier, &request, kRequestHeader + dataLength, pair[1]) >= 0;
    ::close(pair[1]);  // the server holds the only other reference now
    ssize_t n = -1;
    if (sent && awaitReadable(pair[0], timeoutMs)) {
        int received = -1;
        n = receiveWithDescriptor(pair[0], &reply, sizeof reply, received, MSG_DONTWAIT);
        if (received >= 0 && descriptor != nullptr)
            *descriptor = received;
        else if (received >= 0)
            ::close(received);
        if (n >= 0 && n < static_cast<ssize_t>(kReplyHeader)) {
            n = -1;
            errno = ECONNRESET;  // the server dropped the request: it is ending
        }
    } else if (!sent && (errno == EPIPE || errno == ENOTCONN)) {
        errno = ECONNRESET;
    }
    int err = errno;
    ::close(pair[0]);
    errno = err;
    if (n < 0) return false;
    reply.dataLength = std::min<uint32_t>(reply.dataLength,
                                          static_cast<uint32_t>(n - kReplyHeader));
    return true;
}

}  // namespace zelsim::remote
