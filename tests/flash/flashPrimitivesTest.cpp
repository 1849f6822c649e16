// The flash primitives against the simulator's flash model in-process, judged
// by what the device holds and what state it is left in (selected, write
// latch, protection, busy, the indirect port), not by the exact register
// accesses: any sequence that gets there is right.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "../flashSupport/mockController.h"
#include "../flashSupport/virtualSleep.inc"
#include "driver/sleep.h"
#include "flash/flashAccess.h"
#include "flash/flashBitOrder.h"

using namespace nZELSMBUS000;
using flashtest::gClockNs;
using flashtest::gSleepCalls;
using flashtest::tFlashController;
using ::testing::_;

namespace {

class FlashPrimitives : public ::testing::Test {
protected:
    void SetUp() override {
        gClockNs = 0;
        gSleepCalls = 0;
    }

    // Nothing left open: no serial command selected, no write latch, no
    // indirect transfer or reset access, and 0xBF8E protected.
    static void expectAtRest(const tFlashController &controller, const char *what = "") {
        const auto state = controller.model.state();
        EXPECT_FALSE(state.selected) << what << " left instruction 0x" << std::hex
                                     << unsigned(state.openInstruction) << " open";
        EXPECT_FALSE(state.writeEnabled) << what;
        EXPECT_FALSE(state.indirectTransferOpen) << what;
        EXPECT_FALSE(state.resetGranted) << what;
        EXPECT_FALSE(state.autoIncrement) << what;
    }

    static size_t registerWrites(const tFlashController &controller) {
        size_t writes = 0;
        for (const auto &access : controller.log) writes += access.write;
        return writes;
    }

    tStatus status;
};

TEST(FlashBitOrder, ReversalsMatchThePortsByteOrder) {
    EXPECT_EQ(reverseWordBits(0x00000001u), 0x80000000u);
    EXPECT_EQ(reverseBitsInBytes(0x01020304u), 0x8040C020u);
    const uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x04};
    // rev(b0) lands in the top byte.
    EXPECT_EQ(reverseWordBits(loadLittleEndian(bytes)), 0x8040C020u);
}

TEST_F(FlashPrimitives, ReadFlashIdAnswersEachDeviceAndEndsItsTransfer) {
    for (uint16_t id : {kFlashId1010, kFlashIdBF8E, kFlashId9D17}) {
        tFlashController controller(id);
        tStatus local;
        EXPECT_EQ(readFlashId(controller, local), id);
        EXPECT_EQ(local.code, 0);
        expectAtRest(controller, "identify");
    }
}

TEST_F(FlashPrimitives, ReadFlashIdOnAFailingControllerReturnsZeroAndKeepsTheError) {
    tFlashController controller(kFlashId1010);
    EXPECT_CALL(controller, readRegister(_, _, _))
        .WillRepeatedly([](uint32_t, uint32_t &v, tStatus &s) {
            v = 0x1010;
            ZELSMBUS_SET_CODE(s, -52024);
        });
    EXPECT_EQ(readFlashId(controller, status), 0);
    EXPECT_EQ(status.code, -52024);
}

TEST_F(FlashPrimitives, InterfaceThatNeverBecomesReadyTimesOutAfterTwoReads) {
    tFlashController controller(kFlashId1010);
    controller.model.interfaceStuck = true;
    waitInterfaceReady(controller, status);
    EXPECT_EQ(status.code, -52007);
    EXPECT_EQ(gClockNs, 2'000'000u);  // 1 ms after each of the two reads
}

