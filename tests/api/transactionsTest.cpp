// The bus transactions, lock and reset through the exports, checked on the
// simulated driver's wire log and device state.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "api/tSMBusHandle.h"
#include "simWorld.h"

using apitest::field;
using apitest::Session;
using apitest::wireLog;

namespace {

// Default world, node 0 port 0 ("HOST::SMBUS0"): protected 0x58 and 0xD2; a
// register device at 0x90 (16-bit registers 0x1900 0 0x4B00 0x5000 sent most-
// significant byte first, so byte 0 reads 25 and word 0 reads 0x0019;
// block 0x20 = 5A 45 4C 01) and an EEPROM at 0xA0.
constexpr unsigned kNode = 0, kPort = 0;
constexpr uint8_t kRegisters = 0x90, kEeprom = 0xA0, kAbsent = 0x30;

struct Field {
    unsigned offset, width;
    uint32_t value;
};

struct TransactionCase {
    const char *name;
    unsigned command;
    // Runs the transaction on `handle` to `address`.
    std::function<int32_t(tSMBusHandle *handle, uint8_t address)> run;
    int32_t success;                    // what a successful call returns
    std::vector<Field> input;           // besides port and address, which every case checks
    std::function<void()> checkResult;  // results against the device state (may be empty)
};

uint8_t byteOut = 0, countOut = 0;
uint16_t wordOut = 0;
uint8_t blockOut[32] = {}, i2cOut[256] = {};
const uint8_t kWrite[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

std::vector<TransactionCase> transactionCases() {
    return {
        {"QuickRead",
         0x0A,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusQuickRead(h, a); },
         0,
         {},
         {}},
        {"QuickWrite",
         0x09,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusQuickWrite(h, a); },
         0,
         {},
         {}},
        {"SendByte",
         0x0B,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusSendByte(h, a, 0x03, 7); },
         0,
         {{3, 1, 0x03}, {4, 1, 1}, {8, 4, 0}},
         {}},
        {"ReceiveByte",
         0x0C,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusReceiveByte(h, a, 0, &byteOut); },
         0,
         {{3, 1, 0}, {4, 4, 0}},
         [] {
             const zelsim_log_record last = wireLog().back();
             EXPECT_EQ(byteOut, last.out[0]);
         }},
        {"WriteByte",
         0x0D,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusWriteByte(h, a, 0x02, 77, 2); },
         0,
         {{3, 1, 0x02}, {4, 1, 77}, {5, 1, 1}, {8, 4, 0}},
         [] {
             uint8_t value = 0;
             zelsim_target_byte(kNode, kPort, kRegisters, 0x02, &value);
             EXPECT_EQ(value, 77);
         }},
        {"ReadByte",
         0x0E,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusReadByte(h, a, 0x00, 0, &byteOut); },
         0,
         {{3, 1, 0x00}, {4, 1, 0}, {8, 4, 0}},
         [] { EXPECT_EQ(byteOut, 25); }},
        {"WriteWord",
         0x0F,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusWriteWord(h, a, 0x01, 0xBEEF, 0); },
         0,
         {{3, 1, 0x01}, {4, 2, 0xBEEF}, {6, 1, 0}, {8, 4, 0}},
         [] {
             uint16_t value = 0;
             zelsim_target_word(kNode, kPort, kRegisters, 0x01, &value);
             EXPECT_EQ(value, 0xBEEF);
         }},
        {"ReadWord",
         0x10,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusReadWord(h, a, 0x00, -1, &wordOut); },
         0,
         {{3, 1, 0x00}, {4, 1, 1}, {8, 4, 0}},
         [] { EXPECT_EQ(wordOut, 0x0019); }},  // wire bytes 0x19 0x00, low byte first
        {"ProcessCall",
         0x11,
         [](tSMBusHandle *h, uint8_t a) {
             return ZELSMBusProcessCall(h, a, 0x02, 0x1234, 0, &wordOut);
         },
         0,
         {{3, 1, 0x02}, {4, 2, 0x1234}, {6, 1, 0}, {8, 4, 0}},
         [] { EXPECT_EQ(wordOut, field(wireLog().back().out, 0, 2)); }},
        {"WriteBlock",
         0x12,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusWriteBlock(h, a, 0x21, 3, kWrite, 1); },
         0,
         {{3, 1, 0x21}, {4, 1, 3}, {5, 3, 0x332211}, {37, 1, 1}, {40, 4, 0}},
         [] {
             uint8_t data[32] = {}, count = 0;
             zelsim_target_block(kNode, kPort, kRegisters, 0x21, data, &count);
             ASSERT_EQ(count, 3);
             EXPECT_EQ(0, std::memcmp(data, kWrite, 3));
         }},
        {"ReadBlock",
         0x13,
         [](tSMBusHandle *h, uint8_t a) {
             return ZELSMBusReadBlock(h, a, 0x20, 0, &countOut, blockOut);
         },
         0,
         {{3, 1, 0x20}, {4, 1, 0}, {8, 4, 0}},
         [] {
             ASSERT_EQ(countOut, 4);
             const uint8_t expected[4] = {0x5A, 0x45, 0x4C, 0x01};
             EXPECT_EQ(0, std::memcmp(blockOut, expected, 4));
         }},
        {"BlockProcessCall",
         0x14,
         [](tSMBusHandle *h, uint8_t a) {
             return ZELSMBusBlockProcessCall(h, a, 0x22, 2, kWrite, 0, &countOut, blockOut);
         },
         50254,
         {{3, 1, 0x22}, {4, 1, 2}, {5, 2, 0x2211}, {37, 1, 0}, {40, 4, 0}},
         [] {
             const zelsim_log_record last = wireLog().back();
             ASSERT_EQ(countOut, last.out[0]);
             EXPECT_EQ(0, std::memcmp(blockOut, last.out + 1, countOut));
         }},
        {"WriteBlockI2C",
         0x15,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusWriteBlockI2C(h, a, 0x10, 5, kWrite); },
         50254,
         {{3, 1, 0x10}, {4, 4, 5}, {8, 4, 0x44332211}, {12, 1, 0x55}, {264, 4, 0}},
         [] {
             uint8_t data[5] = {};
             zelsim_eeprom_read(kNode, kPort, kEeprom, 0x10, data, 5);
             EXPECT_EQ(0, std::memcmp(data, kWrite, 5));
         }},
        {"ReadBlockI2C",
         0x16,
         [](tSMBusHandle *h, uint8_t a) { return ZELSMBusReadBlockI2C(h, a, 0x00, 8, i2cOut); },
         50254,
         {{3, 1, 0x00}, {4, 4, 8}, {8, 4, 0}},
         [] {
             uint8_t data[8] = {};
             zelsim_eeprom_read(kNode, kPort, kEeprom, 0x00, data, 8);
             EXPECT_EQ(0, std::memcmp(i2cOut, data, 8));
         }},
    };
}

