// Walking the driver's device-interface directories through the simulated tree.
#include <glob.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "driver/tDeviceInterfaceIterator.h"
#include "status/tStatus.h"
#include "zelsim.h"

namespace {

using nZELSMBUS000::tStatus;
using nZELSMBUS000::nZELOSAL000::tDeviceInterfaceIterator;
using nZELSMBUS000::nZELOSAL000::tDeviceInterfacePath;

constexpr const char *kClass = "zelsmbus_zelsmbus";

class Enumeration : public ::testing::Test {
protected:
    void SetUp() override { zelsim_reset(); }
    void TearDown() override { zelsim_reset(); }
};

TEST_F(Enumeration, WalksEveryNodeInOrderWithPathAndPortCount) {
    tStatus status;
    tDeviceInterfaceIterator nodes(kClass, status);
    unsigned count = 0;
    for (; !nodes.atEnd(); nodes.next(), ++count) {
        tDeviceInterfacePath record;
        nodes.getInterfacePath(&record, status);
        ASSERT_EQ(status.code, 0);
        ASSERT_LT(count, zelsim_node_count());
        EXPECT_STREQ(record.path, zelsim_node_path(count));
        EXPECT_EQ(record.length, std::strlen(zelsim_node_path(count)) + 1);

        uint32_t ports = 0;
        size_t size = 0;
        nodes.getProperty("numPorts", &ports, sizeof ports, &size, status);
        EXPECT_EQ(status.code, 0);
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(ports, zelsim_port_count(count));
    }
    EXPECT_EQ(count, zelsim_node_count());
    EXPECT_GE(count, 2u);
}

TEST_F(Enumeration, NothingToFindIsAnEmptyWalkWithoutError) {
    struct Case {
        const char *name;
        bool treePresent;
        const char *interfaceClass;
    } cases[] = {{"no tree", false, kClass}, {"unknown class", true, "zelsmbus_other"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        zelsim_set_tree_present(c.treePresent ? 1 : 0);
        tStatus status;
        ASSERT_TRUE(status.setCode(50254, "zelsmbus", "w.cpp", 1));
        tDeviceInterfaceIterator nodes(c.interfaceClass, status);
        EXPECT_TRUE(nodes.atEnd());
        EXPECT_EQ(status.code, 50254);
        EXPECT_STREQ(status.file, "w.cpp");
    }
}

TEST_F(Enumeration, FailingSearchGives52003AndAnEmptyWalk) {
    for (int result : {GLOB_ABORTED, GLOB_NOSPACE}) {
        zelsim_fail_glob(result, 1);
        tStatus status;
        tDeviceInterfaceIterator nodes(kClass, status);
        EXPECT_TRUE(nodes.atEnd());
        EXPECT_EQ(status.code, -52003);
        EXPECT_STREQ(status.component, "zelsmbus");
        EXPECT_STREQ(status.file, "src/driver/tDeviceInterfaceIterator.cpp");
    }
}

TEST_F(Enumeration, SearchIsSkippedWhenTheStatusHoldsAnError) {
    zelsim_clear_call_counts();
    tStatus status;
    status.setCode(-52006, "zelsmbus", "earlier.cpp", 7);
    tDeviceInterfaceIterator nodes(kClass, status);
    EXPECT_TRUE(nodes.atEnd());
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_GLOB), 0u);
    EXPECT_EQ(status.code, -52006);
}

TEST_F(Enumeration, InterfacePathUpTo255BytesIsAcceptedAndLongerRefused) {
    struct Case {
        size_t bytes;
        int64_t code;
    } cases[] = {{255, 0}, {256, -52019}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        std::string path(c.bytes, 'p');
        ASSERT_EQ(zelsim_set_interface_path(0, path.data(), path.size()), 0);
        tStatus status;
        tDeviceInterfaceIterator nodes(kClass, status);
        ASSERT_FALSE(nodes.atEnd());
        tDeviceInterfacePath record;
        std::memset(&record, 0x5A, sizeof record);
        nodes.getInterfacePath(&record, status);
        EXPECT_EQ(status.code, c.code);
        if (c.code == 0) {
            EXPECT_EQ(record.length, 256u);
            EXPECT_EQ(std::string(record.path), path);
        } else {
            EXPECT_EQ(record.path[0], 0x5A);  // untouched
            EXPECT_EQ(record.length, 0x5A5A5A5A5A5A5A5Au);
        }
    }
}

TEST_F(Enumeration, InterfacePathWithoutRecordIsRefused) {
    tStatus status;
    tDeviceInterfaceIterator nodes(kClass, status);
    nodes.getInterfacePath(nullptr, status);
    EXPECT_EQ(status.code, -52019);
}

TEST_F(Enumeration, InterfacePathIsTakenByteForByte) {
    const char withNewline[] = "/dev/zelsmbus0\n";
    ASSERT_EQ(zelsim_set_interface_path(0, withNewline, sizeof withNewline - 1), 0);
    tStatus status;
    tDeviceInterfaceIterator nodes(kClass, status);
    tDeviceInterfacePath record;
    nodes.getInterfacePath(&record, status);
    EXPECT_EQ(status.code, 0);
    EXPECT_STREQ(record.path, withNewline);
    EXPECT_EQ(record.length, sizeof withNewline);
}

