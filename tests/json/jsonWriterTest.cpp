// The in-place JSON writer and the scanner over tJsonStatus buffers.
#include "status/jsonWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "status/jsonScanner.h"
#include "status/tJsonStatus.h"

namespace nZELSMBUS000 {
namespace {

// A record that frees its text when the test ends.
struct tOwnedStatus : tJsonStatus {
    ~tOwnedStatus() { releaseText(); }
};

// The buffer's invariant: text, zero fill, 'J' in the last byte.
void expectLaidOut(const tJsonStatus &record) {
    ASSERT_NE(record.text, nullptr);
    const size_t length = std::strlen(record.text);
    ASSERT_LE(length, record.capacity - 2u);
    for (size_t i = length; i < record.capacity - 1; ++i) ASSERT_EQ(record.text[i], '\0') << i;
    EXPECT_EQ(record.text[record.capacity - 1], 'J');
}

TEST(JsonWriter, MembersGoIntoTheObjectInOrderWithCommas) {
    tOwnedStatus record;
    char *position = record.setText(nullptr);
    position = addString(position, "a", "x");
    position = addInteger(position, "n", -42);
    position = addObject(position, "inner");
    position = addString(position, "b", "y");
    position = addInteger(position, "m", 7);
    position = closeObject(position);
    position = addObject(position, "empty");
    position = closeObject(position);
    position = addString(position, "c", "");
    ASSERT_NE(position, nullptr);
    EXPECT_STREQ(record.text, R"({"a":"x","n":-42,"inner":{"b":"y","m":7},"empty":{},"c":""})");
    EXPECT_EQ(*position, '}');
    EXPECT_EQ(position, record.text + std::strlen(record.text) - 1);
    expectLaidOut(record);
}

TEST(JsonWriter, AnObjectWithOnlyWhiteSpaceCountsAsEmpty) {
    tOwnedStatus record;
    char *position = record.setText("{ \t\r\n}");
    position = addInteger(position, "k", 1);
    EXPECT_STREQ(record.text, "{ \t\r\n\"k\":1}");
}

struct tEscapeCase {
    const char *raw;
    const char *escaped;
};

class JsonEscaping : public ::testing::TestWithParam<tEscapeCase> {};

TEST_P(JsonEscaping, KeysAndValuesAreEscapedAlike) {
    const tEscapeCase &c = GetParam();
    tOwnedStatus record;
    char *position = record.setText(nullptr);
    position = addString(position, c.raw, c.raw);
    ASSERT_NE(position, nullptr);
    const std::string expected = std::string("{\"") + c.escaped + "\":\"" + c.escaped + "\"}";
    EXPECT_EQ(record.text, expected);
    EXPECT_EQ(escapedLength(c.raw), std::strlen(c.escaped));
    EXPECT_NE(scanJsonContainer(record.text), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Bytes, JsonEscaping,
                         ::testing::Values(tEscapeCase{"a\"b", "a\\\"b"},
                                           tEscapeCase{"\x01", "\\u0001"},
                                           tEscapeCase{"\\", "\\\\"},
                                           tEscapeCase{"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
                                           tEscapeCase{"\x1f\x7f", "\\u001f\\u007f"},
                                           tEscapeCase{"/\xc3\xa9~", "/\xc3\xa9~"}));

TEST(JsonWriter, NoRoomLeavesTheTextUnchangedAndGrowingDoublesTheBuffer) {
    tOwnedStatus record;
    // Fill a 512-byte buffer so that exactly one byte of room is left:
    // {"k":"vvv..."} with 509 characters of text.
    const std::string value(509 - 8, 'v');
    char *position = record.setText(("{\"k\":\"" + value + "\"}").c_str());
    ASSERT_NE(position, nullptr);
    ASSERT_EQ(record.capacity, 512u);
    ASSERT_EQ(std::strlen(record.text), 509u);
    const std::string before = record.text;

    EXPECT_EQ(addObject(position, ""), nullptr);
    EXPECT_EQ(addInteger(position, "", 1), nullptr);
    EXPECT_EQ(record.text, before);
    expectLaidOut(record);

    position = addString(position, "z", "1", growJsonStatus, &record);
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(record.capacity, 1024u);
    EXPECT_EQ(std::string(record.text), before.substr(0, before.size() - 1) + ",\"z\":\"1\"}");
    EXPECT_EQ(*position, '}');
    expectLaidOut(record);
}

TEST(JsonWriter, ExactFitSucceedsAndNullPositionsStayNull) {
    tOwnedStatus record;
    // 502 characters of text leave 8 bytes: ,"a":"b" is exactly 8.
    const std::string value(502 - 8, 'v');
    char *position = record.setText(("{\"k\":\"" + value + "\"}").c_str());
    position = addString(position, "a", "b");
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(std::strlen(record.text), 510u);
    expectLaidOut(record);

    EXPECT_EQ(addString(nullptr, "a", "b"), nullptr);
    EXPECT_EQ(addObject(nullptr, "a"), nullptr);
    EXPECT_EQ(closeObject(nullptr), nullptr);
    EXPECT_EQ(addString(nullptr, "a", "b", growJsonStatus, &record), nullptr);
}

TEST(JsonWriter, GrowingGivesUpWhenTheRecordHasNoBuffer) {
    tOwnedStatus record;
    char text[] = "{}";
    EXPECT_EQ(record.growFor(text + 1), nullptr);
}

struct tScanCase {
    const char *text;
    int closingIndex;  // -1: refused
};

class JsonScanner : public ::testing::TestWithParam<tScanCase> {};

TEST_P(JsonScanner, FindsTheClosingBracketOrRefuses) {
    const tScanCase &c = GetParam();
    const char *closing = scanJsonContainer(c.text);
    if (c.closingIndex < 0) {
        EXPECT_EQ(closing, nullptr) << c.text;
    } else {
        ASSERT_NE(closing, nullptr) << c.text;
        EXPECT_EQ(closing - c.text, c.closingIndex) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonScanner,
    ::testing::Values(tScanCase{"{}", 1}, tScanCase{"[]", 1}, tScanCase{"{} trailing junk", 1},
                      tScanCase{R"({"a":1,"b":[true,false,null,-1.5e+3,"s"],"c":{"d":{}}})", 53},
                      tScanCase{" { \"a\" : [ 1 , 2 ] } ", -1},  // white space before the bracket
                      tScanCase{"{ \"a\" : [ 1 , 2 ] }", 18},
                      tScanCase{R"(["\"\/\\\b\f\n\r\t\u00aF"])", 25}, tScanCase{R"({"a":1,})", -1},
                      tScanCase{"[1,]", -1}, tScanCase{R"({"a" 1})", -1}, tScanCase{"[1 2]", -1},
                      tScanCase{R"({"a":1)", -1}, tScanCase{"[", -1}, tScanCase{R"(["\x"])", -1},
                      tScanCase{R"(["\u12g4"])", -1}, tScanCase{"[\"a\x01\"]", -1},
                      tScanCase{"[1.]", -1}, tScanCase{"[-]", -1}, tScanCase{"[1e]", -1},
                      tScanCase{"[tru]", -1}, tScanCase{"{1:2}", -1}, tScanCase{"\"a\"", -1},
                      tScanCase{"", -1}));

TEST(JsonScanner, RefusesNestingBeyondItsDepthLimit) {
    std::string deep(10000, '[');
    deep += std::string(10000, ']');
    EXPECT_EQ(scanJsonContainer(deep.c_str()), nullptr);
    std::string shallow(100, '[');
    shallow += std::string(100, ']');
    EXPECT_EQ(scanJsonContainer(shallow.c_str()), shallow.c_str() + 199);
}

}  // namespace
}  // namespace nZELSMBUS000
