// Threads against the simulated driver, for the ThreadSanitizer build: the
// library keeps no global state, so sessions on different handles must run
// side by side without a data race, and opening and closing in a loop must
// not disturb the sessions that stay open.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "reliabilitySupport.h"

namespace zelrel {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 150;

class tThreads : public tSimulatorTest {};

// Each thread owns its handle and mixes transactions, attribute reads and
// EEPROM reads; every call must succeed and read what the world holds.
TEST_F(tThreads, HandlesPerThreadRunTransactionsAttributesAndEepromReads) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            tSession session(t % 2 == 0 ? kSystemPort0 : kSystemPort1);
            if (session.get() == nullptr) {
                ++failures;
                return;
            }
            const uint8_t eeprom = t % 2 == 0 ? kEeprom : 0xA2;
            for (int round = 0; round < kRounds; ++round) {
                uint16_t port = 0xFFFF;
                if (ZELSMBusGetAttribute(session.get(), ZELSMBUS_ATTR_PORT, &port) != 0 ||
                    port != (t % 2))
                    ++failures;
                uint32_t version = 0;
                if (ZELSMBusGetAttribute(session.get(), ZELSMBUS_ATTR_FIRMWARE_VERSION, &version) !=
                    0)
                    ++failures;
                uint8_t data[16] = {};
                if (ZELSMBusReadI2CEEPROM(session.get(), eeprom, 0, sizeof data, data) != 0)
                    ++failures;
                if (t % 2 == 0) {
                    uint8_t temperature = 0;
                    if (ZELSMBusReadByte(session.get(), kSensor, 0, 0, &temperature) != 0 ||
                        temperature != 25)
                        ++failures;
                    uint16_t word = 0;
                    if (ZELSMBusReadWord(session.get(), kSensor, 0, 0, &word) != 0) ++failures;
                } else if (ZELSMBusQuickRead(session.get(), kAbsent) >= 0) {
                    ++failures;  // nobody answers there
                }
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

// Threads opening and closing sessions (and listing every port) in a loop
// while another thread keeps using one long-lived session.
TEST_F(tThreads, OpeningAndClosingInALoopBesideAWorkingSession) {
    tSession steady(kSystemPort0);
    ASSERT_NE(steady.get(), nullptr);
    const int descriptors = openDescriptorCount();
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};

    std::thread worker([&] {
        while (!stop.load()) {
            uint8_t temperature = 0;
            if (ZELSMBusReadByte(steady.get(), kSensor, 0, 0, &temperature) != 0) ++failures;
        }
    });
    std::vector<std::thread> openers;
    for (int t = 0; t < kThreads - 1; ++t) {
        openers.emplace_back([t, &failures] {
            const char *names[] = {kSystemPort0, kSystemPort1, kRemotePort0, kPortText};
            for (int round = 0; round < kRounds / 3; ++round) {
                tSMBusHandle *handle = nullptr;
                if (ZELSMBusOpen(names[(t + round) % 4], &handle) != 0 || handle == nullptr)
                    ++failures;
                ZELSMBusClose(handle);
                if (round % 8 == 0) {
                    uint32_t count = 0;
                    int32_t status = 0;
                    tSMBusHandle **all = ZELSMBusOpenList(&count, &status);
                    if (all == nullptr || count == 0) ++failures;
                    ZELSMBusCloseList(count, all);
                }
            }
        });
    }
    for (std::thread &opener : openers) opener.join();
    stop = true;
    worker.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

// One thread turns the session's restricted flag (attribute 1001) on and off
// while another runs transactions on the same session, which consult it.
TEST_F(tThreads, RestrictedFlagSetWhileTransactionsRunOnTheSameSession) {
    tSession session(kSystemPort0);
    ASSERT_NE(session.get(), nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread worker([&] {
        while (!stop.load()) {
            uint8_t temperature = 0;
            if (ZELSMBusReadByte(session.get(), kSensor, 0, 0, &temperature) != 0) ++failures;
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        const uint32_t wanted = round % 2;
        uint32_t flag = 7;
        if (ZELSMBusSetAttribute(session.get(), ZELSMBUS_ATTR_UNRESTRICTED, &wanted) != 0 ||
            ZELSMBusGetAttribute(session.get(), ZELSMBUS_ATTR_UNRESTRICTED, &flag) != 0 ||
            flag != wanted)
            ++failures;
    }
    stop = true;
    worker.join();
    EXPECT_EQ(failures.load(), 0);
}

// Two sessions on one port contend for the bus lock through the driver: each
// transaction between lock and unlock belongs to the lock holder.
TEST_F(tThreads, BusLockContentionLeavesEveryLockReleased) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&failures] {
            tSession session(kSystemPort0);
            for (int round = 0; round < kRounds / 3; ++round) {
                const int32_t locked = ZELSMBusLock(session.get());
                if (locked != 0) continue;  // the driver may refuse while the other holds it
                uint8_t temperature = 0;
                if (ZELSMBusReadByte(session.get(), kSensor, 0, 0, &temperature) != 0) ++failures;
                if (ZELSMBusUnlock(session.get()) != 0) ++failures;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(zelsim_lock_owner(0, 0), -1);
}

}  // namespace
}  // namespace zelrel
