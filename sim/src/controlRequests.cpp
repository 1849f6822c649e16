// The world server's side of `zelsim fault` and `zelsim snapshot`: each
// request becomes the control-interface call a test would make in-process.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "controlProtocol.h"
#include "zelsim.h"

namespace zelsim::remote {
namespace {

// Snapshots being read in parts, per session; one each.
std::mutex gSnapshotMutex;
std::map<uint64_t, std::string> gSnapshots;

void refuse(Reply &reply, int err, const std::string &why) {
    reply.ret = -1;
    reply.err = err;
    reply.dataLength = static_cast<uint32_t>(std::min<size_t>(why.size(), kMaxData));
    std::memcpy(reply.data, why.data(), reply.dataLength);
}

// A driver command by number or by name; false when there is none.
bool findCommand(const char *text, unsigned &number) {
    zelsim_command info{};
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (end != text && *end == '\0' && value < 0x100 &&
        zelsim_command_info(unsigned(value), &info) == 0) {
        number = info.number;
        return true;
    }
    for (unsigned n = 0; n < 0x100; ++n) {
        if (zelsim_command_info(n, &info) == 0 && std::strcmp(info.name, text) == 0) {
            number = n;
            return true;
        }
    }
    return false;
}

void snapshotPart(uint64_t session, uint32_t offset, Reply &reply) {
    std::lock_guard<std::mutex> lock(gSnapshotMutex);
    std::string &text = gSnapshots[session];
    if (offset == 0) {
        char *fresh = zelsim_world_snapshot();
        if (fresh == nullptr) {
            gSnapshots.erase(session);
            return refuse(reply, ENOMEM, "out of memory");
        }
        text = fresh;
        std::free(fresh);
    }
    if (offset > text.size()) return refuse(reply, EINVAL, "no snapshot is being read");
    reply.ret = static_cast<int32_t>(text.size());
    reply.dataLength = static_cast<uint32_t>(std::min<size_t>(text.size() - offset, kMaxData));
    std::memcpy(reply.data, text.data() + offset, reply.dataLength);
    if (offset + reply.dataLength >= text.size()) gSnapshots.erase(session);
}

}  // namespace

void answerControl(uint64_t session, const Request &request, Reply &reply) {
    ControlRequest c{};
    if (request.dataLength < sizeof c) return refuse(reply, EPROTO, "malformed control request");
    std::memcpy(&c, request.data, sizeof c);
    c.command[sizeof c.command - 1] = '\0';
    unsigned command = 0;
    if ((c.what == Control::FailCommand || c.what == Control::DriverWord) &&
        !findCommand(c.command, command))
        return refuse(
            reply, EINVAL,
            std::string(c.command) +
                " is no driver command (a number such as 0x0E or a name such as readByte)");
    reply.ret = 0;
    switch (c.what) {
        case Control::Silence:
        case Control::Corrupt:
            if (zelsim_fault_target(
                    c.node, c.port, c.address, c.what == Control::Silence,
                    static_cast<uint8_t>(c.what == Control::Corrupt ? c.value : 0)) != 0)
                refuse(reply, ENOENT,
                       "no target at that address on node " + std::to_string(c.node) + " port " +
                           std::to_string(c.port));
            return;
        case Control::FailCommand:
            zelsim_fail_command(command, c.value, c.count);
            return;
        case Control::DriverWord:
            zelsim_set_driver_status(command, c.value, c.count);
            return;
        case Control::HoldBus:
            if (zelsim_hold_bus(c.node, c.port) != 0)
                refuse(reply, ENOENT,
                       "no port " + std::to_string(c.port) + " on node " + std::to_string(c.node));
            return;
        case Control::Clear:
            zelsim_clear_faults();
            return;
        case Control::Snapshot:
            return snapshotPart(session, c.offset, reply);
    }
    refuse(reply, EPROTO, "unknown control request");
}

}  // namespace zelsim::remote
