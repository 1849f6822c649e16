// Every flash procedure against devices that answer only what they define:
// an instruction a device does not define reads all ones and changes
// nothing, 0x9D17's serial port tells its identifier and nothing else. Each
// procedure sends a device only the instructions its own procedures use, a
// read changes nothing, the pin-out word is taken as it reads, a driver's
// warning outlives the clean-up steps, and every code said to come before
// the erase leaves the flash as it was.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "flash/firmwareWrite.h"
#include "flashSimFixture.h"

// Allocations of at least this many bytes fail (0: none), for the test of
// running out of memory before the erase; the test program is linked with
// malloc wrapped.
static size_t gFailAllocationsFrom = 0;
extern "C" void *__real_malloc(size_t size);
extern "C" void *__wrap_malloc(size_t size) {
    if (gFailAllocationsFrom != 0 && size >= gFailAllocationsFrom) return nullptr;
    return __real_malloc(size);
}

namespace {

using namespace flashsim;

std::set<unsigned> instructionsOf(const Device &d) { return flashworld::instructionsOf(d.flashId); }

class FlashProcedures : public FlashSim {
protected:
    std::set<unsigned> instructionsSent(bool clear = true) const {
        uint8_t seen[32];
        EXPECT_EQ(zelsim_flash_instructions(device.node, seen, clear ? 1 : 0), 0);
        std::set<unsigned> sent;
        for (unsigned i = 0; i < 256; ++i)
            if (seen[i / 8] >> (i % 8) & 1) sent.insert(i);
        return sent;
    }
    std::vector<uint8_t> wholeArray() const {
        std::vector<uint8_t> bytes(zelsim_flash_size(device.node));
        zelsim_flash_read(device.node, 0, bytes.data(), bytes.size());
        return bytes;
    }
    static std::string listed(const std::set<unsigned> &instructions) {
        std::string text;
        char hex[8];
        for (unsigned i : instructions) {
            std::snprintf(hex, sizeof hex, " 0x%02X", i);
            text += hex;
        }
        return text;
    }
    void expectOnly(const std::set<unsigned> &sent, const std::set<unsigned> &allowed) const {
        std::set<unsigned> foreign;
        for (unsigned i : sent)
            if (allowed.count(i) == 0) foreign.insert(i);
        EXPECT_TRUE(foreign.empty()) << "instructions the device does not take:" << listed(foreign);
    }
    int32_t getFlag(uint32_t &value) {
        return ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &value);
    }
    int32_t setFlag(uint32_t value) {
        return ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &value);
    }
};

struct ProcedureCase {
    const char *name;
    const Device *device;
    bool writes;  // false: a read, which must change nothing at all
    int32_t code;
};

void PrintTo(const ProcedureCase &c, std::ostream *out) { *out << c.name; }

const ProcedureCase kProcedures[] = {
    {"Update1010", &k1010, true, 0},
    {"UpdateBF8E", &kBF8E, true, 0},
    {"Update9D17", &k9D17, true, 0},
    {"GetFlag1010", &k1010, false, 0},
    {"GetFlagBF8E", &kBF8E, false, ZELSMBUS_ERROR_NOT_SUPPORTED},
    {"GetFlag9D17", &k9D17, false, ZELSMBUS_ERROR_NOT_SUPPORTED},
    {"SetFlag1010", &k1010, true, 0},
    {"SetFlagBF8E", &kBF8E, true, ZELSMBUS_ERROR_NOT_SUPPORTED},
    {"SetFlag9D17", &k9D17, true, ZELSMBUS_ERROR_NOT_SUPPORTED},
};

class Procedure : public FlashProcedures, public ::testing::WithParamInterface<ProcedureCase> {
protected:
    int32_t run(const ProcedureCase &c) {
        const std::string name = c.name;
        if (name.rfind("Update", 0) == 0) return write(image(firmware(0x1000)));
        if (name.rfind("GetFlag", 0) == 0) {
            uint32_t value = 0xEE;
            const int32_t code = getFlag(value);
            if (code == 0) EXPECT_EQ(value, 0u);
            else EXPECT_EQ(value, 0xEEu) << "a failed get wrote its value";
            return code;
        }
        return setFlag(1);
    }
};

