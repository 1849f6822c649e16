// Talking to the simulated driver the way a driver client does: real open,
// ioctl with a request envelope built here from its own byte offsets, close.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "envelope.h"
#include "zelsim.h"

namespace simtest {

struct Reply {
    int result = 0;  // ioctl's return value
    int err = 0;     // errno when it failed
    std::vector<uint8_t> out;

    int32_t status() const {
        int32_t word;
        std::memcpy(&word, out.data() + out.size() - 4, 4);
        return word;
    }
    uint32_t at(size_t offset, size_t width) const {
        uint32_t value = 0;
        std::memcpy(&value, out.data() + offset, width);
        return value;
    }
};

class Node {
public:
    explicit Node(unsigned node) : fd_(::open(zelsim_node_path(node), O_RDWR | O_CLOEXEC)) {}
    ~Node() {
        if (fd_ >= 0) ::close(fd_);
    }
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    int fd() const { return fd_; }
    void close() {
        ::close(fd_);
        fd_ = -1;
    }

    // One command with explicit sizes; the output starts filled with 0xEE.
    Reply raw(uint32_t request, std::vector<uint8_t> in, uint32_t inSize, uint32_t outSize) {
        Reply reply;
        reply.out.assign(outSize, 0xEE);
        in.resize(std::max<size_t>(in.size(), inSize));
        uint8_t envelope[kEnvelopeSize];
        packEnvelope(envelope, in.data(), inSize, reply.out.data(), outSize);
        errno = 0;
        reply.result = ::ioctl(fd_, request, envelope);
        reply.err = reply.result == -1 ? errno : 0;
        return reply;
    }

    // One command with the sizes of the simulator's table.
    Reply call(unsigned number, const std::vector<uint8_t> &in) {
        zelsim_command info{};
        zelsim_command_info(number, &info);
        return raw(info.request, in, info.in_size, info.out_size);
    }

private:
    int fd_;
};

// Little helpers to lay out input buffers.
inline void put(std::vector<uint8_t> &buffer, size_t offset, uint32_t value, size_t width) {
    if (buffer.size() < offset + width) buffer.resize(offset + width);
    std::memcpy(buffer.data() + offset, &value, width);
}

}  // namespace simtest
