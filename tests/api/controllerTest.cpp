// The proxy controller on a simulated node: what it caches at creation and the
// output rules of its identity queries.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "controller/tProxySMBusController.h"
#include "simWorld.h"

using nZELSMBUS000::tProxySMBusController;
using nZELSMBUS000::tStatus;
using nZELSMBUS000::nZELOSAL000::tDeviceInterfacePath;

namespace {

const char *kWorld = R"(
[[device]]
vendor_id = 0x8086
device_id = 0x1234
subsystem_vendor_id = 0x8087
subsystem_id = 0x0007
bus = 3
device = 4
function = 5
device_string = "Test controller"
  [[device.port]]
  text = "FIRST"
  protected = [0xEE]
  [[device.port]]
  text = "0123456789012345678901234567890123456789012345678901234567890123"
  chassis_eeprom = true
  extended_protection = true
  protected = [0x10, 0x20]
  [[device.port]]
  chassis_eeprom = true
  protected = [0x10, 0x20]
)";

class Controller : public apitest::SimTest {
protected:
    void SetUp() override {
        apitest::SimTest::SetUp();
        loadWorld(kWorld);
        const char *path = zelsim_node_path(0);
        ASSERT_NE(path, nullptr);
        std::strncpy(node.path, path, sizeof node.path - 1);
        node.length = std::strlen(node.path) + 1;
    }
    tProxySMBusController *create(uint16_t port, tStatus &status) {
        return tProxySMBusController::create(node, port, status);
    }
    tDeviceInterfacePath node{};
};

std::vector<uint8_t> protectedList(tProxySMBusController &controller) {
    tStatus status;
    uint8_t count = 0;
    const uint8_t *list = nullptr;
    controller.getProtectedAddresses(count, list, status);
    return list == nullptr ? std::vector<uint8_t>{} : std::vector<uint8_t>(list, list + count);
}

TEST_F(Controller, CachesPortDataAndAddsTheFixedAddressesWhenBothFlagsAreSet) {
    tStatus status;
    tProxySMBusController *first = create(0, status);
    tProxySMBusController *both = create(1, status);
    tProxySMBusController *one = create(2, status);
    ASSERT_TRUE(first && both && one) << status.code;

    zelsim_clear_call_counts();
    EXPECT_EQ(protectedList(*first), std::vector<uint8_t>{0xEE});
    EXPECT_EQ(protectedList(*both),
              (std::vector<uint8_t>{0x10, 0x20, 0x58, 0x5A, 0x5C, 0xC6, 0xC8}));
    EXPECT_EQ(protectedList(*one), (std::vector<uint8_t>{0x10, 0x20}));

    const char *text = nullptr;
    both->getPortString(text, status);
    EXPECT_STREQ(text, "0123456789012345678901234567890123456789012345678901234567890123");
    first->getDeviceString(text, status);
    EXPECT_STREQ(text, "Test controller");
    uint8_t chassis = 9, extended = 9;
    one->getPortFlags(chassis, extended, status);
    EXPECT_EQ(chassis, 1);
    EXPECT_EQ(extended, 0);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_IOCTL), 0u);  // all cached

    delete first;
    delete both;
    delete one;
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), 3u);
}

TEST_F(Controller, IdentityOutputsFollowTheDriverWord) {
    tStatus status;
    tProxySMBusController *controller = create(1, status);
    ASSERT_NE(controller, nullptr);

    uint16_t ids[4] = {1, 1, 1, 1}, location[4] = {1, 1, 1, 1};
    zelsim_set_driver_status(0x02, -52024, 1);
    controller->getPciIds(ids[0], ids[1], ids[2], ids[3], status);
    EXPECT_EQ(status.code, -52024);
    EXPECT_EQ(ids[0], 1);  // an error delivers nothing

    tStatus warned;
    zelsim_set_driver_status(0x02, 77, 1);
    zelsim_set_driver_status(0x03, 78, 1);
    controller->getPciIds(ids[0], ids[1], ids[2], ids[3], warned);
    controller->getPciLocation(location[0], location[1], location[2], location[3], warned);
    EXPECT_EQ(warned.code, 77);
    EXPECT_EQ(std::vector<uint16_t>(ids, ids + 4),
              (std::vector<uint16_t>{0x8086, 0x1234, 0x8087, 7}));
    EXPECT_EQ(std::vector<uint16_t>(location, location + 4), (std::vector<uint16_t>{3, 4, 5, 1}));
    // The warning travels to the driver as the caller's status word.
    EXPECT_EQ(apitest::field(apitest::wireLog().back().in, 0, 4), 77u);
    delete controller;
}

TEST_F(Controller, RefusedDeviceTextStillMakesAController) {
    zelsim_refuse_device_string(0, ENOTTY, 0);
    tStatus status;
    tProxySMBusController *controller = create(0, status);
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(status.code, 0);
    const char *text = "unchanged";
    controller->getDeviceString(text, status);
    EXPECT_EQ(status.code, -52002);
    EXPECT_STREQ(text, "unchanged");
    delete controller;
}

TEST_F(Controller, FailedCreationClosesTheNode) {
    tStatus status;
    zelsim_clear_call_counts();
    zelsim_fail_command(0x05, EIO, 1);
    EXPECT_EQ(create(0, status), nullptr);
    EXPECT_EQ(status.code, -52024);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_OPEN), 1u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), 1u);

    // An error already in the status: nothing is opened.
    EXPECT_EQ(create(0, status), nullptr);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_OPEN), 1u);
}

}  // namespace
