// The resource-name list, byte for byte, through the export against the
// simulated driver and the stand-in chassis-query library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/tSMBusHandle.h"
#include "worlds.h"
#include "zelsim.h"
#include "zelsmbus.h"

#ifdef ZELQPXI_STAND_IN
#include "zelqpxiSim.h"
#endif

namespace names_test {
namespace {

// The whole block: names with their zero bytes, then the final zero byte.
std::string listBytes(const char *list) {
    std::string bytes;
    const char *p = list;
    while (*p != '\0') {
        const std::string name(p);
        bytes += name + '\0';
        p += name.size() + 1;
    }
    return bytes + '\0';
}

std::string joined(std::initializer_list<const char *> names) {
    std::string bytes;
    for (const char *name : names) bytes += std::string(name) + '\0';
    return bytes + '\0';
}

class ResourceNameList : public ::testing::Test {
protected:
    void TearDown() override { zelsim_reset(); }

    void loadWorld(const std::string &text) {
        ASSERT_EQ(zelsim_load_world_text(text.c_str()), 0) << zelsim_last_error();
    }
};

TEST_F(ResourceNameList, WithoutTheChassisQueryLibraryThereIsNoList) {
    loadWorld(device(kSystemVendor, 1, 0, 1, "P") + chassis(1, "ZELSMBUS"));
    ZELSMBusPutResourceNameList(nullptr);
    EXPECT_EQ(ZELSMBusGetResourceNameList(), nullptr);
}

#ifdef ZELQPXI_STAND_IN

class ResourceNameListWithChassis : public ResourceNameList {
protected:
    void SetUp() override {
        ASSERT_TRUE(standIn.loaded());
        tChassisQuery::reset();
    }
    void TearDown() override {
        // Every item and container the listing obtained was given back once.
        tChassisQuery::expectEverythingGivenBack();
        ResourceNameList::TearDown();
    }
    void failNth(const char *entryPoint, int32_t code, unsigned nth) {
        tChassisQuery::fail(entryPoint, code, nth);
    }
    std::string list() {
        char *block = ZELSMBusGetResourceNameList();
        if (block == nullptr) return "(null)";
        std::string bytes = listBytes(block);
        ZELSMBusPutResourceNameList(block);
        return bytes;
    }

    tStandIn standIn;
};

TEST_F(ResourceNameListWithChassis, NoChassisAndNoControllerIsOneZeroByte) {
    loadWorld("");
    EXPECT_EQ(list(), std::string(1, '\0'));
}

TEST_F(ResourceNameListWithChassis, OneSystemDeviceOfTwoPorts) {
    loadWorld(device(kSystemVendor, 1, 0, 2, "P"));
    EXPECT_EQ(list(), joined({"ZELSMBUS::SYSTEM::0::0", "ZELSMBUS::SYSTEM::0::1"}));
}

TEST_F(ResourceNameListWithChassis, BackplanesFirstThenPortsInSetOrderWithTwoNumberings) {
    // Subsystem values order the devices: system (1), remote (2), system (3).
    loadWorld(device(kSystemVendor, 3, 0, 1, "B") + device(kRemoteVendor, 2, 0, 1, "R") +
              device(kSystemVendor, 1, 0, 2, "A") + chassis(5, "zelsmbus only in lower case") +
              chassis(3, "slot of a ZELSMBUS controller") + chassis(70000, "ZELSMBUS"));
    EXPECT_EQ(list(), joined({"PXI0::3::BACKPLANE", "PXI0::70000::BACKPLANE",
                              "ZELSMBUS::SYSTEM::0::0", "ZELSMBUS::SYSTEM::0::1",
                              "ZELSMBUS::REMOTE::0::0", "ZELSMBUS::SYSTEM::1::0"}));
}

TEST_F(ResourceNameListWithChassis, AChassisWithoutReadableIdentityIsLeftOut) {
    loadWorld(chassis(1, "ZELSMBUS") + chassis(2, "ZELSMBUS"));
    // String reads in order: chassis 1 serial, its slot text, chassis 2 serial.
    failNth("zelqpxi_getStringAttribute", -1234, 3);
    EXPECT_EQ(list(), joined({"PXI0::1::BACKPLANE"}));
    EXPECT_EQ(tChassisQuery::calls("zelqpxi_openSlotByNumber"), 1u);
}

struct tFailureCase {
    const char *entryPoint;
    unsigned nth;
};

class ResourceNameListFailure : public ResourceNameListWithChassis,
                                public ::testing::WithParamInterface<tFailureCase> {};

TEST_P(ResourceNameListFailure, AnyOtherChassisQueryFailureGivesNoList) {
    loadWorld(device(kSystemVendor, 1, 0, 1, "A") + chassis(1, "ZELSMBUS") + chassis(2, "none"));
    failNth(GetParam().entryPoint, -4321, GetParam().nth);
    EXPECT_EQ(list(), "(null)");
}

INSTANTIATE_TEST_SUITE_P(Calls, ResourceNameListFailure,
                         ::testing::Values(tFailureCase{"zelqpxi_openPXISession", 1},
                                           tFailureCase{"zelqpxi_getItemContainer", 1},
                                           tFailureCase{"zelqpxi_ItemIterator_nextItem", 2},
                                           tFailureCase{"zelqpxi_openSlotByNumber", 2},
                                           tFailureCase{"zelqpxi_getStringAttribute",
                                                        2},  // a slot's text
                                           tFailureCase{"zelqpxi_getU32Attribute", 1}),
                         [](const auto &info) {
                             return std::string(info.param.entryPoint + 8) + "_" +
                                    std::to_string(info.param.nth);
                         });

TEST_F(ResourceNameListWithChassis, ADriverWithoutControllersStillListsBackplanes) {
    loadWorld(chassis(2, "ZELSMBUS"));
    zelsim_set_tree_present(0);
    EXPECT_EQ(list(), joined({"PXI0::2::BACKPLANE"}));
}

TEST_F(ResourceNameListWithChassis, EveryListedPortNameOpensItsPort) {
    loadWorld(device(kSystemVendor, 3, 0, 1, "B") + device(kRemoteVendor, 2, 0, 1, "R") +
              device(kSystemVendor, 1, 0, 2, "A"));
    const std::string expected[] = {"A0", "A1", "R0", "B0"};
    char *block = ZELSMBusGetResourceNameList();
    ASSERT_NE(block, nullptr);
    size_t index = 0;
    for (const char *name = block; *name != '\0'; name += std::strlen(name) + 1, ++index) {
        tSMBusHandle *handle = nullptr;
        ASSERT_EQ(ZELSMBusOpen(name, &handle), 0) << name;
        const char *text = nullptr;
        nZELSMBUS000::tStatus status;
        handle->controller->getPortString(text, status);
        ASSERT_LT(index, 4u);
        EXPECT_STREQ(text, expected[index].c_str()) << name;
        ZELSMBusClose(handle);
    }
    EXPECT_EQ(index, 4u);
    ZELSMBusPutResourceNameList(block);
}

#endif

}  // namespace
}  // namespace names_test
