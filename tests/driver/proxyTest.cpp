// The device proxy: the system calls on a node and the errno table, through
// the simulated driver.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "driver/errnoTable.h"
#include "driver/tDeviceInterfaceProxy.h"
#include "status/tStatus.h"
#include "zelsim.h"

namespace {

using nZELSMBUS000::tStatus;
using nZELSMBUS000::nZELOSAL000::statusCodeForErrno;
using nZELSMBUS000::nZELOSAL000::tDeviceInterfaceProxy;
using nZELSMBUS000::nZELOSAL000::tMemoryMapping;

constexpr const char *kProxySource = "src/driver/tDeviceInterfaceProxy.cpp";
constexpr uint32_t kReadPciIds = 0x80202E02;

// The expected mapping, written out by code rather than by errno.
int64_t expectedCode(int error) {
    static const std::map<int64_t, std::vector<int>> groups = {
        {-52000, {12, 23, 24}}, {-52002, {25, 95}},
        {-52005, {22}},         {-52006, {2, 3, 6, 9, 19}},
        {-52007, {110}},        {-52011, {114, 115}},
        {-52012, {28, 75}},     {-52013, {17, 98}},
        {-52014, {130}},        {-52015, {35, 37}},
        {-52019, {105}},        {-52020, {43}},
        {-52023, {103}},        {-52024, {5, 32, 74}},
        {-52025, {4, 104}},     {-52026, {1, 13, 30}},
        {-52031, {16}},
    };
    if (error == 0) {
        return 0;
    }
    for (const auto &[code, errors] : groups) {
        for (int e : errors) {
            if (e == error) {
                return code;
            }
        }
    }
    return -52008;
}

class Proxy : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        tStatus status;
        proxy.open(zelsim_node_path(0), status);
        ASSERT_EQ(status.code, 0);
        ASSERT_TRUE(proxy.isOpen());
    }
    void TearDown() override {
        proxy.close();
        zelsim_reset();
    }

    uint32_t readPciIds(tStatus &status) {
        int32_t callerWord = 0;
        uint8_t output[12];
        std::memset(output, 0xEE, sizeof output);
        return proxy.ioctl(kReadPciIds, &callerWord, sizeof callerWord, output, sizeof output,
                           status);
    }

    tDeviceInterfaceProxy proxy;
};

TEST_F(Proxy, EveryErrnoOfAFailingIoctlMapsByTheTable) {
    for (int error = 1; error <= 140; ++error) {
        SCOPED_TRACE(error);
        zelsim_fail_call(ZELSIM_CALL_IOCTL, error, 1);
        tStatus status;
        readPciIds(status);
        EXPECT_EQ(status.code, expectedCode(error));
        EXPECT_STREQ(status.file, kProxySource);
    }
    EXPECT_EQ(statusCodeForErrno(0), 0);
    EXPECT_EQ(statusCodeForErrno(-1), -52008);
    EXPECT_EQ(statusCodeForErrno(100000), -52008);
}

TEST_F(Proxy, SuccessfulIoctlPassesTheEnvelopeAndLeavesTheStatus) {
    zelsim_log_clear();
    tStatus status;
    ASSERT_TRUE(status.setCode(50254, "zelsmbus", "w.cpp", 1));
    const uint32_t result = readPciIds(status);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(status.code, 50254);
    ASSERT_EQ(zelsim_log_count(), 1u);
    zelsim_log_record entry;
    ASSERT_EQ(zelsim_log_entry(0, &entry), 0);
    EXPECT_EQ(entry.request, kReadPciIds);
    EXPECT_EQ(entry.in_size, 4u);
    EXPECT_EQ(entry.out_size, 12u);
    EXPECT_EQ(entry.fd, proxy.descriptor());
}