uint8_t targetOf(const TransactionCase &c) { return c.command >= 0x15 ? kEeprom : kRegisters; }

class Transaction : public apitest::SimTest, public ::testing::WithParamInterface<TransactionCase> {
protected:
    void SetUp() override {
        apitest::SimTest::SetUp();
        ASSERT_EQ(session.open("HOST::SMBUS0"), 0);
        zelsim_log_clear();
        zelsim_clear_call_counts();
    }
    Session session;
};

TEST_P(Transaction, IsOneDriverCommandWithTheArgumentsInPlace) {
    const TransactionCase &c = GetParam();
    const uint8_t address = targetOf(c);
    EXPECT_EQ(c.run(session, address), c.success);
    std::vector<zelsim_log_record> log = wireLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].command, c.command);
    EXPECT_EQ(log[0].node, static_cast<int>(kNode));
    EXPECT_EQ(field(log[0].in, 0, 2), kPort);
    EXPECT_EQ(field(log[0].in, 2, 1), address);
    for (const Field &f : c.input)
        EXPECT_EQ(field(log[0].in, f.offset, f.width), f.value) << "input offset " << f.offset;
    if (c.checkResult) c.checkResult();
}

TEST_P(Transaction, ProtectedAddressSendsNothing) {
    const TransactionCase &c = GetParam();
    const int32_t refused = c.command == 0x09 ? 0 : -26983;  // a quick write is dropped silently
    for (uint8_t address : {0x58, 0x59, 0xD2, 0xD3}) EXPECT_EQ(c.run(session, address), refused);
    EXPECT_EQ(zelsim_log_count(), 0u);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_IOCTL), 0u);
}

