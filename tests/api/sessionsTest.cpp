// Opening and closing sessions through the exports, against the simulated driver.
#include <glob.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "simWorld.h"

using apitest::locate;
using apitest::Session;

namespace {

// Nodes in world order: 0 a system device that sorts last (subsystem 2), 1 a
// remote device that sorts between (subsystem 1), 2 a system device of two
// ports that sorts first (subsystem 0, though its vendor value is the largest).
const char *kThreeDevices = R"(
[[device]]
vendor_id = 0x0002
subsystem_id = 0x0002
  [[device.port]]
  text = "LATE::PORT"
  protected = [0xEE]

[[device]]
vendor_id = 0x1E2D
subsystem_id = 0x0001
  [[device.port]]
  text = "REMOTE::PORT"
  protected = [0xEE]

[[device]]
vendor_id = 0xFFFF
subsystem_id = 0x0000
  [[device.port]]
  text = "EARLY::PORT0"
  protected = [0xEE]
  [[device.port]]
  text = "EARLY::PORT1"
  protected = [0xEE]
  [[device.port]]
  text = "ZELSMBUS::SYSTEM::5"
  protected = [0xEE]
)";

class Open : public apitest::SimTest {};

struct NameCase {
    const char *name;
    int node;
    int port;
};

class OpenByName : public apitest::SimTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(OpenByName, SelectsThePortTheNameDenotes) {
    loadWorld(kThreeDevices);
    const NameCase &c = GetParam();
    Session session;
    ASSERT_EQ(session.open(c.name), 0) << c.name;
    EXPECT_EQ(locate(session), std::make_pair(c.node, c.port)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenByName,
    ::testing::Values(NameCase{"ZELSMBUS::SYSTEM", 2, 0}, NameCase{"zelsmbus::system::0", 2, 0},
                      NameCase{"ZelSMBus::System::0::0", 2, 0},
                      NameCase{"ZELSMBUS::SYSTEM::0::1", 2, 1},
                      NameCase{"ZELSMBUS::SYSTEM::1", 0, 0},
                      NameCase{"ZELSMBUS::SYSTEM::65537", 0, 0},  // device numbers are 16-bit
                      NameCase{"ZELSMBUS::REMOTE::0::0", 1, 0}, NameCase{"zelsmbus::remote", 1, 0},
                      NameCase{"early::port1", 2, 1}, NameCase{"Remote::Port", 1, 0}));

TEST_F(Open, RefusesNamesThatFitNoFormOrNoPort) {
    loadWorld(kThreeDevices);
    for (const char *name : {"ZELSMBUS::SYSTEM::0::", "ZELSMBUS::SYSTEM::0x1",
                             "ZELSMBUS::SYSTEM::1x", "ZELSMBUS::SYSTEM::0 ", "ZELSMBUS::SYSTEM::2",
                             "ZELSMBUS::SYSTEM::1::1", "ZELSMBUS::REMOTE::1", "EARLY::PORT", "",
                             // a numbered name is never taken as a port text
                             "ZELSMBUS::SYSTEM::5"}) {
        tSMBusHandle *handle = reinterpret_cast<tSMBusHandle *>(0x1);
        EXPECT_EQ(ZELSMBusOpen(name, &handle), -52006) << name;
        EXPECT_EQ(handle, reinterpret_cast<tSMBusHandle *>(0x1)) << name;
    }
}

TEST_F(Open, RefusesMissingArguments) {
    tSMBusHandle *handle = nullptr;
    EXPECT_EQ(ZELSMBusOpen(nullptr, &handle), -52005);
    EXPECT_EQ(ZELSMBusOpen("ZELSMBUS::SYSTEM", nullptr), -52005);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_GLOB), 0u);
}

