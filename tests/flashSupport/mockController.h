// A gmock controller whose registers can be routed to the simulator's flash
// model, so flash procedures run against real flash behaviour in-process.
#pragma once

#include <gmock/gmock.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "../../sim/src/flashModel.h"
#include "../controllerSupport/nullController.h"
#include "controller/iSMBusController.h"
#include "controller/tControllerRegisterPort.h"

namespace flashtest {

using nZELSMBUS000::iSMBusController;
using nZELSMBUS000::tStatus;

// Virtual time shared by the test's nanosleep and the flash model.
extern uint64_t gClockNs;
extern uint64_t gSleepCalls;

// A controller whose operations the tests use are mocks; every other
// operation reaches the mocked unanswered(), so a StrictMock fails on any call
// the test did not expect and a NiceMock ignores it. The constructor and
// destructor are defined in mockController.cpp, so the mock's members and
// virtual functions are compiled once, not in every test.
class tMockController : public controllertest::tNullController {
public:
    tMockController();
    ~tMockController() override;

    MOCK_METHOD(void, unanswered, (const char *, tStatus &), (override));

    MOCK_METHOD(void, getPciIds, (uint16_t &, uint16_t &, uint16_t &, uint16_t &, tStatus &),
                (override));
    MOCK_METHOD(void, getPciLocation, (uint16_t &, uint16_t &, uint16_t &, uint16_t &, tStatus &),
                (override));
    MOCK_METHOD(void, getDeviceString, (const char *&, tStatus &), (override));
    MOCK_METHOD(void, getPortFlags, (uint8_t &, uint8_t &, tStatus &), (override));
    MOCK_METHOD(void, getPortString, (const char *&, tStatus &), (override));
    MOCK_METHOD(void, getProtectedAddresses, (uint8_t &, const uint8_t *&, tStatus &), (override));
    MOCK_METHOD(void, readRegister, (uint32_t, uint32_t &, tStatus &), (override));
    MOCK_METHOD(void, writeRegister, (uint32_t, uint32_t, tStatus &), (override));
    MOCK_METHOD(void, getAttribute10001, (uint16_t &, tStatus &), (override));
    MOCK_METHOD(void, getAttribute2001, (uint32_t &, tStatus &), (override));
    MOCK_METHOD(void, getAttribute10002, (uint16_t &, tStatus &), (override));
    MOCK_METHOD(void, setAttribute10002, (uint16_t, tStatus &), (override));
    MOCK_METHOD(void, getAttribute10003, (uint16_t &, tStatus &), (override));
    MOCK_METHOD(void, getAttribute10004, (uint16_t &, tStatus &), (override));
    MOCK_METHOD(void, getAttribute10005, (uint16_t &, tStatus &), (override));
    MOCK_METHOD(void, getAttribute3001, (uint32_t &, tStatus &), (override));
    MOCK_METHOD(void, setAttribute3001, (uint32_t, tStatus &), (override));
    MOCK_METHOD(void, getAttribute3002, (uint32_t &, tStatus &), (override));
    MOCK_METHOD(void, getAttribute1004, (uint8_t &, tStatus &), (override));
    MOCK_METHOD(void, setAttribute1004, (uint8_t, tStatus &), (override));
    MOCK_METHOD(void, getAttribute1005, (uint32_t &, tStatus &), (override));
    MOCK_METHOD(void, setAttribute1005, (uint32_t, tStatus &), (override));
};

struct tRegisterAccess {
    bool write;
    uint32_t offset;
    uint32_t value;
    bool operator==(const tRegisterAccess &other) const {
        return write == other.write && offset == other.offset && value == other.value;
    }
};

inline std::ostream &operator<<(std::ostream &out, const tRegisterAccess &access) {
    return out << (access.write ? "W " : "R ") << std::hex << access.offset << "=" << access.value;
}

// A controller in front of a flash model, logging every register access.
class tFlashController : public ::testing::NiceMock<tMockController> {
public:
    explicit tFlashController(uint16_t flashId, uint32_t version = 5, uint16_t subsystem = 0x7A11);
    ~tFlashController() override;

    size_t writesTo(uint32_t offset) const {
        size_t count = 0;
        for (const auto &access : log) count += access.write && access.offset == offset;
        return count;
    }

    // The flash procedures take the controller's register port.
    operator nZELSMBUS000::iRegisterPort &() { return port; }

    zelsim::FlashModel model;
    nZELSMBUS000::tControllerRegisterPort port{*this};
    std::function<void(uint32_t, uint32_t)> onWrite;  // runs after each register write
    bool failRequests = false;  // every register access fails (an I/O error), from now on
    bool logging = true;
    std::vector<tRegisterAccess> log;
};

}  // namespace flashtest