TEST_P(Transaction, UnrestrictedSessionReachesProtectedAddresses) {
    const TransactionCase &c = GetParam();
    session.get()->unrestricted = 1;  // what attribute 1001 does
    c.run(session, 0x58);
    ASSERT_EQ(zelsim_log_count(), 1u);
    EXPECT_EQ(wireLog()[0].command, c.command);
}

TEST_P(Transaction, NullHandleIsNotFound) {
    EXPECT_EQ(GetParam().run(nullptr, kRegisters), -52006);
    EXPECT_EQ(zelsim_log_count(), 0u);
}

TEST_P(Transaction, DriverFailureIsReturnedUnchanged) {
    const TransactionCase &c = GetParam();
    zelsim_fail_command(c.command, EIO, 1);
    EXPECT_EQ(c.run(session, targetOf(c)), -52024);
    zelsim_set_driver_status(c.command, -52031, 1);
    EXPECT_EQ(c.run(session, targetOf(c)), -52031);
    // The session stays usable.
    EXPECT_EQ(c.run(session, targetOf(c)), c.success);
}

INSTANTIATE_TEST_SUITE_P(All, Transaction, ::testing::ValuesIn(transactionCases()),
                         [](const ::testing::TestParamInfo<TransactionCase> &info) {
                             return std::string(info.param.name);
                         });

class TransactionRules : public apitest::SimTest {
protected:
    void SetUp() override {
        apitest::SimTest::SetUp();
        ASSERT_EQ(session.open("HOST::SMBUS0"), 0);
        zelsim_log_clear();
        zelsim_clear_call_counts();
    }
    Session session;
};

TEST_F(TransactionRules, RefusedReadLeavesTheCallersValue) {
    uint8_t value = 0xEE;
    EXPECT_EQ(ZELSMBusReadByte(session, 0x58, 0, 0, &value), -26983);
    EXPECT_EQ(value, 0xEE);
}

TEST_F(TransactionRules, HandleIsCheckedBeforePointersAndPointersBeforeProtection) {
    EXPECT_EQ(ZELSMBusReadWord(nullptr, 0x90, 0, 0, nullptr), -52006);
    EXPECT_EQ(ZELSMBusReadWord(session, 0x58, 0, 0, nullptr), -52005);
    EXPECT_EQ(ZELSMBusReceiveByte(session, 0x90, 0, nullptr), -52005);
    EXPECT_EQ(ZELSMBusReadByte(session, 0x90, 0, 0, nullptr), -52005);
    EXPECT_EQ(ZELSMBusProcessCall(session, 0x90, 0, 0, 0, nullptr), -52005);
    uint8_t data[32];
    EXPECT_EQ(ZELSMBusReadBlock(session, 0x90, 0x20, 0, nullptr, data), -52005);
    EXPECT_EQ(ZELSMBusBlockProcessCall(session, 0x90, 0x20, 0, data, 0, nullptr, data), -52005);
    EXPECT_EQ(ZELSMBusBlockProcessCall(nullptr, 0x90, 0x20, 0, data, 0, nullptr, data), -52006);
    EXPECT_EQ(zelsim_log_count(), 0u);
}

