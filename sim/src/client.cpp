// Forwarding node calls to the world server (server.cpp). Each thread has its
// own connection, so a thread waiting for a bus lock never holds up another
// thread of the process; every connection of a process shares one session
// token, so descriptors work from any thread. A forked child starts a new
// session: descriptors it inherited are no nodes there.
#include "client.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "channel.h"
#include "commands.h"
#include "real.h"
#include "remoteProtocol.h"
#include "zelsim.h"

namespace zelsim::client {
namespace {

using namespace zelsim::remote;

constexpr size_t kEnvIn = 0, kEnvOut = 8, kEnvInSize = 16, kEnvOutSize = 20, kEnvResult = 24;

// The server's socket: ZELSIM_SERVER, or what zelsim_use_server chose.
// Every choice is kept for the life of the process (a late reader may still
// hold it); `gEpoch` tells connections made for an earlier one. A sanitizer
// runtime calls wrapped functions (mmap) before the C library has the
// environment, so an absent variable is taken as final only once this
// library's constructors have run.
std::atomic<const char *> gServer{nullptr};
std::atomic<bool> gDecided{false};
std::atomic<bool> gConstructed{false};
std::atomic<unsigned> gEpoch{0};

const char *serverPath() {
    if (gDecided.load(std::memory_order_acquire)) return gServer.load();
    const char *value = std::getenv("ZELSIM_SERVER");
    if (value != nullptr && *value != '\0') {
        const char *expected = nullptr;
        const char *copy = strdup(value);  // the program may change its environment later
        if (!gServer.compare_exchange_strong(expected, copy)) std::free(const_cast<char *>(copy));
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

// The process's session: its token, its nodes and the tree root, started
// afresh in a forked child.
struct Process {
    std::mutex mutex;
    pid_t pid = 0;
    uint64_t token = 0;
    std::map<int, int32_t> nodes;  // local descriptor -> server handle
    std::string root;
    // A connection kept open for the life of the process, so that the session
    // (and the nodes it holds) outlives the threads that made connections.
    int anchor = -1;
    unsigned anchorEpoch = 0;
};

Process &process() {
    static Process *p = new Process;  // never destroyed: late calls stay safe
    return *p;
}

std::atomic<int> gNodeCount{0};

// Under the mutex: the session of the calling process.
void refresh(Process &p) {
    pid_t pid = ::getpid();
    if (p.pid == pid) return;
    p.pid = pid;
    if (::getrandom(&p.token, sizeof p.token, 0) != sizeof p.token) p.token = 0;
    p.token ^= static_cast<uint64_t>(pid) << 32 ^ static_cast<uint64_t>(::time(nullptr));
    p.nodes.clear();
    gNodeCount = 0;
    if (p.anchor >= 0) real::close(p.anchor);  // the parent's
    p.anchor = -1;
}

void warnOnce(const char *why) {
    static std::atomic<bool> warned{false};
    if (warned.exchange(true)) return;
    std::string message = std::string("zelsim: world server ") + serverPath() + ": " + why + ": " +
                          std::strerror(errno) + "\n";
    real::write(2, message.data(), message.size());
}

struct Connection {
    int fd = -1;
    pid_t pid = 0;
    unsigned epoch = 0;
    Channel *channel = nullptr;
    SpinBudget budget{20};
    void drop() {
        if (channel != nullptr) ::munmap(channel, sizeof(Channel));
        channel = nullptr;
        if (fd >= 0) real::close(fd);
        fd = -1;
    }
    ~Connection() {
        if (pid == ::getpid()) drop();
    }
};

// ZELSIM_TRANSPORT=socket: every request over the socket itself (slower; for comparison).
bool useChannel() {
    static const bool channel = [] {
        const char *transport = std::getenv("ZELSIM_TRANSPORT");
        return transport == nullptr || std::strcmp(transport, "socket") != 0;
    }();
    return channel;
}

bool socketReply(int fd, Reply &reply) {
    ssize_t n;
    do {
        n = ::recv(fd, &reply, sizeof reply, 0);
    } while (n < 0 && errno == EINTR);
    if (n < static_cast<ssize_t>(kReplyHeader)) {
        if (n == 0) errno = ECONNRESET;
        return false;
    }
    reply.dataLength =
        std::min<uint32_t>(reply.dataLength, static_cast<uint32_t>(n - kReplyHeader));
    return true;
}

// Receives the greeting's answer with the channel's memory beside it.
Channel *receiveChannel(int fd, Reply &reply) {
    iovec part{&reply, sizeof reply};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    cmsghdr *rights = CMSG_FIRSTHDR(&message);
    if (rights == nullptr || rights->cmsg_type != SCM_RIGHTS) return nullptr;
    int memory = -1;
    std::memcpy(&memory, CMSG_DATA(rights), sizeof memory);
    void *mapping = MAP_FAILED;
    if (n >= static_cast<ssize_t>(kReplyHeader)) {
        reply.dataLength =
            std::min<uint32_t>(reply.dataLength, static_cast<uint32_t>(n - kReplyHeader));
        mapping =
            real::mmap(nullptr, sizeof(Channel), PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    }
    real::close(memory);
    return mapping == MAP_FAILED ? nullptr : static_cast<Channel *>(mapping);
}

thread_local Connection tConnection;

bool roundTrip(Request &request, size_t dataLength, Reply &reply);

int connectToServer() {
    const char *path = serverPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path == nullptr || std::strlen(path) >= sizeof address.sun_path) return -1;
    std::strcpy(address.sun_path, path);
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        warnOnce("cannot connect");
        real::close(fd);
        return -1;
    }
    return fd;
}

// Under the process mutex: makes the session's anchor connection once.
void anchorSession(Process &p) {
    if (p.anchor >= 0 && p.anchorEpoch == gEpoch.load()) return;
    if (p.anchor >= 0) real::close(p.anchor);
    p.anchor = connectToServer();
    p.anchorEpoch = gEpoch.load();
    if (p.anchor < 0) return;
    Request hello{};
    hello.op = Op::Hello;
    hello.request = p.token;
    Reply reply{};
    if (::send(p.anchor, &hello, kRequestHeader, MSG_NOSIGNAL) < 0 ||
        !socketReply(p.anchor, reply)) {
        real::close(p.anchor);
        p.anchor = -1;
    }
}

int connection() {
    Connection &c = tConnection;
    if (c.fd >= 0 && c.pid == ::getpid() && c.epoch == gEpoch.load()) return c.fd;
    if (c.pid == ::getpid()) {
        c.drop();  // another server's
    } else if (c.fd >= 0) {
        real::close(c.fd);  // inherited from the parent: its mapping stays the parent's business
        c.fd = -1;
        c.channel = nullptr;
    }
    int fd = connectToServer();
    if (fd < 0) return -1;
    Request hello{};
    hello.op = Op::Hello;
    hello.flags = useChannel() ? uint32_t{kWantChannel} : 0u;
    {
        Process &p = process();
        std::lock_guard<std::mutex> lock(p.mutex);
        refresh(p);
        hello.request = p.token;
    }
    Reply reply{};
    c.fd = fd;
    c.pid = ::getpid();
    c.epoch = gEpoch.load();
    bool greeted = ::send(fd, &hello, kRequestHeader, MSG_NOSIGNAL) >= 0;
    if (greeted && hello.flags != 0) {
        greeted = (c.channel = receiveChannel(fd, reply)) != nullptr;
    } else if (greeted) {
        greeted = socketReply(fd, reply);
    }
    if (!greeted) {
        warnOnce("no answer to the greeting");
        c.drop();
        return -1;
    }
    Process &p = process();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.root.assign(reinterpret_cast<const char *>(reply.data), reply.dataLength);
    anchorSession(p);
    return c.fd;
}

bool roundTrip(Request &request, size_t dataLength, Reply &reply) {
    Connection &c = tConnection;
    int fd = c.fd;
    if (c.pid != ::getpid() || c.epoch != gEpoch.load()) fd = -1;
    if (fd < 0) fd = connection();
    if (fd < 0) return false;
    request.dataLength = static_cast<uint32_t>(dataLength);
    if (c.channel == nullptr) {
        if (::send(fd, &request, kRequestHeader + dataLength, MSG_NOSIGNAL) >= 0 &&
            socketReply(fd, reply))
            return true;
        warnOnce("lost");
        c.drop();
        return false;
    }
    Channel &channel = *c.channel;
    std::memcpy(&channel.request, &request, kRequestHeader + dataLength);
    post(channel, kRequestPosted);
    // Most commands are answered within microseconds; a bus-lock wait sleeps.
    if (!awaitState(channel, kReplyPosted, fd, c.budget, 100)) {
        errno = ECONNRESET;
        warnOnce("lost");
        c.drop();
        return false;
    }
    std::memcpy(&reply, &channel.reply, kReplyHeader);
    reply.dataLength = std::min<uint32_t>(reply.dataLength, kMaxData);
    std::memcpy(reply.data, channel.reply.data, reply.dataLength);
    channel.state.store(kIdle, std::memory_order_release);
    return true;
}

int32_t handleOf(int fd) {
    Process &p = process();
    std::lock_guard<std::mutex> lock(p.mutex);
    refresh(p);
    auto it = p.nodes.find(fd);
    return it == p.nodes.end() ? -1 : it->second;
}

int fail(int err) {
    errno = err;
    return -1;
}

}  // namespace

bool active() { return serverPath() != nullptr; }

std::string treeRoot() {
    {
        Process &p = process();
        std::lock_guard<std::mutex> lock(p.mutex);
        refresh(p);
        if (!p.root.empty()) return p.root;
    }
    if (connection() < 0) return {};
    Process &p = process();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.root;
}

int openNode(const char *path, int flags) {
    size_t length = std::strlen(path);
    if (length > kMaxData) return fail(ENAMETOOLONG);
    Request request{};
    request.op = Op::Open;
    std::memcpy(request.data, path, length);
    Reply reply{};
    if (!roundTrip(request, length, reply)) return fail(ENXIO);
    if (reply.ret < 0) return fail(reply.err);
    int fd = real::open("/dev/null", O_RDWR | (flags & O_CLOEXEC), 0);
    if (fd < 0) {
        int err = errno;
        Request undo{};
        undo.op = Op::Close;
        undo.handle = reply.ret;
        roundTrip(undo, 0, reply);
        return fail(err);
    }
    Process &p = process();
    std::lock_guard<std::mutex> lock(p.mutex);
    refresh(p);
    if (p.nodes.count(fd) == 0) ++gNodeCount;
    p.nodes[fd] = reply.ret;
    return fd;
}

bool isNode(int fd) { return fd >= 0 && gNodeCount.load() != 0 && handleOf(fd) >= 0; }

void forget(int fd) {
    if (fd < 0 || gNodeCount.load() == 0) return;
    Process &p = process();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (p.nodes.erase(fd) != 0) --gNodeCount;
}

int ioctl(int fd, unsigned long request, void *argument) {
    Request r{};
    r.op = Op::Ioctl;
    r.handle = handleOf(fd);
    r.request = request;
    size_t length = 0;
    uint8_t *out = nullptr;
    if (argument == nullptr) {
        r.flags = kArgumentNull;
    } else {
        const auto *envelope = static_cast<const uint8_t *>(argument);
        const uint8_t *in = nullptr;
        std::memcpy(&in, envelope + kEnvIn, sizeof in);
        std::memcpy(&out, envelope + kEnvOut, sizeof out);
        std::memcpy(&r.inSize, envelope + kEnvInSize, 4);
        std::memcpy(&r.outSize, envelope + kEnvOutSize, 4);
        if (in == nullptr) r.flags |= kInNull;
        if (out == nullptr) r.flags |= kOutNull;
        // Only a buffer whose size the command confirms is read, as the driver would.
        const Command *command = findCommand(static_cast<unsigned>(request & 0xFF));
        if (in != nullptr && command != nullptr && r.inSize == command->inSize &&
            r.inSize <= kMaxData) {
            length = r.inSize;
            std::memcpy(r.data, in, length);
        }
    }
    Reply reply{};
    if (!roundTrip(r, length, reply)) return fail(EIO);
    if (reply.ret != 0) return fail(reply.err);
    if (out != nullptr) std::memcpy(out, reply.data, std::min(reply.dataLength, r.outSize));
    std::memcpy(static_cast<uint8_t *>(argument) + kEnvResult, &reply.word, sizeof reply.word);
    return 0;
}

int close(int fd) {
    int32_t handle = -1;
    {
        Process &p = process();
        std::lock_guard<std::mutex> lock(p.mutex);
        refresh(p);
        auto it = p.nodes.find(fd);
        if (it != p.nodes.end()) {
            handle = it->second;
            p.nodes.erase(it);
            --gNodeCount;
        }
    }
    real::close(fd);
    if (handle < 0) return 0;
    Request request{};
    request.op = Op::Close;
    request.handle = handle;
    Reply reply{};
    if (!roundTrip(request, 0, reply)) return fail(EIO);
    return reply.ret < 0 ? fail(reply.err) : 0;
}

int flock(int fd, int operation) {
    Request request{};
    request.op = Op::Flock;
    request.handle = handleOf(fd);
    request.request = static_cast<uint32_t>(operation);
    Reply reply{};
    if (!roundTrip(request, 0, reply)) return fail(EIO);
    return reply.ret < 0 ? fail(reply.err) : 0;
}

bool sleep(uint64_t nanoseconds) {
    Request request{};
    request.op = Op::Sleep;
    request.request = nanoseconds;
    Reply reply{};
    return roundTrip(request, 0, reply) && reply.ret == 1;
}

}  // namespace zelsim::client

extern "C" int zelsim_use_server(const char *socketPath) {
    using namespace zelsim::client;
    gConstructed = true;
    serverPath();  // the environment's choice comes first, this one after it
    {
        Process &p = process();
        std::lock_guard<std::mutex> lock(p.mutex);
        p.pid = 0;  // a new session: nodes and tree root of the old one are forgotten
        refresh(p);
    }
    ++gEpoch;
    gServer = socketPath != nullptr ? strdup(socketPath) : nullptr;
    gDecided = true;
    if (socketPath == nullptr) return 0;
    return treeRoot().empty() ? -1 : 0;
}
