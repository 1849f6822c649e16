#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "../flashSupport/mockController.h"
#include "../flashSupport/virtualSleep.inc"
#include "controller/flashAccess.h"
#include "controller/flashBitOrder.h"
#include "driver/sleep.h"

using namespace nZELSMBUS000;
using flashtest::gClockNs;
using flashtest::gSleepCalls;
using flashtest::tFlashController;
using flashtest::tRegisterAccess;
using ::testing::_;

namespace {

constexpr tRegisterAccess W(uint32_t offset, uint32_t value) { return {true, offset, value}; }

class FlashPrimitives : public ::testing::Test {
protected:
    void SetUp() override {
        gClockNs = 0;
        gSleepCalls = 0;
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

TEST_F(FlashPrimitives, ReadFlashIdSendsTheIdentifyCommandAndReadsTheAnswer) {
    for (uint16_t id : {kFlashId1010, kFlashIdBF8E, kFlashId9D17}) {
        tFlashController controller(id);
        tStatus local;
        EXPECT_EQ(readFlashId(controller, local), id);
        EXPECT_EQ(local.code, 0);
        const std::vector<tRegisterAccess> expected = {W(64, 0xAB000000), W(68, 0x304),
                                                       {false, 72, 1},    W(68, 0x202),
                                                       {false, 72, 1},    {false, 76, id}};
        EXPECT_EQ(controller.log, expected);
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
    EXPECT_EQ(controller.log.size(), 2u);
    EXPECT_EQ(gClockNs, 2'000'000u);
}

TEST_F(FlashPrimitives, IdleFlashAnswersTheFirstPollWithoutSleeping) {
    tFlashController controller(kFlashId1010);
    waitFlashIdle(controller, status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(controller.writesTo(64), 1u);
    EXPECT_EQ(gSleepCalls, 0u);
}

TEST_F(FlashPrimitives, BusyFlashIsPolled627TimesWithTheMandatedPacing) {
    tFlashController controller(kFlashId1010);
    controller.model.deviceStuckBusy = true;
    waitFlashIdle(controller, status);
    EXPECT_EQ(status.code, -52007);
    EXPECT_EQ(controller.writesTo(64), 627u);
    EXPECT_EQ(gClockNs, 30 * 1'000'000ull + 597 * 10'000'000ull);
}

TEST_F(FlashPrimitives, WriteEnableSequencesPerDevice) {
    struct Case {
        uint16_t id;
        bool enable;
        std::vector<uint32_t> commandWords;  // what register 64 receives, in order
    };
    const Case cases[] = {
        {kFlashId1010, true, {0x06000000}},
        {kFlashId1010, false, {0x04000000}},
        {kFlashIdBF8E, true, {0x50000000, 0x01000000, 0x06000000}},
        {kFlashIdBF8E, false, {0x50000000, 0x013C0000, 0x04000000}},
        {0x1234, true, {}},
    };
    for (const Case &c : cases) {
        tFlashController controller(c.id);
        tStatus local;
        setFlashWriteEnable(controller, c.id, c.enable, local);
        EXPECT_EQ(local.code, 0);
        std::vector<uint32_t> words;
        for (const auto &access : controller.log)
            if (access.write && access.offset == 64) words.push_back(access.value);
        EXPECT_EQ(words, c.commandWords) << std::hex << c.id << " " << c.enable;
        if (c.id == 0x1234) {
            EXPECT_TRUE(controller.log.empty());
        }
    }
}

TEST_F(FlashPrimitives, IndirectWriteEnableChecksTheLatchAndTheDeviceStatus) {
    tFlashController controller(kFlashId9D17);
    setFlashWriteEnable(controller, kFlashId9D17, true, status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(controller.log.front(), W(0x2000, 16));

    tFlashController failing(kFlashId9D17);
    failing.model.extraStatusBits = 0x40;  // a device error bit
    tStatus local;
    setFlashWriteEnable(failing, kFlashId9D17, true, local);
    EXPECT_EQ(local.code, -52005);
    EXPECT_EQ(failing.writesTo(0x2014), 10u);  // polled ten times for the wanted status
}

TEST_F(FlashPrimitives, ProgrammedPageReadsBackInMemoryOrder) {
    tFlashController controller(kFlashId1010);
    uint8_t page[kFlashPageBytes];
    for (unsigned i = 0; i < kFlashPageBytes; ++i) page[i] = uint8_t(i * 7 + 1);
    setFlashWriteEnable(controller, kFlashId1010, true, status);
    controller.log.clear();
    programFlashPage(controller, 0x300, page, status);
    ASSERT_EQ(status.code, 0);
    // Command, 64 data words, then status polls until the program is done.
    EXPECT_EQ(controller.log[0], W(64, 0x02000300));
    size_t dataWords = 0;
    for (const auto &access : controller.log)
        dataWords += access.write && access.offset == 68 && access.value == 0x304;
    EXPECT_EQ(dataWords, 65u);
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
        tStatus local;
        words[0] = c.firstWord;
        if (c.op == 0) readConfigBlock(controller, c.block, words.data(), local);
        if (c.op == 1) eraseConfigBlock(controller, c.block, local);
        if (c.op == 2) writeConfigBlock(controller, c.block, words.data(), local);
        EXPECT_EQ(local.code, c.code) << c.name;
        // Nothing beyond identifying the flash reached it.
        EXPECT_LE(controller.writesTo(64), 2u) << c.name;
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
    EXPECT_EQ(controller.log.size(), 1u);  // only the signature was read
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

TEST_F(FlashPrimitives, IndirectWordIsReadHighByteFirstAfterAReset) {
    tFlashController controller(kFlashId9D17);
    const uint8_t bytes[2] = {0x03, 0xC4};
    controller.model.writeArray(0x20000, bytes, 2);
    EXPECT_EQ(readIndirectWord(controller, 0x20000, status), 0x03C4u);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(controller.log.front(), W(0x2000, 4));
    EXPECT_EQ(controller.writesTo(0x2014), 3u);  // reset pair and the status request
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
