// The bus lock between descriptors: ownership, waiting and giving up, and
// release on unlock or close.
#include <gtest/gtest.h>

#include <thread>

#include "wire.h"

namespace {

using simtest::Node;
using simtest::put;

std::vector<uint8_t> portOnly(unsigned port) {
    std::vector<uint8_t> in(8, 0);
    put(in, 0, port, 2);
    return in;
}

std::vector<uint8_t> readByteOf(unsigned address) {
    std::vector<uint8_t> in(12, 0);
    put(in, 2, address, 1);
    return in;
}

class Lock : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        ASSERT_EQ(zelsim_load_world_text(R"(
[simulator]
lock_timeout_ms = 30
[[device]]
  [[device.port]]
    [[device.port.target]]
    address = 0x90
    kind = "registers"
    bytes = [42]
  [[device.port]]
)"),
                  0)
            << zelsim_last_error();
    }
    void TearDown() override { zelsim_reset(); }
};

TEST_F(Lock, AnotherDescriptorIsRefusedBusyUntilTheOwnerUnlocks) {
    Node a(0), b(0);
    ASSERT_EQ(a.call(0x07, portOnly(0)).status(), 0);
    EXPECT_EQ(zelsim_lock_owner(0, 0), a.fd());
    EXPECT_EQ(a.call(0x07, portOnly(0)).status(), 0);  // the owner may lock again
    EXPECT_EQ(a.call(0x0E, readByteOf(0x90)).at(0, 1), 42u);

    EXPECT_EQ(b.call(0x07, portOnly(0)).status(), ZELSIM_STATUS_BUSY);
    EXPECT_EQ(b.call(0x0E, readByteOf(0x90)).status(), ZELSIM_STATUS_BUSY);
    EXPECT_EQ(b.call(0x08, portOnly(0)).status(), ZELSIM_STATUS_BUSY);  // not b's to release
    EXPECT_EQ(b.call(0x07, portOnly(1)).status(), 0);                   // other port, other lock

    EXPECT_EQ(a.call(0x08, portOnly(0)).status(), 0);
    EXPECT_EQ(zelsim_lock_owner(0, 0), -1);
    EXPECT_EQ(b.call(0x0E, readByteOf(0x90)).at(0, 1), 42u);
    EXPECT_EQ(b.call(0x08, portOnly(0)).status(), 0);  // unlocking a free bus is harmless
}

TEST_F(Lock, ClosingTheOwnerReleasesItsLocks) {
    Node b(0);
    {
        Node a(0);
        ASSERT_EQ(a.call(0x07, portOnly(0)).status(), 0);
    }
    EXPECT_EQ(zelsim_lock_owner(0, 0), -1);
    EXPECT_EQ(b.call(0x07, portOnly(0)).status(), 0);
}

TEST_F(Lock, AWaiterTakesTheLockWhenTheOwnerClosesDuringTheWait) {
    ASSERT_EQ(zelsim_load_world_text(
                  "[simulator]\nlock_timeout_ms = 60000\n[[device]]\n[[device.port]]\n"),
              0);
    Node b(0);
    auto a = std::make_unique<Node>(0);
    ASSERT_EQ(a->call(0x07, portOnly(0)).status(), 0);
    int32_t word = 1;
    std::thread waiter([&] { word = b.call(0x07, portOnly(0)).status(); });
    // The waiter either finds the bus still locked and waits, or comes after
    // the close; both end with the lock taken, never busy.
    a.reset();
    waiter.join();
    EXPECT_EQ(word, 0);
    EXPECT_EQ(zelsim_lock_owner(0, 0), b.fd());
}

}  // namespace
