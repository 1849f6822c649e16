// Faults that strike at a chosen moment of an update: the flash model runs
// in-process behind a mock controller, so a test can arm a fault from the
// register traffic itself (after the first erase, before the last program).
// The simulator's faults count from the start of a call; every outcome that
// does not need the moment is judged through the system calls in
// tests/flashSim/flashOutcomeTest.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "../flashSupport/flashWorld.h"
#include "../flashSupport/mockController.h"
#include "../flashSupport/virtualSleep.inc"
#include "api/tSMBusHandle.h"
#include "flash/flashAccess.h"
#include "imageBuilder.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;
using flashtest::tFlashController;
using flashworld::tFlashDevice;
using zelsmbus_mkimage::buildFirmwareImage;
using zelsmbus_mkimage::tImageFields;

namespace {

constexpr uint32_t kInstalledVersion = 5;
constexpr uint8_t kPinOut = 3;
// What the device needs for one wait until it is no longer busy (30 polls 1
// ms apart, 597 polls 10 ms apart).
constexpr uint64_t kDeviceWaitNs = 30 * 1'000'000ull + 597 * 10'000'000ull;

std::vector<uint8_t> pattern(size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 37 + seed + (i >> 8));
    return bytes;
}

class FirmwareUpdate : public ::testing::Test {
protected:
    void prepare(const tFlashDevice &d) {
        flashtest::gClockNs = 0;
        device = d;
        controller = std::make_unique<tFlashController>(d.flashId, kInstalledVersion, d.flashId);
        controller->logging = false;
        handle.controller = controller.get();
        // The installed firmware fills the region, carrying the board's
        // pin-out version (the low byte of the serial word, the high byte of
        // the indirect one).
        const std::vector<uint8_t> old = pattern(d.regionSize, 0x55);
        controller->model.writeArray(d.regionBase, old.data(), old.size());
        const uint8_t pinOut[2] = {kPinOut, kPinOut};
        controller->model.writeArray(d.pinOutAddress, pinOut, 2);
        installed = region();
    }

    std::string image(size_t length) const {
        tImageFields f;
        f.subsystemId = device.flashId;
        f.pinOutAddress = device.pinOutAddress;
        f.pinOutVersion = kPinOut;
        f.version = kInstalledVersion + 1;
        f.offset = device.offset;
        std::vector<uint8_t> bytes = pattern(length, 0x11);
        const uint32_t at = device.pinOutAddress - device.regionBase;
        if (device.pinOutAddress >= device.regionBase && at + 1 < length)
            bytes[at] = bytes[at + 1] = kPinOut;
        return buildFirmwareImage(f, bytes);
    }

    int32_t write(const std::string &text) {
        return ZELSMBusWriteFirmware(&handle, uint32_t(text.size()), text.data(), 0);
    }

    std::vector<uint8_t> region() const {
        std::vector<uint8_t> bytes(device.regionSize);
        controller->model.readArray(device.regionBase, bytes.data(), bytes.size());
        return bytes;
    }

    std::unique_ptr<tFlashController> controller;
    tSMBusHandle handle{nullptr, 0, {0, 0}};
    tFlashDevice device{};
    std::vector<uint8_t> installed;
};

TEST_F(FirmwareUpdate, NullArgumentsAreRefusedFirst) {
    prepare(flashworld::k1010);
    const std::string text = image(16);
    EXPECT_EQ(ZELSMBusWriteFirmware(nullptr, uint32_t(text.size()), text.data(), 0), -52006);
    EXPECT_EQ(ZELSMBusWriteFirmware(&handle, uint32_t(text.size()), nullptr, 0), -52006);
    EXPECT_EQ(ZELSMBusWriteFirmware(&handle, 0, text.data(), 0), -52006);
}

