#include "status/tStatus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "status/memory.h"

using nZELSMBUS000::allocate;
using nZELSMBUS000::tStatus;

namespace {

struct PrecedenceCase {
    int64_t stored;
    int64_t offered;
    bool changed;
};

class Precedence : public ::testing::TestWithParam<PrecedenceCase> {};

TEST_P(Precedence, FollowsFirstErrorAndFirstWarningRule) {
    const PrecedenceCase c = GetParam();
    tStatus status;
    status.setCode(c.stored, "first", "first.cpp", 1);
    const bool result = status.setCode(c.offered, "second", "second.cpp", 2);
    EXPECT_EQ(result, c.changed);
    EXPECT_EQ(status.code, c.changed ? c.offered : c.stored);
    if (c.stored != 0 || c.changed) {
        EXPECT_STREQ(status.file, c.changed ? "second.cpp" : "first.cpp");
        EXPECT_EQ(status.line, c.changed ? 2u : 1u);
    }
}

// Every pair of stored and offered code classes: success, warning, error.
INSTANTIATE_TEST_SUITE_P(AllClasses, Precedence,
                         ::testing::Values(PrecedenceCase{0, 0, false}, PrecedenceCase{0, 7, true},
                                           PrecedenceCase{0, -7, true},
                                           PrecedenceCase{5, 0, false},
                                           PrecedenceCase{5, 7, false},
                                           PrecedenceCase{5, -7, true},
                                           PrecedenceCase{-5, 0, false},
                                           PrecedenceCase{-5, 7, false},
                                           PrecedenceCase{-5, -7, false}));

TEST(StatusRecord, ErrorReplacingWarningEmptiesExtension) {
    tStatus status;
    status.setCode(50254, "zelsmbus", "a.cpp", 3);
    status.extension[0] = 42;
    ASSERT_TRUE(status.setCode(-52005, "zelsmbus", "b.cpp", 9));
    EXPECT_EQ(status.extension[0], 0u);
    EXPECT_STREQ(status.component, "zelsmbus");
}

TEST(StatusRecord, FileNameOf100CharactersIsKeptWhole) {
    const std::string name(100, 'f');
    tStatus status;
    status.setCode(-1, "c", name.c_str(), 1);
    EXPECT_EQ(std::string(status.file), name);
}

TEST(StatusRecord, FileNameOf101CharactersKeepsBothEnds) {
    std::string name;
    for (int i = 0; i < 101; ++i) name += static_cast<char>('A' + i % 26);
    tStatus status;
    status.setCode(-1, "c", name.c_str(), 1);
    EXPECT_EQ(std::string(status.file), name.substr(0, 49) + ".." + name.substr(101 - 49));
    EXPECT_EQ(status.file[100], '\0');
}

TEST(StatusRecord, LongComponentIsCutToNineCharacters) {
    tStatus status;
    status.setCode(-1, "0123456789", "f", 1);
    EXPECT_STREQ(status.component, "012345678");
}

TEST(StatusRecord, MergeFromShortRecordCarriesOnlyTheCode) {
    tStatus shortRecord(16);
    shortRecord.code = -52024;
    tStatus status;
    ASSERT_TRUE(status.merge(shortRecord));
    EXPECT_EQ(status.code, -52024);
    EXPECT_STREQ(status.component, "");
    EXPECT_STREQ(status.file, "");
    EXPECT_EQ(status.line, 0u);
}

TEST(StatusRecord, MergeIntoShortRecordTouchesNothingButTheCode) {
    tStatus source;
    source.setCode(-52031, "zelsmbus", "src.cpp", 12);
    source.extension[0] = 1;
    source.extension[1] = 0;
    tStatus target(16);
    std::memset(target.component, 0x5A, sizeof target.component);
    target.extension[0] = 99;
    ASSERT_TRUE(target.merge(source));
    EXPECT_EQ(target.code, -52031);
    EXPECT_EQ(target.component[0], 0x5A);
    EXPECT_EQ(target.extension[0], 99u);
}

TEST(StatusRecord, MergeCopiesExtensionUpToItsTerminator) {
    tStatus source;
    source.setCode(-2, "zelsmbus", "src.cpp", 12);
    source.extension[0] = 11;
    source.extension[1] = 22;
    source.extension[2] = 0;
    tStatus target;
    target.extension[3] = 77;
    ASSERT_TRUE(target.merge(source));
    EXPECT_EQ(target.extension[0], 11u);
    EXPECT_EQ(target.extension[1], 22u);
    EXPECT_EQ(target.extension[2], 0u);
    EXPECT_EQ(target.extension[3], 77u);
}

TEST(StatusRecord, ReturnsLow32BitsOfTheCode) {
    // Codes whose 64-bit value differs from their low 32 bits: a result that
    // passed on the whole code, or its high half, would differ.
    struct tCase {
        int64_t code;
        int32_t low;
    };
    for (const tCase c : {tCase{(int64_t{1} << 32) - 52006, -52006},
                          tCase{-(int64_t{1} << 32) - 52006, -52006},
                          tCase{(int64_t{7} << 40) + 50254, 50254}}) {
        SCOPED_TRACE(c.code);
        tStatus status;
        ZELSMBUS_SET_CODE(status, c.code);
        EXPECT_EQ(status.code, c.code);
        EXPECT_EQ(status.result(), c.low);
    }
}

TEST(StatusRecord, MacroRecordsSourceRelativeFileAndLine) {
    tStatus status;
    const int line = __LINE__ + 1;
    ZELSMBUS_SET_CODE(status, -52005);
    EXPECT_STREQ(status.file, "tests/status/tStatusTest.cpp");
    EXPECT_EQ(status.line, static_cast<uint64_t>(line));
    EXPECT_STREQ(status.component, "zelsmbus");
}

tStatus withDetails(int64_t code, uint64_t firstWord) {
    tStatus status;
    status.setCode(code, "zelsmbus", "source.cpp", 40);
    status.extension[0] = firstWord;
    status.extension[1] = 0;
    return status;
}

TEST(StatusRecord, ARefusedMergeCarriesNoDetails) {
    struct tCase {
        int64_t held, offered;
    };
    // An error is never replaced, and a warning does not replace a warning.
    for (const tCase c : {tCase{-1, -2}, tCase{-1, 2}, tCase{1, 2}}) {
        SCOPED_TRACE(c.held);
        tStatus target = withDetails(c.held, 11);
        const tStatus source = withDetails(c.offered, 99);
        EXPECT_FALSE(target.merge(source));
        EXPECT_EQ(target.code, c.held);
        EXPECT_EQ(target.extension[0], 11u);
        EXPECT_EQ(target.line, 40u);
    }
}

TEST(StatusRecord, ClearForgetsCodeAndEveryDetailAndTakesANewCode) {
    tStatus status = withDetails(-52031, 7);
    status.clear();
    EXPECT_EQ(status.code, 0);
    EXPECT_STREQ(status.component, "");
    EXPECT_STREQ(status.file, "");
    EXPECT_EQ(status.line, 0u);
    EXPECT_EQ(status.extension[0], 0u);
    EXPECT_EQ(status.size, tStatus::kFullSize);
    EXPECT_TRUE(status.setCode(-1, "c", "f", 1));
}

TEST(Allocation, WarningDoesNotStopAndFailureReplacesIt) {
    tStatus status;
    status.setCode(50254, "zelsmbus", "w.cpp", 1);
    void *block = allocate(16, status);
    ASSERT_NE(block, nullptr);
    nZELSMBUS000::release(block);
    EXPECT_EQ(status.code, 50254);
    // An impossible size fails and replaces the warning.
    EXPECT_EQ(allocate(SIZE_MAX, status), nullptr);
    EXPECT_EQ(status.code, -52000);
}

TEST(Allocation, ErrorInStatusAllocatesNothing) {
    tStatus status;
    status.setCode(-52006, "zelsmbus", "e.cpp", 1);
    EXPECT_EQ(allocate(16, status), nullptr);
    EXPECT_EQ(status.code, -52006);
    EXPECT_STREQ(status.file, "e.cpp");
    nZELSMBUS000::release(nullptr);
}

}  // namespace
