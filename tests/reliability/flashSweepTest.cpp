// Flash writes under a failing driver. For each flash device's firmware
// update and for the configuration flag, the k-th driver request of the call
// fails (with an errno, or with a negative status word after the request was
// carried out), for k spread over the whole call. Afterwards
//  * the call reports that failure: -52024, the code of both faults;
//  * 0x1010's firmware region and configuration block 2 hold the old
//    contents in full or the new ones in full;
//  * the flash is at rest: no transfer left open, no write enable, 0xBF8E
//    protected again and out of auto-increment programming, the indirect
//    port released;
//  * the same call made again succeeds and leaves the new contents in full.
// The images fill most of the region, so that a write cut short shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../flashSupport/flashWorld.h"
#include "callInterposer.h"
#include "flash/firmwareChecksums.h"
#include "imageBuilder.h"
#include "reliabilitySupport.h"

namespace zelrel {
namespace {

using zelsmbus_mkimage::buildFirmwareImage;
using zelsmbus_mkimage::tImageFields;

using flashworld::kFlashWorld;

constexpr uint8_t kPinOut = 4;
// The pin-out word: the version in its low byte, distinct bytes around it.
constexpr uint8_t kPinOutWord[4] = {kPinOut, 0xA5, 0x3C, 0x5A};
// Activation on 0x9D17 advances the installed version by one: far below this.
constexpr uint32_t kNewVersion = 100;
using flashworld::kBlock2;
using flashworld::kBlockBytes;
constexpr uint32_t kFlagWordAt = kBlock2 + 8179 * 4;

struct tDevice : flashworld::tFlashDevice {
    unsigned samples;  // fault positions between the first and the last request
};

// Fewer samples where one call makes millions of requests.
const tDevice k1010{{flashworld::k1010}, 14};
const tDevice kBF8E{{flashworld::kBF8E}, 6};
const tDevice k9D17{{flashworld::k9D17}, 3};

std::vector<uint8_t> pattern(size_t length, unsigned seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 29 + seed + (i >> 9));
    return bytes;
}

std::vector<uint8_t> flashBytes(unsigned node, uint32_t address, size_t length) {
    std::vector<uint8_t> bytes(length);
    zelsim_flash_read(node, address, bytes.data(), length);
    return bytes;
}

struct tFaultAt {
    size_t ordinal;
    tFault fault;
};

// Under the sanitizers every request costs several times as much: fewer
// positions, and each end taken by one kind of fault only.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The first and the last request fail with each kind of fault; `samples`
// positions evenly spread between them take the two kinds in turn.
std::vector<tFaultAt> faultPositions(size_t calls, unsigned samples) {
    std::vector<tFaultAt> chosen;
    if (kSanitized) {
        chosen.push_back({1, tFault::errnoValue});
        chosen.push_back({calls, tFault::driverWord});
        samples = samples / 3 > 0 ? samples / 3 : 1;
    } else {
        for (const size_t ends : {size_t(1), calls})
            for (const tFault fault : {tFault::errnoValue, tFault::driverWord})
                chosen.push_back({ends, fault});
    }
    for (unsigned i = 1; i <= samples; ++i)
        chosen.push_back(
            {1 + (calls - 1) * i / (samples + 1), i % 2 ? tFault::errnoValue : tFault::driverWord});
    return chosen;
}

// What the flash device still holds on to; empty when it is at rest.
std::string restProblem(const tDevice &device) {
    zelsim_flash_state state{};
    if (zelsim_flash_device_state(device.node, &state) != 0) return "no device state";
    std::ostringstream problem;
    if (state.selected)
        problem << " transfer left open (instruction 0x" << std::hex << int(state.open_instruction)
                << std::dec << ");";
    if (state.write_enabled) problem << " write enabled;";
    if (state.busy) problem << " busy;";
    if (state.auto_increment) problem << " in auto-increment programming;";
    if (device.flashId == 0xBF8E && state.protection != 0x3C)
        problem << " protection 0x" << std::hex << int(state.protection) << std::dec << ";";
    if (state.indirect_transfer_open) problem << " indirect transfer open;";
    if (state.reset_granted) problem << " indirect reset still granted;";
    return problem.str();
}

// One operation under test: prepared in a fresh world, run on an open
// handle, and judged by what the flash holds afterwards.
struct tOperation {
    std::string name;
    const tDevice *device;
    std::function<void()> prepare;                          // not watched
    std::function<int32_t(tSMBusHandle *)> run;             // watched
    std::function<bool()> holdsOld, holdsNew;               // the contents
    bool oldOrNewAfterFailure;                              // device 0x1010 and block 2
    std::function<std::string(tSMBusHandle *)> afterwards;  // further checks after a failure
};

tOperation firmwareUpdate(const tDevice &device, double fill) {
    const size_t length = size_t(device.regionSize * fill) & ~size_t(3);
    std::vector<uint8_t> newBytes = pattern(length, 0x11);
    std::vector<uint8_t> oldRegion = pattern(device.regionSize, 0x5B);
    // Both carry the board's pin-out version where the board keeps it.
    for (std::vector<uint8_t> *bytes : {&newBytes, &oldRegion}) {
        const uint32_t at = device.pinOutAddress - device.regionBase;
        if (device.pinOutAddress >= device.regionBase && at + 4 <= bytes->size())
            std::copy(kPinOutWord, kPinOutWord + 4, bytes->begin() + at);
    }
    std::vector<uint8_t> newRegion(device.regionSize, 0xFF);
    std::copy(newBytes.begin(), newBytes.end(), newRegion.begin());
    if (device.flashId == 0xBF8E) {
        const uint16_t trailer = nZELSMBUS000::regionCrc16(newRegion.data(), newRegion.size() - 2);
        newRegion[newRegion.size() - 2] = uint8_t(trailer >> 8);
        newRegion[newRegion.size() - 1] = uint8_t(trailer);
    }
    tImageFields fields;
    fields.subsystemId = device.flashId;
    fields.pinOutAddress = device.pinOutAddress;
    fields.pinOutVersion = kPinOut;
    fields.version = kNewVersion;
    fields.offset = device.offset;
    const auto image = std::make_shared<std::string>(buildFirmwareImage(fields, newBytes));
    const tDevice *d = &device;
    const auto region = [d] { return flashBytes(d->node, d->regionBase, d->regionSize); };

    tOperation op;
    op.name = std::string("firmware ") + device.name;
    op.device = d;
    op.prepare = [d, oldRegion] {
        zelsim_flash_write(d->node, d->regionBase, oldRegion.data(), oldRegion.size());
        zelsim_flash_write(d->node, d->pinOutAddress, kPinOutWord, sizeof kPinOutWord);
    };
    op.run = [image](tSMBusHandle *h) {
        return ZELSMBusWriteFirmware(h, uint32_t(image->size()), image->data(), 0);
    };
    op.holdsOld = [region, oldRegion] { return region() == oldRegion; };
    op.holdsNew = [region, newRegion] { return region() == newRegion; };
    op.oldOrNewAfterFailure = device.flashId == 0x1010;
    op.afterwards = [](tSMBusHandle *) { return std::string(); };
    return op;
}

tOperation configFlag() {
    const auto block = [] { return flashBytes(0, kBlock2, kBlockBytes); };
    tOperation op;
    op.name = "configuration flag";
    op.device = &k1010;
    op.prepare = [] {};  // the world's block 2 holds the flag cleared (0x00200100)
    op.run = [](tSMBusHandle *h) {
        const uint32_t on = 1;
        return ZELSMBusSetAttribute(h, ZELSMBUS_ATTR_CONFIG_FLAG, &on);
    };
    const std::vector<uint8_t> oldBlock = [] {
        zelsim_reset();
        zelsim_load_world_text(kFlashWorld);
        return flashBytes(0, kBlock2, kBlockBytes);
    }();
    std::vector<uint8_t> newBlock = oldBlock;
    newBlock[kFlagWordAt - kBlock2 + 3] = 0x03;  // 0x00200100 -> 0x00200103
    op.holdsOld = [block, oldBlock] { return block() == oldBlock; };
    op.holdsNew = [block, newBlock] { return block() == newBlock; };
    op.oldOrNewAfterFailure = true;
    // A get must tell the flag the block holds, never a value from a damaged block.
    op.afterwards = [block, newBlock](tSMBusHandle *h) {
        uint32_t value = 0xEE;
        const int32_t code = ZELSMBusGetAttribute(h, ZELSMBUS_ATTR_CONFIG_FLAG, &value);
        const uint32_t expected = block() == newBlock ? 1 : 0;
        if (code != 0 || value != expected)
            return "get 1006 afterwards: " + std::to_string(code) + ", value " +
                   std::to_string(value);
        return std::string();
    };
    return op;
}

class tFlashSweep : public tSimulatorTest {
protected:
    void TearDown() override {
        pauseRecording();
        tSimulatorTest::TearDown();
    }