TEST_F(Enumeration, PropertyLargerThanCapacityIsRefusedButItsSizeReported) {
    struct Case {
        size_t bytes;
        int64_t code;
    } cases[] = {{4, 0}, {5, -52019}, {2, 0}};
    const uint8_t value[5] = {0x01, 0x02, 0x03, 0x04, 0x05};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        ASSERT_EQ(zelsim_set_property(0, "numPorts", value, c.bytes), 0);
        tStatus status;
        tDeviceInterfaceIterator nodes(kClass, status);
        uint8_t destination[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        size_t size = 99;
        nodes.getProperty("numPorts", destination, sizeof destination, &size, status);
        EXPECT_EQ(status.code, c.code);
        EXPECT_EQ(size, c.bytes);
        for (size_t i = 0; i < sizeof destination; ++i) {
            const uint8_t expected = (c.code == 0 && i < c.bytes) ? value[i] : 0xEE;
            EXPECT_EQ(destination[i], expected) << "byte " << i;
        }
    }
}

TEST_F(Enumeration, PropertyWithoutDestinationIsRefusedAndSizeOutIsOptional) {
    tStatus status;
    tDeviceInterfaceIterator nodes(kClass, status);
    size_t size = 0;
    nodes.getProperty("numPorts", nullptr, 4, &size, status);
    EXPECT_EQ(status.code, -52019);
    EXPECT_EQ(size, 4u);

    tStatus second;
    uint32_t ports = 0;
    nodes.getProperty("numPorts", &ports, sizeof ports, nullptr, second);
    EXPECT_EQ(second.code, 0);
    EXPECT_EQ(ports, zelsim_port_count(0));
}

TEST_F(Enumeration, UnopenableFileCostsTenAttemptsThen52006) {
    for (const char *file : {"interfacePath", "numPorts"}) {
        SCOPED_TRACE(file);
        zelsim_reset();
        ASSERT_EQ(zelsim_make_unopenable(0, file, EACCES), 0);
        tStatus status;
        tDeviceInterfaceIterator nodes(kClass, status);
        const unsigned before = zelsim_fopen_attempts(0, file);
        tDeviceInterfacePath record;
        uint32_t ports = 0;
        if (std::strcmp(file, "interfacePath") == 0) {
            nodes.getInterfacePath(&record, status);
        } else {
            nodes.getProperty(file, &ports, sizeof ports, nullptr, status);
        }
        EXPECT_EQ(zelsim_fopen_attempts(0, file) - before, 10u);
        EXPECT_EQ(status.code, -52006);
        EXPECT_STREQ(status.file, "src/driver/linuxDevEnumHelper.cpp");
    }
}

TEST_F(Enumeration, OpenSucceedingOnALaterAttemptReadsNormally) {
    zelsim_fail_call(ZELSIM_CALL_FOPEN, EINTR, 9);
    tStatus status;
    tDeviceInterfaceIterator nodes(kClass, status);
    uint32_t ports = 0;
    nodes.getProperty("numPorts", &ports, sizeof ports, nullptr, status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(ports, zelsim_port_count(0));
}

TEST_F(Enumeration, ReadersDoNothingWhenTheStatusHoldsAnError) {
    tStatus fresh;
    tDeviceInterfaceIterator nodes(kClass, fresh);
    const unsigned before = zelsim_fopen_attempts(0, "numPorts");
    tStatus status;
    status.setCode(-52005, "zelsmbus", "earlier.cpp", 3);
    uint32_t ports = 0xDEADBEEF;
    size_t size = 77;
    nodes.getProperty("numPorts", &ports, sizeof ports, &size, status);
    tDeviceInterfacePath record;
    record.length = 123;
    nodes.getInterfacePath(&record, status);
    EXPECT_EQ(zelsim_fopen_attempts(0, "numPorts"), before);
    EXPECT_EQ(ports, 0xDEADBEEF);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(record.length, 123u);
    EXPECT_EQ(status.code, -52005);
    EXPECT_STREQ(status.file, "earlier.cpp");
}

TEST_F(Enumeration, ReadErrorOnTheStreamGives52024) {
    // A directory opens as a stream but cannot be read.
    tStatus status;
    tDeviceInterfaceIterator nodes(kClass, status);
    ASSERT_FALSE(nodes.atEnd());
    tDeviceInterfacePath record;
    nodes.getInterfacePath(&record, status);
    ASSERT_EQ(status.code, 0);

    glob_t found{};
    const std::string pattern = std::string(zelsim_tree_root()) +
                                "/proc/driver/zel/*/deviceInterfaces/zelsmbus_zelsmbus\\\\*";
    ASSERT_EQ(glob(pattern.c_str(), GLOB_ONLYDIR, nullptr, &found), 0);
    const std::string directory = std::string(found.gl_pathv[0]) + "/properties/unreadable";
    globfree(&found);
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0) << directory;

    uint32_t value = 0;
    size_t size = 55;
    nodes.getProperty("unreadable", &value, sizeof value, &size, status);
    EXPECT_EQ(status.code, -52024);
    EXPECT_EQ(size, 55u);
    rmdir(directory.c_str());
}

TEST_F(Enumeration, ReadersRefuseToReadPastTheEndOfTheWalk) {
    zelsim_set_tree_present(0);
    tStatus status;
    tDeviceInterfaceIterator nodes(kClass, status);
    ASSERT_TRUE(nodes.atEnd());
    uint32_t ports = 0;
    nodes.getProperty("numPorts", &ports, sizeof ports, nullptr, status);
    EXPECT_EQ(status.code, -52006);
}

}  // namespace