TEST_F(FlashPrimitives, IdleFlashAnswersTheFirstPollWithoutSleeping) {
    tFlashController controller(kFlashId1010);
    waitFlashIdle(controller, status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(gSleepCalls, 0u);
    expectAtRest(controller, "status poll");
}

// 627 polls: 1 ms after each of the first 30, 10 ms after each later one.
TEST_F(FlashPrimitives, BusyFlashIsGivenUpAfterTheMandatedPacing) {
    tFlashController controller(kFlashId1010);
    controller.model.deviceStuckBusy = true;
    waitFlashIdle(controller, status);
    EXPECT_EQ(status.code, -52007);
    EXPECT_EQ(gClockNs, 30 * 1'000'000ull + 597 * 10'000'000ull);
    EXPECT_FALSE(controller.model.state().selected);
}

// Enabling sets the write latch (on 0xBF8E after lifting the block
// protection); disabling clears it (on 0xBF8E protecting every block again).
TEST_F(FlashPrimitives, WriteEnableSetsTheLatchAndTheProtectionPerDevice) {
    for (uint16_t id : {kFlashId1010, kFlashIdBF8E, kFlashId9D17}) {
        tFlashController controller(id);
        tStatus local;
        setFlashWriteEnable(controller, id, true, local);
        EXPECT_EQ(local.code, 0) << std::hex << id;
        auto state = controller.model.state();
        EXPECT_TRUE(state.writeEnabled) << std::hex << id;
        EXPECT_FALSE(state.selected) << std::hex << id;
        if (id == kFlashIdBF8E) {
            EXPECT_EQ(state.protection, 0) << "still protected";
        }

        setFlashWriteEnable(controller, id, false, local);
        EXPECT_EQ(local.code, 0) << std::hex << id;
        state = controller.model.state();
        EXPECT_FALSE(state.writeEnabled) << std::hex << id;
        if (id == kFlashIdBF8E) {
            EXPECT_EQ(state.protection, 0x3C) << "not protected again";
        }
        expectAtRest(controller, "write disable");
    }
    // A device the library does not know is not written to.
    tFlashController unknown(0x1234);
    setFlashWriteEnable(unknown, 0x1234, true, status);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(unknown.log.empty());
}

// The indirect device must report the latch without an error bit; it is
// asked ten times, 1 ms apart, before the write enable is refused.
TEST_F(FlashPrimitives, IndirectWriteEnableRefusesADeviceThatReportsAnError) {
    tFlashController failing(kFlashId9D17);
    failing.model.extraStatusBits = 0x40;  // a device error bit
    setFlashWriteEnable(failing, kFlashId9D17, true, status);
    EXPECT_EQ(status.code, -52005);
    EXPECT_EQ(gClockNs, 10 * 1'000'000ull);
}

TEST_F(FlashPrimitives, ProgrammedPageReadsBackInMemoryOrder) {
    tFlashController controller(kFlashId1010);
    uint8_t page[kFlashPageBytes];
    for (unsigned i = 0; i < kFlashPageBytes; ++i) page[i] = uint8_t(i * 7 + 1);
    setFlashWriteEnable(controller, kFlashId1010, true, status);
    programFlashPage(controller, 0x300, page, status);
    ASSERT_EQ(status.code, 0);
    // The program ended its transfer and waited until the device was done
    // (which also clears the latch).
    EXPECT_FALSE(controller.model.state().busy);
    expectAtRest(controller, "page program");
    uint8_t stored[kFlashPageBytes];
    controller.model.readArray(0x300, stored, sizeof stored);
    EXPECT_EQ(0, memcmp(stored, page, sizeof page));
    EXPECT_EQ(readFlashWord(controller, 0x304, status), loadLittleEndian(page + 4));
}

TEST_F(FlashPrimitives, ConfigBlockWrittenAfterEraseReadsBackWordForWord) {
    tFlashController controller(kFlashId1010);
    std::vector<uint32_t> words(kConfigBlockWords), back(kConfigBlockWords);
    for (uint32_t i = 0; i < kConfigBlockWords; ++i) words[i] = 0xA5000000u + i * 0x1234567u;
    eraseConfigBlock(controller, 3, status);
    writeConfigBlock(controller, 3, words.data(), status);
    readConfigBlock(controller, 3, back.data(), status);
    ASSERT_EQ(status.code, 0);
    EXPECT_EQ(back, words);
    expectAtRest(controller, "configuration block");
    uint8_t first[4];
    controller.model.readArray(3 * 0x8000, first, 4);  // big-endian in flash
    EXPECT_EQ(first[0], 0xA5);
    EXPECT_EQ(first[3], 0x00);
}

TEST_F(FlashPrimitives, ConfigBlockRequestsThatAreRefused) {
    std::vector<uint32_t> words(kConfigBlockWords, 1);
    struct Case {
        const char *name;
        uint16_t id;
        int op;  // 0 read, 1 erase, 2 write
        uint32_t block;
        uint32_t firstWord;
        int64_t code;
    };
    const Case cases[] = {
        {"read block 4", kFlashId1010, 0, 4, 1, -52005},
        {"erase block 4", kFlashId1010, 1, 4, 1, -52005},
        {"write block 4", kFlashId1010, 2, 4, 1, -52005},
        {"write first word 0", kFlashId1010, 2, 2, 0, -52005},
        {"read on 0xBF8E", kFlashIdBF8E, 0, 2, 1, -52002},
        {"erase on 0x9D17", kFlashId9D17, 1, 2, 1, -52002},
    };
    for (const Case &c : cases) {
        tFlashController controller(c.id);
        const uint8_t marker[4] = {0x12, 0x34, 0x56, 0x78};
        for (uint32_t block = 0; block < 4; ++block)
            controller.model.writeArray(block * 0x8000, marker, sizeof marker);
        tStatus local;
        words[0] = c.firstWord;
        if (c.op == 0) readConfigBlock(controller, c.block, words.data(), local);
        if (c.op == 1) eraseConfigBlock(controller, c.block, local);
        if (c.op == 2) writeConfigBlock(controller, c.block, words.data(), local);
        EXPECT_EQ(local.code, c.code) << c.name;
        // Nothing was erased or programmed, and nothing is left open.
        for (uint32_t block = 0; block < 4; ++block) {
            uint8_t now[4];
            controller.model.readArray(block * 0x8000, now, sizeof now);
            EXPECT_EQ(0, memcmp(now, marker, sizeof now)) << c.name << ", block " << block;
        }
        expectAtRest(controller, c.name);
    }
    tFlashController controller(kFlashId1010);
    tStatus local;
    readConfigBlock(controller, 0, nullptr, local);
    EXPECT_EQ(local.code, -52005);
    EXPECT_TRUE(controller.log.empty());
}

TEST_F(FlashPrimitives, RegionReadChecksLengthDeviceAndSignature) {
    std::vector<uint8_t> out(0x300000);
    tFlashController controller(kFlashIdBF8E);
    readFlashRegion(controller, kFlashIdBF8E, 0, 0x10000, out.data(), status);
    EXPECT_EQ(status.code, -52005);
    EXPECT_TRUE(controller.log.empty());

    tStatus unknown;
    readFlashRegion(controller, 0x1234, 0, 0x10000, out.data(), unknown);
    EXPECT_EQ(unknown.code, -52005);

    controller.model.setIdentity(kFlashIdBF8E, 0x12345678);
    tStatus unsigned_;
    readFlashRegion(controller, kFlashIdBF8E, 0, 0x80000, out.data(), unsigned_);
    EXPECT_EQ(unsigned_.code, -52005);
    EXPECT_EQ(registerWrites(controller), 0u);  // no read was started
}

TEST_F(FlashPrimitives, RegionReadReturnsTheFlashBytesOnBothPorts) {
    const uint8_t marker[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    for (uint16_t id : {kFlashIdBF8E, kFlashId9D17}) {
        tFlashController controller(id);
        controller.logging = false;
        const uint32_t base = id == kFlashId9D17 ? kIndirectRegionBase : 0x80000;
        controller.model.writeArray(base + 10, marker, sizeof marker);
        std::vector<uint8_t> out(firmwareRegionSize(id));
        tStatus local;
        readFlashRegion(controller, id, 0x80000, uint32_t(out.size()), out.data(), local);
        ASSERT_EQ(local.code, 0);
        EXPECT_EQ(0, memcmp(out.data() + 10, marker, sizeof marker)) << std::hex << id;
        EXPECT_EQ(out[9], 0xFF);
    }
}

TEST_F(FlashPrimitives, IndirectWordIsReadHighByteFirstAndTheResetAccessGivenBack) {
    tFlashController controller(kFlashId9D17);
    const uint8_t bytes[2] = {0x03, 0xC4};
    controller.model.writeArray(0x20000, bytes, 2);
    EXPECT_EQ(readIndirectWord(controller, 0x20000, status), 0x03C4u);
    EXPECT_EQ(status.code, 0);
    // The reset access and the transfer are given back.
    expectAtRest(controller, "indirect read");
}

TEST_F(FlashPrimitives, IndirectResetThatIsNeverGrantedTimesOut) {
    tFlashController controller(kFlashId9D17);
    ON_CALL(controller, readRegister(0x2000, _, _))
        .WillByDefault([](uint32_t, uint32_t &v, tStatus &) { v = 0; });
    EXPECT_EQ(readIndirectWord(controller, 0, status), 0u);
    EXPECT_EQ(status.code, -52007);
    EXPECT_EQ(gSleepCalls, 2u);
}

TEST_F(FlashPrimitives, IndirectPortThatStaysBusyTimesOut) {
    tFlashController controller(kFlashId9D17);
    controller.model.interfaceStuck = true;
    readIndirectStatus(controller, status);
    EXPECT_EQ(status.code, -52007);
}

TEST_F(FlashPrimitives, AnErrorAlreadyHeldStopsEveryPrimitive) {
    tFlashController controller(kFlashId1010);
    ZELSMBUS_SET_CODE(status, -52024);
    uint32_t words[kConfigBlockWords] = {1};
    flashCommand(controller, 0x06000000, 0x201, status);
    waitFlashIdle(controller, status);
    EXPECT_EQ(readFlashId(controller, status), 0);
    readConfigBlock(controller, 2, words, status);
    eraseConfigBlock(controller, 2, status);
    readIndirectWord(controller, 0, status);
    EXPECT_TRUE(controller.log.empty());
    EXPECT_EQ(status.code, -52024);
}

}  // namespace

namespace {

using flashtest::gNextSleepError;
using flashtest::gRemainingOnError;
using flashtest::gRequests;

TEST(Sleep, SplitsMillisecondsIntoSecondsAndNanoseconds) {
    gRequests.clear();
    nZELOSAL000::sleepMilliseconds(1500);
    ASSERT_EQ(gRequests.size(), 1u);
    EXPECT_EQ(gRequests[0].tv_sec, 1);
    EXPECT_EQ(gRequests[0].tv_nsec, 500000000L);
}

TEST(Sleep, ResumesWithTheRemainingTimeAfterASignal) {
    gRequests.clear();
    gRemainingOnError = {0, 300000000L};
    gNextSleepError = EINTR;
    nZELOSAL000::sleepMilliseconds(1000);
    ASSERT_EQ(gRequests.size(), 2u);
    EXPECT_EQ(gRequests[1].tv_sec, 0);
    EXPECT_EQ(gRequests[1].tv_nsec, 300000000L);
}

TEST(Sleep, AnyOtherFailureEndsTheSleep) {
    gRequests.clear();
    gNextSleepError = EINVAL;
    nZELOSAL000::sleepMilliseconds(10);
    EXPECT_EQ(gRequests.size(), 1u);
}

}  // namespace
