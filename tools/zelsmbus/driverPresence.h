// Whether the tool can reach a driver at all, and what to tell a user who has
// none: the kernel driver's node tree, the chassis-query library, the
// simulator and a simulated world left running by 'zelsim start'.
#pragma once

#include <string>

namespace zelsmbus_tool {

// The folder the kernel driver publishes its nodes in.
constexpr const char *kDriverFolder = "/proc/driver/zel/";

struct DriverPresence {
    bool underSimulator = false;   // run by zelsim: the simulated driver answers
    bool driverFolder = false;     // /proc/driver/zel/ exists
    bool chassisLibrary = false;   // libzelqpxi.so.1 loads
    bool worldRunning = false;     // 'zelsim start' left a world running for this user

    // Neither the simulator nor the kernel driver is there.
    bool noDriver() const { return !underSimulator && !driverFolder; }
    // Nothing at all: no driver, no chassis-query library (i2c-tools' "no adapters").
    bool nothing() const { return noDriver() && !chassisLibrary; }
};

DriverPresence probeDriverPresence();

// "no driver: /proc/driver/zel/ does not exist ..." naming what is missing.
std::string missingDriverText(const DriverPresence &presence);
// The next step for a user without a driver: the zelsim form of the command
// (commandLine is what follows "zelsmbus", such as "list").
std::string simulatorHint(const DriverPresence &presence, const std::string &commandLine);

}  // namespace zelsmbus_tool
