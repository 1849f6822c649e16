#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "flashSimFixture.h"

namespace {

using namespace flashsim;

TEST_F(FlashSim, Device1010UpdateReadsBackFromTheFlash) {
    open(k1010);
    const std::vector<uint8_t> bytes = firmware(4000);
    ASSERT_EQ(write(image(bytes)), 0);
    EXPECT_EQ(region(), padded(bytes));
    EXPECT_GT(zelsim_virtual_ns(), 0u);  // the pacing ran on the virtual clock
}

TEST_F(FlashSim, DeviceBF8EUpdateEndsWithTheCrc16Trailer) {
    open(kBF8E);
    const std::vector<uint8_t> bytes = firmware(9000);
    ASSERT_EQ(write(image(bytes)), 0);
    EXPECT_EQ(region(), expectedRegion(bytes));
}

TEST_F(FlashSim, Device9D17UpdateActivatesTheNewFirmware) {
    open(k9D17);
    const std::vector<uint8_t> bytes = firmware(512);
    ASSERT_EQ(write(image(bytes)), 0);
    EXPECT_EQ(region(), padded(bytes));
    unsigned activations = 0;
    ASSERT_EQ(zelsim_flash_activations(device.node, &activations), 0);
    EXPECT_EQ(activations, 1u);
    uint32_t version = 0;
    EXPECT_EQ(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_FIRMWARE_VERSION, &version), 0);
    EXPECT_EQ(version, 8u);
    // Now the same image is no longer newer.
    EXPECT_EQ(write(image(bytes)), -52005);
}

TEST_F(FlashSim, Device1010WriteThatDoesNotStickIsUndone) {
    open(k1010);
    const std::vector<uint8_t> old = region();
    ASSERT_EQ(zelsim_flash_fault(device.node, ZELSIM_FLASH_DROP_PROGRAMS, 3), 0);
    EXPECT_EQ(write(image(firmware(4000))), -52018);
    EXPECT_EQ(region(), old);
}

TEST_F(FlashSim, FlashThatNeverBecomesReadyTimesOut) {
    open(kBF8E);
    const std::vector<uint8_t> old = region();
    ASSERT_EQ(zelsim_flash_fault(device.node, ZELSIM_FLASH_INTERFACE_STUCK, 1), 0);
    EXPECT_EQ(write(image(firmware(100))), -52007);
    EXPECT_EQ(region(), old);
}

TEST_F(FlashSim, WrongIdentifierOrSignatureIsRefused) {
    open(k9D17);
    ASSERT_EQ(zelsim_flash_set_identity(device.node, 0x4242, 0x727EBABE), 0);
    EXPECT_EQ(write(image(firmware(100))), -52002);
    ASSERT_EQ(zelsim_flash_set_identity(device.node, 0x9D17, 0), 0);
    EXPECT_EQ(write(image(firmware(100))), -52005);
}

// The configuration flag through the driver: word 8179 of block 2.
class ConfigFlagSim : public FlashSim {
protected:
    uint32_t flagWord() const {
        uint8_t bytes[4];
        zelsim_flash_read(0, 0x10000 + 8179 * 4, bytes, 4);
        return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
               bytes[3];
    }
    // Erase (0xD8) or page program (0x02) sent to register 64 since the log was cleared.
    bool flashWritten() const {
        for (size_t i = 0; i < zelsim_log_count(); ++i) {
            zelsim_log_record entry;
            zelsim_log_entry(i, &entry);
            uint32_t offset, value;
            memcpy(&offset, entry.in + 4, 4);
            memcpy(&value, entry.in + 8, 4);
            if (entry.command == 0x19 && offset == 64 &&
                (value >> 24 == 0xD8 || value >> 24 == 0x02))
                return true;
        }
        return false;
    }
};

TEST_F(ConfigFlagSim, SetReadAndUnchangedSet) {
    open(k1010);
    uint32_t value = 0xEE;
    ASSERT_EQ(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &value), 0);
    EXPECT_EQ(value, 0u);
    const uint32_t on = 1;
    ASSERT_EQ(ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &on), 0);
    EXPECT_EQ(flagWord(), 0x200103u);
    ASSERT_EQ(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &value), 0);
    EXPECT_EQ(value, 1u);
    zelsim_log_clear();
    ASSERT_EQ(ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &on), 0);
    EXPECT_FALSE(flashWritten());
}

TEST_F(ConfigFlagSim, FailedReadBackRestoresTheBlock) {
    open(k1010);
    std::vector<uint8_t> before(0x8000), after(0x8000);
    zelsim_flash_read(0, 0x10000, before.data(), before.size());
    ASSERT_EQ(zelsim_flash_fault(0, ZELSIM_FLASH_DROP_PROGRAMS, 1), 0);
    const uint32_t on = 1;
    EXPECT_EQ(ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &on), -52003);
    zelsim_flash_read(0, 0x10000, after.data(), after.size());
    EXPECT_EQ(after, before);
}

TEST_F(ConfigFlagSim, OnlyDevice1010HasTheFlag) {
    open(kBF8E);
    uint32_t value = 0xEE;
    EXPECT_EQ(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &value), -52002);
    EXPECT_EQ(value, 0xEEu);
}

}  // namespace
