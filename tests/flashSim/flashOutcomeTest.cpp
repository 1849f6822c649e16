// Firmware updates judged by what they leave behind in the simulated flash:
// the region's contents over old firmware that fills it, the device's state
// (nothing left open, write enable off, protection back), the answers to an
// unanswered first identification or read, and which check refuses an image
// with two defects. None of these depends on the exact commands sent.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
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
    // Erase, program or (with `statusWrites`) status write sent to the flash
    // since the log was cleared: any command that can change what the flash
    // holds. A status write alone changes only 0xBF8E's protection.
    static bool flashCommandsSent(bool statusWrites = true) {
        for (size_t i = 0; i < zelsim_log_count(); ++i) {
            zelsim_log_record entry;
            if (zelsim_log_entry(i, &entry) != 0 || entry.command != 0x19) continue;
            uint32_t offset, value;
            std::memcpy(&offset, entry.in + 4, 4);
            std::memcpy(&value, entry.in + 8, 4);
            const uint32_t instruction = value >> 24;
            if (offset == 64 && (instruction == 0xD8 || instruction == 0x02 ||
                                 instruction == 0xAD || (statusWrites && instruction == 0x01)))
                return true;
            if (offset == 0x2004 || offset == 0x2010) return true;
        }
        return false;
    }

    std::vector<uint8_t> wholeArray() const {
        std::vector<uint8_t> bytes(zelsim_flash_size(device.node));
        zelsim_flash_read(device.node, 0, bytes.data(), bytes.size());
        return bytes;
    }

    // Everything but the region (and 0x9D17's sector 0, the boot header an
    // activation rewrites) reads as it did.
    void expectOutsideUnchanged(const std::vector<uint8_t> &before) const {
        std::vector<uint8_t> after = wholeArray();
        ASSERT_EQ(after.size(), before.size());
        std::vector<uint8_t> expected = before;
        const size_t keptFrom = device.node == k9D17.node ? 0x10000 : 0;
        std::copy(after.begin() + device.regionBase,
                  after.begin() + device.regionBase + device.regionSize,
                  expected.begin() + device.regionBase);
        std::copy(after.begin(), after.begin() + keptFrom, expected.begin());
        EXPECT_EQ(firstDifference(after, expected), -1) << "flash outside the region changed";
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

// Sizes that end inside a page: the partial last page must be programmed too.
const DeviceCase kDevices[] = {{"Serial1010", &k1010, 0xF001},
                               {"SerialBF8E", &kBF8E, 0x70001},
                               {"Indirect9D17", &k9D17, 0x48001}};

void PrintTo(const DeviceCase &c, std::ostream *out) { *out << c.name; }

std::string caseName(const ::testing::TestParamInfo<DeviceCase> &info) { return info.param.name; }

class UpdateOutcome : public FlashOutcome, public ::testing::WithParamInterface<DeviceCase> {};

// Every block or sector of the region is erased (old firmware shows through
// anything left unerased, also beyond the image), the device was given the
// time each erase takes, the pin-out version was taken from its own byte, the
// flash outside the region (0x1010's configuration block 2, 0xBF8E below its
// Offset) is left alone, and the procedure ended everything it started.
TEST_P(UpdateOutcome, OverOldFirmwareLeavesExactlyTheNewRegionAndNothingOpen) {
    open(*GetParam().device);
    installOldFirmware();
    const std::vector<uint8_t> before = wholeArray();
    const std::vector<uint8_t> bytes = firmware(GetParam().imageBytes);
    ASSERT_EQ(write(image(bytes)), 0);
    EXPECT_EQ(firstDifference(region(), expectedRegion(bytes)), -1);
    expectOutsideUnchanged(before);
    expectNothingLeftOpen();
    EXPECT_GT(zelsim_virtual_ns(), 0u);  // the pacing ran on the virtual clock

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
        // The started firmware reports its version; the same image is no longer newer.
        uint32_t version = 0;
        EXPECT_EQ(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_FIRMWARE_VERSION, &version), 0);
        EXPECT_EQ(version, 8u);
        EXPECT_EQ(write(image(bytes)), ZELSMBUS_ERROR_INVALID_PARAMETER);
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

// Images or controllers an update refuses before the flash is touched, each
// by the check that finds it.
struct RefusalCase {
    const char *name;
    const Device *device;
    std::function<void(tImageFields &)> fields;            // header fields to change
    std::function<std::string(std::string)> text;         // the image text to change
    std::function<void(unsigned node)> arrange;           // the controller to change
    int32_t code;
    size_t bytes = 300;
};

void PrintTo(const RefusalCase &c, std::ostream *out) { *out << c.name; }

void asMade(tImageFields &) {}
std::string asBuilt(std::string image) { return image; }
void asInstalled(unsigned) {}
std::function<void(tImageFields &)> setField(uint32_t tImageFields::*field, uint32_t value) {
    return [field, value](tImageFields &f) { f.*field = value; };
}
std::function<void(unsigned)> identity(uint16_t flashId, uint32_t signature) {
    return [flashId, signature](unsigned node) {
        zelsim_flash_set_identity(node, flashId, signature);
    };
}

const RefusalCase kRefusals[] = {
    {"NoSignature", &k1010, asMade, asBuilt, identity(0x1010, 0), -52005},
    {"NotFirmwareUpdate", &k1010, [](tImageFields &f) { f.updateType = "FWUpdateX"; }, asBuilt,
     asInstalled, -52005},
    {"SameVersion", &k1010, setField(&tImageFields::version, 7), asBuilt, asInstalled, -52005},
    {"OlderVersion", &kBF8E, setField(&tImageFields::version, 1), asBuilt, asInstalled, -52005},
    {"HeaderVersion3", &k1010, setField(&tImageFields::headerVersion, 3), asBuilt, asInstalled,
     -52002},
    {"UnknownFlash", &k1010, asMade, asBuilt, identity(0x1234, 0x727EBABE), -52002},
    {"OffsetOn1010", &k1010, setField(&tImageFields::offset, 0x8000), asBuilt, asInstalled,
     -52002},
    {"UnalignedOffsetOnBF8E", &kBF8E, setField(&tImageFields::offset, 0x80100), asBuilt,
     asInstalled, -52002},
    {"OffsetBeyondBF8EAddressSpace", &kBF8E, setField(&tImageFields::offset, 0xFF0000), asBuilt,
     asInstalled, -52002},
    {"OtherSubsystem", &k9D17, setField(&tImageFields::subsystemId, 0x9D18), asBuilt, asInstalled,
     -52002},
    {"SubsystemAbove16Bits", &k1010, setField(&tImageFields::subsystemId, 0x11010), asBuilt,
     asInstalled, -52002},
    {"OtherPinOut", &kBF8E, setField(&tImageFields::pinOutVersion, kPinOut + 1), asBuilt,
     asInstalled, -52002},
    {"PinOutAbove255", &k9D17, setField(&tImageFields::pinOutVersion, 0x100 + kPinOut), asBuilt,
     asInstalled, -52002},
    {"ByteCountDiffers", &k1010, asMade,
     [](std::string image) { return withField(image, "ByteCount", "299"); }, asInstalled, -52023},
    {"CrcDiffers", &kBF8E, asMade,
     [](std::string image) { return withField(image, "CRC", "0x7"); }, asInstalled, -52023},
    {"InterfaceNeverReady", &k1010, asMade, asBuilt,
     [](unsigned node) { zelsim_flash_fault(node, ZELSIM_FLASH_INTERFACE_STUCK, 1); }, -52007},
    {"LargerThanTheRegion1010", &k1010, asMade, asBuilt, asInstalled, -52019, 0x10001},
    // 0xBF8E's region ends in its two trailer bytes: an image reaching into
    // them could never verify.
    {"ReachingIntoTheTrailerBF8E", &kBF8E, asMade, asBuilt, asInstalled, -52019, 0x7FFFF},
    {"AsLargeAsTheRegionBF8E", &kBF8E, asMade, asBuilt, asInstalled, -52019, 0x80000},
};

class Refusal : public FlashOutcome, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, RefusedBeforeTheFlashIsTouched) {
    const RefusalCase &c = GetParam();
    open(*c.device);
    installOldFirmware();
    const std::vector<uint8_t> before = wholeArray();
    tImageFields f = fields();
    c.fields(f);
    const std::string text = c.text(buildFirmwareImage(f, firmware(c.bytes)));
    c.arrange(device.node);
    zelsim_log_clear();
    EXPECT_EQ(write(text), c.code);
    // A status write alone (0xBF8E protected again on the way in) changes nothing stored.
    EXPECT_FALSE(flashCommandsSent(false));
    EXPECT_EQ(firstDifference(wholeArray(), before), -1);
    unsigned activations = 0;
    zelsim_flash_activations(device.node, &activations);
    EXPECT_EQ(activations, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, Refusal, ::testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.name); });