TEST_F(Proxy, OperationsMakeNoSystemCallWhenTheStatusHoldsAnError) {
    zelsim_clear_call_counts();
    zelsim_log_clear();
    tStatus status;
    status.setCode(-52006, "zelsmbus", "earlier.cpp", 9);
    char buffer[8] = {};
    tMemoryMapping mapping{reinterpret_cast<void *>(0x1000), 77};

    EXPECT_EQ(readPciIds(status), 0u);
    EXPECT_EQ(proxy.read(buffer, sizeof buffer, status), 0);
    EXPECT_EQ(proxy.write(buffer, sizeof buffer, status), 0);
    EXPECT_EQ(proxy.mapMemory(1, 4096, 1, mapping, status), nullptr);
    tDeviceInterfaceProxy other;
    other.open(zelsim_node_path(0), status);

    EXPECT_FALSE(other.isOpen());
    EXPECT_EQ(mapping.address, reinterpret_cast<void *>(0x1000));
    EXPECT_EQ(mapping.length, 77u);
    for (zelsim_call kind : {ZELSIM_CALL_OPEN, ZELSIM_CALL_IOCTL, ZELSIM_CALL_READ,
                             ZELSIM_CALL_WRITE, ZELSIM_CALL_MMAP}) {
        EXPECT_EQ(zelsim_call_count(kind), 0u) << "call kind " << kind;
    }
    EXPECT_EQ(zelsim_log_count(), 0u);
    EXPECT_EQ(status.code, -52006);
    EXPECT_STREQ(status.file, "earlier.cpp");
    EXPECT_EQ(status.line, 9u);
}

TEST_F(Proxy, EachOperationReportsFromItsOwnLine) {
    char buffer[8] = {};
    tMemoryMapping mapping{};
    struct Case {
        const char *name;
        zelsim_call kind;
        int error;
        int64_t code;
    } cases[] = {{"open", ZELSIM_CALL_OPEN, ENOENT, -52006},
                 {"ioctl", ZELSIM_CALL_IOCTL, EBUSY, -52031},
                 {"read", ZELSIM_CALL_READ, EIO, -52024},
                 {"write", ZELSIM_CALL_WRITE, EPERM, -52026},
                 {"mapMemory", ZELSIM_CALL_MMAP, ENOMEM, -52000}};
    std::map<uint64_t, std::string> lines;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        zelsim_fail_call(c.kind, c.error, 1);
        tStatus status;
        tDeviceInterfaceProxy other;
        switch (c.kind) {
            case ZELSIM_CALL_OPEN:
                other.open(zelsim_node_path(0), status);
                EXPECT_FALSE(other.isOpen());
                break;
            case ZELSIM_CALL_IOCTL:
                readPciIds(status);
                break;
            case ZELSIM_CALL_READ:
                EXPECT_EQ(proxy.read(buffer, sizeof buffer, status), -1);
                break;
            case ZELSIM_CALL_WRITE:
                EXPECT_EQ(proxy.write(buffer, sizeof buffer, status), -1);
                break;
            default:
                mapping.address = reinterpret_cast<void *>(0x2000);
                EXPECT_EQ(proxy.mapMemory(0, 4096, 1, mapping, status), nullptr);
                EXPECT_EQ(mapping.address, nullptr);
                break;
        }
        EXPECT_EQ(status.code, c.code);
        EXPECT_STREQ(status.component, "zelsmbus");
        EXPECT_STREQ(status.file, kProxySource);
        EXPECT_TRUE(lines.emplace(status.line, c.name).second)
            << "line shared with " << lines[status.line];
    }
}

