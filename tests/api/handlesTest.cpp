// The handle record and the transaction checks around a controller that
// answers what the simulated driver cannot (an unreadable protected list, a
// block count beyond the 32 bytes sent).
#include <gtest/gtest.h>

#include <cstring>

#include "api/controllerSet.h"
#include "stubController.h"
#include "zelsmbus.h"

using nZELSMBUS000::makeHandle;
using nZELSMBUS000::releaseHandleRecord;
using nZELSMBUS000::tBlockData;
using nZELSMBUS000::tStatus;

namespace {

class ListedController : public apitest::StubController {
public:
    void getProtectedAddresses(uint8_t &count, const uint8_t *&list, tStatus &status) override {
        if (failList) {
            ZELSMBUS_SET_CODE(status, -52024);
            return;
        }
        count = sizeof addresses;
        list = addresses;
    }
    bool failList = false;
    const uint8_t addresses[3] = {0x03, 0x80, 0xFF};
};

// Reports a block count of 200 while sending 32 bytes, as a faulty driver might.
class OverlongBlockController : public apitest::StubController {
public:
    void readBlock(uint8_t, uint8_t, uint8_t, uint8_t &count, tBlockData &data,
                   tStatus &) override {
        count = 200;
        std::memset(data, 0x5A, sizeof data);
    }
    void blockProcessCall(uint8_t, uint8_t, uint8_t, uint8_t, uint8_t &readCount,
                          const tBlockData &, tBlockData &readData, tStatus &) override {
        readCount = 200;
        std::memset(readData, 0x5A, sizeof readData);
    }
};

TEST(MakeHandle, SetsOneBitPerListedDeviceAddress) {
    ListedController controller;
    tStatus status;
    tSMBusHandle *handle = makeHandle(&controller, status);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->controller, &controller);
    EXPECT_EQ(handle->unrestricted, 0);
    EXPECT_EQ(handle->protectedAddresses[0], uint64_t{1} << 1);
    EXPECT_EQ(handle->protectedAddresses[1], uint64_t{1} | uint64_t{1} << 63);
    releaseHandleRecord(handle);
}

TEST(MakeHandle, UnreadableListProtectsEveryAddress) {
    ListedController controller;
    controller.failList = true;
    tStatus status;
    tSMBusHandle *handle = makeHandle(&controller, status);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(status.code, 0);  // the failed query is not the caller's failure
    uint8_t value = 0;
    for (unsigned address = 0; address < 256; ++address)
        ASSERT_EQ(ZELSMBusReadByte(handle, static_cast<uint8_t>(address), 0, 0, &value), -26983);
    releaseHandleRecord(handle);
}

TEST(MakeHandle, ErrorInStatusMakesNothing) {
    ListedController controller;
    tStatus status;
    ZELSMBUS_SET_CODE(status, -52024);
    EXPECT_EQ(makeHandle(&controller, status), nullptr);
}

TEST(BlockReads, NeverCopyBeyondTheThirtyTwoBytesReceived) {
    OverlongBlockController controller;
    tStatus status;
    tSMBusHandle *handle = makeHandle(&controller, status);
    ASSERT_NE(handle, nullptr);

    uint8_t buffer[64];
    uint8_t count = 0;
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(ZELSMBusReadBlock(handle, 0x90, 0, 0, &count, buffer), 0);
    EXPECT_EQ(count, 200);
    for (unsigned i = 0; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], i < 32 ? 0x5A : 0xEE) << i;

    std::memset(buffer, 0xEE, sizeof buffer);
    const uint8_t write[1] = {1};
    EXPECT_EQ(ZELSMBusBlockProcessCall(handle, 0x90, 0, 1, write, 0, &count, buffer), 50254);
    for (unsigned i = 0; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], i < 32 ? 0x5A : 0xEE) << i;
    releaseHandleRecord(handle);
}

}  // namespace