// Sizes beyond the 32- and 256-byte data areas, and missing data, never reach the driver.
TEST_F(TransactionRules, RefusesOversizedOrMissingData) {
    uint8_t data[300] = {}, count = 0;
    EXPECT_EQ(ZELSMBusWriteBlock(session, 0x90, 0x21, 33, data, 0), -52005);
    EXPECT_EQ(ZELSMBusWriteBlock(session, 0x90, 0x21, 255, data, 0), -52005);
    EXPECT_EQ(ZELSMBusWriteBlock(session, 0x90, 0x21, 1, nullptr, 0), -52005);
    EXPECT_EQ(ZELSMBusBlockProcessCall(session, 0x90, 0x22, 33, data, 0, &count, data), -52005);
    EXPECT_EQ(ZELSMBusBlockProcessCall(session, 0x90, 0x22, 1, nullptr, 0, &count, data), -52005);
    EXPECT_EQ(ZELSMBusBlockProcessCall(session, 0x90, 0x22, 0, data, 0, &count, nullptr), -52005);
    EXPECT_EQ(ZELSMBusReadBlock(session, 0x90, 0x20, 0, &count, nullptr), -52005);
    EXPECT_EQ(ZELSMBusWriteBlockI2C(session, 0xA0, 0, 257, data), -52005);
    EXPECT_EQ(ZELSMBusWriteBlockI2C(session, 0xA0, 0, 1, nullptr), -52005);
    EXPECT_EQ(ZELSMBusReadBlockI2C(session, 0xA0, 0, 257, data), -52005);
    EXPECT_EQ(ZELSMBusReadBlockI2C(session, 0xA0, 0, 0xFFFFFFFFu, data), -52005);
    EXPECT_EQ(ZELSMBusReadBlockI2C(session, 0xA0, 0, 1, nullptr), -52005);
    EXPECT_EQ(zelsim_log_count(), 0u);
}

TEST_F(TransactionRules, LargestSizesAndEmptyTransfersGoThrough) {
    uint8_t data[256] = {};
    EXPECT_EQ(ZELSMBusWriteBlock(session, 0x90, 0x21, 32, data, 0), 0);
    EXPECT_EQ(ZELSMBusWriteBlock(session, 0x90, 0x21, 0, nullptr, 0), 0);
    EXPECT_EQ(ZELSMBusWriteBlockI2C(session, 0xA0, 0, 256, data), 50254);
    EXPECT_EQ(ZELSMBusReadBlockI2C(session, 0xA0, 0, 256, data), 50254);
    std::vector<zelsim_log_record> log = wireLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(field(log[0].in, 4, 1), 32u);
    EXPECT_EQ(field(log[1].in, 4, 1), 0u);
    EXPECT_EQ(field(log[2].in, 4, 4), 256u);
    EXPECT_EQ(field(log[3].in, 4, 4), 256u);
}

TEST_F(TransactionRules, FailedBlockReadCopiesNothing) {
    uint8_t data[32], count = 0;
    std::memset(data, 0xEE, sizeof data);
    zelsim_set_driver_status(0x13, -52024, 1);
    EXPECT_EQ(ZELSMBusReadBlock(session, 0x90, 0x20, 0, &count, data), -52024);
    for (uint8_t byte : data) ASSERT_EQ(byte, 0xEE);
}

TEST_F(TransactionRules, AbsentDeviceErrorsBeatTheTransferWarning) {
    uint8_t data[32] = {}, count = 0;
    const int32_t nack = ZELSIM_STATUS_NACK;
    EXPECT_EQ(ZELSMBusBlockProcessCall(session, kAbsent, 0, 1, data, 0, &count, data), nack);
    EXPECT_EQ(ZELSMBusWriteBlockI2C(session, kAbsent, 0, 1, data), nack);
    EXPECT_EQ(ZELSMBusReadBlockI2C(session, kAbsent, 0, 1, data), nack);
    EXPECT_EQ(ZELSMBusBlockProcessCall(nullptr, kAbsent, 0, 1, data, 0, &count, data), -52006);
}

TEST_F(TransactionRules, ResetIsNotSupported) {
    EXPECT_EQ(ZELSMBusResetBus(session), -52002);
    EXPECT_EQ(ZELSMBusResetBus(nullptr), -52002);
    EXPECT_EQ(zelsim_log_count(), 0u);
}

// Protection as the driver's list and the port flags give it.
const char *kProtectionWorld = R"(
[[device]]
vendor_id = 0x8086
  [[device.port]]
  text = "EDGES"
  protected = [0x00, 0x7E, 0x80, 0xFE]
  [[device.port]]
  text = "CHASSIS.FLAG"
  chassis_eeprom = true
  chassis = 1
  protected = [0x10, 0x12, 0xA4]
  [[device.port]]
  text = "NO.FLAG"
  protected = [0xA4]
[[chassis]]
number = 1
model = "ZEL-1084"
)";

std::vector<uint8_t> protectedOf(const char *port) {
    Session session(port);
    std::vector<uint8_t> result;
    if (session.get() == nullptr) return {0xFF, 0xFF, 0xFF};
    for (unsigned address = 0; address < 256; ++address)
        if (ZELSMBusQuickRead(session, static_cast<uint8_t>(address)) == -26983)
            result.push_back(static_cast<uint8_t>(address));
    return result;
}

