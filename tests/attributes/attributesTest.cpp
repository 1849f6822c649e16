#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../flashSupport/mockController.h"
#include "../flashSupport/virtualSleep.inc"
#include "api/tSMBusHandle.h"
#include "failingArrayNew.h"
#include "flash/flashAccess.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;
using flashtest::tFlashController;
using flashtest::tMockController;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::SetArgReferee;
using ::testing::StrictMock;

namespace {

const char kPortText[] = "port text";
const char kDeviceText[] = "device text";
const uint8_t kProtected[3] = {0xA0, 0xA2, 0xA4};

// Answers every get with a value whose bytes are all 0x11 at full width
// (texts and lists by their address).
void answerEverything(tMockController &c) {
    ON_CALL(c, getPciIds(_, _, _, _, _))
        .WillByDefault(DoAll(SetArgReferee<0>(0x1111), SetArgReferee<1>(0x1111),
                             SetArgReferee<2>(0x1111), SetArgReferee<3>(0x1111)));
    ON_CALL(c, getPciLocation(_, _, _, _, _))
        .WillByDefault(DoAll(SetArgReferee<0>(0x1111), SetArgReferee<1>(0x1111),
                             SetArgReferee<2>(0x1111), SetArgReferee<3>(0x1111)));
    ON_CALL(c, getPortString(_, _)).WillByDefault(SetArgReferee<0>(kPortText));
    ON_CALL(c, getDeviceString(_, _)).WillByDefault(SetArgReferee<0>(kDeviceText));
    ON_CALL(c, getProtectedAddresses(_, _, _))
        .WillByDefault(DoAll(SetArgReferee<0>(uint8_t(0x11)), SetArgReferee<1>(kProtected)));
    ON_CALL(c, getPortFlags(_, _, _))
        .WillByDefault(DoAll(SetArgReferee<0>(uint8_t(1)), SetArgReferee<1>(uint8_t(1))));
    ON_CALL(c, readRegister(_, _, _)).WillByDefault(SetArgReferee<1>(0x11111111u));
    ON_CALL(c, getAttribute1004(_, _)).WillByDefault(SetArgReferee<0>(uint8_t(0x11)));
    ON_CALL(c, getAttribute1005(_, _)).WillByDefault(SetArgReferee<0>(0x11111111u));
    ON_CALL(c, getAttribute2001(_, _)).WillByDefault(SetArgReferee<0>(0x11111111u));
    ON_CALL(c, getAttribute3001(_, _)).WillByDefault(SetArgReferee<0>(0x11111111u));
    ON_CALL(c, getAttribute3002(_, _)).WillByDefault(SetArgReferee<0>(0x11111111u));
    ON_CALL(c, getAttribute10001(_, _)).WillByDefault(SetArgReferee<0>(uint16_t(0x1111)));
    ON_CALL(c, getAttribute10002(_, _)).WillByDefault(SetArgReferee<0>(uint16_t(0x1111)));
    ON_CALL(c, getAttribute10003(_, _)).WillByDefault(SetArgReferee<0>(uint16_t(0x1111)));
    ON_CALL(c, getAttribute10004(_, _)).WillByDefault(SetArgReferee<0>(uint16_t(0x1111)));
    ON_CALL(c, getAttribute10005(_, _)).WillByDefault(SetArgReferee<0>(uint16_t(0x1111)));
}

struct WidthCase {
    uint32_t attribute;
    size_t width;
    uint64_t value;  // expected, at that width
};

class AttributeWidths : public ::testing::TestWithParam<WidthCase> {};

TEST_P(AttributeWidths, GetWritesExactlyTheAttributesWidth) {
    const WidthCase &c = GetParam();
    ::testing::NiceMock<tMockController> controller;
    answerEverything(controller);
    tSMBusHandle handle{&controller, 1, {0, 0}};
    uint8_t buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_EQ(ZELSMBusGetAttribute(&handle, c.attribute, buffer), 0);
    uint64_t value = 0;
    std::memcpy(&value, buffer, c.width);
    EXPECT_EQ(value, c.value);
    for (size_t i = c.width; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0xEE) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AttributeWidths,
    ::testing::Values(
        WidthCase{101, 2, 0x1111}, WidthCase{102, 2, 0x1111}, WidthCase{103, 2, 0x1111},
        WidthCase{104, 2, 0x1111}, WidthCase{105, 2, 0x1111}, WidthCase{106, 2, 0x1111},
        WidthCase{107, 2, 0x1111}, WidthCase{108, 2, 0x1111},
        WidthCase{301, 8, uint64_t(uintptr_t(kPortText))},
        WidthCase{302, 8, uint64_t(uintptr_t(kDeviceText))}, WidthCase{303, 4, 0x11111111},
        WidthCase{401, 1, 0x11}, WidthCase{402, 8, uint64_t(uintptr_t(kProtected))},
        WidthCase{1001, 4, 1}, WidthCase{1002, 4, 1}, WidthCase{1003, 4, 1},
        WidthCase{1004, 4, 0x11}, WidthCase{1005, 4, 0x11111111}, WidthCase{2001, 4, 0x11111111},
        WidthCase{3001, 4, 0x11111111}, WidthCase{3002, 4, 0x11111111}, WidthCase{10001, 2, 0x1111},
        WidthCase{10002, 2, 0x1111}, WidthCase{10003, 2, 0x1111}, WidthCase{10004, 2, 0x1111},
        WidthCase{10005, 2, 0x1111}, WidthCase{0x20000, 4, 0x11111111},
        WidthCase{0x2FFFF, 4, 0x11111111}));

TEST(AttributeAccess, FullAccessAttributesAreRefusedWithoutADriverCommand) {
    for (uint32_t attribute :
         {1004u, 3001u, 3002u, 10001u, 10002u, 10003u, 10004u, 10005u, 0x20004u, 0x2FFFFu}) {
        StrictMock<tMockController> controller;  // any call fails the test
        tSMBusHandle handle{&controller, 0, {0, 0}};
        uint32_t value = 0xEEEEEEEE;
        EXPECT_EQ(ZELSMBusGetAttribute(&handle, attribute, &value), -26983) << attribute;
        EXPECT_EQ(value, 0xEEEEEEEEu);
        if (attribute != 10004) {
            EXPECT_EQ(ZELSMBusSetAttribute(&handle, attribute, &value), -26983) << attribute;
        }
    }
}

TEST(AttributeAccess, FirmwareVersionNeedsNoAccessButTheRegisterRangeDoes) {
    StrictMock<tMockController> controller;
    EXPECT_CALL(controller, readRegister(4u, _, _)).WillOnce(SetArgReferee<1>(0x0102u));
    tSMBusHandle handle{&controller, 0, {0, 0}};
    uint32_t value = 0;
    EXPECT_EQ(ZELSMBusGetAttribute(&handle, 303, &value), 0);
    EXPECT_EQ(value, 0x0102u);
    EXPECT_EQ(ZELSMBusGetAttribute(&handle, 0x20004, &value), -26983);
}

TEST(AttributeAccess, UnrestrictedFlagOpensFullAccess) {
    StrictMock<tMockController> controller;
    EXPECT_CALL(controller, writeRegister(0x10u, 0xCAFEu, _));
    EXPECT_CALL(controller, setAttribute3001(7u, _));
    tSMBusHandle handle{&controller, 0, {0, 0}};
    uint32_t flag = 0xEE;
    EXPECT_EQ(ZELSMBusGetAttribute(&handle, 1001, &flag), 0);
    EXPECT_EQ(flag, 0u);
    const uint32_t on = 42;
    EXPECT_EQ(ZELSMBusSetAttribute(&handle, 1001, &on), 0);
    EXPECT_EQ(handle.unrestricted, 1);
    EXPECT_EQ(ZELSMBusGetAttribute(&handle, 1001, &flag), 0);
    EXPECT_EQ(flag, 1u);
    const uint32_t data = 0xCAFE, seven = 7;
    EXPECT_EQ(ZELSMBusSetAttribute(&handle, 0x20010, &data), 0);
    EXPECT_EQ(ZELSMBusSetAttribute(&handle, 3001, &seven), 0);
}

TEST(AttributeAccess, SetsPassTheValueAtItsWidthAnd1004Normalised) {
    StrictMock<tMockController> controller;
    EXPECT_CALL(controller, setAttribute1004(uint8_t(1), _));
    EXPECT_CALL(controller, setAttribute1004(uint8_t(0), _));
    EXPECT_CALL(controller, setAttribute10002(uint16_t(0xBEEF), _));
    EXPECT_CALL(controller, setAttribute1005(0x12345678u, _));
    tSMBusHandle handle{&controller, 1, {0, 0}};
    const uint32_t big = 0x100, zero = 0;  // 0x100 is true although its low byte is 0
    EXPECT_EQ(ZELSMBusSetAttribute(&handle, 1004, &big), 0);
    EXPECT_EQ(ZELSMBusSetAttribute(&handle, 1004, &zero), 0);
    const uint16_t word = 0xBEEF;
    EXPECT_EQ(ZELSMBusSetAttribute(&handle, 10002, &word), 0);
    const uint32_t wide = 0x12345678;
    EXPECT_EQ(ZELSMBusSetAttribute(&handle, 1005, &wide), 0);
}

TEST(AttributeAccess, UnknownReadOnlyAndMissingArgumentsAreRefused) {
    StrictMock<tMockController> controller;
    tSMBusHandle handle{&controller, 1, {0, 0}};
    uint64_t value = 1;
    for (uint32_t attribute : {0u, 100u, 109u, 304u, 1007u, 10006u, 0x1FFFFu, 0x30000u}) {
        EXPECT_EQ(ZELSMBusGetAttribute(&handle, attribute, &value), -52005) << attribute;
        EXPECT_EQ(ZELSMBusSetAttribute(&handle, attribute, &value), -52005) << attribute;
    }
    for (uint32_t attribute :
         {101u, 104u, 108u, 301u, 302u, 303u, 401u, 402u, 1002u, 1003u, 10004u})
        EXPECT_EQ(ZELSMBusSetAttribute(&handle, attribute, &value), -52005) << attribute;
    EXPECT_EQ(ZELSMBusGetAttribute(nullptr, 101, &value), -52006);
    EXPECT_EQ(ZELSMBusSetAttribute(nullptr, 1001, nullptr), -52006);
    EXPECT_EQ(ZELSMBusGetAttribute(&handle, 101, nullptr), -52005);
    EXPECT_EQ(ZELSMBusSetAttribute(&handle, 1001, nullptr), -52005);
}

TEST(AttributeAccess, ValueIsWrittenOnSuccessAndWarningButNotOnError) {
    ::testing::NiceMock<tMockController> controller;
    tSMBusHandle handle{&controller, 0, {0, 0}};
    EXPECT_CALL(controller, getAttribute2001(_, _))
        .WillOnce([](uint32_t &v, tStatus &s) {
            v = 5;
            ZELSMBUS_SET_CODE(s, -52024);
        })
        .WillOnce([](uint32_t &v, tStatus &s) {
            v = 6;
            ZELSMBUS_SET_CODE(s, 50254);
        });
    uint32_t value = 0xEE;
    EXPECT_EQ(ZELSMBusGetAttribute(&handle, 2001, &value), -52024);
    EXPECT_EQ(value, 0xEEu);
    EXPECT_EQ(ZELSMBusGetAttribute(&handle, 2001, &value), 50254);
    EXPECT_EQ(value, 6u);
}

// ---- the configuration flag (1006) on the flash model ----------------------

constexpr uint32_t kFlagAddress = 2 * 0x8000 + 8179 * 4;

class ConfigFlag : public ::testing::Test {
protected:
    uint32_t flagWord() const {
        uint8_t bytes[4];
        controller.model.readArray(kFlagAddress, bytes, 4);
        return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
               bytes[3];
    }
    void setFlagWord(uint32_t word) {
        const uint8_t bytes[4] = {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8),
                                  uint8_t(word)};
        controller.model.writeArray(kFlagAddress, bytes, 4);
    }
    std::vector<uint8_t> block2() const {
        std::vector<uint8_t> bytes(0x8000);
        controller.model.readArray(0x10000, bytes.data(), bytes.size());
        return bytes;
    }
    bool eraseOrProgramSent() const {
        for (const auto &access : controller.log)
            if (access.write && access.offset == 64 &&
                (access.value >> 24 == 0xD8 || access.value >> 24 == 0x02))
                return true;
        return false;
    }
    uint32_t get() {
        uint32_t value = 0xEE;
        EXPECT_EQ(ZELSMBusGetAttribute(&handle, 1006, &value), 0);
        return value;
    }
    int32_t set(uint32_t value) { return ZELSMBusSetAttribute(&handle, 1006, &value); }

