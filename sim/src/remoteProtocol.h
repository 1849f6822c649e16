// The messages between a process under a shared world and the world server
// (sim/src/server.cpp), one SOCK_SEQPACKET datagram each way per call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelsim::remote {

// The largest buffer of any driver command (the I2C block transfers) with room to spare.
constexpr uint32_t kMaxData = 512;

enum class Op : uint32_t {
    Hello = 1,  // session token in `request`; reply data: the tree root
    Open,       // data: the node path; reply ret: the server's handle or -1
    Ioctl,      // handle, request, sizes, flags, data: the input buffer
    Close,      // handle
    Sleep,      // request: nanoseconds; reply ret: 1 when counted on the virtual clock
    Info,       // reply data: the world file ("" for the built-in world); ret: the server's pid
    Reset,      // reload the world the server started with
    Stop,       // stop the server
    Flock,      // handle, request: the flock operation; reply ret/err as flock's
};

enum Flags : uint32_t {
    kArgumentNull = 1,
    kInNull = 2,
    kOutNull = 4,
    kWantChannel = 8,  // Hello: answer with a shared-memory channel (channel.h)
};

struct Request {
    Op op;
    int32_t handle;
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

}  // namespace zelsim::remote
