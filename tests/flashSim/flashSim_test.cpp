#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "firmware/firmwareChecksums.h"
#include "imageBuilder.h"
#include "zelsim.h"
#include "zelsmbus.h"

namespace {

using zelsmbus_mkimage::buildFirmwareImage;
using zelsmbus_mkimage::tImageFields;

// One controller per flash device, each with one port named after it.
const char kWorld[] = R"toml(
[simulator]
virtual_time = true

[[device]]
vendor_id = 0x8086
device_id = 0x1111
subsystem_vendor_id = 0x8086
subsystem_id = 0x1010
bus = 1
device_string = "serial flash 0x1010"
flash_id = 0x1010
firmware_version = 7
  [[device.port]]
  text = "FLASH::1010"

[[device]]
vendor_id = 0x8086
device_id = 0x2222
subsystem_vendor_id = 0x8086
subsystem_id = 0xBF8E
bus = 2
device_string = "serial flash 0xBF8E"
flash_id = 0xBF8E
firmware_version = 7
  [[device.port]]
  text = "FLASH::BF8E"

[[device]]
vendor_id = 0x8086
device_id = 0x3333
subsystem_vendor_id = 0x8086
subsystem_id = 0x9D17
bus = 3
device_string = "indirect flash 0x9D17"
flash_id = 0x9D17
firmware_version = 7
  [[device.port]]
  text = "FLASH::9D17"
)toml";

constexpr uint8_t kPinOut = 4;

struct Device {
    const char *name;
    unsigned node;
    uint16_t subsystem;
    uint32_t regionBase;
    uint32_t regionSize;
    uint32_t offset;  // the image header's Offset
    uint32_t pinOutAddress;
};

const Device k1010{"FLASH::1010", 0, 0x1010, 0, 0x10000, 0, 0x20};
const Device kBF8E{"FLASH::BF8E", 1, 0xBF8E, 0x80000, 0x80000, 0x80000, 0x20};
const Device k9D17{"FLASH::9D17", 2, 0x9D17, 0x300000, 0x300000, 0, 0x20000};

class FlashSim : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        ASSERT_EQ(zelsim_load_world_text(kWorld), 0) << zelsim_last_error();
    }
    void TearDown() override {
        ZELSMBusClose(handle);
        zelsim_reset();
    }

    void open(const Device &d) {
        device = d;
        ASSERT_EQ(ZELSMBusOpen(d.name, &handle), 0);
        const uint8_t pinOut[2] = {kPinOut, kPinOut};
        ASSERT_EQ(zelsim_flash_write(d.node, d.pinOutAddress, pinOut, 2), 0);
    }

    std::vector<uint8_t> firmware(size_t length) const {
        std::vector<uint8_t> bytes(length);
        for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 29 + 3 + (i >> 9));
        const uint32_t at = device.pinOutAddress - device.regionBase;
        if (device.pinOutAddress >= device.regionBase && at + 1 < length)
            bytes[at] = bytes[at + 1] = kPinOut;
        return bytes;
    }

    std::string image(const std::vector<uint8_t> &bytes, uint32_t version = 8) const {
        tImageFields f;
        f.subsystemId = device.subsystem;
        f.pinOutAddress = device.pinOutAddress;
        f.pinOutVersion = kPinOut;
        f.version = version;
        f.offset = device.offset;
        return buildFirmwareImage(f, bytes);
    }

    int32_t write(const std::string &text, uint32_t flags = 0) {
        return ZELSMBusWriteFirmware(handle, uint32_t(text.size()), text.data(), flags);
    }

    std::vector<uint8_t> region() const {
        std::vector<uint8_t> bytes(device.regionSize);
        zelsim_flash_read(device.node, device.regionBase, bytes.data(), bytes.size());
        return bytes;
    }

    std::vector<uint8_t> padded(const std::vector<uint8_t> &bytes) const {
        std::vector<uint8_t> whole(device.regionSize, 0xFF);
        std::copy(bytes.begin(), bytes.end(), whole.begin());
        return whole;
    }

    tSMBusHandle *handle = nullptr;
    Device device{};
};

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
    std::vector<uint8_t> expected = padded(bytes);
    const uint16_t trailer = nZELSMBUS000::regionCrc16(expected.data(), expected.size() - 2);
    expected[expected.size() - 2] = uint8_t(trailer >> 8);
    expected[expected.size() - 1] = uint8_t(trailer);
    EXPECT_EQ(region(), expected);
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