TEST_P(Procedure, SendsOnlyTheDevicesInstructionsAndEndsAtRest) {
    const ProcedureCase &c = GetParam();
    open(*c.device);
    installOldFirmware();
    if (device.flashId == 0xBF8E) {
        // Blocks left unprotected by someone else: a read must not protect them.
        for (const auto &[word, control] : {std::pair<uint32_t, uint32_t>{0x50000000, 0x201},
                                            {0x01000000, 0x202}}) {
            zelsim_register_write(device.node, 64, word);
            zelsim_register_write(device.node, 68, control);
        }
        ASSERT_EQ(deviceState().protection, 0);
    }
    const std::vector<uint8_t> before = wholeArray();
    const zelsim_flash_state stateBefore = deviceState();
    instructionsSent();
    zelsim_log_clear();

    EXPECT_EQ(run(c), c.code);
    const std::set<unsigned> sent = instructionsSent();
    if (!c.writes) {
        expectOnly(sent, {0xAB, 0x03});
        EXPECT_EQ(wholeArray(), before) << "a read changed the flash";
        const zelsim_flash_state stateAfter = deviceState();
        EXPECT_EQ(stateAfter.protection, stateBefore.protection);
        EXPECT_EQ(stateAfter.status_register, stateBefore.status_register);
        EXPECT_EQ(stateAfter.write_enabled, stateBefore.write_enabled);
        for (size_t i = 0; i < zelsim_log_count(); ++i) {
            zelsim_log_record entry;
            ASSERT_EQ(zelsim_log_entry(i, &entry), 0);
            uint32_t offset = 0;
            std::memcpy(&offset, entry.in + 4, 4);
            EXPECT_FALSE(entry.command == 0x19 && offset >= 0x2000)
                << "a read wrote the indirect port";
        }
    } else {
        expectOnly(sent, instructionsOf(device));
        const zelsim_flash_state after = deviceState();
        EXPECT_EQ(after.selected, 0);
        EXPECT_EQ(after.write_enabled, 0);
        EXPECT_EQ(after.auto_increment, 0);
        EXPECT_EQ(after.indirect_transfer_open, 0);
        EXPECT_EQ(after.reset_granted, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, Procedure, ::testing::ValuesIn(kProcedures),
                         [](const auto &info) { return std::string(info.param.name); });

// The pin-out word as it reads: an erased word is version 255, which an image
// made for 255 suits and any other does not.
struct PinOutCase {
    const char *name;
    const Device *device;
    uint32_t imageVersion;
    int32_t code;
};

void PrintTo(const PinOutCase &c, std::ostream *out) { *out << c.name; }

const Device kBF8EPinOutOutside = kBF8E;
const PinOutCase kErasedPinOut[] = {
    {"Erased255BF8E", &kBF8EPinOutOutside, 255, 0},
    {"Erased255On9D17", &k9D17, 255, 0},
    {"ErasedOtherBF8E", &kBF8EPinOutOutside, kPinOut, ZELSMBUS_ERROR_NOT_SUPPORTED},
    {"ErasedOther9D17", &k9D17, kPinOut, ZELSMBUS_ERROR_NOT_SUPPORTED},
};

class ErasedPinOut : public FlashProcedures, public ::testing::WithParamInterface<PinOutCase> {};

TEST_P(ErasedPinOut, ReadsAsVersion255) {
    const PinOutCase &c = GetParam();
    open(*c.device);
    const uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(zelsim_flash_write(device.node, device.pinOutAddress, erased, 4), 0);
    tImageFields f = fields();
    f.pinOutVersion = c.imageVersion;
    const std::vector<uint8_t> bytes = firmware(0x800);
    EXPECT_EQ(write(buildFirmwareImage(f, bytes)), c.code);
    if (c.code == 0) {
        EXPECT_EQ(region(), expectedRegion(bytes));
    }
}

INSTANTIATE_TEST_SUITE_P(Words, ErasedPinOut, ::testing::ValuesIn(kErasedPinOut),
                         [](const auto &info) { return std::string(info.param.name); });

// A warning the driver answered on the first register write is the call's
// code at the end: no clean-up step clears it.
TEST_F(FlashProcedures, FirstDriverWarningOutlivesTheCleanUp) {
    constexpr int32_t kWarning = 52111;
    constexpr unsigned kRegisterWrite = 0x19;
    for (const Device *d : {&k1010, &kBF8E, &k9D17}) {
        SCOPED_TRACE(d->name);
        ZELSMBusClose(handle);
        handle = nullptr;
        open(*d);
        zelsim_set_driver_status(kRegisterWrite, kWarning, 1);
        EXPECT_EQ(write(image(firmware(0x800))), kWarning);
        const std::vector<uint8_t> bytes = firmware(0x800);
        EXPECT_EQ(region(), expectedRegion(bytes)) << "the warning stopped the update";
    }
    ZELSMBusClose(handle);
    handle = nullptr;
    open(k1010);
    zelsim_set_driver_status(kRegisterWrite, kWarning, 1);
    EXPECT_EQ(setFlag(1), kWarning);
    uint32_t value = 0;
    EXPECT_EQ(getFlag(value), 0);
    EXPECT_EQ(value, 1u);
}

// Every code the library says comes only before the erase, produced through
// the exports: the flash is exactly as it was, and the tool's list is the
// library's.
struct BeforeEraseCase {
    int32_t code;
    std::function<int32_t()> run;
};

TEST_F(FlashProcedures, CodesBeforeTheEraseLeaveTheFlashAsItWas) {
    open(k1010);
    installOldFirmware();
    const std::string good = image(firmware(0x1000));
    tImageFields otherSubsystem = fields();
    otherSubsystem.subsystemId = 0x4242;
    const std::string foreign = buildFirmwareImage(otherSubsystem, firmware(0x1000));
    const std::string tooLarge = image(firmware(0x10001));
    std::string corrupt = good;
    const size_t crcAt = corrupt.find("\r\nCRC::") + 7;
    corrupt.replace(crcAt, corrupt.find("\r\n", crcAt) - crcAt, "0x12345678");
    const char *node = zelsim_node_path(device.node);
    ASSERT_NE(node, nullptr);

    const std::vector<BeforeEraseCase> cases = {
        {ZELSMBUS_ERROR_NOT_FOUND,
         [&] { return ZELSMBusWriteFirmware(handle, 0, good.data(), 0); }},
        {ZELSMBUS_ERROR_NOT_SUPPORTED,
         [&] { return write(foreign); }},
        {ZELSMBUS_ERROR_TOO_LARGE,
         [&] { return write(tooLarge); }},
        {ZELSMBUS_ERROR_CORRUPT_DATA,
         [&] { return write(corrupt); }},
        {ZELSMBUS_ERROR_OUT_OF_MEMORY,
         [&] {
             gFailAllocationsFrom = 0x10000;  // the region's buffers, not the image's bytes
             const int32_t code = write(good);
             gFailAllocationsFrom = 0;
             return code;
         }},
        {ZELSMBUS_ERROR_BUSY,
         [&] {
             const int other = ::open(node, O_RDWR);
             EXPECT_GE(other, 0);
             EXPECT_EQ(::flock(other, LOCK_SH), 0);  // a reader holds the flash
             const int32_t code = write(good);
             ::close(other);
             return code;
         }},
    };
    std::set<int32_t> covered;
    const std::vector<uint8_t> before = wholeArray();
    for (const BeforeEraseCase &c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_TRUE(nZELSMBUS000::firmwareRefusedBeforeErase(c.code));
        instructionsSent();
        EXPECT_EQ(c.run(), c.code);
        EXPECT_EQ(wholeArray(), before);
        const std::set<unsigned> sent = instructionsSent();
        EXPECT_EQ(sent.count(0xD8) + sent.count(0x02), 0u) << "an erase or program was sent";
        covered.insert(c.code);
    }
#define ZELSMBUS_CHECK_LISTED(name, value, text)                                           \
    EXPECT_TRUE(!nZELSMBUS000::firmwareRefusedBeforeErase(value) || covered.count(value)) \
        << #name " is said to come before the erase but no case shows it";
    ZELSMBUS_STATUS_CODES(ZELSMBUS_CHECK_LISTED)
#undef ZELSMBUS_CHECK_LISTED
    EXPECT_EQ(write(good), 0);
}

// A get of the flag shares the flash lock with other readers; an update or a
// set waits for them and then answers busy.
TEST_F(FlashProcedures, FlagReadersShareTheLockWritersDoNot) {
    open(k1010);
    const int reader = ::open(zelsim_node_path(device.node), O_RDWR);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::flock(reader, LOCK_SH), 0);
    uint32_t value = 0xEE;
    EXPECT_EQ(getFlag(value), 0);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(setFlag(1), ZELSMBUS_ERROR_BUSY);
    ASSERT_EQ(::flock(reader, LOCK_EX), 0);  // a writer now: readers wait too
    EXPECT_EQ(getFlag(value), ZELSMBUS_ERROR_BUSY);
    ::close(reader);
    EXPECT_EQ(setFlag(1), 0);
}

}  // namespace
