// The world server. It runs in a process that has libzelsim.so loaded, so
// the world it serves is the in-process simulator itself: a client's open
// and ioctl of a node become the same calls made here, on descriptors this
// process owns, answered by the one device model.
//
// One thread per connection (remoteProtocol.h). A node connection's thread
// owns the node's descriptor here and is the only one to use it: a command
// runs to its end before the thread looks at the connection again, so the
// node is closed (and its bus locks released) only after the command in
// flight, and at once when the client's last reference to its socket goes.
//
// Only clients of the server's own user are served. Each client process may
// hold at most kNodesPerProcess nodes, and no more than a quarter of all (an
// open beyond answers EMFILE, as a process out of descriptors would see), a
// few control connections, and no more connections of any kind than those
// together; node connections leave a reserve of descriptors and threads, so
// one leaking program never keeps another, or `zelsim status`, from the world.
#include "server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "channel.h"
#include "controlProtocol.h"
#include "envelope.h"
#include "messages.h"
#include "real.h"
#include "remoteProtocol.h"
#include "vtime.h"
#include "zelsim.h"

namespace zelsim::remote {
namespace {

constexpr unsigned kNodesPerProcess = 256;
constexpr unsigned kControlsPerProcess = 8;
constexpr unsigned kMostNodes = 4096;         // threads
constexpr unsigned kReservedDescriptors = 256;  // control connections, the world's own files

struct Server {
    std::string world;
    int stopPipe[2] = {-1, -1};
    unsigned mostNodes = 0;
    unsigned nodesPerProcess = 0;
    std::mutex mutex;  // everything below
    std::set<int> connections;
    unsigned nodes = 0;
    std::map<pid_t, unsigned> nodesOf, controlsOf;
    std::map<pid_t, unsigned> connectionsOf;  // every kind, from accept on
};

Server *gServer = nullptr;

void requestStop(Server &server) {
    char byte = 1;
    ssize_t ignored = real::write(server.stopPipe[1], &byte, 1);
    (void)ignored;
}

extern "C" void stopOnSignal(int) {
    if (gServer != nullptr) requestStop(*gServer);
}

// Takes one of a process's places of `kind`; false when it has none left.
bool admit(Server &server, std::map<pid_t, unsigned> &kind, pid_t pid, unsigned most,
           bool node) {
    std::lock_guard<std::mutex> lock(server.mutex);
    if (kind[pid] >= most || (node && server.nodes >= server.mostNodes)) return false;
    ++kind[pid];
    if (node) ++server.nodes;
    return true;
}

void leave(Server &server, std::map<pid_t, unsigned> &kind, pid_t pid, bool node) {
    std::lock_guard<std::mutex> lock(server.mutex);
    if (--kind[pid] == 0) kind.erase(pid);
    if (node) --server.nodes;
}

void setText(Reply &reply, const std::string &text) {
    reply.dataLength = static_cast<uint32_t>(std::min<size_t>(text.size(), kMaxData));
    std::memcpy(reply.data, text.data(), reply.dataLength);
}

// The world is read and checked before anything changes: one that no longer
// loads (edited since, or removed) leaves the world as it was.
int reloadWorld(const std::string &world) {
    return zelsim_reset_to_file(world.empty() ? nullptr : world.c_str());
}

void runIoctl(int node, const Request &request, Reply &reply) {
    uint8_t in[kMaxData] = {};
    uint8_t out[kMaxData] = {};
    std::memcpy(in, request.data, std::min<uint32_t>(request.dataLength, kMaxData));
    uint8_t raw[envelope::kSize] = {};
    envelope::write(
        raw, {(request.flags & kInNull) != 0 ? nullptr : in,
              (request.flags & kOutNull) != 0 ? nullptr : out, request.inSize, request.outSize});
    void *argument = (request.flags & kArgumentNull) != 0 ? nullptr : raw;
    errno = 0;
    reply.ret = ::ioctl(node, request.request, argument);
    reply.err = reply.ret < 0 ? errno : 0;
    if (reply.ret == 0) {
        reply.word = envelope::load<int32_t>(raw, envelope::kResult);
        reply.dataLength = std::min<uint32_t>(request.outSize, kMaxData);
        std::memcpy(reply.data, out, reply.dataLength);
    }
}

void clear(Reply &reply) {
    reply.ret = 0;
    reply.err = 0;
    reply.word = 0;
    reply.dataLength = 0;
}

void refuse(Reply &reply, int err) {
    reply.ret = -1;
    reply.err = err;
}

// --- Node connections -------------------------------------------------------

struct OpenNode {
    int connection;
    int node;
    int memory;  // the channel's memory, sent again to a program after exec
    Channel *channel;
};

// flock() of the node's open file here; a blocking wait looks at the client
// every 20 ms and gives up (EINTR) once it has gone.
int flockUntilHungUp(const OpenNode &open, int operation) {
    const int kind = operation & ~LOCK_NB;
    if ((operation & LOCK_NB) != 0 || kind == LOCK_UN) return ::flock(open.node, operation);
    for (;;) {
        if (::flock(open.node, operation | LOCK_NB) == 0) return 0;
        if (errno != EWOULDBLOCK) return -1;
        if (hungUp(open.connection)) {
            errno = EINTR;
            return -1;
        }
        const timespec pause{0, 20'000'000};
        real::nanosleep(&pause, nullptr);  // real time: the holder is another program
    }
}

// One request of a node's client; `memoryOut` is set when the reply carries the channel.
void answerNode(const OpenNode &open, const Request &request, Reply &reply, int &memoryOut) {
    clear(reply);
    memoryOut = -1;
    switch (request.op) {
        case Op::Ioctl:
            runIoctl(open.node, request, reply);
            return;
        case Op::Attach:
            if ((request.flags & kWantChannel) != 0) memoryOut = open.memory;
            return;
        case Op::Flock:
            // The node's lock is the lock of this open file, so it goes with
            // the node's last descriptor. A blocking wait ends when the
            // client does.
            errno = 0;
            reply.ret = flockUntilHungUp(open, static_cast<int>(request.request));
            reply.err = reply.ret < 0 ? errno : 0;
            return;
        default:
            refuse(reply, ENOTTY);
    }
}

void runPosted(const OpenNode &open, Request &request, Reply &reply) {
    Channel &channel = *open.channel;
    // The client can write the shared memory at any time: work on a copy.
    std::memcpy(&request, &channel.request, sizeof request);
    request.dataLength = std::min<uint32_t>(request.dataLength, kMaxData);
    int unused = -1;  // a channel is not sent over itself
    answerNode(open, request, reply, unused);
    std::memcpy(&channel.reply, &reply, kReplyHeader + reply.dataLength);
    channel.state.store(kReplyPosted, std::memory_order_seq_cst);
    wakeClient(channel);
}

// Reads what waits on the node's socket: requests with a reply socket of
// their own, and doorbells. False when the client's last reference is gone.
bool drainSocket(const OpenNode &open, Request &request, Reply &reply) {
    for (;;) {
        int replyTo = -1;
        ssize_t n = receiveWithDescriptor(open.connection, &request, sizeof request, replyTo,
                                          MSG_DONTWAIT);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        if (replyTo < 0) {
            // A doorbell, or bytes the program wrote to the node (discarded).
            // Nothing at all: the client is gone unless it sent an empty datagram.
            if (n == 0 && hungUp(open.connection)) return false;
            continue;
        }
        if (n >= static_cast<ssize_t>(kRequestHeader)) {
            request.dataLength =
                std::min<uint32_t>(request.dataLength, static_cast<uint32_t>(n - kRequestHeader));
            int memory = -1;
            answerNode(open, request, reply, memory);
            // Never waits: a client that does not read its replies must not
            // keep this thread (and so the node and its locks) past its close.
            sendWithDescriptor(replyTo, &reply, kReplyHeader + reply.dataLength, memory,
                               MSG_DONTWAIT);
        }
        ::close(replyTo);
    }
}

void serveNodeRequests(const OpenNode &open) {
    Channel &channel = *open.channel;
    Request request{};
    Reply reply{};
    SpinBudget budget{50};
    for (;;) {
        if (spinFor(channel, kRequestPosted, budget)) {
            runPosted(open, request, reply);
            continue;
        }
        channel.serverAsleep.store(1, std::memory_order_seq_cst);
        if (channel.state.load(std::memory_order_seq_cst) == kRequestPosted) {
            channel.serverAsleep.store(0, std::memory_order_relaxed);
            runPosted(open, request, reply);
            continue;
        }
        pollfd p{open.connection, POLLIN, 0};
        int n = ::poll(&p, 1, -1);
        channel.serverAsleep.store(0, std::memory_order_relaxed);
        if (n < 0 && errno != EINTR) return;
        if (channel.state.load(std::memory_order_acquire) == kRequestPosted)
            runPosted(open, request, reply);
        if (!drainSocket(open, request, reply)) return;
    }
}

Channel *makeChannel(int &memory) {
    memory = ::memfd_create("zelsim-channel", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    void *mapping = MAP_FAILED;
    // Sealed at its size, so no client can shrink it under the server (SIGBUS).
    if (memory >= 0 && ::ftruncate(memory, sizeof(Channel)) == 0 &&
        ::fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0) {
        mapping =
            real::mmap(nullptr, sizeof(Channel), PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    }
    if (mapping == MAP_FAILED) {
        if (memory >= 0) ::close(memory);
        memory = -1;
        return nullptr;
    }
    return new (mapping) Channel{};
}

void serveNode(Server &server, int connection, pid_t pid, const Request &request) {
    Reply reply{};
    auto answer = [&](int err) {
        refuse(reply, err);
        sendWithDescriptor(connection, &reply, kReplyHeader, -1);
    };
    if (!admit(server, server.nodesOf, pid, server.nodesPerProcess, true)) return answer(EMFILE);
    std::string path(reinterpret_cast<const char *>(request.data), request.dataLength);
    OpenNode open{connection, -1, -1, nullptr};
    // Only the nodes: the server opens nothing else for a client.
    if (path.rfind("/dev/zelsmbus", 0) != 0) {
        answer(ENOENT);
    } else if ((open.node = ::open(path.c_str(), O_RDWR | O_CLOEXEC)) < 0) {
        answer(errno);
    } else if ((open.channel = makeChannel(open.memory)) == nullptr) {
        answer(errno != 0 ? errno : ENOMEM);
    } else {
        clear(reply);
        int memory = (request.flags & kWantChannel) != 0 ? open.memory : -1;
        if (sendWithDescriptor(connection, &reply, kReplyHeader, memory) >= 0) {
            ::shutdown(connection, SHUT_WR);  // a read() of the node finds end of file
            serveNodeRequests(open);
        }
    }
    if (open.node >= 0) ::close(open.node);  // releases the node's bus locks
    if (open.channel != nullptr) {
        open.channel->state.store(kClosed, std::memory_order_seq_cst);
        wakeClient(*open.channel);
        ::munmap(open.channel, sizeof(Channel));
    }
    if (open.memory >= 0) ::close(open.memory);
    leave(server, server.nodesOf, pid, true);
}

// --- Control connections ----------------------------------------------------

// Answers one control request; true when the server is to stop after replying.
bool answerWorldRequest(Server &server, pid_t pid, const Request &request, Reply &reply) {
    clear(reply);
    if (request.op == kControlOp) {
        // zelsim fault, zelsim snapshot (read in parts by one launcher process)
        answerControl(static_cast<uint64_t>(pid), request, reply);
        return false;
    }
    switch (request.op) {
        case Op::Hello:
        case Op::Root:
            setText(reply, zelsim_tree_root());
            return false;
        case Op::Sleep:
            reply.ret = accountSleep(request.request) ? 1 : 0;
            return false;
        case Op::Info:
            reply.ret = static_cast<int32_t>(::getpid());
            setText(reply, server.world);
            return false;
        case Op::Reset:
            reply.ret = reloadWorld(server.world);
            if (reply.ret != 0) setText(reply, server.world + ": " + zelsim_last_error());
            return false;
        case Op::Stop:
            return true;
        default:
            refuse(reply, ENOTTY);
            return false;
    }
}

void serveControl(Server &server, int connection, pid_t pid, Request &request, ssize_t n,
                  int replyTo) {
    if (!admit(server, server.controlsOf, pid, kControlsPerProcess, false)) {
        if (replyTo >= 0) ::close(replyTo);
        return;
    }
    Reply reply{};
    for (;;) {
        request.dataLength =
            std::min<uint32_t>(request.dataLength, static_cast<uint32_t>(n - kRequestHeader));
        bool stop = answerWorldRequest(server, pid, request, reply);
        sendWithDescriptor(replyTo >= 0 ? replyTo : connection, &reply,
                           kReplyHeader + reply.dataLength, -1);
        if (replyTo >= 0) ::close(replyTo);
        if (stop) requestStop(server);  // after the answer: `zelsim stop` then waits for the end
        n = receiveWithDescriptor(connection, &request, sizeof request, replyTo);
        if (n < static_cast<ssize_t>(kRequestHeader)) break;
    }
    if (replyTo >= 0) ::close(replyTo);
    leave(server, server.controlsOf, pid, false);
}

// Whether a new connection from `peer` is served at all: a world is its
// user's, and one process's connections (greeted or not) are bounded, so
// that no program can take every descriptor or thread of the server.
bool welcome(Server &server, const ucred &peer) {
    if (peer.uid != ::getuid()) return false;
    std::lock_guard<std::mutex> lock(server.mutex);
    unsigned &count = server.connectionsOf[peer.pid];
    if (count >= server.nodesPerProcess + kControlsPerProcess) {
        if (count == 0) server.connectionsOf.erase(peer.pid);
        return false;
    }
    ++count;
    return true;
}

void serveConnection(Server &server, int connection, ucred peer) {
    Request request{};
    int replyTo = -1;
    ssize_t n = -1;
    if (awaitReadable(connection, kGreetingTimeoutMs))
        n = receiveWithDescriptor(connection, &request, sizeof request, replyTo);
    if (n >= static_cast<ssize_t>(kRequestHeader)) {
        if (request.op == Op::Open) {
            if (replyTo >= 0) ::close(replyTo);
            request.dataLength =
                std::min<uint32_t>(request.dataLength, static_cast<uint32_t>(n - kRequestHeader));
            serveNode(server, connection, peer.pid, request);
        } else {
            serveControl(server, connection, peer.pid, request, n, replyTo);
        }
    } else if (replyTo >= 0) {
        ::close(replyTo);
    }
    {
        std::lock_guard<std::mutex> lock(server.mutex);
        server.connections.erase(connection);
        if (--server.connectionsOf[peer.pid] == 0) server.connectionsOf.erase(peer.pid);
    }
    ::close(connection);
}

void tell(int fd, const std::string &line) {
    std::string text = line + "\n";
    ssize_t ignored = real::write(fd, text.data(), text.size());
    (void)ignored;
    ::close(fd);
}

// As many descriptors as the system lets this process have; node
// connections may use all but a reserve.
unsigned raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    rlim_t usable = limit.rlim_cur > 2 * kReservedDescriptors ? limit.rlim_cur - kReservedDescriptors
                                                              : limit.rlim_cur / 2;
    // Each node holds three: its connection, its descriptor here and its channel.
    return static_cast<unsigned>(std::min<rlim_t>(usable / 3, kMostNodes));
}

}  // namespace
}  // namespace zelsim::remote

using namespace zelsim;
using namespace zelsim::remote;

extern "C" int zelsim_serve(const char *directory, const char *worldFile, int readyFd) {
    auto *server = new Server;  // lives until the process ends: threads may still use it
    server->world = worldFile != nullptr ? worldFile : "";
    server->mostNodes = raiseDescriptorLimit();
    // A quarter of the whole for one process at most: one leaking program
    // leaves room for others even where descriptors are scarce.
    server->nodesPerProcess = std::max(1u, std::min(kNodesPerProcess, server->mostNodes / 4));
    if (reloadWorld(server->world) != 0) {
        tell(readyFd, server->world + ": " + zelsim_last_error());
        dropTree();
        return 2;
    }
    std::string path = std::string(directory) + "/" ZELSIM_SOCKET_NAME;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        tell(readyFd, "socket path too long: " + path);
        dropTree();
        return 2;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ::unlink(path.c_str());
    if (listener < 0 || ::pipe2(server->stopPipe, O_CLOEXEC) != 0 ||
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 128) != 0) {
        tell(readyFd, "cannot listen on " + path + ": " + std::strerror(errno));
        dropTree();
        return 2;
    }
    gServer = server;
    struct sigaction action {};
    action.sa_handler = stopOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    tell(readyFd, "ok");

