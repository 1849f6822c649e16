// The described status record, its guard and the exceptions that carry it.
#include "status/tJsonStatus.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "status/zelerrException.h"

namespace nZELSMBUS000 {
namespace {

struct tOwnedStatus : tJsonStatus {
    ~tOwnedStatus() { releaseText(); }
};

const tJsonLocation kLocation{"src/chassis/zeldynlib.cpp", 65, "zelsmbus",
                              "zelosalerr_invalidParameter"};

TEST(JsonStatus, FreshRecordUsesTheLibrarysBufferRoutine) {
    tJsonStatus record;
    EXPECT_EQ(record.code, 0);
    EXPECT_EQ(record.capacity, 0u);
    EXPECT_EQ(record.resize, &resizeJsonText);
    EXPECT_EQ(record.text, nullptr);
}

TEST(JsonStatus, SetCodeWithLocationWritesTheFourMembersByteForByte) {
    tOwnedStatus record;
    bool ok = false;
    EXPECT_TRUE(record.setCodeWithLocation(-52005, kLocation, ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(record.code, -52005);
    EXPECT_STREQ(record.text,
                 "{\"error_constant\":\"zelosalerr_invalidParameter\","
                 "\"file\":\"src/chassis/zeldynlib.cpp\",\"line\":65,\"component\":\"zelsmbus\"}");
    EXPECT_EQ(record.capacity, 512u);
    EXPECT_EQ(record.text[511], 'J');

    // Without a component the member is left out.
    tOwnedStatus bare;
    tJsonLocation noComponent = kLocation;
    noComponent.component = nullptr;
    bare.setCodeWithLocation(-1, noComponent, ok);
    EXPECT_STREQ(bare.text,
                 "{\"error_constant\":\"zelosalerr_invalidParameter\","
                 "\"file\":\"src/chassis/zeldynlib.cpp\",\"line\":65}");
}

TEST(JsonStatus, TheFirstErrorKeepsItsCodeAndText) {
    tOwnedStatus record;
    bool ok = false;
    record.setCodeWithLocation(-52005, kLocation, ok);
    const std::string first = record.text;
    tJsonLocation other{"other.cpp", 1, nullptr, "x"};
    EXPECT_FALSE(record.setCodeWithLocation(-52000, other, ok));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(record.setCode(7));
    EXPECT_FALSE(record.setCode(0));
    EXPECT_EQ(record.code, -52005);
    EXPECT_EQ(record.text, first);
}

struct tPrecedenceCase {
    int32_t stored;
    int32_t next;
    bool changes;
};

class JsonStatusPrecedence : public ::testing::TestWithParam<tPrecedenceCase> {};

TEST_P(JsonStatusPrecedence, FollowsTheStatusRule) {
    const tPrecedenceCase &c = GetParam();
    tOwnedStatus record;
    record.code = c.stored;
    record.setText(R"({"old":1})");
    EXPECT_EQ(record.setCode(c.next), c.changes);
    EXPECT_EQ(record.code, c.changes ? c.next : c.stored);
    // A change empties the description; otherwise it stays.
    EXPECT_STREQ(record.text, c.changes ? "{}" : R"({"old":1})");
}

INSTANTIATE_TEST_SUITE_P(
    Codes, JsonStatusPrecedence,
    ::testing::Values(tPrecedenceCase{0, -1, true}, tPrecedenceCase{0, 5, true},
                      tPrecedenceCase{0, 0, false}, tPrecedenceCase{5, -1, true},
                      tPrecedenceCase{5, 6, false}, tPrecedenceCase{5, 0, false},
                      tPrecedenceCase{-1, -2, false}, tPrecedenceCase{-1, 3, false}));

TEST(JsonStatus, ResizeFollowsItsSizeRules) {
    tOwnedStatus record;
    EXPECT_FALSE(resizeJsonText(&record, -1));
    EXPECT_TRUE(resizeJsonText(&record, 1));
    EXPECT_EQ(record.capacity, 512u);
    EXPECT_STREQ(record.text, "{}");
    record.setText(R"({"a":"b"})");
    char *before = record.text;
    EXPECT_TRUE(resizeJsonText(&record, 512));  // fits: nothing changes
    EXPECT_EQ(record.text, before);
    EXPECT_TRUE(resizeJsonText(&record, 513));
    EXPECT_EQ(record.capacity, 1024u);
    EXPECT_STREQ(record.text, R"({"a":"b"})");
    EXPECT_EQ(record.text[1023], 'J');
    EXPECT_TRUE(resizeJsonText(&record, 3000));
    EXPECT_EQ(record.capacity, 4096u);
    EXPECT_TRUE(resizeJsonText(&record, 0));
    EXPECT_EQ(record.capacity, 0u);
    EXPECT_EQ(record.text, nullptr);
}

TEST(JsonStatus, SetTextAndReserveReturnTheClosingBracket) {
    tOwnedStatus record;
    char *last = record.setText(R"({"a":[1,2]})");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last, record.text + 10);
    EXPECT_EQ(record.reserve(0), last);
    EXPECT_EQ(record.reserve(kMaxJsonTextLength + 1), nullptr);
    EXPECT_EQ(record.reserve(-1), nullptr);
    record.setText("{\"a\":");
    EXPECT_EQ(record.reserve(0), nullptr);  // does not scan
}

TEST(JsonStatus, SetTextFailsWhenTheBufferCannotGrow) {
    tOwnedStatus record;
    record.resize = [](tJsonStatus *, int64_t size) { return size == 0; };
    EXPECT_EQ(record.setText(nullptr), nullptr);
    EXPECT_EQ(record.text, nullptr);
}

// A foreign buffer routine (as a chassis-query library might bring): the
// same behaviour as ours, but a different address.
bool foreignResize(tJsonStatus *record, int64_t size) { return resizeJsonText(record, size); }

TEST(JsonStatus, MergeMovesTheTextBetweenRecordsOfOneRoutine) {
    tOwnedStatus source;
    bool ok = false;
    source.setCodeWithLocation(-52005, kLocation, ok);
    char *text = source.text;
    tOwnedStatus target;
    target.setText(R"({"mine":1})");
    EXPECT_TRUE(target.merge(source, ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(target.code, -52005);
    EXPECT_EQ(target.text, text);
    EXPECT_EQ(source.text, nullptr);
    EXPECT_EQ(source.capacity, 0u);
}

TEST(JsonStatus, MergeCopiesTheTextAcrossRoutines) {
    tOwnedStatus source;
    source.resize = foreignResize;
    bool ok = false;
    source.setCodeWithLocation(-3, kLocation, ok);
    tOwnedStatus target;
    EXPECT_TRUE(target.merge(source, ok));
    EXPECT_TRUE(ok);
    ASSERT_NE(source.text, nullptr);
    ASSERT_NE(target.text, nullptr);
    EXPECT_NE(target.text, source.text);
    EXPECT_STREQ(target.text, source.text);

    // Nothing changes when the code does not take precedence.
    tOwnedStatus success;
    EXPECT_FALSE(target.merge(success, ok));
    EXPECT_EQ(target.code, -3);
}

TEST(JsonStatus, TheGuardThrowsAnErrorWithItsText) {
    tJsonStatus record;
    bool ok = false;
    record.setCodeWithLocation(-52005, kLocation, ok);
    const std::string description = record.text;
    try {
        record.raiseIfFatal();
        FAIL() << "no exception";
    } catch (const zelerr::Exception &failure) {
        EXPECT_EQ(failure.code(), -52005);
        EXPECT_EQ(failure.what(), description);
        EXPECT_EQ(std::string(failure.description()), description);
    }
    EXPECT_EQ(record.text, nullptr);
}

TEST(JsonStatus, TheGuardFreesTheTextOfAWarningWithoutThrowing) {
    tJsonStatus record;
    record.setCode(42);
    record.setText(R"({"note":1})");
    EXPECT_NO_THROW(record.raiseIfFatal());
    EXPECT_EQ(record.text, nullptr);
    EXPECT_EQ(record.code, 42);
}

TEST(JsonStatus, TheGuardDoesNotThrowWhileAnotherExceptionPropagates) {
    struct tGuardInDestructor {
        tJsonStatus record;
        ~tGuardInDestructor() { record.raiseIfFatal(); }
    };
    try {
        tGuardInDestructor guard;
        bool ok = false;
        guard.record.setCodeWithLocation(-1, kLocation, ok);
        throw std::runtime_error("first");
    } catch (const std::runtime_error &error) {
        EXPECT_STREQ(error.what(), "first");
    }
}

TEST(ZelerrException, CopyingTakesTheTextAndAnEmptyRecordDescribesAsEmpty) {
    tJsonStatus record;
    record.setCode(-7);
    zelerr::Exception plain(record);
    EXPECT_EQ(plain.code(), -7);
    EXPECT_STREQ(plain.what(), "");
    EXPECT_STREQ(plain.description(), "");

    tJsonStatus described;
    bool ok = false;
    described.setCodeWithLocation(-9, kLocation, ok);
    zelerr::Exception original(described);
    zelerr::Exception copy(original);
    EXPECT_EQ(copy.code(), -9);
    EXPECT_NE(std::strstr(copy.what(), "zelosalerr_invalidParameter"), nullptr);
    const std::exception &asStandard = copy;
    EXPECT_STREQ(asStandard.what(), copy.what());
    const zelerr::ExceptionBase &asBase = copy;
    EXPECT_STREQ(asBase.description(), copy.what());
}

}  // namespace
}  // namespace nZELSMBUS000
