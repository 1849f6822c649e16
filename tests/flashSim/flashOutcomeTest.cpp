// Firmware updates judged by what they leave behind in the simulated flash:
// the region's contents over old firmware that fills it, the device's state
// (nothing left open, write enable off, protection back), the answers to an
// unanswered first identification or read, and which check refuses an image
// with two defects. None of these depends on the exact commands sent.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "flashSimFixture.h"

namespace {

using namespace flashsim;

// Offset of the first byte where the two differ, or -1 (a readable failure
// for regions of megabytes).
long firstDifference(const std::vector<uint8_t> &actual, const std::vector<uint8_t> &expected) {
    if (actual.size() != expected.size()) return long(std::min(actual.size(), expected.size()));
    const auto where = std::mismatch(actual.begin(), actual.end(), expected.begin());
    return where.first == actual.end() ? -1 : long(where.first - actual.begin());
}

// The image with the value of one header field replaced (the builder writes
// each field as "Key::value\r\n", HeaderVersion first).
std::string withField(std::string image, const std::string &key, const std::string &value) {
    const size_t at = key == "HeaderVersion" ? 0 : image.find("\r\n" + key + "::") + 2;
    const size_t valueStart = at + key.size() + 2;
    image.replace(valueStart, image.find("\r\n", valueStart) - valueStart, value);
    return image;
}

// The image with its payload line replaced.
std::string withPayload(std::string image, const std::string &payload) {
    const size_t start = image.find("\r\n\r\n") + 4;
    image.replace(start, image.find("\r\n", start) - start, payload);
    return image;
}

class FlashOutcome : public FlashSim {
protected:
    // Erase, program or status write sent to the flash since the log was
    // cleared: any command that can change what the flash holds.
    static bool flashCommandsSent() {
        for (size_t i = 0; i < zelsim_log_count(); ++i) {
            zelsim_log_record entry;
            if (zelsim_log_entry(i, &entry) != 0 || entry.command != 0x19) continue;
            uint32_t offset, value;
            std::memcpy(&offset, entry.in + 4, 4);
            std::memcpy(&value, entry.in + 8, 4);
            const uint32_t instruction = value >> 24;
            if (offset == 64 && (instruction == 0xD8 || instruction == 0x02 ||
                                 instruction == 0xAD || instruction == 0x01))
                return true;
            if (offset == 0x2004 || offset == 0x2010) return true;
        }
        return false;
    }