// Bit 0 of the flags lets an image that is not newer through; the other bits
// mean nothing.
TEST_F(FlashOutcome, NotNewerImageGoesThroughWhenForced) {
    open(k1010);
    installOldFirmware();
    tImageFields f = fields();
    f.version = 7;
    const std::vector<uint8_t> bytes = firmware(1000);
    EXPECT_EQ(write(buildFirmwareImage(f, bytes), ZELSMBUS_FIRMWARE_FORCE | 0x80), 0);
    EXPECT_EQ(firstDifference(region(), expectedRegion(bytes)), -1);
}

// After programming in auto-increment mode the blocks are protected again
// (status register 0x3C), which the part takes only once the mode has ended.
TEST_F(FlashOutcome, DeviceBF8EIsProtectedAgainAfterAnUpdate) {
    open(kBF8E);
    ASSERT_EQ(write(image(firmware(0x800))), 0);
    EXPECT_EQ(deviceState().protection, 0x3C);
    expectNothingLeftOpen();
}

// ---- faults ------------------------------------------------------------------
// One table of faults per flash device, each judged by the same rules: the
// call answers the case's code; a success means the new region in full; a
// failure leaves the old region where the device keeps a copy (0x1010) or
// the region's new bytes nowhere trusted; the pin-out word reads as before
// the call (an update cut short puts it back); nothing is left open; and the
// same call made again, the fault gone, completes.

