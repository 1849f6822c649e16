// One simulated controller per flash device and a fixture that updates their
// firmware through the exports: images, region contents, device state.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../flashSupport/flashWorld.h"
#include "flash/firmwareChecksums.h"
#include "imageBuilder.h"
#include "zelsim.h"
#include "zelsmbus.h"

namespace flashsim {

using zelsmbus_mkimage::buildFirmwareImage;
using zelsmbus_mkimage::tImageFields;

using flashworld::k1010;
using flashworld::k9D17;
using flashworld::kBF8E;
using flashworld::kFlashWorld;
using Device = flashworld::tFlashDevice;

constexpr uint8_t kPinOut = 4;
// The pin-out word as the board keeps it, from the byte before its address on:
// the version at the address, distinct bytes around it, so that taking any
// other byte reads a different version.
constexpr uint8_t kPinOutBytes[5] = {0x5E, kPinOut, 0x6F, 0x70, 0x71};

class FlashSim : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        ASSERT_EQ(zelsim_load_world_text(kFlashWorld), 0) << zelsim_last_error();
    }
    void TearDown() override {
        ZELSMBusClose(handle);
        zelsim_reset();
    }

    void open(const Device &d) {
        device = d;
        ASSERT_EQ(ZELSMBusOpen(d.name, &handle), 0);
        ASSERT_EQ(zelsim_flash_write(d.node, d.pinOutAddress - 1, kPinOutBytes, 5), 0);
    }

    // Old firmware in the whole region (and, on 0x9D17, an old boot header in
    // sector 0), keeping the pin-out word: a block or sector left unerased
    // then shows in what an update leaves.
    void installOldFirmware() {
        std::vector<uint8_t> old(device.regionSize);
        for (size_t i = 0; i < old.size(); ++i) old[i] = uint8_t(i * 73 + 5 + (i >> 11));
        ASSERT_EQ(zelsim_flash_write(device.node, device.regionBase, old.data(), old.size()), 0);
        if (device.node == k9D17.node) {
            ASSERT_EQ(zelsim_flash_write(device.node, 0, old.data(), 256), 0);
        }
        ASSERT_EQ(zelsim_flash_write(device.node, device.pinOutAddress - 1, kPinOutBytes, 5), 0);
    }

    std::vector<uint8_t> firmware(size_t length) const {
        std::vector<uint8_t> bytes(length);
        for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 29 + 3 + (i >> 9));
        if (device.pinOutAddress > device.regionBase) {
            const size_t at = device.pinOutAddress - 1 - device.regionBase;
            for (size_t i = 0; i < 5 && at + i < length; ++i) bytes[at + i] = kPinOutBytes[i];
        }
        return bytes;
    }

    // The header of an image made for the open device, one version newer
    // than the world's firmware (7).
    tImageFields fields(uint32_t version = 8) const {
        tImageFields f;
        f.subsystemId = device.flashId;
        f.pinOutAddress = device.pinOutAddress;
        f.pinOutVersion = kPinOut;
        f.version = version;
        f.offset = device.offset;
        return f;
    }

    std::string image(const std::vector<uint8_t> &bytes, uint32_t version = 8) const {
        return buildFirmwareImage(fields(version), bytes);
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

    // What the region holds after a good update: the image, 0xFF up to the
    // end, and on 0xBF8E the CRC-16 trailer in the last two bytes.
    std::vector<uint8_t> expectedRegion(const std::vector<uint8_t> &bytes) const {
        std::vector<uint8_t> whole = padded(bytes);
        if (device.node == kBF8E.node) {
            const uint16_t trailer = nZELSMBUS000::regionCrc16(whole.data(), whole.size() - 2);
            whole[whole.size() - 2] = uint8_t(trailer >> 8);
            whole[whole.size() - 1] = uint8_t(trailer);
        }
        return whole;
    }

    zelsim_flash_state deviceState() const {
        zelsim_flash_state state{};
        EXPECT_EQ(zelsim_flash_device_state(device.node, &state), 0);
        return state;
    }

    tSMBusHandle *handle = nullptr;
    Device device{};
};

}  // namespace flashsim
