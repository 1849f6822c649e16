// Two writers on one controller: an update beside a configuration-flag
// write, two updates at once, and two threads of one session. Whoever loses
// the controller's flash lock waits or answers ZELSMBUS_ERROR_BUSY; a call
// that answers success left exactly what it wrote.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "flashSimFixture.h"

namespace {

using namespace flashsim;

class FlashWriters : public FlashSim {
protected:
    std::vector<uint8_t> block2() const {
        std::vector<uint8_t> bytes(0x8000);
        zelsim_flash_read(0, 0x10000, bytes.data(), bytes.size());
        return bytes;
    }
};

bool successOrBusy(int32_t code) { return code == 0 || code == ZELSMBUS_ERROR_BUSY; }

TEST_F(FlashWriters, UpdateBesideAFlagWriteOnAnotherSession) {
    open(k1010);
    installOldFirmware();
    const std::vector<uint8_t> oldRegion = region();
    std::vector<uint8_t> oldBlock(0x8000);
    for (size_t i = 0; i < oldBlock.size(); ++i) oldBlock[i] = uint8_t(i * 11 + 2);
    zelsim_flash_write(0, 0x10000, oldBlock.data(), oldBlock.size());
    const std::vector<uint8_t> bytes = firmware(0xC000);
    const std::string text = image(bytes);

    tSMBusHandle *other = nullptr;
    ASSERT_EQ(ZELSMBusOpen(k1010.name, &other), 0);
    int32_t update = 1, flag = 1;
    std::thread updater([&] { update = write(text); });
    std::thread setter([&] {
        const uint32_t on = 1;
        flag = ZELSMBusSetAttribute(other, ZELSMBUS_ATTR_CONFIG_FLAG, &on);
    });
    updater.join();
    setter.join();
    ZELSMBusClose(other);

    EXPECT_TRUE(successOrBusy(update)) << update;
    EXPECT_TRUE(successOrBusy(flag)) << flag;
    EXPECT_TRUE(update == 0 || flag == 0);
    EXPECT_EQ(region(), update == 0 ? expectedRegion(bytes) : oldRegion);
    std::vector<uint8_t> wantedBlock = oldBlock;
    if (flag == 0) {
        // Word 8179 big-endian: the old word with the flag bits set.
        uint8_t *word = wantedBlock.data() + 8179 * 4;
        const uint32_t old = uint32_t(word[0]) << 24 | uint32_t(word[1]) << 16 |
                             uint32_t(word[2]) << 8 | word[3];
        const uint32_t set = (old & ~0x300003u) | 0x200003u;
        for (int i = 0; i < 4; ++i) word[i] = uint8_t(set >> (24 - 8 * i));
    }
    EXPECT_EQ(block2(), wantedBlock);
}

TEST_F(FlashWriters, TwoUpdatesAtOnce) {
    open(kBF8E);
    installOldFirmware();
    const std::vector<uint8_t> first = firmware(0x6000);
    std::vector<uint8_t> second = first;
    for (size_t i = 0x40; i < second.size(); ++i) second[i] = uint8_t(second[i] ^ 0x5A);
    const std::string firstImage = image(first), secondImage = image(second);

    tSMBusHandle *other = nullptr;
    ASSERT_EQ(ZELSMBusOpen(kBF8E.name, &other), 0);
    int32_t a = 1, b = 1;
    std::thread one([&] { a = write(firstImage); });
    std::thread two([&] {
        b = ZELSMBusWriteFirmware(other, uint32_t(secondImage.size()), secondImage.data(), 0);
    });
    one.join();
    two.join();
    ZELSMBusClose(other);

    EXPECT_TRUE(successOrBusy(a)) << a;
    EXPECT_TRUE(successOrBusy(b)) << b;
    ASSERT_TRUE(a == 0 || b == 0);
    // Whichever succeeded last is what the region holds, in full.
    const std::vector<uint8_t> now = region();
    EXPECT_TRUE((a == 0 && now == expectedRegion(first)) ||
                (b == 0 && now == expectedRegion(second)));
}

TEST_F(FlashWriters, TwoThreadsOfOneSession) {
    open(k1010);
    const std::vector<uint8_t> bytes = firmware(0xC000);
    const std::string text = image(bytes);
    int32_t update = 1, read = 1;
    uint32_t value = 0xEE;
    std::thread updater([&] { update = write(text); });
    std::thread reader(
        [&] { read = ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CONFIG_FLAG, &value); });
    updater.join();
    reader.join();
    EXPECT_EQ(update, 0);
    EXPECT_EQ(region(), expectedRegion(bytes));
    EXPECT_TRUE(successOrBusy(read)) << read;
    if (read == 0) {
        EXPECT_EQ(value, 0u);
    }
}

}  // namespace