    void expectNothingLeftOpen() {
        const zelsim_flash_state state = deviceState();
        EXPECT_EQ(state.selected, 0)
            << "a serial command left open: 0x" << std::hex << unsigned(state.open_instruction);
        EXPECT_EQ(state.write_enabled, 0);
        EXPECT_EQ(state.auto_increment, 0);
        EXPECT_EQ(state.indirect_transfer_open, 0);
        EXPECT_EQ(state.reset_granted, 0);
    }
};

struct DeviceCase {
    const char *name;
    const Device *device;
    size_t imageBytes;  // most of the region where that stays fast
};

const DeviceCase kDevices[] = {{"Serial1010", &k1010, 0xF000},
                               {"SerialBF8E", &kBF8E, 0x70000},
                               {"Indirect9D17", &k9D17, 0x48000}};

void PrintTo(const DeviceCase &c, std::ostream *out) { *out << c.name; }

std::string caseName(const ::testing::TestParamInfo<DeviceCase> &info) { return info.param.name; }

class UpdateOutcome : public FlashOutcome, public ::testing::WithParamInterface<DeviceCase> {};

// Every block or sector of the region is erased (old firmware shows through
// anything left unerased, also beyond the image), the device was given the
// time each erase takes, the pin-out version was taken from its own byte, and
// the procedure ended everything it started.
TEST_P(UpdateOutcome, OverOldFirmwareLeavesExactlyTheNewRegionAndNothingOpen) {
    open(*GetParam().device);
    installOldFirmware();
    const std::vector<uint8_t> bytes = firmware(GetParam().imageBytes);
    ASSERT_EQ(write(image(bytes)), 0);
    EXPECT_EQ(firstDifference(region(), expectedRegion(bytes)), -1);
    expectNothingLeftOpen();

    if (device.node == k9D17.node) {
        // Activation rewrote sector 0 with the boot header, over an erase.
        static const uint8_t kBootHeader[36] = {
            0xAA, 0x99, 0x55, 0x66, 0x20, 0x00, 0x00, 0x00, 0x30, 0x02, 0x00, 0x01,
            0x00, 0x30, 0x00, 0x00, 0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x0F,
            0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00};
        std::vector<uint8_t> sector0(256), expected(256, 0xFF);
        std::copy(std::begin(kBootHeader), std::end(kBootHeader), expected.begin());
        zelsim_flash_read(device.node, 0, sector0.data(), sector0.size());
        EXPECT_EQ(firstDifference(sector0, expected), -1);
        unsigned activations = 0;
        zelsim_flash_activations(device.node, &activations);
        EXPECT_EQ(activations, 1u);
    }
}

// A payload that decodes to no bytes (with ByteCount::0 and CRC::0, the CRC
// of nothing, it would pass every later check) is refused before the flash is
// touched.
TEST_P(UpdateOutcome, PayloadOfNoBytesIsRefusedBeforeTheFlashIsTouched) {
    open(*GetParam().device);
    installOldFirmware();
    const std::vector<uint8_t> before = region();
    const std::string empty = withField(withField(image({}), "CRC", "0"), "ByteCount", "0");
    for (const char *payload : {"", "=", "   ", "====", "A"}) {
        zelsim_log_clear();
        EXPECT_EQ(write(withPayload(empty, payload)), -52005) << '"' << payload << '"';
        EXPECT_FALSE(flashCommandsSent()) << '"' << payload << '"';
    }
    EXPECT_EQ(firstDifference(region(), before), -1);
    unsigned activations = 0;
    zelsim_flash_activations(device.node, &activations);
    EXPECT_EQ(activations, 0u);
}

INSTANTIATE_TEST_SUITE_P(Devices, UpdateOutcome, ::testing::ValuesIn(kDevices), caseName);

// The flash may miss the first identification (0xFFFF), which the update
// reads once more, or the first read of the pin-out word (0xFFFFFFFF).
struct UnansweredCase {
    const char *name;
    const Device *device;
    enum zelsim_flash_fault fault;
};

void PrintTo(const UnansweredCase &c, std::ostream *out) { *out << c.name; }

class Unanswered : public FlashOutcome, public ::testing::WithParamInterface<UnansweredCase> {};

// A pin-out word that reads all ones and then otherwise is not trusted: the
// update fails before the erase, and the repeat goes through.
TEST_P(Unanswered, FirstAnswerIsReadAgain) {
    open(*GetParam().device);
    ASSERT_EQ(zelsim_flash_fault(device.node, GetParam().fault, 1), 0);
    const std::vector<uint8_t> bytes = firmware(0x800);
    if (GetParam().fault == ZELSIM_FLASH_MISS_READ) {
        const std::vector<uint8_t> before = region();
        EXPECT_EQ(write(image(bytes)), ZELSMBUS_ERROR_IO);
        EXPECT_EQ(firstDifference(region(), before), -1);
    }
    EXPECT_EQ(write(image(bytes)), 0);
    EXPECT_EQ(firstDifference(region(), expectedRegion(bytes)), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Unanswered,
    ::testing::Values(UnansweredCase{"Identify1010", &k1010, ZELSIM_FLASH_MISS_IDENTIFY},
                      UnansweredCase{"IdentifyBF8E", &kBF8E, ZELSIM_FLASH_MISS_IDENTIFY},
                      UnansweredCase{"Identify9D17", &k9D17, ZELSIM_FLASH_MISS_IDENTIFY},
                      UnansweredCase{"PinOut1010", &k1010, ZELSIM_FLASH_MISS_READ},
                      UnansweredCase{"PinOutBF8E", &kBF8E, ZELSIM_FLASH_MISS_READ}),
    [](const auto &info) { return std::string(info.param.name); });

// After programming in auto-increment mode the blocks are protected again
// (status register 0x3C), which the part takes only once the mode has ended.
TEST_F(FlashOutcome, DeviceBF8EIsProtectedAgainAfterAnUpdate) {
    open(kBF8E);
    ASSERT_EQ(write(image(firmware(0x800))), 0);
    EXPECT_EQ(deviceState().protection, 0x3C);
    expectNothingLeftOpen();
}

// An image with two defects is refused by the check that comes first, before
// anything is erased: the checks run in a fixed order.
struct OrderCase {
    const char *name;
    std::string (*damage)(const std::string &image);
    int32_t code;
};

std::string notNewerAndBadHeaderVersion(const std::string &image) {
    return withField(withField(image, "Version", "7"), "HeaderVersion", "3");
}
std::string badHeaderVersionAndWrongSubsystem(const std::string &image) {
    return withField(withField(image, "HeaderVersion", "3"), "SubSystemID", "0x4242");
}
std::string wrongSubsystemAndTooLarge(const std::string &image) {
    return withField(withField(image, "SubSystemID", "0x4242"), "ByteCount", "70000");
}
std::string wrongPinOutAndTooLarge(const std::string &image) {
    return withField(withField(image, "PinOutVer", "5"), "ByteCount", "70000");
}
std::string wrongPinOutAndBadCrc(const std::string &image) {
    return withField(withField(image, "PinOutVer", "5"), "CRC", "0x12345678");
}
std::string tooLargeAndShortPayload(const std::string &image) {
    return withField(image, "ByteCount", "70000");  // more than the region and the payload
}
std::string wrongUpdateTypeAndWrongPinOut(const std::string &image) {
    return withField(withField(image, "UpdateType", "\"FWUpdatX\""), "PinOutVer", "5");
}
std::string noBytesAndWrongSubsystem(const std::string &image) {
    return withPayload(withField(image, "SubSystemID", "0x4242"), "=");
}

void PrintTo(const OrderCase &c, std::ostream *out) { *out << c.name; }

class CheckOrder : public FlashOutcome, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(CheckOrder, FirstFailingCheckDecides) {
    open(k1010);
    installOldFirmware();
    const std::vector<uint8_t> before = region();
    zelsim_log_clear();
    EXPECT_EQ(write(GetParam().damage(image(firmware(0x1000)))), GetParam().code);
    EXPECT_FALSE(flashCommandsSent());
    EXPECT_EQ(firstDifference(region(), before), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, CheckOrder,
    ::testing::Values(OrderCase{"NotNewerBeforeHeaderVersion", notNewerAndBadHeaderVersion, -52005},
                      OrderCase{"HeaderVersionBeforeSubsystem", badHeaderVersionAndWrongSubsystem,
                                -52002},
                      OrderCase{"SubsystemBeforeSize", wrongSubsystemAndTooLarge, -52002},
                      OrderCase{"PinOutBeforeSize", wrongPinOutAndTooLarge, -52002},
                      OrderCase{"PinOutBeforeCrc", wrongPinOutAndBadCrc, -52002},
                      OrderCase{"SizeBeforeDecoding", tooLargeAndShortPayload, -52019},
                      OrderCase{"UpdateTypeBeforePinOut", wrongUpdateTypeAndWrongPinOut, -52005},
                      OrderCase{"EmptyPayloadBeforeSubsystem", noBytesAndWrongSubsystem, -52005}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