    void freshWorld(const tOperation &op) {
        zelsim_reset();
        ASSERT_EQ(zelsim_load_world_text(kFlashWorld), 0) << zelsim_last_error();
        op.prepare();
    }

    // The call with the fault (if any) on its ordinal-th driver request.
    int32_t watched(const tOperation &op, tSMBusHandle *handle, size_t ordinal, tFault fault,
                    bool &delivered) {
        startRecording(false);
        if (ordinal != 0) armFault(ordinal, fault);
        const int32_t code = op.run(handle);
        delivered = faultDelivered();
        pauseRecording();
        zelsim_clear_faults();
        return code;
    }

    void sweep(const tOperation &op) {
        freshWorld(op);
        size_t calls = 0;
        {
            tSession session(op.device->name);
            ASSERT_NE(session.get(), nullptr);
            bool delivered = false;
            ASSERT_EQ(watched(op, session.get(), 0, tFault::errnoValue, delivered), 0);
            calls = recordedCallCount();
            ASSERT_TRUE(op.holdsNew()) << op.name << ": the call without faults";
            ASSERT_EQ(restProblem(*op.device), "") << op.name << ": the call without faults";
        }
        std::vector<std::string> problems;
        size_t runs = 0;
        for (const tFaultAt &at : faultPositions(calls, op.device->samples)) {
            const size_t ordinal = at.ordinal;
            const tFault fault = at.fault;
            {
                ++runs;
                std::ostringstream where;
                where << "request " << ordinal << "/" << calls << " failing with "
                      << (fault == tFault::errnoValue ? "an errno" : "a driver word") << ": ";
                freshWorld(op);
                tSession session(op.device->name);
                bool delivered = false;
                const int32_t code = watched(op, session.get(), ordinal, fault, delivered);
                if (!delivered) {
                    problems.push_back(where.str() + "the call no longer reached it");
                    continue;
                }
                if (code != kFaultDriverWord)
                    problems.push_back(where.str() + "returned " + std::to_string(code));
                if (op.oldOrNewAfterFailure && !op.holdsOld() && !op.holdsNew())
                    problems.push_back(where.str() + "left a mix of old and new contents");
                const std::string rest = restProblem(*op.device);
                if (!rest.empty()) problems.push_back(where.str() + rest);
                const std::string after = op.afterwards(session.get());
                if (!after.empty()) problems.push_back(where.str() + after);
                const int32_t again = op.run(session.get());
                if (again != 0)
                    problems.push_back(where.str() + "the same call again returned " +
                                       std::to_string(again));
                else if (!op.holdsNew())
                    problems.push_back(where.str() + "the call again left other contents");
            }
        }
        std::ostringstream report;
        for (const std::string &p : problems) report << "\n  " << p;
        EXPECT_TRUE(problems.empty())
            << op.name << ": " << problems.size() << " of " << runs << " runs:" << report.str();
        std::printf("[ sweep    ] %s: %zu requests, %zu faulted runs\n", op.name.c_str(), calls,
                    runs);
    }
};

TEST_F(tFlashSweep, Firmware1010) { sweep(firmwareUpdate(k1010, 0.9)); }
TEST_F(tFlashSweep, FirmwareBF8E) { sweep(firmwareUpdate(kBF8E, 0.9)); }
TEST_F(tFlashSweep, Firmware9D17) { sweep(firmwareUpdate(k9D17, 0.9)); }
TEST_F(tFlashSweep, ConfigurationFlag) { sweep(configFlag()); }

// Without a saved copy an update whose image rewrites its own pin-out word
// erases that word; once the update is cut short the library programs the
// word it read before the erase back, so the same call made again completes.
// A word nothing knows any more reads as version 255.
TEST_F(tFlashSweep, PinOutWordInsideTheRegionIsPutBackAfterAFailure) {
    tDevice device = kBF8E;
    device.pinOutAddress = device.regionBase + 0x30000;
    const tOperation op = firmwareUpdate(device, 0.5);
    freshWorld(op);
    tSession session(device.name);
    bool delivered = false;
    ASSERT_EQ(watched(op, session.get(), 0, tFault::errnoValue, delivered), 0);
    const size_t calls = recordedCallCount();

    freshWorld(op);
    ASSERT_EQ(session.open(device.name), 0);
    // A quarter into programming, before the pin-out word is written again.
    EXPECT_EQ(watched(op, session.get(), calls / 6, tFault::errnoValue, delivered),
              kFaultDriverWord);
    EXPECT_EQ(flashBytes(device.node, device.pinOutAddress, 4),
              std::vector<uint8_t>(kPinOutWord, kPinOutWord + 4));
    EXPECT_EQ(op.run(session.get()), 0);
    EXPECT_TRUE(op.holdsNew());

    // A pin-out word that holds another version is still the wrong board.
    const uint8_t other[4] = {kPinOut + 1, 0xA5, 0x3C, 0x5A};
    zelsim_flash_write(device.node, device.pinOutAddress, other, sizeof other);
    EXPECT_EQ(op.run(session.get()), ZELSMBUS_ERROR_NOT_SUPPORTED);
    // An erased word reads as version 255, not this image's.
    const uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    zelsim_flash_write(device.node, device.pinOutAddress, erased, sizeof erased);
    EXPECT_EQ(op.run(session.get()), ZELSMBUS_ERROR_NOT_SUPPORTED);
}

}  // namespace
}  // namespace zelrel
