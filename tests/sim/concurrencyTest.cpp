// Many threads on their own descriptors: the bus lock keeps a
// read-modify-write of a register whole, and nothing is lost or torn.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "wire.h"

namespace {

using simtest::Node;
using simtest::put;

TEST(Concurrency, LockedReadModifyWritesFromManyThreadsAreNeverLost) {
    ASSERT_EQ(zelsim_load_world_text(R"(
[simulator]
lock_timeout_ms = 60000
[[device]]
  [[device.port]]
    [[device.port.target]]
    address = 0x90
    kind = "registers"
)"),
              0)
        << zelsim_last_error();
    constexpr int kThreads = 6, kRounds = 200;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures] {
            Node node(0);
            std::vector<uint8_t> portOnly(8, 0);
            std::vector<uint8_t> readWord(12, 0);
            put(readWord, 2, 0x90, 1);
            for (int i = 0; i < kRounds; ++i) {
                if (node.call(0x07, portOnly).status() != 0) ++failures;
                uint32_t value = node.call(0x10, readWord).at(0, 2);
                std::vector<uint8_t> writeWord = readWord;
                put(writeWord, 4, value + 1, 2);
                if (node.call(0x0F, writeWord).status() != 0) ++failures;
                if (node.call(0x08, portOnly).status() != 0) ++failures;
            }
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    uint16_t counter = 0;
    ASSERT_EQ(zelsim_target_word(0, 0, 0x90, 0, &counter), 0);
    EXPECT_EQ(counter, kThreads * kRounds);
    EXPECT_EQ(zelsim_lock_owner(0, 0), -1);
    zelsim_reset();
}

}  // namespace