    tFlashController controller{kFlashId1010};
    tSMBusHandle handle{&controller, 0, {0, 0}};
    bool dropped = false;
    uint64_t hungAt = 0;
};

TEST_F(ConfigFlag, SetAndClearRewriteOnlyTheFlagBits) {
    const std::vector<uint8_t> before = block2();
    EXPECT_EQ(get(), 0u);  // factory word 0x200100
    EXPECT_EQ(set(5), 0);
    EXPECT_EQ(flagWord(), 0x200103u);
    EXPECT_EQ(get(), 1u);
    EXPECT_EQ(set(0), 0);
    EXPECT_EQ(flagWord(), 0x200100u);
    EXPECT_EQ(block2(), before);
}

TEST_F(ConfigFlag, SettingTheStateItAlreadyHasWritesNothing) {
    controller.log.clear();
    EXPECT_EQ(set(0), 0);
    EXPECT_FALSE(eraseOrProgramSent());
}

TEST_F(ConfigFlag, ErasedWordStartsFromTheFactoryValue) {
    setFlagWord(0xFFFFFFFF);
    EXPECT_EQ(get(), 0u);
    EXPECT_EQ(set(1), 0);
    EXPECT_EQ(flagWord(), 0x200103u);
    setFlagWord(0xFFFFFFFF);
    EXPECT_EQ(set(0), 0);
    EXPECT_EQ(flagWord(), 0x200100u);
}

