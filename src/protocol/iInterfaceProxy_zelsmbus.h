// The 44 commands of the SMBus controller driver, in command-number order
// (protocol/driverCommands.h). Arguments: the port (where the command has
// one), the inputs in the order of the input buffer, the output destinations
// in the order of the output buffer, then the caller's status. Pads and
// status words are no arguments.
#pragma once

#include <cstdint>

#include "driver/iInterfaceProxy.h"
#include "protocol/driverCommands.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

class iInterfaceProxy_zelsmbus : public virtual nZELOSAL000::iInterfaceProxy {
public:
#define ZELSMBUS_DECLARE_COMMAND_(method, row, scope, controller, parameters, arguments) \
    virtual void method(ZELSMBUS_COMMAND_PARAMETERS(scope, parameters)) = 0;
    ZELSMBUS_DRIVER_COMMANDS(ZELSMBUS_DECLARE_COMMAND_)
#undef ZELSMBUS_DECLARE_COMMAND_
};

}  // namespace nZELSMBUS000
