// EEPROM reads through the exports against the simulated driver.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "simWorld.h"

using apitest::field;
using apitest::Session;
using apitest::wireLog;

namespace {

class Eeprom : public apitest::SimTest {
protected:
    void SetUp() override {
        apitest::SimTest::SetUp();
        ASSERT_EQ(host.open("HOST::SMBUS0"), 0);
        ASSERT_EQ(backplane.open("CHASSIS1::BACKPLANE"), 0);  // 0xA4 protected, chassis flag set
        zelsim_log_clear();
    }
    Session host, backplane;
};

TEST_F(Eeprom, ReadsTheRequestedBytesWithLow8BitsOfAddressAndOffset) {
    uint8_t data[300], expected[40];
    std::memset(data, 0xEE, sizeof data);
    ASSERT_EQ(ZELSMBusReadI2CEEPROM(host, 0x1A0, 0x105, 40, data), 0);
    ASSERT_EQ(zelsim_log_count(), 1u);
    const zelsim_log_record entry = wireLog()[0];
    EXPECT_EQ(entry.command, 0x17u);
    EXPECT_EQ(field(entry.in, 2, 1), 0xA0u);
    EXPECT_EQ(field(entry.in, 3, 1), 0x05u);
    EXPECT_EQ(field(entry.in, 4, 4), 40u);
    zelsim_eeprom_read(0, 0, 0xA0, 0x05, expected, sizeof expected);
    EXPECT_EQ(0, std::memcmp(data, expected, sizeof expected));
    EXPECT_EQ(data[40], 0xEE);  // nothing past the length
}

TEST_F(Eeprom, FullLengthRead) {
    uint8_t data[256], expected[256];
    ASSERT_EQ(ZELSMBusReadI2CEEPROM(host, 0xA0, 0, 256, data), 0);
    zelsim_eeprom_read(0, 0, 0xA0, 0, expected, sizeof expected);
    EXPECT_EQ(0, std::memcmp(data, expected, sizeof data));
}

TEST_F(Eeprom, RefusedArgumentsSendNothing) {
    uint8_t data[512];
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(nullptr, 0xA0, 0, 0, nullptr), -52006);
    EXPECT_EQ(ZELSMBusGetChassisEEPROM(nullptr, 0, 0, nullptr), -52006);
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(host, 0xA0, 0, 0, data), -52005);
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(host, 0xA0, 0, 257, data), -52005);
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(host, 0xA0, 0, 16, nullptr), -52005);
    EXPECT_EQ(ZELSMBusGetChassisEEPROM(backplane, 0, 0, data), -52005);
    EXPECT_EQ(ZELSMBusGetChassisEEPROM(backplane, 0, 257, data), -52005);
    EXPECT_EQ(ZELSMBusGetChassisEEPROM(backplane, 0, 16, nullptr), -52005);
    EXPECT_EQ(zelsim_log_count(), 0u);
}

TEST_F(Eeprom, ChassisEepromIsReadableOnlyThroughItsOwnCallOnARestrictedSession) {
    uint8_t data[123], expected[123];
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(backplane, 0xA4, 0, sizeof data, data), -26983);
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(backplane, 0xA5, 0, sizeof data, data), -26983);
    EXPECT_EQ(zelsim_log_count(), 0u);

    ASSERT_EQ(ZELSMBusGetChassisEEPROM(backplane, 0, sizeof data, data), 0);
    ASSERT_EQ(zelsim_log_count(), 1u);
    EXPECT_EQ(field(wireLog()[0].in, 2, 1), 0xA4u);
    zelsim_eeprom_read(1, 0, 0xA4, 0, expected, sizeof expected);
    EXPECT_EQ(0, std::memcmp(data, expected, sizeof data));
}

TEST_F(Eeprom, PortWithoutTheChassisFlagRefusesTheChassisEeprom) {
    uint8_t data[16];
    EXPECT_EQ(ZELSMBusGetChassisEEPROM(host, 0, sizeof data, data), -26983);
    EXPECT_EQ(zelsim_log_count(), 0u);
}

TEST_F(Eeprom, FailedReadLeavesTheBuffer) {
    uint8_t data[16];
    std::memset(data, 0xEE, sizeof data);
    zelsim_fail_command(0x17, EIO, 1);
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(host, 0xA0, 0, sizeof data, data), -52024);
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(host, 0x30, 0, sizeof data, data), ZELSIM_STATUS_NACK);
    zelsim_set_driver_status(0x17, -52031, 1);
    EXPECT_EQ(ZELSMBusGetChassisEEPROM(backplane, 0, sizeof data, data), -52031);
    for (uint8_t byte : data) EXPECT_EQ(byte, 0xEE);
}

}  // namespace