    pollfd watched[2] = {{listener, POLLIN, 0}, {server->stopPipe[0], POLLIN, 0}};
    // Out of descriptors, the waiting connection stays readable: only the
    // stop pipe is watched for a while instead of spinning on accept.
    bool backingOff = false;
    for (;;) {
        int n = backingOff ? ::poll(&watched[1], 1, 20) : ::poll(watched, 2, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[1].revents != 0) break;
        if (backingOff) {
            backingOff = false;
            continue;
        }
        int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            backingOff = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
            continue;
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            !welcome(*server, peer)) {
            ::close(connection);
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(server->mutex);
            server->connections.insert(connection);
        }
        try {
            std::thread(serveConnection, std::ref(*server), connection, peer).detach();
        } catch (const std::exception &) {
            std::lock_guard<std::mutex> lock(server->mutex);
            server->connections.erase(connection);
            if (--server->connectionsOf[peer.pid] == 0) server->connectionsOf.erase(peer.pid);
            ::close(connection);
        }
    }
    // No new connections; wake the connection threads so they end.
    ::unlink(path.c_str());
    ::close(listener);
    std::lock_guard<std::mutex> lock(server->mutex);
    for (int connection : server->connections) ::shutdown(connection, SHUT_RDWR);
    dropTree();
    return 0;
}
