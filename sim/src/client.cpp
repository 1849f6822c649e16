// Forwarding node calls to the world server (server.cpp). An open node is a
// connection of its own, and its socket is the node's descriptor: nothing
// here is keyed by descriptor numbers or by thread, and no lock is taken, so
// the calls work the same from any thread, in a forked child, after exec and
// inside a signal handler.
//
// What the process remembers is a cache of the channels it mapped, keyed by
// the socket's inode (the kernel object behind the descriptor). An entry is
// dropped once the server has marked its channel closed, which it does when
// the node's last descriptor anywhere is gone.
#include "client.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "channel.h"
#include "commands.h"
#include "envelope.h"
#include "messages.h"
#include "pathHooks.h"
#include "real.h"
#include "remoteProtocol.h"
#include "userMemory.h"
#include "vtime.h"
#include "zelsim.h"

namespace zelsim::client {

using namespace zelsim::remote;

struct Node {
    std::atomic<uint64_t> inode{0};
    std::atomic<int> number{0};  // n of /dev/zelsmbus<n>, when opened here
    std::atomic<Channel *> channel{nullptr};
    SpinBudget budget{20};
};

namespace {

// The server's socket: ZELSIM_SERVER, or what zelsim_use_server chose.
// Every choice is kept for the life of the process (a late reader may still
// hold it). A sanitizer runtime calls wrapped functions before the C library
// has the environment, so an absent variable is taken as final only once
// this library's constructors have run.
std::atomic<const char *> gServer{nullptr};
std::atomic<bool> gDecided{false};
std::atomic<bool> gConstructed{false};

// Every path chosen stays reachable from here, never freed.
struct Choice {
    char *path;
    Choice *next;
};
std::atomic<Choice *> gChoices{nullptr};

const char *keep(const char *path) {
    auto *choice = new Choice{strdup(path), gChoices.load()};
    while (!gChoices.compare_exchange_weak(choice->next, choice)) {
    }
    return choice->path;
}

const char *serverPath() {
    if (gDecided.load(std::memory_order_acquire)) return gServer.load();
    const char *value = std::getenv("ZELSIM_SERVER");
    if (value != nullptr && *value != '\0') {
        const char *expected = nullptr;
        // A copy: the program may change its environment later.
        gServer.compare_exchange_strong(expected, keep(value));
        gDecided = true;
    } else if (gConstructed.load()) {
        gDecided = true;
    }
    return gServer.load();
}

__attribute__((constructor)) void decideAfterStartup() {
    gConstructed = true;
    serverPath();
}

// One message per kind and process, written without allocating (this may
// run in a signal handler).
void warnOnce(std::atomic<bool> &warned, const char *what, int err) {
    if (warned.exchange(true)) return;
    const char *path = serverPath();
    const char *reason = strerrordesc_np(err);  // unlike strerror, safe in a signal handler
    const char *parts[] = {"zelsim: world server ", path != nullptr ? path : "(none)", ": ",
                           what, ": ", reason != nullptr ? reason : "unknown error", "\n"};
    for (const char *part : parts) {
        ssize_t ignored = real::write(2, part, std::strlen(part));
        (void)ignored;
    }
    errno = err;
}

std::atomic<bool> gWarnedConnect{false}, gWarnedGone{false}, gWarnedSlow{false};

int fail(int err) {
    errno = err;
    return -1;
}

// ZELSIM_TRANSPORT=socket: every request over the socket (slower; for comparison).
bool useChannel() {
    static const bool channel = [] {
        const char *transport = std::getenv("ZELSIM_TRANSPORT");
        return transport == nullptr || std::strcmp(transport, "socket") != 0;
    }();
    return channel;
}

// --- The channels this process mapped -------------------------------------

constexpr size_t kNodes = 1024;
Node gNodes[kNodes];
Node gUncached;  // a node whose channel could not be kept: requests go over its socket

uint64_t inodeOf(int fd) {
    struct stat info {};
    if (paths::rawFstat(fd, info) != 0 || !S_ISSOCK(info.st_mode)) return 0;
    return static_cast<uint64_t>(info.st_ino);
}

// Unmaps the channels whose node the server has closed.
void reap() {
    for (Node &node : gNodes) {
        Channel *channel = node.channel.load(std::memory_order_acquire);
        if (channel == nullptr || channel->state.load(std::memory_order_acquire) != kClosed)
            continue;
        node.inode.store(0, std::memory_order_release);
        if (node.channel.compare_exchange_strong(channel, nullptr)) ::munmap(channel, sizeof *channel);
    }
}

// A node's entry is looked for from the place its inode hashes to, so a
// program's few nodes are found at the first look.
size_t home(uint64_t inode) { return static_cast<size_t>(inode % kNodes); }

Node *remember(uint64_t inode, Channel *channel) {
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < kNodes; ++i) {
            Node &node = gNodes[(home(inode) + i) % kNodes];
            Channel *none = nullptr;
            if (node.channel.load(std::memory_order_relaxed) != nullptr ||
                !node.channel.compare_exchange_strong(none, channel))
                continue;
            node.budget.now.store(node.budget.most, std::memory_order_relaxed);
            node.number.store(0, std::memory_order_relaxed);
            node.inode.store(inode, std::memory_order_release);
            return &node;
        }
        reap();
    }
    ::munmap(channel, sizeof *channel);
    return &gUncached;
}