// Region bases as the fixture has them, with the pin-out word inside the
// region that an update rewrites.
const Device kBF8EPinOutInside{"FLASH::BF8E", 1, 0xBF8E, 0x80000, 0x80000, 0x80000, 0x80020};
const Device k9D17PinOutInside{"FLASH::9D17", 2, 0x9D17, 0x300000, 0x300000, 0, 0x300020};

void registerWrites(unsigned node, std::initializer_list<std::pair<uint32_t, uint32_t>> writes) {
    for (const auto &write : writes) zelsim_register_write(node, write.first, write.second);
}

// What a process killed mid-procedure leaves in each device.
void leaveReadOpen(unsigned node) { registerWrites(node, {{64, 0x03000100}, {68, 0x304}}); }
void leavePageProgramOpen(unsigned node) {
    registerWrites(node, {{64, 0x06000000}, {68, 0x201}, {64, 0x02000100}, {68, 0x304},
                          {64, 0x12345678}, {68, 0x304}});
}
void leaveAutoIncrement(unsigned node) {
    registerWrites(node, {{64, 0x50000000}, {68, 0x201}, {64, 0x01000000}, {68, 0x202},
                          {64, 0x06000000}, {68, 0x201}, {64, 0xAD080000}, {68, 0x704},
                          {64, 0x12340000}, {68, 0x202}});
}
void leaveIndirectTransferOpen(unsigned node) {
    registerWrites(node, {{0x2000, 4}, {0x2000, 16}, {0x2008, 0x300000}, {0x2000, 1},
                          {0x2010, 0x1234}});
}

struct FaultCase {
    const char *name;
    const Device *device;
    size_t imageBytes;
    std::function<void(unsigned node)> arrange;  // the fault, or the state a kill left
    int32_t code;
    bool leavesOld;         // a failure leaves the old region in full
    bool touchesFlash = true;  // false: refused before anything is erased
};

void PrintTo(const FaultCase &c, std::ostream *out) { *out << c.name; }

std::function<void(unsigned)> fault(enum zelsim_flash_fault kind, uint32_t value) {
    return [kind, value](unsigned node) { zelsim_flash_fault(node, kind, value); };
}

constexpr size_t k9D17Pages = 0x1000 / 256 + 1;  // an image of 0x1000 bytes

