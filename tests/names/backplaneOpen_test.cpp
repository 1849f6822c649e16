// Opening a backplane name end to end: the chassis identity from the stand-in
// chassis-query library against the chassis EEPROM behind each port.
#include <gtest/gtest.h>

#include <string>

#include "api/tSMBusHandle.h"
#include "worlds.h"
#include "zelsim.h"
#include "zelsmbus.h"

#ifdef ZELQPXI_STAND_IN
#include "zelqpxi_sim.h"
#endif

namespace names_test {
namespace {

std::string portText(tSMBusHandle *handle) {
    const char *text = nullptr;
    nZELSMBUS000::tStatus status;
    handle->controller->getPortString(text, status);
    return text != nullptr ? text : "";
}

class BackplaneOpen : public ::testing::Test {
protected:
    void TearDown() override { zelsim_reset(); }
    void loadWorld(const std::string &text) {
        ASSERT_EQ(zelsim_load_world_text(text.c_str()), 0) << zelsim_last_error();
    }
};

TEST_F(BackplaneOpen, WithoutTheChassisQueryLibraryOnlyBackplaneNamesFail) {
    loadWorld(
        device(kRemoteVendor, 2, 0, 1, "CHASSIS", "  chassis = 1\n  chassis_eeprom = true\n") +
        chassis(1, "ZELSMBUS"));
    tSMBusHandle *handle = nullptr;
    EXPECT_EQ(ZELSMBusOpen("PXI0::1::BACKPLANE", &handle), -52005);
    EXPECT_EQ(handle, nullptr);
    ASSERT_EQ(ZELSMBusOpen("ZELSMBUS::REMOTE::0::0", &handle), 0);
    ZELSMBusClose(handle);
    ASSERT_EQ(ZELSMBusOpen("chassis0", &handle), 0);
    ZELSMBusClose(handle);
}

#ifdef ZELQPXI_STAND_IN

class BackplaneOpenWithChassis : public BackplaneOpen {
protected:
    void SetUp() override {
        ASSERT_TRUE(standIn.loaded());
        standIn.function<decltype(&zelqpxi_sim_reset)>("zelqpxi_sim_reset")();
    }
    void TearDown() override {
        EXPECT_EQ(standIn.function<decltype(&zelqpxi_sim_open_items)>("zelqpxi_sim_open_items")(),
                  0u);
        EXPECT_EQ(standIn.function<decltype(&zelqpxi_sim_bad_handles)>("zelqpxi_sim_bad_handles")(),
                  0u);
        BackplaneOpen::TearDown();
    }
    // Opens `name`; on success returns the opened port's text and closes it.
    std::string open(const char *name, int32_t &code) {
        tSMBusHandle *handle = nullptr;
        code = ZELSMBusOpen(name, &handle);
        if (code != 0) {
            EXPECT_EQ(handle, nullptr);
            return "";
        }
        std::string text = portText(handle);
        ZELSMBusClose(handle);
        return text;
    }

