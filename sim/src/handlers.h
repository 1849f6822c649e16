// The handlers of the driver commands, one per command, as the command table
// (commands.cpp) names them. Each runs under the state mutex once the
// envelope, the port and (for bus commands) the bus lock have been checked,
// and answers the driver status word.
#pragma once

#include "commands.h"
#include "sim.h"

namespace zelsim {

struct Call {
    Sim &sim;
    int fd;           // the descriptor the command came through
    uint64_t openId;  // its open file (nodeFiles.h)
    Device &device;
    Port *port;  // null for node commands
    Fields &fields;
    int err = 0;  // set to fail the ioctl with this errno instead of a word
};

namespace handlers {

// The node and its ports (device.cpp).
int32_t pciIds(Call &);
int32_t pciLocation(Call &);
int32_t deviceString(Call &);
int32_t portFlags(Call &);
int32_t portString(Call &);
int32_t protectedAddresses(Call &);
int32_t lock(Call &);
int32_t unlock(Call &);
int32_t readRegister(Call &);
int32_t writeRegister(Call &);
// Port attributes, stored at their width.
template <unsigned Attribute>
int32_t getAttribute(Call &call) {
    visitAttribute(call.port->attributes, Attribute,
                   [&](auto &field) { call.fields.set("value", field); });
    return 0;
}
template <unsigned Attribute>
int32_t setAttribute(Call &call) {
    visitAttribute(call.port->attributes, Attribute,
                   [&](auto &field) { storeAttribute(field, call.fields.get("value")); });
    return 0;
}

// Bus transactions, answered by the addressed target (targets.cpp).
int32_t quickWrite(Call &);
int32_t quickRead(Call &);
int32_t sendByte(Call &);
int32_t receiveByte(Call &);
int32_t writeByte(Call &);
int32_t readByte(Call &);
int32_t writeWord(Call &);
int32_t readWord(Call &);
int32_t processCall(Call &);
int32_t writeBlock(Call &);
int32_t readBlock(Call &);
int32_t blockProcessCall(Call &);
int32_t writeBlockI2C(Call &);
int32_t readBlockI2C(Call &);
int32_t readI2CEEPROM(Call &);

}  // namespace handlers
}  // namespace zelsim