TEST_F(ConfigFlag, BlockThatDoesNotReadBackIsPutBack) {
    const std::vector<uint8_t> before = block2();
    controller.model.dropPrograms = 1;  // the first page of the new block does not take
    EXPECT_EQ(set(1), -52003);
    EXPECT_EQ(block2(), before);
}

TEST_F(ConfigFlag, FlagWordThatDoesNotTakeIsReported) {
    const std::vector<uint8_t> before = block2();
    controller.onWrite = [this](uint32_t offset, uint32_t value) {
        // Page 127 carries the flag word: it is lost the first time.
        if (offset == 64 && value == 0x02000000u + 0x10000 + 127 * 256 && !dropped) {
            dropped = true;
            controller.model.dropPrograms = 1;
        }
    };
    EXPECT_EQ(set(1), -52003);
    EXPECT_EQ(block2(), before);
}

TEST_F(ConfigFlag, OutOfMemoryIsReportedBeforeTheBlockIsErased) {
    const std::vector<uint8_t> before = block2();
    uint32_t value = 0xEE;
    attrtest::failArrayNew(kConfigBlockBytes);
    EXPECT_EQ(ZELSMBusGetAttribute(&handle, 1006, &value), -52000);
    EXPECT_EQ(value, 0xEEu);
    // Setting needs two copies of the block: the first, then the one kept to put it back.
    for (unsigned nth : {1u, 2u}) {
        controller.log.clear();
        attrtest::failArrayNew(kConfigBlockBytes, nth);
        EXPECT_EQ(set(1), -52000) << "allocation " << nth;
        EXPECT_FALSE(eraseOrProgramSent()) << "allocation " << nth;
    }
    attrtest::failArrayNew(0);
    EXPECT_EQ(block2(), before);
    EXPECT_EQ(set(1), 0);
}