TEST_F(Proxy, OpensReadWriteAndCloseOnExec) {
    const int flags = fcntl(proxy.descriptor(), F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    EXPECT_NE(fcntl(proxy.descriptor(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST_F(Proxy, FailedOpenLeavesItClosedAndLaterCommandsFailWithBadDescriptor) {
    tDeviceInterfaceProxy other;
    tStatus status;
    other.open("/dev/zelsmbus-node-that-does-not-exist", status);
    EXPECT_EQ(status.code, -52006);
    EXPECT_FALSE(other.isOpen());
    EXPECT_EQ(other.descriptor(), -1);

    tStatus later;
    int32_t word = 0;
    uint8_t output[12];
    other.ioctl(kReadPciIds, &word, sizeof word, output, sizeof output, later);
    EXPECT_EQ(later.code, -52006);
}

TEST_F(Proxy, CloseTwiceClosesOnceAndDestructionCloses) {
    zelsim_clear_call_counts();
    proxy.close();
    EXPECT_FALSE(proxy.isOpen());
    proxy.close();
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), 1u);

    {
        tDeviceInterfaceProxy scoped;
        tStatus status;
        scoped.open(zelsim_node_path(0), status);
        ASSERT_TRUE(scoped.isOpen());
        EXPECT_NE(zelsim_node_of_fd(scoped.descriptor()), -1);
    }
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_CLOSE), 2u);
}

TEST_F(Proxy, WriteOnTheNodeReturnsTheCount) {
    tStatus status;
    const char data[5] = "abcd";
    EXPECT_EQ(proxy.write(data, sizeof data, status), 5);
    EXPECT_EQ(status.code, 0);
}

TEST_F(Proxy, UnmapOfAnEmptyRecordDoesNothing) {
    zelsim_clear_call_counts();
    tMemoryMapping mapping{nullptr, 4096};
    proxy.unmapMemory(mapping);
    EXPECT_EQ(mapping.address, nullptr);
    EXPECT_EQ(mapping.length, 4096u);
}

// The simulator's node window ignores offset and protection, so mapping is
// checked on a plain file opened through the same proxy.
class Mapping : public ::testing::Test {
protected:
    void SetUp() override {
        pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        char name[] = "/tmp/zelsmbus-map-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_NE(fd, -1);
        path = name;
        for (int page = 0; page < 3; ++page) {
            std::string contents(pageSize, static_cast<char>('A' + page));
            ASSERT_EQ(::write(fd, contents.data(), contents.size()),
                      static_cast<ssize_t>(contents.size()));
        }
        ::close(fd);
        tStatus status;
        proxy.open(path.c_str(), status);
        ASSERT_EQ(status.code, 0);
    }
    void TearDown() override {
        proxy.close();
        unlink(path.c_str());
    }

    // Permissions of the mapping containing address, as /proc/self/maps shows them.
    static std::string permissions(const void *address) {
        std::ifstream maps("/proc/self/maps");
        std::string line;
        const auto target = reinterpret_cast<uintptr_t>(address);
        while (std::getline(maps, line)) {
            uintptr_t start = 0, end = 0;
            char perms[5] = {};
            if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) == 3 &&
                target >= start && target < end) {
                return perms;
            }
        }
        return "";
    }

    size_t pageSize = 0;
    std::string path;
    tDeviceInterfaceProxy proxy;
};

TEST_F(Mapping, OnlyTheLow16BitsOfThePageIndexCountAndModeSelectsProtection) {
    struct Case {
        uint32_t pageIndex;
        int mode;
        char pageContents;
        const char *permissions;
    } cases[] = {{0x10001, 1, 'B', "rw-s"}, {0x00002, 2, 'C', "r--s"}, {0x30000, 0, 'A', "r--s"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pageIndex);
        tStatus status;
        tMemoryMapping mapping{};
        void *address = proxy.mapMemory(c.pageIndex, pageSize, c.mode, mapping, status);
        ASSERT_NE(address, nullptr);
        EXPECT_EQ(status.code, 0);
        EXPECT_EQ(mapping.address, address);
        EXPECT_EQ(mapping.length, pageSize);
        EXPECT_EQ(static_cast<const char *>(address)[0], c.pageContents);
        EXPECT_EQ(static_cast<const char *>(address)[pageSize - 1], c.pageContents);
        EXPECT_EQ(permissions(address), c.permissions);
        proxy.unmapMemory(mapping);
        EXPECT_EQ(mapping.address, nullptr);
        EXPECT_EQ(permissions(address), "");
    }
}

}  // namespace
