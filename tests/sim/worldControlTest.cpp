// The shell's control of a started world (zelsim fault, snapshot, reset),
// world files the launcher refuses, and the world's one clock: sleeps of
// every kind counted, busy devices that end without anyone sleeping.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "shellSupport.h"
#include "wire.h"

namespace {

using simtest::Node;
using simtest::put;
using simtest::realPause;
using simtest::shell;

const std::string kBuild = ZELSIM_TEST_BUILD_DIR;
const std::string kLauncher = kBuild + "/sim/zelsim";
const std::string kClient = kBuild + "/tests/zelsim_bus_client";

class WorldControl : public simtest::ScratchRuntime {
protected:
    WorldControl() : ScratchRuntime(kLauncher, kClient, "zelsim-control") {}
    // "<status> <value>" of a byte read by the driver client in the started world.
    std::string read(const std::string &arguments) {
        std::string out = shell(kLauncher + " -- " + kClient + " read " + arguments + " 2>&1").out;
        return out.substr(0, out.rfind(' '));
    }
    int zelsim(const std::string &arguments) {
        return shell(kLauncher + " " + arguments + " >/dev/null 2>&1").status;
    }
};

// Faults from the shell reach the running world: a target that stops
// answering or answers wrong, a request that fails, a bus that stays locked;
// and clearing them brings the world back.
TEST_F(WorldControl, FaultsFromTheShellReachTheStartedWorld) {
    ASSERT_EQ(zelsim("start"), 0);
    EXPECT_EQ(read("0x90 0"), "0 0x19");
    struct Case {
        const char *fault;
        const char *first;   // the read right after the fault
        const char *second;  // and the one after it
    } cases[] = {
        {"nack 0 0 0x48", "-52024 0x00", "-52024 0x00"},
        {"corrupt 0 0 0x48", "0 0xe6", "0 0xe6"},
        {"corrupt 0 0 0x48 0x01", "0 0x18", "0 0x18"},
        {"status readByte -52002 1", "-52002 0x19", "0 0x19"},
        {"status 0x0E -7 2", "-7 0x19", "-7 0x19"},
        {"errno readByte EIO", "ioctl: Input/output",
         "0 0x19"},  // "... error", cut at its last blank
        {"lock 0 0", "-52031 0x00", "-52031 0x00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_EQ(zelsim(std::string("fault ") + c.fault), 0);
        EXPECT_EQ(read("0x90 0"), c.first);
        EXPECT_EQ(read("0x90 0"), c.second);
        ASSERT_EQ(zelsim("fault clear"), 0);
        EXPECT_EQ(read("0x90 0"), "0 0x19");
    }
    EXPECT_EQ(zelsim("fault nack 0 0 0x33"), 1);    // no target there
    EXPECT_EQ(zelsim("fault errno bogus EIO"), 1);  // no such command
    EXPECT_EQ(zelsim("fault errno readByte EBOGUS"), 2);
    EXPECT_EQ(zelsim("fault nack 0 0 0x90"), 2);  // an 8-bit address
    EXPECT_EQ(zelsim("stop"), 0);
    EXPECT_EQ(zelsim("fault clear"), 1);  // no world running
}

// A snapshot of a world that has changed loads back to the same state:
// register and EEPROM contents, attributes and the flash array.
TEST_F(WorldControl, ASnapshotLoadsBackToTheSameState) {
    ASSERT_EQ(zelsim("start"), 0);
    ASSERT_EQ(shell(kLauncher + " -- " + kClient + " write 0x90 3 0x41").status, 0);
    ASSERT_EQ(shell(kLauncher + " -- " + kClient + " write 0xA0 5 0x99").status, 0);
    const std::string saved = scratch_ + "/saved.toml";
    ASSERT_EQ(shell(kLauncher + " snapshot > " + saved).status, 0);
    const std::string first = shell("cat " + saved).out;
    ASSERT_EQ(zelsim("stop"), 0);

    ASSERT_EQ(zelsim("start --world " + saved), 0);
    EXPECT_EQ(read("0x90 3"), "0 0x41");
    EXPECT_EQ(read("0xA0 5"), "0 0x99");
    EXPECT_EQ(read("0x90 2"), "0 0x4b");
    EXPECT_EQ(shell(kLauncher + " snapshot").out, first);
    EXPECT_NE(first.find("flash_contents"), std::string::npos);
}

// In-process: what the snapshot carries beyond bytes (attributes, block
// lengths, a changed flash array) comes back too.
TEST(Snapshot, AttributesBlocksAndFlashComeBack) {
    zelsim_reset();
    ASSERT_EQ(zelsim_set_port_attribute(0, 1, 3001, 0xABCDEF), 0);
    const uint8_t block[3] = {7, 8, 9};
    ASSERT_EQ(zelsim_set_target_block(0, 0, 0x90, 0x40, block, 3), 0);
    const uint8_t flash[4] = {1, 2, 0xFF, 4};
    ASSERT_EQ(zelsim_flash_write(0, 0x100, flash, 4), 0);
    const uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(zelsim_flash_write(0, 0x10000, erased, 4), 0);  // part of the built-in block 2
    char *text = zelsim_world_snapshot();
    ASSERT_NE(text, nullptr);
    zelsim_reset();
    ASSERT_EQ(zelsim_load_world_text(text), 0) << zelsim_last_error();
    uint32_t value = 0;
    EXPECT_EQ(zelsim_port_attribute(0, 1, 3001, &value), 0);
    EXPECT_EQ(value, 0xABCDEFu);
    uint8_t data[32] = {}, count = 0;
    ASSERT_EQ(zelsim_target_block(0, 0, 0x90, 0x40, data, &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(data[2], 9);
    uint8_t back[4] = {};
    zelsim_flash_read(0, 0x100, back, 4);
    EXPECT_EQ(std::string(back, back + 4), std::string(flash, flash + 4));
    zelsim_flash_read(0, 0x10000, back, 4);
    EXPECT_EQ(std::string(back, back + 4), std::string(erased, erased + 4));
    char *again = zelsim_world_snapshot();
    EXPECT_STREQ(again, text);
    std::free(again);
    std::free(text);
    zelsim_reset();
}

// A world file that is a directory, unreadable or empty is refused with the
// reason, before anything runs.
TEST_F(WorldControl, UnusableWorldFilesAreRefusedWithTheReason) {
    const std::string unreadable = writeFile("locked.toml", "[[device]]\n");
    chmod(unreadable.c_str(), 0);
    const bool root = access(unreadable.c_str(), R_OK) == 0;
    struct Case {
        std::string file, reason;
    } cases[] = {
        {scratch_, "Is a directory"},
        {writeFile("empty.toml", "\n  \n"), "the file is empty"},
        {unreadable, root ? "" : "Permission denied"},
    };
    for (const Case &c : cases) {
        if (c.reason.empty()) continue;  // root reads every file
        for (const char *mode : {" start --world ", " --world "}) {
            const std::string command = std::string(mode) == " --world " ? " -- echo ran" : "";
            auto run = shell(kLauncher + mode + c.file + command + " 2>&1");
            EXPECT_EQ(run.status, 2) << mode << c.file;
            EXPECT_NE(run.out.find(c.reason), std::string::npos) << run.out;
            EXPECT_EQ(run.out.find("ran"), std::string::npos) << run.out;
        }
    }
}

// A reset swaps the world in one step: a client reading without pause never
// sees the built-in world between the old world and the new one.
TEST_F(WorldControl, AResetNeverShowsTheBuiltInWorldInBetween) {
    const std::string world = writeFile("w.toml",
                                        "[[device]]\n[[device.port]]\n[[device.port.target]]\n"
                                        "address = 0x90\nkind = \"registers\"\nbytes = [0x42]\n");
    ASSERT_EQ(zelsim("start --world " + world), 0);
    std::atomic<bool> done{false};
    std::thread resets([&] {
        while (!done) shell(kLauncher + " reset");
    });
    const std::string seen = shell(kLauncher + " -- " + kClient + " watch 0x90 0 20000").out;
    done = true;
    resets.join();
    EXPECT_EQ(seen, "0x42 \n");  // the built-in world's sensor would read 0x19
}

// Every way of sleeping counts on the virtual clock and returns at once.
TEST(Clock, EverySleepCountsOnTheVirtualClock) {
    zelsim_reset();
    struct Sleep {
        const char *name;
        void (*call)();
        uint64_t ns;
    } sleeps[] = {
        {"nanosleep",
         [] {
             timespec t{2, 0};
             nanosleep(&t, nullptr);
         },
         2000000000},
        {"clock_nanosleep",
         [] {
             timespec t{3, 0};
             clock_nanosleep(CLOCK_MONOTONIC, 0, &t, nullptr);
         },
         3000000000},
        {"clock_nanosleep deadline",
         [] {
             timespec t{};
             clock_gettime(CLOCK_MONOTONIC, &t);
             t.tv_sec += 100;
             clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
         },
         99000000000},
        {"sleep", [] { sleep(4); }, 4000000000},
        {"usleep", [] { usleep(5000); }, 5000000},
        {"select",
         [] {
             timeval t{6, 0};
             select(0, nullptr, nullptr, nullptr, &t);
         },
         6000000000},
        {"poll", [] { poll(nullptr, 0, 7000); }, 7000000000},
    };
    for (const Sleep &s : sleeps) {
        const uint64_t before = zelsim_virtual_ns();
        const auto started = std::chrono::steady_clock::now();
        s.call();
        const uint64_t slept = zelsim_virtual_ns() - before;
        EXPECT_GE(slept, s.ns) << s.name;
        EXPECT_LE(slept, s.ns + 1000000000ull) << s.name;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << s.name;
    }
}

// A flash left busy ends without anyone sleeping: the page program a killed
// update left behind is over by the time a retry comes.
TEST(Clock, ABusyFlashEndsWithoutAnyoneSleeping) {
    zelsim_reset();
    const unsigned node = 0;  // 0x1010 behind the serial port
    auto serial = [&](uint32_t command, uint32_t control) {
        zelsim_register_write(node, 64, command);
        zelsim_register_write(node, 68, control);
    };
    serial(0x06000000, 0x201);  // write enable
    serial(0xD8008000, 0x204);  // erase the block at 0x8000: busy for 45 ms
    zelsim_flash_state state{};
    zelsim_flash_device_state(node, &state);
    ASSERT_EQ(state.busy, 1);
    const uint64_t clock = zelsim_virtual_ns();
    for (int waited = 0; waited < 5000 && state.busy; waited += 10) {
        realPause(10);
        zelsim_flash_device_state(node, &state);
    }
    EXPECT_EQ(state.busy, 0);
    EXPECT_EQ(zelsim_virtual_ns(), clock);  // nobody slept
}

}  // namespace