    tStandIn standIn;
};

const std::string kChassisPort = "  chassis = 4\n  chassis_eeprom = true\n";

TEST_F(BackplaneOpenWithChassis, OpensThePortWhoseChassisEepromCarriesTheIdentity) {
    loadWorld(device(kSystemVendor, 1, 0, 1, "HOST") +
              device(kRemoteVendor, 2, 0, 1, "OTHER", "  chassis = 3\n  chassis_eeprom = true\n") +
              device(kRemoteVendor, 3, 0, 1, "MINE", kChassisPort) +
              chassis(3, "ZELSMBUS", "M3", "V3", "S3") + chassis(4, "ZELSMBUS", "M4", "V4", "S4"));
    int32_t code = 0;
    EXPECT_EQ(open("PXI0::4::BACKPLANE", code), "MINE0");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(open("pxi1::3::backplane", code), "OTHER0");
    EXPECT_EQ(code, 0);
}

TEST_F(BackplaneOpenWithChassis, TheFirstPortCarryingAllThreeWholeTextsIsChosen) {
    // In set order: chassis 3 differs from chassis 1 only in its vendor,
    // chassis 2's model continues where chassis 1's ends, and both ports of
    // the last device sit behind chassis 1.
    auto behind = [](unsigned chassisNumber) {
        return "  chassis = " + std::to_string(chassisNumber) + "\n  chassis_eeprom = true\n";
    };
    loadWorld(device(kRemoteVendor, 1, 0, 1, "THREE", behind(3)) +
              device(kRemoteVendor, 2, 0, 1, "TWO", behind(2)) +
              device(kRemoteVendor, 3, 0, 2, "ONE", behind(1)) +
              chassis(1, "ZELSMBUS", "Chassis Model", "Vendor", "SN1") +
              chassis(2, "ZELSMBUS", "Chassis Model 2", "Vendor", "SN1") +
              chassis(3, "ZELSMBUS", "Chassis Model", "Other Vendor", "SN1"));
    int32_t code = 0;
    EXPECT_EQ(open("PXI0::1::BACKPLANE", code), "ONE0");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(open("PXI0::2::BACKPLANE", code), "TWO0");
    EXPECT_EQ(open("PXI0::3::BACKPLANE", code), "THREE0");
}

TEST_F(BackplaneOpenWithChassis, ATextLongerThanItsFieldMatchesItsFirstCharacters) {
    const std::string model(75, 'm'), vendor(45, 'v'), serial(20, 's');
    loadWorld(device(kRemoteVendor, 2, 0, 1, "MINE", kChassisPort) +
              chassis(4, "ZELSMBUS", model, vendor, serial));
    int32_t code = 0;
    EXPECT_EQ(open("PXI0::4::BACKPLANE", code), "MINE0");
    EXPECT_EQ(code, 0);
}

TEST_F(BackplaneOpenWithChassis, AFieldThatStopsEarlierDoesNotMatch) {
    loadWorld(device(kRemoteVendor, 2, 0, 1, "MINE", kChassisPort) +
              chassis(4, "ZELSMBUS", "Model", "Vendor", "Serial12"));
    // Cut the serial field (offset 106) after "Serial".
    const uint8_t zero = 0;
    ASSERT_EQ(zelsim_eeprom_write(0, 0, 0xA4, 106 + 6, &zero, 1), 0);
    int32_t code = 0;
    open("PXI0::4::BACKPLANE", code);
    EXPECT_EQ(code, -52006);
}

TEST_F(BackplaneOpenWithChassis, PortsWithoutTheChassisEepromFlagAreNeverChosen) {
    // Both ports sit behind chassis 4's EEPROM; only the second may read it.
    loadWorld(device(kRemoteVendor, 2, 0, 1, "NOFLAG", "  chassis = 4\n") +
              device(kRemoteVendor, 3, 0, 1, "FLAG", kChassisPort) +
              chassis(4, "ZELSMBUS", "M", "V", "S"));
    int32_t code = 0;
    EXPECT_EQ(open("PXI0::4::BACKPLANE", code), "FLAG0");

    loadWorld(device(kRemoteVendor, 2, 0, 1, "NOFLAG", "  chassis = 4\n") +
              chassis(4, "ZELSMBUS", "M", "V", "S"));
    open("PXI0::4::BACKPLANE", code);
    EXPECT_EQ(code, -52006);
}

TEST_F(BackplaneOpenWithChassis, ChassisQueryFailuresGiveTheirCode) {
    loadWorld(device(kRemoteVendor, 2, 0, 1, "MINE", kChassisPort) + chassis(4, "ZELSMBUS"));
    int32_t code = 0;
    open("PXI0::9::BACKPLANE", code);
    EXPECT_EQ(code, ZELQPXI_SIM_NOT_FOUND);
    standIn.function<decltype(&zelqpxi_sim_fail)>("zelqpxi_sim_fail")("zelqpxi_getStringAttribute",
                                                                      -777, 3);
    open("PXI0::4::BACKPLANE", code);
    EXPECT_EQ(code, -777);
}

TEST_F(BackplaneOpenWithChassis, WithoutControllersTheNameFindsNone) {
    loadWorld(chassis(4, "ZELSMBUS"));
    int32_t code = 0;
    open("PXI0::4::BACKPLANE", code);
    EXPECT_EQ(code, -52006);
}

#endif

}  // namespace
}  // namespace names_test