// After activation the boot header's page is still being programmed for a
// while: it is read back once the device says it is done, not before (a busy
// device streams no data, which would read as a header that did not take).
TEST_F(FirmwareUpdate, BootHeaderIsReadBackOnceTheDeviceIsIdle) {
    prepare(flashworld::k9D17);
    const std::string text = image(0x1000);
    bool activated = false, closed = false;
    unsigned polls = 0;
    controller->onWrite = [&](uint32_t offset, uint32_t value) {
        if (offset == 0x2008) activated = value == 0;
        if (activated && !closed && offset == 0x2000 && value == 2) {
            closed = true;
            controller->model.deviceStuckBusy = true;
        }
        if (closed && offset == 0x2014 && value == 0x50000 && ++polls == 2)
            controller->model.deviceStuckBusy = false;
    };
    EXPECT_EQ(write(text), 0);
    EXPECT_TRUE(closed) << "no activation";
    EXPECT_GE(polls, 2u) << "the header was read back without asking the device";
}

// 0x9D17 erases sector 0 (the boot header's) with its region: a pin-out word
// kept there outlives every update, so that the next one still finds it; a
// word the boot header itself would overwrite is refused before the erase.
TEST_F(FirmwareUpdate, PinOutWordInTheBootSectorOutlivesUpdates9D17) {
    tFlashDevice bootSector = flashworld::k9D17;
    bootSector.pinOutAddress = 0x100;
    prepare(bootSector);
    for (int update = 0; update < 2; ++update) {
        // The first update's activation has the controller report its version.
        const std::string text = image(0x1000);
        EXPECT_EQ(ZELSMBusWriteFirmware(&handle, uint32_t(text.size()), text.data(),
                                        ZELSMBUS_FIRMWARE_FORCE),
                  0)
            << "update " << update;
        uint8_t word[2] = {};
        controller->model.readArray(0x100, word, 2);
        EXPECT_EQ(word[0], kPinOut) << "update " << update;
        EXPECT_EQ(word[1], kPinOut) << "update " << update;
    }
    EXPECT_NE(region(), installed);

    bootSector.pinOutAddress = 0x10;
    prepare(bootSector);
    EXPECT_EQ(write(image(0x1000)), -52002);
    EXPECT_EQ(region(), installed) << "the refused image erased the region";
}

// What the update has sent so far, as the hooks below count it.
struct Progress {
    uint32_t command = 0;         // the serial command word last written (register 64)
    unsigned erases = 0;          // serial block erases (0xD8) clocked out
    unsigned regionReads = 0;     // serial reads (0x03) from address 0
    unsigned autoIncrement = 0;   // 0xBF8E auto-increment halves after the first
    unsigned addressZero = 0;     // indirect transfers at address 0 (the boot header)
    bool eraseError = false;      // an indirect erase of the region's first sector
};

struct TimedFault {
    const char *name;
    const tFlashDevice *device;
    size_t imageBytes;
    // Runs after every register write with what was written; arms the fault.
    std::function<void(tFlashController &, Progress &, uint32_t offset, uint32_t value)> hook;
    int32_t code;
    // Further checks on what the update left.
    std::function<void(const tFlashController &, const Progress &)> check;
};

void PrintTo(const TimedFault &c, std::ostream *out) { *out << c.name; }

class TimedFaults : public FirmwareUpdate, public ::testing::WithParamInterface<TimedFault> {};

bool erases(const Progress &p, uint32_t offset, uint32_t value) {
    return offset == 68 && value == 0x204 && p.command >> 24 == 0xD8;
}

