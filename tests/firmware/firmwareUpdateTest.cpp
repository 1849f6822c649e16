// ZELSMBusWriteFirmware against the simulator's flash model behind a gmock
// controller: the checks before any flash is touched, and complete updates.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../flashSupport/mockController.h"
#include "../flashSupport/virtualSleep.inc"
#include "firmware/firmwareChecksums.h"
#include "api/tSMBusHandle.h"
#include "controller/flashAccess.h"
#include "imageBuilder.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;
using flashtest::tFlashController;
using zelsmbus_mkimage::buildFirmwareImage;
using zelsmbus_mkimage::tImageFields;

namespace {

constexpr uint16_t kSubsystem = 0x7A11;
constexpr uint32_t kInstalledVersion = 5;
constexpr uint8_t kPinOut = 3;

std::vector<uint8_t> pattern(size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 37 + seed + (i >> 8));
    return bytes;
}

// Where each device keeps its firmware region and the pin-out word.
struct Device {
    uint16_t id;
    uint32_t regionBase;  // flash address of the region (the header's Offset on 0xBF8E)
    uint32_t offset;      // the header's Offset
    uint32_t pinOutAddress;
};

const Device k1010{kFlashId1010, 0, 0, 0x100};
const Device kBF8E{kFlashIdBF8E, 0x80000, 0x80000, 0x100};
const Device k9D17{kFlashId9D17, kIndirectRegionBase, 0, 0x20000};

class FirmwareUpdate : public ::testing::Test {
protected:
    void prepare(const Device &device) {
        flashtest::gClockNs = 0;
        controller = std::make_unique<tFlashController>(device.id, kInstalledVersion, kSubsystem);
        controller->logging = false;
        handle.controller = controller.get();
        this->device = device;
        // The installed firmware: a pattern, carrying the board's pin-out version.
        installed = pattern(firmwareRegionSize(device.id) == 0 ? 0 : 0x4000, 0x55);
        controller->model.writeArray(device.regionBase, installed.data(), installed.size());
        const uint8_t pinOut[2] = {kPinOut, kPinOut};  // low byte (serial) / bits 8-15 (indirect)
        controller->model.writeArray(device.pinOutAddress, pinOut, 2);
    }

    tImageFields fields() const {
        tImageFields f;
        f.subsystemId = kSubsystem;
        f.pinOutAddress = device.pinOutAddress;
        f.pinOutVersion = kPinOut;
        f.version = kInstalledVersion + 1;
        f.offset = device.offset;
        return f;
    }

    // Firmware bytes that carry the pin-out version where the board keeps it,
    // so that the board still matches after the update.
    std::vector<uint8_t> firmware(size_t length) const {
        std::vector<uint8_t> bytes = pattern(length, 0x11);
        const uint32_t at = device.pinOutAddress - device.regionBase;
        if (device.pinOutAddress >= device.regionBase && at + 1 < length)
            bytes[at] = bytes[at + 1] = kPinOut;
        return bytes;
    }

    int32_t write(const std::string &image, uint32_t flags = 0) {
        return ZELSMBusWriteFirmware(&handle, uint32_t(image.size()), image.data(), flags);
    }

    std::vector<uint8_t> region(uint32_t length) const {
        std::vector<uint8_t> bytes(length);
        controller->model.readArray(device.regionBase, bytes.data(), length);
        return bytes;
    }

    std::vector<uint8_t> expectedRegion(const std::vector<uint8_t> &image) const {
        std::vector<uint8_t> bytes(firmwareRegionSize(device.id), 0xFF);
        std::copy(image.begin(), image.end(), bytes.begin());
        return bytes;
    }

    std::unique_ptr<tFlashController> controller;
    tSMBusHandle handle{nullptr, 0, {0, 0}};
    Device device{};
    std::vector<uint8_t> installed;
};

TEST_F(FirmwareUpdate, NullArgumentsAreRefusedFirst) {
    prepare(k1010);
    const std::string image = buildFirmwareImage(fields(), firmware(16));
    EXPECT_EQ(ZELSMBusWriteFirmware(nullptr, uint32_t(image.size()), image.data(), 0), -52006);
    EXPECT_EQ(ZELSMBusWriteFirmware(&handle, uint32_t(image.size()), nullptr, 0), -52006);
    EXPECT_EQ(ZELSMBusWriteFirmware(&handle, 0, image.data(), 0), -52006);
}

struct RefusalCase {
    const char *name;
    const Device *device;
    void (*change)(tImageFields &fields, std::string &image, tFlashController &controller);
    int32_t code;
};

std::string replaceIn(std::string text, const std::string &from, const std::string &to) {
    return text.replace(text.find(from), from.size(), to);
}