Node *cached(uint64_t inode) {
    for (size_t i = 0; i < kNodes; ++i) {
        Node &node = gNodes[(home(inode) + i) % kNodes];
        if (node.inode.load(std::memory_order_acquire) == inode &&
            node.channel.load(std::memory_order_acquire) != nullptr)
            return &node;
    }
    return nullptr;
}

Channel *mapChannel(int memory) {
    if (memory < 0) return nullptr;
    void *mapping =
        real::mmap(nullptr, sizeof(Channel), PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    ::close(memory);
    return mapping == MAP_FAILED ? nullptr : static_cast<Channel *>(mapping);
}

// --- The control connection (tree root, sleeps) ---------------------------

// This process's control connection: its descriptor and the low half of its
// inode in one word, so that a descriptor closed behind our back (and its
// number given to another file) is recognised and never used or closed.
std::atomic<uint64_t> gControl{0};

uint64_t pack(int fd, uint64_t inode) {
    return static_cast<uint64_t>(static_cast<uint32_t>(fd)) << 32 | (inode & 0xFFFFFFFFu);
}
int unpackFd(uint64_t packed) { return static_cast<int>(packed >> 32); }

// Forgets the control connection `packed`; closes it only when it is still ours.
void dropControl(uint64_t packed) {
    if (packed == 0 || !gControl.compare_exchange_strong(packed, 0)) return;
    int fd = unpackFd(packed);
    if ((inodeOf(fd) & 0xFFFFFFFFu) == (packed & 0xFFFFFFFFu)) ::close(fd);
}

int controlConnection() {
    for (int attempt = 0; attempt < 4; ++attempt) {
        uint64_t packed = gControl.load(std::memory_order_acquire);
        if (packed != 0) {
            int fd = unpackFd(packed);
            if ((inodeOf(fd) & 0xFFFFFFFFu) == (packed & 0xFFFFFFFFu) && !hungUp(fd)) return fd;
            dropControl(packed);  // a restarted world, or closed behind our back
            continue;
        }
        int fd = connectToServer(serverPath(), true);
        if (fd < 0) {
            warnOnce(gWarnedConnect, "cannot connect", errno);
            return -1;
        }
        Request hello{};
        hello.op = Op::Hello;
        Reply reply{};
        if (!exchange(fd, hello, 0, reply, kGreetingTimeoutMs)) {
            warnOnce(gWarnedConnect, "no answer to the greeting", errno);
            ::close(fd);
            return -1;
        }
        uint64_t none = 0;
        if (gControl.compare_exchange_strong(none, pack(fd, inodeOf(fd)))) return fd;
        ::close(fd);  // another thread was quicker
    }
    return -1;
}

bool controlExchange(Request &request, size_t length, Reply &reply) {
    int fd = controlConnection();
    if (fd < 0) return false;
    if (exchange(fd, request, length, reply, kGreetingTimeoutMs)) return true;
    warnOnce(gWarnedGone, "no answer", errno);
    return false;
}

// --- Nodes -----------------------------------------------------------------

// A socket this process did not open (it came across exec, or the cache had
// no room): a node when its peer is the server's socket and the server
// answers for it; the channel is mapped again.
Node *recognise(int fd, uint64_t inode) {
    const char *path = serverPath();
    sockaddr_un peer{};
    socklen_t size = sizeof peer;
    if (path == nullptr || ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) != 0 ||
        peer.sun_family != AF_UNIX ||
        std::strncmp(peer.sun_path, path, sizeof peer.sun_path) != 0)
        return nullptr;
    Request attach{};
    attach.op = Op::Attach;
    attach.flags = useChannel() ? uint32_t{kWantChannel} : 0u;
    Reply reply{};
    int memory = -1;
    if (!exchange(fd, attach, 0, reply, kGreetingTimeoutMs, &memory) || reply.ret != 0) {
        if (memory >= 0) ::close(memory);
        return nullptr;
    }
    Channel *channel = mapChannel(memory);
    return channel == nullptr ? &gUncached : remember(inode, channel);
}

