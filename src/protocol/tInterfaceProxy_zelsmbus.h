// The driver commands of the SMBus controller node: each method packs its
// arguments into the command's input buffer, makes one ioctl on the node and
// unpacks the output buffer, folding the driver's status word into the
// caller's status. The methods come from the list of driver commands, the
// layouts from one table of command descriptors.
#pragma once

#include <cstdint>

#include "driver/tDeviceInterfaceProxy.h"
#include "protocol/driverCommands.h"
#include "protocol/iInterfaceProxy_zelsmbus.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

class tInterfaceProxy_zelsmbus final : public nZELOSAL000::tDeviceInterfaceProxy,
                                       public iInterfaceProxy_zelsmbus {
public:
    tInterfaceProxy_zelsmbus() noexcept = default;
    ~tInterfaceProxy_zelsmbus() override = default;

#define ZELSMBUS_DECLARE_COMMAND_(method, row, scope, controller, parameters, arguments) \
    void method(ZELSMBUS_COMMAND_PARAMETERS(scope, parameters)) override;
    ZELSMBUS_DRIVER_COMMANDS(ZELSMBUS_DECLARE_COMMAND_)
#undef ZELSMBUS_DECLARE_COMMAND_
};

}  // namespace nZELSMBUS000