class FirmwareRefusals : public FirmwareUpdate,
                         public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(FirmwareRefusals, RefusedBeforeTheFlashIsTouched) {
    const RefusalCase &c = GetParam();
    prepare(*c.device);
    tImageFields f = fields();
    std::string image;
    c.change(f, image, *controller);  // with no image yet: header fields and the device
    image = buildFirmwareImage(f, firmware(300));
    c.change(f, image, *controller);  // now the image text
    const std::vector<uint8_t> before = region(0x4000);
    EXPECT_EQ(write(image), c.code);
    EXPECT_EQ(region(0x4000), before);
    EXPECT_EQ(controller->model.activations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirmwareRefusals,
    ::testing::Values(
        RefusalCase{"NoSignature", &k1010,
                    [](tImageFields &, std::string &, tFlashController &c) {
                        c.model.setIdentity(kFlashId1010, 0);
                    },
                    -52005},
        RefusalCase{
            "NotFirmwareUpdate", &k1010,
            [](tImageFields &f, std::string &, tFlashController &) { f.updateType = "FWUpdateX"; },
            -52005},
        RefusalCase{"SameVersion", &k1010,
                    [](tImageFields &f, std::string &, tFlashController &) {
                        f.version = kInstalledVersion;
                    },
                    -52005},
        RefusalCase{"OlderVersion", &kBF8E,
                    [](tImageFields &f, std::string &, tFlashController &) { f.version = 1; },
                    -52005},
        RefusalCase{"HeaderVersion3", &k1010,
                    [](tImageFields &f, std::string &, tFlashController &) { f.headerVersion = 3; },
                    -52002},
        RefusalCase{"UnknownFlash", &k1010,
                    [](tImageFields &, std::string &, tFlashController &c) {
                        c.model.setIdentity(0x1234, 0x727EBABE);
                    },
                    -52002},
        RefusalCase{"OffsetOn1010", &k1010,
                    [](tImageFields &f, std::string &, tFlashController &) { f.offset = 0x8000; },
                    -52002},
        RefusalCase{"UnalignedOffsetOnBF8E", &kBF8E,
                    [](tImageFields &f, std::string &, tFlashController &) { f.offset = 0x80100; },
                    -52002},
        RefusalCase{"OffsetBeyondBF8EAddressSpace", &kBF8E,
                    [](tImageFields &f, std::string &, tFlashController &) { f.offset = 0xFF0000; },
                    -52002},
        RefusalCase{"OtherSubsystem", &k9D17,
                    [](tImageFields &f, std::string &, tFlashController &) {
                        f.subsystemId = kSubsystem + 1;
                    },
                    -52002},
        RefusalCase{"SubsystemAbove16Bits", &k1010,
                    [](tImageFields &f, std::string &, tFlashController &) {
                        f.subsystemId = 0x10000 + kSubsystem;
                    },
                    -52002},
        RefusalCase{"OtherPinOut", &kBF8E,
                    [](tImageFields &f, std::string &,
                       tFlashController &) { f.pinOutVersion = kPinOut + 1; },
                    -52002},
        RefusalCase{"PinOutAbove255", &k9D17,
                    [](tImageFields &f, std::string &, tFlashController &) {
                        f.pinOutVersion = 0x100 + kPinOut;
                    },
                    -52002},
        RefusalCase{"ByteCountDiffers", &k1010,
                    [](tImageFields &, std::string &image, tFlashController &) {
                        if (!image.empty())
                            image = replaceIn(image, "ByteCount::300", "ByteCount::299");
                    },
                    -52023},
        RefusalCase{"CrcDiffers", &kBF8E,
                    [](tImageFields &, std::string &image, tFlashController &) {
                        if (!image.empty()) image = replaceIn(image, "CRC::0x", "CRC::7");
                    },
                    -52023},
        RefusalCase{"InterfaceNeverReady", &k1010,
                    [](tImageFields &, std::string &, tFlashController &c) {
                        c.model.interfaceStuck = true;
                    },
                    -52007}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(FirmwareUpdate, ImageLargerThanTheRegionIsRefused) {
    prepare(k1010);
    const std::vector<uint8_t> before = region(0x10000);
    EXPECT_EQ(write(buildFirmwareImage(fields(), firmware(0x10001))), -52019);
    EXPECT_EQ(region(0x10000), before);
}

TEST_F(FirmwareUpdate, NotNewerImageGoesThroughWhenForced) {
    prepare(k1010);
    tImageFields f = fields();
    f.version = kInstalledVersion;
    const std::vector<uint8_t> bytes = firmware(1000);
    EXPECT_EQ(write(buildFirmwareImage(f, bytes), ZELSMBUS_FIRMWARE_FORCE | 0x80), 0);
    EXPECT_EQ(region(0x10000), expectedRegion(bytes));
}

TEST_F(FirmwareUpdate, Device1010RegionHoldsTheImageThenErasedBytes) {
    prepare(k1010);
    const std::vector<uint8_t> bytes = firmware(3000);
    ASSERT_EQ(write(buildFirmwareImage(fields(), bytes)), 0);
    EXPECT_EQ(region(0x10000), expectedRegion(bytes));
    // Configuration block 2 lies beyond the region and is left alone.
    uint8_t config[4];
    controller->model.readArray(0x10000, config, 4);
    EXPECT_NE(config[0], 0xFF);
}

TEST_F(FirmwareUpdate, DeviceBF8ERegionEndsWithItsCrc16Trailer) {
    prepare(kBF8E);
    const std::vector<uint8_t> bytes = firmware(5000);
    ASSERT_EQ(write(buildFirmwareImage(fields(), bytes)), 0);
    std::vector<uint8_t> expected = expectedRegion(bytes);
    const uint16_t trailer = regionCrc16(expected.data(), expected.size() - 2);
    expected[expected.size() - 2] = uint8_t(trailer >> 8);
    expected[expected.size() - 1] = uint8_t(trailer);
    EXPECT_EQ(region(0x80000), expected);
    // The flash below the region is untouched.
    uint8_t below[0x100];
    controller->model.readArray(0, below, sizeof below);
    EXPECT_EQ(below[0], 0xFF);
    EXPECT_EQ(below[0xFF], 0xFF);
}

TEST_F(FirmwareUpdate, DeviceBF8EImageReachingIntoTheTrailerIsRefusedBeforeErasing) {
    prepare(kBF8E);
    for (size_t bytes : {0x80000 - 1, 0x80000}) {
        controller->logging = true;
        controller->log.clear();
        EXPECT_EQ(write(buildFirmwareImage(fields(), firmware(bytes))), -52019);
        EXPECT_EQ(controller->writesTo(0x2004), 0u);
        for (const auto &access : controller->log)
            EXPECT_FALSE(access.write && access.offset == 64 && access.value >> 24 == 0xD8);
    }
}

TEST_F(FirmwareUpdate, Device9D17ProgramsWholePagesAndActivates) {
    prepare(k9D17);
    controller->logging = true;
    const std::vector<uint8_t> bytes = firmware(512);
    ASSERT_EQ(write(buildFirmwareImage(fields(), bytes)), 0);
    // 512 bytes: two pages of image and one of 0xFF.
    size_t pageWrites = 0, dataWords = 0;
    for (const auto &access : controller->log) {
        pageWrites += access.write && access.offset == 0x2008 &&
                      access.value >= kIndirectRegionBase && (access.value & 0xFF) == 0;
        dataWords += access.write && access.offset == 0x2010;
    }
    // The region read-back also writes 0x2008 once; activation writes 0.
    EXPECT_EQ(pageWrites, 3u + 1u);
    EXPECT_EQ(dataWords, 3u * 128u + 18u);
    EXPECT_EQ(region(0x300000), expectedRegion(bytes));

    const uint8_t bootHeader[36] = {0xAA, 0x99, 0x55, 0x66, 0x20, 0x00, 0x00, 0x00, 0x30,
                                    0x02, 0x00, 0x01, 0x00, 0x30, 0x00, 0x00, 0x30, 0x00,
                                    0x80, 0x01, 0x00, 0x00, 0x00, 0x0F, 0x20, 0x00, 0x00,
                                    0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00};
    uint8_t atZero[36];
    controller->model.readArray(0, atZero, sizeof atZero);
    EXPECT_EQ(0, memcmp(atZero, bootHeader, sizeof bootHeader));
    EXPECT_EQ(controller->model.activations(), 1u);
    EXPECT_EQ(controller->model.firmwareVersion(), kInstalledVersion + 1);
}

TEST_F(FirmwareUpdate, Device9D17ThatReportsAnEraseErrorIsRefused) {
    prepare(k9D17);
    controller->onWrite = [this](uint32_t offset, uint32_t value) {
        if (offset == 0x2004 && value == 48) controller->model.extraStatusBits = 0x08;
    };
    EXPECT_EQ(write(buildFirmwareImage(fields(), firmware(512))), -52005);
    EXPECT_EQ(controller->model.activations(), 0u);
}

TEST_F(FirmwareUpdate, Device1010FailedVerificationPutsTheOldFirmwareBack) {
    prepare(k1010);
    const std::vector<uint8_t> old = region(0x10000);
    controller->model.dropPrograms = 1;  // the first page does not take
    EXPECT_EQ(write(buildFirmwareImage(fields(), firmware(2000))), -52018);
    EXPECT_EQ(region(0x10000), old);
}

TEST_F(FirmwareUpdate, FlashThatStaysBusyAfterAnEraseTimesOut) {
    prepare(k1010);
    controller->onWrite = [this](uint32_t offset, uint32_t value) {
        if (offset == 68 && value == 0x204 &&
            (controller->model.read(64, value), value >> 24) == 0xD8)
            controller->model.deviceStuckBusy = true;
    };
    EXPECT_EQ(write(buildFirmwareImage(fields(), firmware(2000))), -52007);
    // About six seconds of polling, on the virtual clock.
    EXPECT_GE(flashtest::gClockNs, 6'000'000'000ull);
}

}  // namespace