const FaultCase kFaultCases[] = {
    // A first answer of all ones is asked again, and the second answer
    // stands: an identification or a pin-out word that then answers goes on.
    {"MissedIdentify1010", &k1010, 0x8000, fault(ZELSIM_FLASH_MISS_IDENTIFY, 1), 0, true},
    {"MissedIdentifyBF8E", &kBF8E, 0x8000, fault(ZELSIM_FLASH_MISS_IDENTIFY, 1), 0, false},
    {"MissedIdentify9D17", &k9D17, 0x1000, fault(ZELSIM_FLASH_MISS_IDENTIFY, 1), 0, false},
    {"MissedPinOutRead1010", &k1010, 0x8000, fault(ZELSIM_FLASH_MISS_READ, 1), 0, true},
    {"MissedPinOutReadBF8E", &kBF8E, 0x8000, fault(ZELSIM_FLASH_MISS_READ, 1), 0, false},
    // One word of the saved region answers all ones without an error: two
    // readings that differ refuse the update before anything is erased.
    {"UnansweredWordWhileSaving1010", &k1010, 0x8000, fault(ZELSIM_FLASH_MISS_DATA_WORD, 3000),
     ZELSMBUS_ERROR_IO, true, false},
    // A killed process left a transfer or programming open: the next call works.
    {"KilledInRead1010", &k1010, 0x8000, leaveReadOpen, 0, true},
    {"KilledInPageProgram1010", &k1010, 0x8000, leavePageProgramOpen, 0, true},
    {"KilledInAutoIncrementBF8E", &kBF8E, 0x8000, leaveAutoIncrement, 0, false},
    {"KilledInIndirectTransfer9D17", &k9D17, 0x1000, leaveIndirectTransferOpen, 0, false},
    // Programs that do not stick: 0x1010 puts its old region back, or says it
    // could not; the others put the pin-out word back.
    {"DroppedPrograms1010", &k1010, 0x8000, fault(ZELSIM_FLASH_DROP_PROGRAMS, 256),
     ZELSMBUS_ERROR_VERIFY_FAILED, true},
    // The update's 256 page programs and those of both write-backs.
    {"DroppedWriteBack1010", &k1010, 0x8000, fault(ZELSIM_FLASH_DROP_PROGRAMS, 3 * 256),
     ZELSMBUS_ERROR_REGION_DAMAGED, false},
    {"DroppedProgramsBF8E", &kBF8EPinOutInside, 0x8000,
     fault(ZELSIM_FLASH_DROP_PROGRAMS, 0x80000 / 2), ZELSMBUS_ERROR_VERIFY_FAILED, false},
    {"DroppedPrograms9D17", &k9D17PinOutInside, 0x1000,
     fault(ZELSIM_FLASH_DROP_PROGRAMS, k9D17Pages), ZELSMBUS_ERROR_VERIFY_FAILED, false},
    // A device that reports an error bit refuses write enable: nothing is erased.
    {"DeviceErrorBits9D17", &k9D17, 0x1000, fault(ZELSIM_FLASH_STATUS_BITS, 0x08),
     ZELSMBUS_ERROR_INVALID_PARAMETER, true, false},
    // A device that does not answer is not erased.
    {"Busy1010", &k1010, 0x8000, fault(ZELSIM_FLASH_DEVICE_BUSY, 1), ZELSMBUS_ERROR_TIMEOUT,
     true, false},
    {"InterfaceStuckBF8E", &kBF8E, 0x8000, fault(ZELSIM_FLASH_INTERFACE_STUCK, 1),
     ZELSMBUS_ERROR_TIMEOUT, true, false},
};

class FlashFault : public FlashOutcome, public ::testing::WithParamInterface<FaultCase> {
protected:
    // The pin-out word: four bytes on the serial devices, two on 0x9D17.
    std::vector<uint8_t> pinOutBytes() const {
        std::vector<uint8_t> bytes(device.node == k9D17.node ? 2 : 4);
        zelsim_flash_read(device.node, device.pinOutAddress, bytes.data(), bytes.size());
        return bytes;
    }
    void clearFlashFaults() const {
        zelsim_clear_faults();
        for (auto kind : {ZELSIM_FLASH_INTERFACE_STUCK, ZELSIM_FLASH_DEVICE_BUSY,
                          ZELSIM_FLASH_DROP_PROGRAMS, ZELSIM_FLASH_STATUS_BITS,
                          ZELSIM_FLASH_MISS_IDENTIFY, ZELSIM_FLASH_MISS_READ,
                          ZELSIM_FLASH_MISS_DATA_WORD})
            zelsim_flash_fault(device.node, kind, 0);
    }
};

