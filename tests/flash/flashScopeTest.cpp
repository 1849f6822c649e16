// Ending what a flash operation started: the release brings each device from
// the state an interrupted operation leaves back to rest, and a scope runs it
// only when the operation inside it failed.
#include "flash/flashScope.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <vector>

#include "../flashSupport/mockController.h"
#include "flash/flashAccess.h"

using namespace nZELSMBUS000;
using flashtest::gClockNs;
using flashtest::tFlashController;

namespace {

struct tHeldCase {
    const char *name;
    uint16_t flashId;
    tFlashHold hold;
    // Drives the device into the state an operation cut short leaves.
    std::function<void(tFlashController &, tStatus &)> interrupt;
};

void beginAutoIncrement(tFlashController &c, tStatus &s) {
    setFlashWriteEnable(c, kFlashIdBF8E, true, s);
    flashCommand(c, 0x70000000, 0x201, s);
    flashCommand(c, 0xAD080000, 0x704, s);
    flashCommand(c, 0x12340000, 0x202, s);
}

void beginPageProgram(tFlashController &c, tStatus &s) {
    setFlashWriteEnable(c, kFlashId1010, true, s);
    flashCommand(c, 0x02000100, 0x304, s);
    flashCommand(c, 0x00000000, 0x304, s);  // one data word, the flash still selected
}

void beginErase(tFlashController &c, tStatus &s) {
    setFlashWriteEnable(c, kFlashId1010, true, s);
    flashCommand(c, 0xD8008000, 0x204, s);
}

void beginIndirectPage(tFlashController &c, tStatus &s) {
    setFlashWriteEnable(c, kFlashId9D17, true, s);
    c.writeRegister(nFlashRegister::kIndirectAddress, kIndirectRegionBase, s);
    c.writeRegister(nFlashRegister::kIndirectControl, 1, s);
    c.writeRegister(nFlashRegister::kIndirectWriteData, 0x1234, s);
}

void beginRead(tFlashController &c, tStatus &s) { flashCommand(c, 0x03000000, 0x304, s); }

const tHeldCase kHeldCases[] = {
    {"0xBF8E in auto-increment programming, unprotected", kFlashIdBF8E, tFlashHold::writeProcedure,
     beginAutoIncrement},
    {"0x1010 page program left selected", kFlashId1010, tFlashHold::writeProcedure,
     beginPageProgram},
    {"0x1010 erasing, write enable latched again", kFlashId1010, tFlashHold::writeProcedure,
     [](tFlashController &c, tStatus &s) {
         beginErase(c, s);
         flashCommand(c, 0x06000000, 0x201, s);  // ignored while busy
     }},
    {"0x9D17 page transfer open with data", kFlashId9D17, tFlashHold::writeProcedure,
     beginIndirectPage},
    {"0x9D17 transfer alone", kFlashId9D17, tFlashHold::indirectTransfer, beginIndirectPage},
    {"serial read left selected", kFlashId1010, tFlashHold::serialTransfer, beginRead},
    {"0x1010 write enable latched, nothing started", kFlashId1010, tFlashHold::writeProcedure,
     [](tFlashController &c, tStatus &s) { setFlashWriteEnable(c, kFlashId1010, true, s); }},
};

void PrintTo(const tHeldCase &c, std::ostream *out) { *out << c.name; }

class FlashRelease : public ::testing::TestWithParam<tHeldCase> {
protected:
    void SetUp() override { gClockNs = 0; }
};

TEST_P(FlashRelease, BringsTheDeviceBackToRest) {
    const tHeldCase &c = GetParam();
    tFlashController controller(c.flashId);
    tStatus status;
    c.interrupt(controller, status);
    ASSERT_FALSE(status.isFatal());
    const auto held = controller.model.state();
    ASSERT_TRUE(held.selected || held.writeEnabled || held.busy || held.autoIncrement ||
                held.indirectTransferOpen);

    tStatus own;
    releaseFlash(controller, c.flashId, c.hold, own);
    EXPECT_FALSE(own.isFatal()) << own.code;
    const auto rest = controller.model.state();
    EXPECT_FALSE(rest.selected);
    EXPECT_FALSE(rest.indirectTransferOpen);
    if (c.hold == tFlashHold::serialTransfer) return;  // a transfer's release ends only it
    EXPECT_FALSE(rest.writeEnabled);
    EXPECT_FALSE(rest.busy);
    EXPECT_FALSE(rest.autoIncrement);
    EXPECT_FALSE(rest.resetGranted);
    if (c.flashId == kFlashIdBF8E) {
        EXPECT_EQ(rest.protection, 0x3C);
    }
    if (c.flashId == kFlashId9D17) {
        // The half-filled page was discarded, not programmed.
        uint8_t bytes[2];
        controller.model.readArray(kIndirectRegionBase, bytes, 2);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xFF);
    }
}

INSTANTIATE_TEST_SUITE_P(Held, FlashRelease, ::testing::ValuesIn(kHeldCases),
                         [](const ::testing::TestParamInfo<tHeldCase> &info) {
                             return "case" + std::to_string(info.index);
                         });

TEST(FlashScope, ReleasesOnlyWhenTheOperationInsideFailed) {
    tFlashController controller(kFlashIdBF8E);
    tStatus status;
    {
        const tFlashScope scope(controller, kFlashIdBF8E, tFlashHold::writeProcedure, status);
        beginAutoIncrement(controller, status);
    }
    EXPECT_TRUE(controller.model.state().autoIncrement) << "a successful scope leaves the "
                                                           "closing steps to the operation";
    {
        const tFlashScope scope(controller, kFlashIdBF8E, tFlashHold::writeProcedure, status);
        ZELSMBUS_SET_CODE(status, -52024);
    }
    EXPECT_FALSE(controller.model.state().autoIncrement);
    EXPECT_EQ(controller.model.state().protection, 0x3C);
    EXPECT_EQ(status.code, -52024) << "the first failure stays";

    // An error held before the scope began: nothing was started, nothing is sent.
    tStatus fresh;
    beginAutoIncrement(controller, fresh);
    controller.log.clear();
    { const tFlashScope scope(controller, kFlashIdBF8E, tFlashHold::writeProcedure, status); }
    EXPECT_TRUE(controller.log.empty());
}

}  // namespace
