// What discovery makes of unusual driver answers while it builds and orders
// the controllers: a warning while a port is read, a key query that fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "simWorld.h"

namespace apitest {
namespace {

constexpr unsigned kPortFlagsCommand = 0x04;
constexpr unsigned kPciIdsCommand = 0x02;
constexpr unsigned kPciLocationCommand = 0x03;
constexpr int32_t kDriverWarning = 50254;

class DiscoveryQueries : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        const char *world =
            "[[device]]\nvendor_id = 0x8086\ndevice_id = 1\nbus = 1\n"
            "  [[device.port]]\n  text = \"GUARDED\"\n  protected = [0x20]\n"
            "  chassis_eeprom = true\n  extended_protection = true\n"
            "  [[device.port]]\n  text = \"PLAIN\"\n";
        ASSERT_EQ(zelsim_load_world_text(world), 0) << zelsim_last_error();
    }
    void TearDown() override { zelsim_reset(); }
};

// A warning on the port flags must not cut the port's construction short: the
// port keeps its text and its protected addresses, and the open reports the warning.
TEST_F(DiscoveryQueries, AWarningOnThePortFlagsKeepsTextAndProtection) {
    for (const char *name : {"GUARDED", "ZELSMBUS::SYSTEM::0::0"}) {
        SCOPED_TRACE(name);
        zelsim_set_driver_status(kPortFlagsCommand, kDriverWarning, 1);
        Session session;
        ASSERT_EQ(session.open(name), kDriverWarning);
        uint8_t data = 0;
        EXPECT_EQ(ZELSMBusReadByte(session, 0x20, 0, 0, &data), -26983);  // from the driver's list
        EXPECT_EQ(ZELSMBusReadByte(session, 0x58, 0, 0, &data), -26983);  // fixed, both flags set
        char *text = nullptr;
        ASSERT_EQ(ZELSMBusGetAttribute(session, 301, &text), 0);
        EXPECT_STREQ(text, "GUARDED");
    }
}

// The first identity and the first location query are those that place port 0.
TEST_F(DiscoveryQueries, AKeyThatCannotBeReadFailsTheOpen) {
    for (unsigned command : {kPciIdsCommand, kPciLocationCommand}) {
        SCOPED_TRACE(command);
        zelsim_clear_call_counts();
        zelsim_fail_command(command, EIO, 1);
        tSMBusHandle *handle = nullptr;
        EXPECT_LT(ZELSMBusOpen("PLAIN", &handle), 0);
        EXPECT_EQ(handle, nullptr);
        // Every node opened for a controller was closed again.
        EXPECT_GT(zelsim_call_count(ZELSIM_CALL_OPEN), 0u);
        EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), zelsim_call_count(ZELSIM_CALL_OPEN));
    }
}

}  // namespace
}  // namespace apitest
