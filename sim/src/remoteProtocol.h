// The messages between a process under a shared world and the world server
// (sim/src/server.cpp). Two kinds of connection reach the server's socket:
//
// - A node connection: one per open node. Its first message is Open; the
//   client's end of it is the descriptor the program gets for the node, so
//   the kernel's file lifetimes (dup, fork, exec, close, close_range, death)
//   decide when the server closes the node and releases its locks. The
//   server answers Open with the request channel's memory (channel.h) and
//   then shuts its sending side, so a read() of the node finds end of file.
// - A control connection: first message Hello (answered with the tree
//   root), then Root, Sleep, Info, Reset or Stop.
//
// After the first message a request may carry a socket of its own
// (SCM_RIGHTS): its reply goes there. A request that comes without one on a
// node connection is only a doorbell (the channel has a request, or the
// program wrote to the node: nothing to answer); on a control connection it
// is answered on the connection itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelsim::remote {

// The largest buffer of any driver command (the I2C block transfers) with room to spare.
constexpr uint32_t kMaxData = 512;

enum class Op : uint32_t {
    Hello = 1,  // control connection; reply data: the tree root
    Open,       // node connection; data: the node path; reply ret 0 or -1 (err)
    Ioctl,      // request, sizes, flags, data: the input buffer
    Root,       // reply data: the tree root
    Sleep,      // request: nanoseconds; reply ret: 1 when counted on the virtual clock
    Info,       // reply data: the world file ("" for the built-in world); ret: the server's pid
    Reset,      // reload the world the server started with
    Stop,       // stop the server (answered first)
    Attach,     // node connection: the channel's memory again (a program after exec)
    Flock,      // node connection; request: the flock operation; reply ret/err as flock's
};

enum Flags : uint32_t {
    kArgumentNull = 1,
    kInNull = 2,
    kOutNull = 4,
    kWantChannel = 8,  // Open, Attach: answer with a shared-memory channel (channel.h)
};

struct Request {
    Op op;
    int32_t reserved;
    uint64_t request;
    uint32_t inSize;
    uint32_t outSize;
    uint32_t flags;
    uint32_t dataLength;
    uint8_t data[kMaxData];
};

struct Reply {
    int32_t ret;
    int32_t err;
    int32_t word;  // the envelope's result word after an ioctl
    uint32_t dataLength;
    uint8_t data[kMaxData];
};

constexpr size_t kRequestHeader = offsetof(Request, data);
constexpr size_t kReplyHeader = offsetof(Reply, data);

// How long a client waits for a greeting or a control answer, and at most
// for the answer to a driver command (a bus-lock wait is far shorter).
constexpr int kGreetingTimeoutMs = 10000;
constexpr int kCommandTimeoutMs = 60000;
constexpr int kNoTimeout = -1;  // a blocking flock: as long as the server is there

}  // namespace zelsim::remote