TEST_F(ConfigFlag, OtherFlashDevicesHaveNoFlag) {
    tFlashController other(kFlashIdBF8E);
    tSMBusHandle otherHandle{&other, 1, {0, 0}};
    uint32_t value = 0xEE;
    EXPECT_EQ(ZELSMBusGetAttribute(&otherHandle, 1006, &value), -52002);
    EXPECT_EQ(ZELSMBusSetAttribute(&otherHandle, 1006, &value), -52002);
    EXPECT_EQ(value, 0xEEu);
}

TEST_F(ConfigFlag, BusyFlashTimesOutAndTheBlockIsPutBack) {
    const std::vector<uint8_t> before = block2();
    // The flash hangs once the erase of block 2 has been sent.
    controller.onWrite = [this](uint32_t offset, uint32_t value) {
        if (offset == 68 && value == 0x204 && !dropped) {
            uint32_t command = 0;
            controller.model.read(64, command);
            if (command >> 24 == 0xD8) {
                dropped = true;
                hungAt = flashtest::gClockNs;
                controller.model.deviceStuckBusy = true;
            }
        }
        // It answers again once the polling has given up: the release finds
        // it ready, and the block is put back.
        if (offset == 64 && value == 0x05000000 && dropped &&
            flashtest::gClockNs >= hungAt + 6'000'000'000ull)
            controller.model.deviceStuckBusy = false;
    };
    EXPECT_EQ(set(1), -52007);
    EXPECT_EQ(block2(), before);
}

// Once block 2's erase was sent, a flash that stays busy, or requests that
// all fail, leave nothing to put the block back with or to show it is still
// there: the call says the block is damaged, and a busy flash is not erased
// a second time.
TEST_F(ConfigFlag, BlockNotShownBackAfterTheEraseIsDamaged) {
    for (const bool busy : {true, false}) {
        SCOPED_TRACE(busy ? "busy for good" : "requests fail");
        tFlashController flash{kFlashId1010};
        tSMBusHandle session{&flash, 0, {0, 0}};
        unsigned erases = 0;
        flash.onWrite = [&](uint32_t offset, uint32_t value) {
            uint32_t command = 0;
            flash.model.read(64, command);
            if (offset != 68 || value != 0x204 || command >> 24 != 0xD8) return;
            ++erases;
            if (busy)
                flash.model.deviceStuckBusy = true;
            else
                flash.failRequests = true;
        };
        const uint32_t on = 1;
        EXPECT_EQ(ZELSMBusSetAttribute(&session, 1006, &on), ZELSMBUS_ERROR_REGION_DAMAGED);
        EXPECT_EQ(erases, 1u);
    }
}

}  // namespace