const TimedFault kTimedFaults[] = {
    // 0x1010 keeps a copy of its region before the erase. A saving read that
    // answers all ones is read again; the readings differ, so nothing is erased.
    {"SavedRegionReadMissed1010", &flashworld::k1010, 0x8000,
     [](tFlashController &c, Progress &p, uint32_t offset, uint32_t value) {
         if (offset == 64 && value == 0x03000000 && p.regionReads++ == 0) c.model.missRead = 1;
     },
     ZELSMBUS_ERROR_IO,
     [](const tFlashController &, const Progress &p) {
         EXPECT_EQ(p.erases, 0u) << "erased after two readings that differ";
     }},
    // The CRC-16 trailer is the last program of the region: dropped, the
    // whole-region read-back must see it.
    {"TrailerProgramDroppedBF8E", &flashworld::kBF8E, 0x8000,
     [](tFlashController &c, Progress &p, uint32_t offset, uint32_t value) {
         if (offset == 68 && value == 0x203 && ++p.autoIncrement == 0x80000 / 2 - 2)
             c.model.dropPrograms = 1;
     },
     ZELSMBUS_ERROR_VERIFY_FAILED,
     [](const tFlashController &c, const Progress &) {
         uint8_t trailer[2];
         c.model.readArray(0x100000 - 2, trailer, 2);
         EXPECT_EQ(trailer[0], 0xFF) << "the fault did not hit the trailer";
         EXPECT_EQ(trailer[1], 0xFF) << "the fault did not hit the trailer";
     }},
    // Activation programs 0x9D17's boot header at address 0: dropped, the
    // call must not report the firmware started.
    {"BootHeaderProgramDropped9D17", &flashworld::k9D17, 0x1000,
     [](tFlashController &c, Progress &p, uint32_t offset, uint32_t value) {
         if (offset == 0x2008 && value == 0 && p.addressZero++ == 0) c.model.dropPrograms = 1;
     },
     ZELSMBUS_ERROR_VERIFY_FAILED,
     [](const tFlashController &, const Progress &p) {
         EXPECT_GE(p.addressZero, 1u) << "no activation was tried";
     }},
    // An erase error reported by 0x9D17 while its region is erased.
    {"EraseErrorReported9D17", &flashworld::k9D17, 0x1000,
     [](tFlashController &c, Progress &p, uint32_t offset, uint32_t value) {
         if (offset == 0x2004 && value == 48) {
             c.model.extraStatusBits = 0x08;
             p.eraseError = true;
         }
     },
     ZELSMBUS_ERROR_INVALID_PARAMETER,
     [](const tFlashController &, const Progress &p) {
         EXPECT_TRUE(p.eraseError);
     }},
    // A device busy for good after the first erase answers nothing: it is
    // not erased again, the call returns within three of its waits, and it
    // says the region is damaged (its old contents were not put back).
    {"BusyForGoodAfterTheFirstErase1010", &flashworld::k1010, 0x8000,
     [](tFlashController &c, Progress &p, uint32_t offset, uint32_t value) {
         if (erases(p, offset, value)) c.model.deviceStuckBusy = true;
     },
     ZELSMBUS_ERROR_REGION_DAMAGED,
     [](const tFlashController &, const Progress &p) {
         EXPECT_EQ(p.erases, 1u) << "a busy device was erased again";
         EXPECT_GE(flashtest::gClockNs, kDeviceWaitNs);
         EXPECT_LE(flashtest::gClockNs, 3 * kDeviceWaitNs) << "waited for more than three waits";
     }},
    // Every request fails once the first erase was sent: nothing can put the
    // old region back or show it is still there.
    {"RequestsFailAfterTheFirstErase1010", &flashworld::k1010, 0x8000,
     [](tFlashController &c, Progress &p, uint32_t offset, uint32_t value) {
         if (erases(p, offset, value)) c.failRequests = true;
     },
     ZELSMBUS_ERROR_REGION_DAMAGED,
     [](const tFlashController &, const Progress &p) { EXPECT_EQ(p.erases, 1u); }},
};

TEST_P(TimedFaults, TheCallFailsAndNeverReportsSuccess) {
    const TimedFault &c = GetParam();
    prepare(*c.device);
    const std::string text = image(c.imageBytes);
    Progress progress;
    tFlashController &flash = *controller;
    flash.onWrite = [&](uint32_t offset, uint32_t value) {
        if (offset == 64) progress.command = value;
        if (erases(progress, offset, value)) ++progress.erases;
        c.hook(flash, progress, offset, value);
    };
    EXPECT_EQ(write(text), c.code);
    c.check(flash, progress);
    if (c.code == ZELSMBUS_ERROR_IO) {
        EXPECT_EQ(region(), installed) << "the region changed although nothing was to be erased";
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, TimedFaults, ::testing::ValuesIn(kTimedFaults),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
