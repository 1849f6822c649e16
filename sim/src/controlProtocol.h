// Control requests from the shell (`zelsim fault`, `zelsim snapshot`) to a
// running world server: one Request whose op is kControlOp and whose data is
// a ControlRequest. Answered by controlRequests.cpp.
#pragma once

#include <cstdint>

#include "remoteProtocol.h"

namespace zelsim::remote {

constexpr Op kControlOp = static_cast<Op>(0x100);

enum class Control : uint32_t {
    Silence = 1,  // node, port, address: the target stops acknowledging
    Corrupt,      // node, port, address, value (mask): every byte it sends xor'ed
    FailCommand,  // command, value (errno), count
    DriverWord,   // command, value (status word), count
    HoldBus,      // node, port: the bus stays locked
    Clear,        // every fault cleared
    Snapshot,     // offset: the next part of the world file text (ret: its whole length)
};

struct ControlRequest {
    Control what;
    uint32_t node;
    uint32_t port;
    uint32_t address;  // 8-bit form
    char command[32];  // driver command: number ("0x0E") or name ("readByte")
    int32_t value;
    uint32_t count;
    uint32_t offset;
};

// Answers a control request into `reply` (ret 0 or the snapshot's length,
// -1 with err and a message in data when it cannot be done).
void answerControl(uint64_t session, const Request &request, Reply &reply);

}  // namespace zelsim::remote