TEST_P(FlashFault, EndsInTheOldOrTheNewContentsAndTheRepeatCompletes) {
    const FaultCase &c = GetParam();
    open(*c.device);
    installOldFirmware();
    const std::vector<uint8_t> old = region();
    const std::vector<uint8_t> pinOut = pinOutBytes();
    const std::vector<uint8_t> bytes = firmware(c.imageBytes);
    const std::string text = image(bytes);
    c.arrange(device.node);
    zelsim_log_clear();

    const int32_t code = write(text, ZELSMBUS_FIRMWARE_FORCE);
    EXPECT_EQ(code, c.code);
    if (code == 0) {
        EXPECT_EQ(firstDifference(region(), expectedRegion(bytes)), -1);
    } else {
        if (c.leavesOld) {
            EXPECT_EQ(firstDifference(region(), old), -1);
        }
        if (!c.touchesFlash) {
            EXPECT_FALSE(flashCommandsSent(false));
        }
    }
    EXPECT_EQ(pinOutBytes(), pinOut) << "the pin-out word is not what it was";
    unsigned activations = 0;
    zelsim_flash_activations(device.node, &activations);
    EXPECT_EQ(activations, code == 0 && device.node == k9D17.node ? 1u : 0u)
        << "only firmware that verified is started";

    clearFlashFaults();
    expectNothingLeftOpen();
    ASSERT_EQ(write(text, ZELSMBUS_FIRMWARE_FORCE), 0);
    EXPECT_EQ(firstDifference(region(), expectedRegion(bytes)), -1);
    expectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(Devices, FlashFault, ::testing::ValuesIn(kFaultCases),
                         [](const auto &info) { return std::string(info.param.name); });

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

TEST_F(FlashOutcome, WrongIdentifierOrSignatureIsRefused) {
    open(k9D17);
    ASSERT_EQ(zelsim_flash_set_identity(device.node, 0x4242, 0x727EBABE), 0);
    EXPECT_EQ(write(image(firmware(100))), -52002);
    ASSERT_EQ(zelsim_flash_set_identity(device.node, 0x9D17, 0), 0);
    EXPECT_EQ(write(image(firmware(100))), -52005);
}

// The configuration flag through the driver: word 8179 of block 2.
class ConfigFlagSim : public FlashOutcome {
protected:
    uint32_t flagWord() const {
        uint8_t bytes[4];
        zelsim_flash_read(0, 0x10000 + 8179 * 4, bytes, 4);
        return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
               bytes[3];
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
    EXPECT_FALSE(flashCommandsSent(false));
}

// Faults of block 2's rewrite: a first read of all ones is read again and,
// when the readings differ, nothing is erased; a block that cannot be put
// back says so with a code of its own. A repeat completes.
struct ConfigFaultCase {
    const char *name;
    enum zelsim_flash_fault fault;
    uint32_t value;
    int32_t code;
    bool blockKept;
};

void PrintTo(const ConfigFaultCase &c, std::ostream *out) { *out << c.name; }

class ConfigFlagFault : public ConfigFlagSim,
                        public ::testing::WithParamInterface<ConfigFaultCase> {};

TEST_P(ConfigFlagFault, KeepsTheBlockOrSaysItIsDamaged) {
    const ConfigFaultCase &c = GetParam();
    open(k1010);
    std::vector<uint8_t> before(0x8000), after(0x8000);
    for (size_t i = 0; i < before.size(); ++i) before[i] = uint8_t(i * 7 + 1);
    zelsim_flash_write(0, 0x10000, before.data(), before.size());
    ASSERT_EQ(zelsim_flash_fault(0, c.fault, c.value), 0);
    zelsim_log_clear();
    const uint32_t on = 1;
    EXPECT_EQ(ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &on), c.code);
    zelsim_flash_read(0, 0x10000, after.data(), after.size());
    if (c.blockKept) {
        EXPECT_EQ(after, before);
    }
    if (c.code == ZELSMBUS_ERROR_IO) {
        EXPECT_FALSE(flashCommandsSent(false));
    }
    zelsim_flash_fault(0, c.fault, 0);
    ASSERT_EQ(ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &on), 0);
    uint32_t value = 0;
    ASSERT_EQ(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &value), 0);
    EXPECT_EQ(value, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Block2, ConfigFlagFault,
    ::testing::Values(
        ConfigFaultCase{"MissedRead", ZELSIM_FLASH_MISS_READ, 1, ZELSMBUS_ERROR_IO, true},
        // One word of block 2 answers all ones without an error while it is
        // saved: it is not taken for the block's contents.
        ConfigFaultCase{"UnansweredWordWhileSaving", ZELSIM_FLASH_MISS_DATA_WORD, 5000,
                        ZELSMBUS_ERROR_IO, true},
        ConfigFaultCase{"DroppedProgram", ZELSIM_FLASH_DROP_PROGRAMS, 1, ZELSMBUS_ERROR_SYSTEM,
                        true},
        // The rewrite's 128 page programs and those of both write-backs.
        ConfigFaultCase{"DroppedWriteBack", ZELSIM_FLASH_DROP_PROGRAMS, 3 * 128,
                        ZELSMBUS_ERROR_REGION_DAMAGED, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ConfigFlagSim, OnlyDevice1010HasTheFlag) {
    open(kBF8E);
    uint32_t value = 0xEE;
    EXPECT_EQ(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &value), -52002);
    EXPECT_EQ(value, 0xEEu);
}

}  // namespace