// Two ports on each of two nodes of one PCI identity that differ only in bus:
// the port is the most significant part of the location, so the order is
// bus 1 port 0, bus 5 port 0, bus 1 port 1, bus 5 port 1.
TEST_F(Open, ListOrdersPortBeforeBus) {
    loadWorld(R"(
[[device]]
vendor_id = 0x8086
bus = 5
  [[device.port]]
  protected = [0xEE]
  [[device.port]]
  protected = [0xEE]
[[device]]
vendor_id = 0x8086
bus = 1
  [[device.port]]
  protected = [0xEE]
  [[device.port]]
  protected = [0xEE]
)");
    uint32_t count = 0;
    int32_t status = 0;
    tSMBusHandle **handles = ZELSMBusOpenList(&count, &status);
    ASSERT_NE(handles, nullptr);
    ASSERT_EQ(count, 4u);
    std::vector<std::pair<int, int>> order;
    for (uint32_t i = 0; i < count; ++i) order.push_back(locate(handles[i]));
    EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{1, 0}, {0, 0}, {1, 1}, {0, 1}}));
    ZELSMBusCloseList(count, handles);
}

TEST_F(Open, ListFollowsIdentityOrderWithSubsystemMostSignificant) {
    loadWorld(kThreeDevices);
    uint32_t count = 0;
    int32_t status = 12345;  // a warning on entry is left alone
    tSMBusHandle **handles = ZELSMBusOpenListEx(nullptr, &count, &status);
    ASSERT_NE(handles, nullptr);
    EXPECT_EQ(status, 12345);
    ASSERT_EQ(count, 5u);
    std::vector<std::pair<int, int>> order;
    for (uint32_t i = 0; i < count; ++i) order.push_back(locate(handles[i]));
    EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{2, 0}, {2, 1}, {2, 2}, {1, 0}, {0, 0}}));
    ZELSMBusCloseList(count, handles);
}

TEST_F(Open, ListStatusRules) {
    uint32_t count = 77;
    EXPECT_EQ(ZELSMBusOpenList(&count, nullptr), nullptr);
    int32_t status = -1;
    EXPECT_EQ(ZELSMBusOpenList(&count, &status), nullptr);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_GLOB), 0u);
    status = 0;
    EXPECT_EQ(ZELSMBusOpenListEx(nullptr, nullptr, &status), nullptr);
    EXPECT_EQ(status, -52005);
}

TEST_F(Open, TwoSessionsOnOneNameAreIndependent) {
    Session first("HOST::SMBUS0");
    auto *second = new Session("host::smbus0");
    ASSERT_NE(first.get(), nullptr);
    ASSERT_NE(second->get(), nullptr);
    EXPECT_NE(first.get(), second->get());

    uint8_t value = 0;
    zelsim_log_clear();
    ASSERT_EQ(ZELSMBusReadByte(first, 0x90, 0, 0, &value), 0);
    ASSERT_EQ(ZELSMBusReadByte(*second, 0x90, 0, 0, &value), 0);
    std::vector<zelsim_log_record> log = apitest::wireLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].fd, log[1].fd);

    delete second;
    EXPECT_EQ(ZELSMBusReadByte(first, 0x90, 0, 0, &value), 0);
    EXPECT_EQ(value, 25);
}

TEST_F(Open, CloseAcceptsNull) {
    EXPECT_EQ(ZELSMBusClose(nullptr), 0);
    ZELSMBusCloseList(5, nullptr);
}

TEST_F(Open, CreatesOneControllerPerPortAndClosesTheOthers) {
    Session session("ZELSMBUS::REMOTE");
    ASSERT_NE(session.get(), nullptr);
    // Every node the discovery opened is closed again, but the session's.
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_OPEN), 3u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), 2u);
}

// Every failing open leaves no handle and no controller (the sanitizer build
// reports a leak; the close count shows the descriptors went back).
struct OpenFailure {
    const char *what;
    void (*inject)();
    int32_t code;
    unsigned failedOpens = 0;  // node opens that fail and so need no close
};