TEST_F(TransactionRules, ProtectedSetCoversBothHalvesAndIgnoresBitZero) {
    loadWorld(kProtectionWorld);
    EXPECT_EQ(protectedOf("EDGES"),
              (std::vector<uint8_t>{0x00, 0x01, 0x7E, 0x7F, 0x80, 0x81, 0xFE, 0xFF}));
    EXPECT_EQ(protectedOf("CHASSIS.FLAG"),
              (std::vector<uint8_t>{0x10, 0x11, 0x12, 0x13, 0xA4, 0xA5}));
}

TEST_F(TransactionRules, BothPortFlagsAddTheFixedAddressesToAnEmptyDriverList) {
    loadWorld(R"(
[[device]]
  [[device.port]]
  text = "BOTH.FLAGS"
  chassis_eeprom = true
  extended_protection = true
)");
    EXPECT_EQ(protectedOf("BOTH.FLAGS"),
              (std::vector<uint8_t>{0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0xC6, 0xC7, 0xC8, 0xC9}));
}

TEST_F(TransactionRules, ChassisEepromStaysReadableOnItsPort) {
    loadWorld(kProtectionWorld);
    Session session("CHASSIS.FLAG");
    uint8_t data[16] = {};
    zelsim_log_clear();
    EXPECT_EQ(ZELSMBusReadBlockI2C(session, 0xA4, 0, sizeof data, data), 50254);
    EXPECT_EQ(zelsim_log_count(), 1u);
    EXPECT_EQ(ZELSMBusReadBlockI2C(session, 0xA5, 0, sizeof data, data), -26983);
    EXPECT_EQ(ZELSMBusWriteBlockI2C(session, 0xA4, 0, sizeof data, data), -26983);
    EXPECT_EQ(zelsim_log_count(), 1u);

    Session other("NO.FLAG");
    zelsim_log_clear();
    EXPECT_EQ(ZELSMBusReadBlockI2C(other, 0xA4, 0, sizeof data, data), -26983);
    EXPECT_EQ(zelsim_log_count(), 0u);
}

TEST_F(TransactionRules, ChassisEepromReadThroughI2CMatchesTheDevice) {
    Session session("CHASSIS1::BACKPLANE");  // default world: 0xA4 protected there
    uint8_t data[64] = {}, expected[64] = {};
    ASSERT_EQ(ZELSMBusReadBlockI2C(session, 0xA4, 0, sizeof data, data), 50254);
    zelsim_eeprom_read(1, 0, 0xA4, 0, expected, sizeof expected);
    EXPECT_EQ(0, std::memcmp(data, expected, sizeof data));
}

TEST_F(TransactionRules, LockExcludesTheOtherSessionUntilUnlocked) {
    Session second("HOST::SMBUS0");
    uint8_t value = 0;
    ASSERT_EQ(ZELSMBusLock(session), 0);
    EXPECT_EQ(ZELSMBusLock(second), ZELSIM_STATUS_BUSY);
    EXPECT_EQ(ZELSMBusReadByte(second, 0x90, 0, 0, &value), ZELSIM_STATUS_BUSY);
    EXPECT_EQ(ZELSMBusReadByte(session, 0x90, 0, 0, &value), 0);
    EXPECT_EQ(ZELSMBusUnlock(session), 0);

    EXPECT_EQ(ZELSMBusLock(second), 0);
    EXPECT_EQ(ZELSMBusReadByte(second, 0x90, 0, 0, &value), 0);
    EXPECT_EQ(value, 25);
    EXPECT_EQ(ZELSMBusUnlock(second), 0);
    EXPECT_EQ(ZELSMBusLock(nullptr), -52006);
    EXPECT_EQ(ZELSMBusUnlock(nullptr), -52006);
    // Lock and unlock are one command each, with the port and nothing else.
    for (const zelsim_log_record &entry : wireLog()) {
        if (entry.command == 0x07 || entry.command == 0x08) {
            EXPECT_EQ(entry.in_size, 8u);
        }
    }
}

}  // namespace
