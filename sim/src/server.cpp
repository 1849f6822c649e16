// The world server. It runs in a process that has libzelsim.so loaded, so
// the world it serves is the in-process simulator itself: a client's open,
// ioctl and close of a node become the same calls made here, on descriptors
// this process owns, answered by the one device model. One thread per
// connection; a command runs to its end on the server even when its client
// dies meanwhile, so a killed client never leaves half a command behind.
// A client process may open several connections (one per thread) under one
// session token; when its last connection closes, every descriptor the
// session still holds is closed, which releases its bus locks.
#include "server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
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
#include "real.h"
#include "remoteProtocol.h"
#include "vtime.h"
#include "zelsim.h"

namespace zelsim::remote {
namespace {

struct Session {
    std::set<int> descriptors;
    unsigned connections = 0;
};

struct Server {
    std::string world;
    int stopPipe[2] = {-1, -1};
    std::mutex mutex;  // sessions and connections
    std::map<uint64_t, Session> sessions;
    std::set<int> connections;
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

bool ownedBy(Server &server, uint64_t token, int handle) {
    std::lock_guard<std::mutex> lock(server.mutex);
    auto it = server.sessions.find(token);
    return it != server.sessions.end() && it->second.descriptors.count(handle) != 0;
}

void setText(Reply &reply, const std::string &text) {
    reply.dataLength = static_cast<uint32_t>(std::min<size_t>(text.size(), kMaxData));
    std::memcpy(reply.data, text.data(), reply.dataLength);
}

// The file is loaded once before the reset: one that no longer loads (edited
// since, or removed) fails with the world left as it was, not replaced by
// the built-in world under the file's name.
int reloadWorld(const std::string &world) {
    if (!world.empty() && zelsim_load_world_file(world.c_str()) != 0) return -1;
    zelsim_reset();
    return world.empty() ? 0 : zelsim_load_world_file(world.c_str());
}

void runIoctl(const Request &request, Reply &reply) {
    uint8_t in[kMaxData] = {};
    uint8_t out[kMaxData] = {};
    std::memcpy(in, request.data, std::min<uint32_t>(request.dataLength, kMaxData));
    uint8_t envelope[32] = {};
    void *inAddress = (request.flags & kInNull) != 0 ? nullptr : in;
    void *outAddress = (request.flags & kOutNull) != 0 ? nullptr : out;
    std::memcpy(envelope + 0, &inAddress, sizeof inAddress);
    std::memcpy(envelope + 8, &outAddress, sizeof outAddress);
    std::memcpy(envelope + 16, &request.inSize, 4);
    std::memcpy(envelope + 20, &request.outSize, 4);
    void *argument = (request.flags & kArgumentNull) != 0 ? nullptr : envelope;
    errno = 0;
    reply.ret = ::ioctl(request.handle, request.request, argument);
    reply.err = reply.ret < 0 ? errno : 0;
    if (reply.ret == 0) {
        std::memcpy(&reply.word, envelope + 24, 4);
        reply.dataLength = std::min<uint32_t>(request.outSize, kMaxData);
        std::memcpy(reply.data, out, reply.dataLength);
    }
}

// Answers one request; false ends the connection.
bool answer(Server &server, uint64_t token, const Request &request, Reply &reply) {
    switch (request.op) {
        case Op::Open: {
            std::string path(reinterpret_cast<const char *>(request.data),
                             std::min<uint32_t>(request.dataLength, kMaxData));
            // Only the nodes: the server opens nothing else for a client.
            if (path.rfind("/dev/zelsmbus", 0) != 0) {
                reply.ret = -1;
                reply.err = ENOENT;
                return true;
            }
            errno = 0;
            int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
            reply.ret = fd;
            reply.err = fd < 0 ? errno : 0;
            if (fd >= 0) {
                std::lock_guard<std::mutex> lock(server.mutex);
                server.sessions[token].descriptors.insert(fd);
            }
            return true;
        }
        case Op::Ioctl:
            if (!ownedBy(server, token, request.handle)) {
                reply.ret = -1;
                reply.err = EBADF;
                return true;
            }
            runIoctl(request, reply);
            return true;
        case Op::Close: {
            bool owned = false;
            {
                std::lock_guard<std::mutex> lock(server.mutex);
                owned = server.sessions[token].descriptors.erase(request.handle) != 0;
            }
            errno = 0;
            reply.ret = owned ? ::close(request.handle) : -1;
            reply.err = owned ? (reply.ret < 0 ? errno : 0) : EBADF;
            return true;
        }
        case Op::Flock:
            // The client's node lock is the lock of the server's descriptor
            // for it, released with that descriptor when the client goes.
            if (!ownedBy(server, token, request.handle)) {
                reply.ret = -1;
                reply.err = EBADF;
                return true;
            }
            errno = 0;
            reply.ret = ::flock(request.handle, static_cast<int>(request.request));
            reply.err = reply.ret < 0 ? errno : 0;
            return true;
        case Op::Sleep:
            reply.ret = accountSleep(request.request) ? 1 : 0;
            return true;
        case Op::Info:
            reply.ret = static_cast<int32_t>(::getpid());
            setText(reply, server.world);
            return true;
        case Op::Reset:
            reply.ret = reloadWorld(server.world);
            if (reply.ret != 0) setText(reply, server.world + ": " + zelsim_last_error());
            return true;
        case Op::Stop:
            requestStop(server);
            return true;
        case Op::Hello:
            break;
    }
    reply.ret = -1;
    reply.err = EPROTO;
    return false;
}

void closeSession(Server &server, uint64_t token) {
    std::set<int> descriptors;
    {
        std::lock_guard<std::mutex> lock(server.mutex);
        auto it = server.sessions.find(token);
        if (it == server.sessions.end() || --it->second.connections != 0) return;
        descriptors.swap(it->second.descriptors);
        server.sessions.erase(it);
    }
    for (int fd : descriptors) ::close(fd);  // releases the bus locks they hold
}

// Answers the requests of one client over the shared channel until the
// client goes away or the channel cannot be made.
void serveChannel(Server &server, int connection, uint64_t token, const Reply &hello) {
    int memory = ::memfd_create("zelsim-channel", MFD_CLOEXEC);
    void *mapping = MAP_FAILED;
    if (memory >= 0 && ::ftruncate(memory, sizeof(Channel)) == 0) {
        mapping =
            real::mmap(nullptr, sizeof(Channel), PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    }
    if (mapping == MAP_FAILED) {
        if (memory >= 0) real::close(memory);
        return;
    }
    auto *channel = new (mapping) Channel{};
    // The greeting's answer carries the channel's memory.
    iovec part{const_cast<Reply *>(&hello), kReplyHeader + hello.dataLength};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *rights = CMSG_FIRSTHDR(&message);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(rights), &memory, sizeof(int));
    bool sent = ::sendmsg(connection, &message, MSG_NOSIGNAL) >= 0;
    real::close(memory);
    Request request{};
    Reply reply{};
    SpinBudget budget{50};
    while (sent && awaitState(*channel, kRequestPosted, connection, budget, 50)) {
        // The client can write the shared memory at any time: work on a copy.
        std::memcpy(&request, &channel->request, sizeof request);
        request.dataLength = std::min<uint32_t>(request.dataLength, kMaxData);
        reply.ret = 0;
        reply.err = 0;
        reply.word = 0;
        reply.dataLength = 0;
        bool keep = request.op != Op::Hello && answer(server, token, request, reply);
        std::memcpy(&channel->reply, &reply, kReplyHeader + reply.dataLength);
        post(*channel, kReplyPosted);
        if (!keep) break;
    }
    ::munmap(mapping, sizeof(Channel));
}

void serveConnection(Server &server, int connection) {
    Request request{};
    Reply reply{};
    uint64_t token = 0;
    bool greeted = false;
    for (;;) {
        ssize_t n = ::recv(connection, &request, sizeof request, 0);
        if (n < static_cast<ssize_t>(kRequestHeader)) break;  // closed, or not ours
        request.dataLength =
            std::min<uint32_t>(request.dataLength, static_cast<uint32_t>(n - kRequestHeader));
        reply.ret = 0;
        reply.err = 0;
        reply.word = 0;
        reply.dataLength = 0;
        if (!greeted) {
            if (request.op != Op::Hello) break;
            token = request.request;
            greeted = true;
            {
                std::lock_guard<std::mutex> lock(server.mutex);
                ++server.sessions[token].connections;
            }
            setText(reply, zelsim_tree_root());
            if ((request.flags & kWantChannel) != 0) {
                serveChannel(server, connection, token, reply);
                break;
            }
        } else if (!answer(server, token, request, reply)) {
            break;
        }
        if (::send(connection, &reply, kReplyHeader + reply.dataLength, MSG_NOSIGNAL) < 0) break;
    }
    if (greeted) closeSession(server, token);
    {
        std::lock_guard<std::mutex> lock(server.mutex);
        server.connections.erase(connection);
    }
    real::close(connection);
}

void tell(int fd, const std::string &line) {
    std::string text = line + "\n";
    ssize_t ignored = real::write(fd, text.data(), text.size());
    (void)ignored;
    real::close(fd);
}

}  // namespace
}  // namespace zelsim::remote

using namespace zelsim;
using namespace zelsim::remote;

extern "C" int zelsim_serve(const char *directory, const char *worldFile, int readyFd) {
    auto *server = new Server;  // lives until the process ends: threads may still use it
    server->world = worldFile != nullptr ? worldFile : "";
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
        ::listen(listener, 64) != 0) {
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
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[1].revents != 0) break;
        if ((watched[0].revents & POLLIN) == 0) continue;
        int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        {
            std::lock_guard<std::mutex> lock(server->mutex);
            server->connections.insert(connection);
        }
        try {
            std::thread(serveConnection, std::ref(*server), connection).detach();
        } catch (const std::exception &) {
            real::close(connection);
        }
    }
    // No new connections; wake the connection threads so they end.
    ::unlink(path.c_str());
    real::close(listener);
    std::lock_guard<std::mutex> lock(server->mutex);
    for (int connection : server->connections) ::shutdown(connection, SHUT_RDWR);
    dropTree();
    return 0;
}