class FailingOpen : public apitest::SimTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(FailingOpen, ReportsTheCauseAndReleasesEverything) {
    loadWorld(kThreeDevices);
    GetParam().inject();
    zelsim_clear_call_counts();
    tSMBusHandle *handle = nullptr;
    EXPECT_EQ(ZELSMBusOpen("ZELSMBUS::SYSTEM::1", &handle), GetParam().code);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE) + GetParam().failedOpens,
              zelsim_call_count(ZELSIM_CALL_OPEN));

    GetParam().inject();
    zelsim_clear_call_counts();
    uint32_t count = 99;
    int32_t status = 0;
    EXPECT_EQ(ZELSMBusOpenList(&count, &status), nullptr);
    EXPECT_EQ(status, GetParam().code);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE) + GetParam().failedOpens,
              zelsim_call_count(ZELSIM_CALL_OPEN));
}

INSTANTIATE_TEST_SUITE_P(
    Injected, FailingOpen,
    ::testing::Values(
        OpenFailure{"search", [] { zelsim_fail_glob(GLOB_ABORTED, 1); }, -52003},
        OpenFailure{"no driver", [] { zelsim_set_tree_present(0); }, -52006},
        OpenFailure{"numPorts", [] { zelsim_make_unopenable(1, "numPorts", EACCES); }, -52006},
        OpenFailure{"node path", [] { zelsim_make_unopenable(2, "interfacePath", EACCES); },
                    -52006},
        OpenFailure{"node open", [] { zelsim_fail_call(ZELSIM_CALL_OPEN, EMFILE, 1); }, -52000, 1},
        OpenFailure{"port flags", [] { zelsim_fail_command(0x04, EIO, 1); }, -52024},
        OpenFailure{"port text", [] { zelsim_set_driver_status(0x05, -52031, 1); }, -52031},
        OpenFailure{"protected list", [] { zelsim_fail_command(0x06, EBUSY, 1); }, -52031}),
    [](const ::testing::TestParamInfo<OpenFailure> &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (c == ' ') c = '_';
        return name;
    });

TEST_F(Open, FailureOnALaterPortDestroysTheControllersMadeBefore) {
    loadWorld(kThreeDevices);
    // Nodes 0 and 1 get their controllers; node 2 cannot be opened.
    static const char kMissing[] = "/nonexistent/zel-node";
    ASSERT_EQ(zelsim_set_interface_path(2, kMissing, sizeof kMissing - 1), 0);
    zelsim_clear_call_counts();
    tSMBusHandle *handle = nullptr;
    EXPECT_EQ(ZELSMBusOpen("LATE::PORT", &handle), -52006);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_OPEN), 2u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), 2u);
}

TEST_F(Open, ADeviceWithoutDeviceTextStillOpens) {
    zelsim_refuse_device_string(0, ENOTTY, 0);
    Session session("HOST::SMBUS0");
    EXPECT_NE(session.get(), nullptr);
    zelsim_refuse_device_string(0, 0, -52005);
    Session again("HOST::SMBUS1");
    EXPECT_NE(again.get(), nullptr);
}

}  // namespace

namespace {

// numPorts is read as four raw bytes into a cleared count: a one-byte file
// gives that byte, a five-byte file does not fit.
TEST_F(Open, PortCountComesFromTheRawProperty) {
    const uint8_t one[1] = {1};
    ASSERT_EQ(zelsim_set_property(0, "numPorts", one, sizeof one), 0);
    Session first("HOST::SMBUS0"), second;
    EXPECT_NE(first.get(), nullptr);
    EXPECT_EQ(second.open("HOST::SMBUS1"), -52006);

    const uint8_t five[5] = {2, 0, 0, 0, 0};
    ASSERT_EQ(zelsim_set_property(0, "numPorts", five, sizeof five), 0);
    EXPECT_EQ(second.open("HOST::SMBUS0"), -52019);
}

}  // namespace
