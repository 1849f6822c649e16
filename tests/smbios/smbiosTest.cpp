// Loading the SMBIOS dump through the real file access, the simulator
// redirecting the dump's fixed path to a file of the test's making.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "smbios/cZelSmBiosLinuxProvider.h"
#include "status/tStatus.h"
#include "zelsim.h"

namespace {

using nZELSMBUS000::tStatus;
using nZELSMBUS000::nZELSMBIOS_1_1::cZelSmBiosLinuxProvider;

constexpr const char *kSource = "src/smbios/cZelSmBiosLinuxProvider.cpp";

int openDescriptors() {
    int count = 0;
    if (DIR *directory = opendir("/proc/self/fd")) {
        while (readdir(directory) != nullptr) {
            ++count;
        }
        closedir(directory);
    }
    return count;
}

std::string dump(const std::string &header, const void *size, size_t sizeBytes,
                 const std::string &table) {
    std::string bytes = header;
    bytes.push_back('\0');
    bytes.append(static_cast<const char *>(size), sizeBytes);
    return bytes + table;
}

std::string dump(const std::string &header, uint16_t size, const std::string &table) {
    return dump(header, &size, sizeof size, table);
}

class SmBios : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        char name[] = "/tmp/zelsmbus-smbios-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_NE(fd, -1);
        ::close(fd);
        path = name;
        zelsim_set_smbios_path(path.c_str());
    }
    void TearDown() override {
        unlink(path.c_str());
        zelsim_reset();
    }

    void write(const std::string &bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    // Loads a fresh provider from bytes; the dump must be closed afterwards.
    tStatus load(const std::string &bytes, cZelSmBiosLinuxProvider &provider) {
        write(bytes);
        const int before = openDescriptors();
        tStatus status;
        provider.load(status);
        EXPECT_EQ(openDescriptors(), before) << "dump left open";
        return status;
    }

    std::string path;
};

TEST_F(SmBios, LoadsHeaderTextAndTable) {
    cZelSmBiosLinuxProvider provider;
    const std::string table("\x00\x18\x00\x00\x01\x02\x00\xF0", 8);
    const tStatus status = load(dump("SMBIOS 3.2 present.", 8, table + "trailing"), provider);
    EXPECT_EQ(status.code, 0);
    EXPECT_STREQ(provider.header(), "SMBIOS 3.2 present.");
    ASSERT_EQ(provider.size(), 8u);
    ASSERT_NE(provider.table(), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(provider.table()), 8), table);
}

TEST_F(SmBios, EmptyHeaderAndEmptyTable) {
    cZelSmBiosLinuxProvider provider;
    const tStatus status = load(dump("", 0, ""), provider);
    EXPECT_EQ(status.code, 0);
    EXPECT_STREQ(provider.header(), "");
    EXPECT_EQ(provider.size(), 0u);
}

TEST_F(SmBios, HeaderTextBeyond255CharactersIsDroppedAndLoadingGoesOn) {
    struct Case {
        size_t length;
        bool kept;
    } cases[] = {{255, true}, {256, false}, {1000, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        cZelSmBiosLinuxProvider provider;
        const std::string header(c.length, 'h');
        const tStatus status = load(dump(header, 2, "\x7F\x01"), provider);
        EXPECT_EQ(status.code, 0);
        EXPECT_EQ(std::string(provider.header()), c.kept ? header : "");
        ASSERT_EQ(provider.size(), 2u);
        EXPECT_EQ(provider.table()[0], 0x7F);
        EXPECT_EQ(provider.table()[1], 0x01);
    }
}

TEST_F(SmBios, FileEndingEarlyGives240053FromTheReadThatFailed) {
    const uint8_t oneSizeByte = 1;
    struct Case {
        const char *name;
        std::string bytes;
        uint32_t tableSize;
    } cases[] = {
        {"empty file", "", 0},
        {"inside the header", "SMBIOS", 0},
        {"inside the size", dump("SMBIOS", &oneSizeByte, 1, ""), 0},
        {"inside the table", dump("SMBIOS", 300, std::string(200, 't')), 300},
    };
    std::set<uint64_t> lines;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cZelSmBiosLinuxProvider provider;
        const tStatus status = load(c.bytes, provider);
        EXPECT_EQ(status.code, -240053);
        EXPECT_STREQ(status.component, "zelsmbus");
        EXPECT_STREQ(status.file, kSource);
        EXPECT_EQ(provider.size(), c.tableSize);
        lines.insert(status.line);
    }
    EXPECT_EQ(lines.size(), 3u) << "the header, size and table reads each report their own line";
}

TEST_F(SmBios, MissingDumpGives240050) {
    zelsim_set_smbios_path(nullptr);
    cZelSmBiosLinuxProvider provider;
    tStatus status;
    provider.load(status);
    EXPECT_EQ(status.code, -240050);
    EXPECT_STREQ(status.file, kSource);
    EXPECT_EQ(provider.table(), nullptr);
}

TEST_F(SmBios, StatusHoldingAnErrorLeavesTheFileUnopened) {
    write(dump("SMBIOS", 2, "ab"));
    zelsim_clear_call_counts();
    cZelSmBiosLinuxProvider provider;
    tStatus status;
    status.setCode(-52006, "zelsmbus", "caller.cpp", 4);
    provider.load(status);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_OPEN), 0u);
    EXPECT_EQ(status.code, -52006);
    EXPECT_STREQ(status.file, "caller.cpp");
    EXPECT_EQ(provider.size(), 0u);
    EXPECT_EQ(provider.table(), nullptr);

    tStatus warning;
    warning.setCode(50254, "zelsmbus", "caller.cpp", 4);
    provider.load(warning);
    EXPECT_EQ(zelsim_call_count(ZELSIM_CALL_OPEN), 1u);
    EXPECT_EQ(warning.code, 50254);
    EXPECT_EQ(provider.size(), 2u);
}

TEST_F(SmBios, LoadingAgainReplacesTheTableWithoutLeaking) {
    cZelSmBiosLinuxProvider provider;
    EXPECT_EQ(load(dump("first", 3, "abc"), provider).code, 0);
    EXPECT_EQ(load(dump("second", 2, "xy"), provider).code, 0);
    EXPECT_STREQ(provider.header(), "second");
    ASSERT_EQ(provider.size(), 2u);
    EXPECT_EQ(provider.table()[0], 'x');
}

}  // namespace