bool roundTrip(int fd, Node &node, Request &request, size_t length, Reply &reply,
               int timeoutMs = kCommandTimeoutMs) {
    Channel *channel = node.channel.load(std::memory_order_acquire);
    uint32_t idle = kIdle;
    if (channel == nullptr ||
        !channel->state.compare_exchange_strong(idle, kClaimed, std::memory_order_acquire)) {
        // Taken by another thread, another process sharing the node, or the
        // call this signal handler interrupted: a request of its own.
        if (exchange(fd, request, length, reply, timeoutMs)) return true;
        warnOnce(errno == ETIMEDOUT ? gWarnedSlow : gWarnedGone,
                 errno == ETIMEDOUT ? "no answer in time" : "gone", errno);
        // Out of descriptors is the program's own limit, as the kernel says it.
        if (errno != ETIMEDOUT && errno != EMFILE && errno != ENFILE) errno = ENODEV;
        return false;
    }
    request.dataLength = static_cast<uint32_t>(length);
    std::memcpy(&channel->request, &request, kRequestHeader + length);
    channel->state.store(kRequestPosted, std::memory_order_seq_cst);
    if (channel->serverAsleep.load(std::memory_order_seq_cst) != 0) {
        char ring = 0;
        ::send(fd, &ring, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    switch (awaitReply(*channel, fd, node.budget, timeoutMs)) {
        case Wait::Done:
            break;
        case Wait::Gone:
            if (::fcntl(fd, F_GETFD) < 0) return false;  // closed by another thread: EBADF
            warnOnce(gWarnedGone, "gone", ECONNRESET);
            errno = ENODEV;
            return false;
        case Wait::TimedOut:  // the slot stays taken; later calls use the socket
            warnOnce(gWarnedSlow, "no answer in time", ETIMEDOUT);
            errno = ETIMEDOUT;
            return false;
    }
    std::memcpy(&reply, &channel->reply, kReplyHeader);
    reply.dataLength = std::min<uint32_t>(reply.dataLength, kMaxData);
    std::memcpy(reply.data, channel->reply.data, reply.dataLength);
    channel->state.store(kIdle, std::memory_order_release);
    return true;
}

}  // namespace

bool active() { return serverPath() != nullptr; }

std::string treeRoot() {
    Request request{};
    request.op = Op::Root;
    Reply reply{};
    if (!controlExchange(request, 0, reply) || reply.ret != 0) return {};
    return std::string(reinterpret_cast<const char *>(reply.data), reply.dataLength);
}

int openNode(const char *path, int flags) {
    const int savedErrno = errno;  // a kernel call that succeeds leaves errno alone
    size_t length = std::strlen(path);
    if (length > kMaxData) return fail(ENAMETOOLONG);
    reap();
    int fd = connectToServer(serverPath(), (flags & O_CLOEXEC) != 0);
    if (fd < 0) {
        int err = errno;
        warnOnce(gWarnedConnect, "cannot connect", err);
        const bool own = err == EACCES || err == EMFILE || err == ENFILE;
        return fail(own ? err : ENXIO);
    }
    Request request{};
    request.op = Op::Open;
    request.flags = useChannel() ? uint32_t{kWantChannel} : 0u;
    request.dataLength = static_cast<uint32_t>(length);
    std::memcpy(request.data, path, length);
    Reply reply{};
    int memory = -1;
    ssize_t n = -1;
    if (sendWithDescriptor(fd, &request, kRequestHeader + length, -1) >= 0 &&
        awaitReadable(fd, kGreetingTimeoutMs)) {
        n = receiveWithDescriptor(fd, &reply, sizeof reply, memory);
    }
    if (n < static_cast<ssize_t>(kReplyHeader) || reply.ret != 0) {
        int err = n < static_cast<ssize_t>(kReplyHeader) ? (n < 0 ? errno : ECONNRESET) : reply.err;
        if (n < static_cast<ssize_t>(kReplyHeader)) warnOnce(gWarnedConnect, "no answer to open", err);
        if (memory >= 0) ::close(memory);
        ::close(fd);
        return fail(n < static_cast<ssize_t>(kReplyHeader) ? ENXIO : err);
    }
    Channel *channel = mapChannel(memory);
    if (channel != nullptr) {
        Node *node = remember(inodeOf(fd), channel);
        node->number.store(static_cast<int>(std::strtol(path + std::strlen("/dev/zelsmbus"), nullptr, 10)),
                           std::memory_order_relaxed);
    }
    errno = savedErrno;
    return fd;
}

Node *findNode(int fd) {
    if (fd < 0) return nullptr;
    uint64_t inode = inodeOf(fd);
    if (inode == 0) return nullptr;
    Node *node = cached(inode);
    return node != nullptr ? node : recognise(fd, inode);
}

int nodeNumber(int fd) {
    Node *node = findNode(fd);
    return node == nullptr ? -1 : node == &gUncached ? 0 : node->number.load(std::memory_order_relaxed);
}

int ioctl(int fd, Node *node, unsigned long request, void *argument) {
    // A request that succeeds leaves errno as it was, as the kernel does:
    // the exchange with the server may retry calls that set it.
    const int savedErrno = errno;
    // Only the driver's own requests reach it; anything else (a terminal's or
    // a socket's request, say) is refused without touching the argument.
    const Command *command = findCommand(static_cast<unsigned>(request & 0xFF));
    if (((request >> 8) & 0xFF) != kRequestType || command == nullptr) return fail(ENOTTY);
    if (static_cast<uint32_t>(request) != command->request) return fail(EINVAL);
    Request r{};
    r.op = Op::Ioctl;
    r.request = request;
    size_t length = 0;
    uint8_t *out = nullptr;
    if (argument == nullptr) {
        r.flags = kArgumentNull;
    } else {
        // The caller's memory is read and written as the driver does: a bad
        // address is EFAULT, never a crash.
        uint8_t raw[envelope::kSize];
        if (!copyFromUser(raw, argument, sizeof raw)) return fail(EFAULT);
        const envelope::View view = envelope::read(raw);
        const uint8_t *in = view.in;
        out = view.out;
        r.inSize = view.inSize;
        r.outSize = view.outSize;
        if (in == nullptr) r.flags |= kInNull;
        if (out == nullptr) r.flags |= kOutNull;
        // Only a buffer whose size the command confirms is read, as the driver would.
        if (in != nullptr && r.inSize == command->inSize && r.inSize <= kMaxData) {
            length = r.inSize;
            if (!copyFromUser(r.data, in, length)) return fail(EFAULT);
        }
    }
    Reply reply{};
    noteDeviceCall();
    if (!roundTrip(fd, *node, r, length, reply)) return -1;
    if (reply.ret != 0) return fail(reply.err);
    if ((out != nullptr && !copyToUser(out, reply.data, std::min(reply.dataLength, r.outSize))) ||
        !copyToUser(static_cast<uint8_t *>(argument) + envelope::kResult, &reply.word,
                    sizeof reply.word))
        return fail(EFAULT);
    errno = savedErrno;
    return 0;
}

int flock(int fd, Node *node, int operation) {
    const int savedErrno = errno;
    Request r{};
    r.op = Op::Flock;
    r.request = static_cast<uint32_t>(operation);
    Reply reply{};
    // A blocking lock waits as long as its holder keeps it.
    const int timeoutMs = (operation & LOCK_NB) != 0 ? kCommandTimeoutMs : kNoTimeout;
    if (!roundTrip(fd, *node, r, 0, reply, timeoutMs)) return -1;
    if (reply.ret < 0) return fail(reply.err);
    errno = savedErrno;
    return 0;
}

bool sleep(uint64_t nanoseconds) {
    Request request{};
    request.op = Op::Sleep;
    request.request = nanoseconds;
    Reply reply{};
    return controlExchange(request, 0, reply) && reply.ret == 1;
}

}  // namespace zelsim::client

extern "C" int zelsim_use_server(const char *socketPath) {
    using namespace zelsim::client;
    gConstructed = true;
    serverPath();  // the environment's choice comes first, this one after it
    gServer = socketPath != nullptr ? keep(socketPath) : nullptr;
    gDecided = true;
    dropControl(gControl.load());
    if (socketPath == nullptr) return 0;
    return controlConnection() < 0 ? -1 : 0;
}
