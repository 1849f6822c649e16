// How a command's outcome reaches the caller: outputs, the driver's status
// word, and a failing system call.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "protocol/tInterfaceProxy_zelsmbus.h"
#include "status/tStatus.h"
#include "zelsim.h"

namespace {

using nZELSMBUS000::tInterfaceProxy_zelsmbus;
using nZELSMBUS000::tStatus;

constexpr uint8_t kSensor = 0x90;  // register device on node 0, port 0
constexpr uint8_t kReadByteCommand = 0x0E;
constexpr uint8_t kReadBlockCommand = 0x13;
constexpr const char *kProtocolSource = "src/protocol/tInterfaceProxy_zelsmbus.cpp";

class Folding : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        tStatus status;
        proxy.open(zelsim_node_path(0), status);
        ASSERT_EQ(status.code, 0);
        ASSERT_EQ(zelsim_set_target_byte(0, 0, kSensor, 0x01, 0x5C), 0);
    }
    void TearDown() override {
        proxy.close();
        zelsim_reset();
    }

    tInterfaceProxy_zelsmbus proxy;
};

TEST_F(Folding, DriverWordFollowsThePrecedenceRuleAndOutputsAreAlwaysCopied) {
    struct Case {
        const char *name;
        int64_t before;
        int32_t driverWord;
        int64_t after;
        bool detailsFromCommand;
    } cases[] = {
        {"success keeps a warning", 50254, 0, 50254, false},
        {"driver warning on success", 0, 7, 7, true},
        {"driver warning does not replace a warning", 50254, 7, 50254, false},
        {"driver error on success", 0, -52005, -52005, true},
        {"driver error replaces a warning", 50254, -52005, -52005, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        zelsim_log_clear();
        if (c.driverWord != 0) {
            zelsim_set_driver_status(kReadByteCommand, c.driverWord, 1);
        }
        tStatus status;
        status.setCode(c.before, "zelsmbus", "caller.cpp", 5);
        uint8_t data = 0xEE;
        proxy.readByte(0, kSensor, 0x01, 0, data, status);

        EXPECT_EQ(data, 0x5C);
        EXPECT_EQ(status.code, c.after);
        EXPECT_STREQ(status.file, c.detailsFromCommand ? kProtocolSource : "caller.cpp");
        zelsim_log_record entry;
        ASSERT_EQ(zelsim_log_entry(0, &entry), 0);
        int32_t callerWord;
        std::memcpy(&callerWord, entry.in + 8, sizeof callerWord);
        EXPECT_EQ(callerWord, c.before);
    }
}

TEST_F(Folding, FailingSystemCallLeavesOutputsUntouchedAndCarriesItsCode) {
    zelsim_fail_command(kReadBlockCommand, EBUSY, 1);
    tStatus status;
    status.setCode(50254, "zelsmbus", "caller.cpp", 5);
    uint8_t count = 0xEE;
    uint8_t data[32];
    std::memset(data, 0xEE, sizeof data);
    proxy.readBlock(0, kSensor, 0x20, 0, count, data, status);

    EXPECT_EQ(status.code, -52031);
    EXPECT_STREQ(status.file, "src/driver/tDeviceInterfaceProxy.cpp");
    EXPECT_EQ(count, 0xEE);
    for (uint8_t byte : data) {
        EXPECT_EQ(byte, 0xEE);
    }
}

TEST_F(Folding, BlockReadDeliversAllThirtyTwoBytesWhateverTheCount) {
    const uint8_t block[3] = {0x11, 0x22, 0x33};
    ASSERT_EQ(zelsim_set_target_block(0, 0, kSensor, 0x20, block, 3), 0);
    zelsim_log_clear();
    tStatus status;
    uint8_t count = 0;
    uint8_t data[32];
    std::memset(data, 0xEE, sizeof data);
    proxy.readBlock(0, kSensor, 0x20, 0, count, data, status);

    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(data[0], 0x11);
    EXPECT_EQ(data[2], 0x33);
    zelsim_log_record entry;
    ASSERT_EQ(zelsim_log_entry(0, &entry), 0);
    ASSERT_EQ(entry.out_written, 40u);
    EXPECT_EQ(std::memcmp(data, entry.out + 1, 32), 0);
    for (size_t k = 3; k < 32; ++k) {
        EXPECT_NE(data[k], 0xEE) << "byte " << k << " not delivered";
    }
}

TEST_F(Folding, NothingHappensWhenTheStatusHoldsAnError) {
    zelsim_clear_call_counts();
    tStatus status;
    status.setCode(-52006, "zelsmbus", "caller.cpp", 5);
    uint8_t data = 0xEE;
    char text[64] = "unchanged";
    proxy.readByte(0, kSensor, 0x01, 0, data, status);
    proxy.getDeviceString(text, status);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_IOCTL), 0u);
    EXPECT_EQ(data, 0xEE);
    EXPECT_STREQ(text, "unchanged");
    EXPECT_EQ(status.code, -52006);
    EXPECT_STREQ(status.file, "caller.cpp");
}

}  // namespace
