// Shared pieces of the reliability tests: the simulated world's known
// devices, session ownership, descriptor counting and the stand-in
// chassis-query library's controls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "chassisStandIn.h"
#include "zelsim.h"
#include "zelsmbus.h"

namespace zelrel {

// Names and devices of the simulator's built-in world.
inline constexpr const char *kSystemPort0 = "ZELSMBUS::SYSTEM::0::0";
inline constexpr const char *kSystemPort1 = "ZELSMBUS::SYSTEM::0::1";
inline constexpr const char *kRemotePort0 = "ZELSMBUS::REMOTE::0::0";
inline constexpr const char *kPortText = "HOST::SMBUS1";
inline constexpr const char *kBackplane = "PXI0::1::BACKPLANE";
inline constexpr uint8_t kSensor = 0x90;  // register device on system port 0
inline constexpr uint8_t kSensorBlockCommand = 0x20;
inline constexpr uint8_t kEeprom = 0xA0;  // EEPROM on system port 0
inline constexpr uint8_t kAbsent = 0x02;  // nobody answers there

// Owns a session for the length of a test.
class tSession {
public:
    tSession() = default;
    explicit tSession(const char *name) { open(name); }
    ~tSession() { ZELSMBusClose(handle_); }
    tSession(const tSession &) = delete;
    tSession &operator=(const tSession &) = delete;

    int32_t open(const char *name) {
        ZELSMBusClose(handle_);
        handle_ = nullptr;
        return ZELSMBusOpen(name, &handle_);
    }
    tSMBusHandle *get() const { return handle_; }

private:
    tSMBusHandle *handle_ = nullptr;
};

// Descriptors this process has open right now.
int openDescriptorCount();
// Resident set size in kilobytes.
long residentKilobytes();

// The stand-in chassis-query library, loaded by the test so that its fault
// controls stay reachable (the library under test loads the same instance).
using tChassisQuery = chassis_test::tChassisStandIn;

// Every entry point of the chassis-query library.
extern const char *const kChassisEntryPoints[17];

// A baseline a test can rely on: the built-in world, no faults, the stand-in
// reset.
class tSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        if (tChassisQuery::load()) tChassisQuery::reset();
    }
    void TearDown() override { zelsim_reset(); }
};

}  // namespace zelrel
