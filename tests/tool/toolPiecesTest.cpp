// The tool's pieces that need no bus: image checks, numbers, attribute names, JSON text.
#include <gtest/gtest.h>
#include <zelsmbus.h>

#include <sstream>
#include <string>

#include "attributeTable.h"
#include "failure.h"
#include "firmwareImage.h"
#include "jsonWriter.h"
#include "options.h"
#include "progress.h"
#include "statusText.h"
#include "utf8Text.h"

namespace zelsmbus_tool {
namespace {

TEST(FirmwareCrc, MatchesTheCheckValueOfTheDigits) {
    const std::string digits = "123456789";
    EXPECT_EQ(firmwareCrc(reinterpret_cast<const uint8_t *>(digits.data()), digits.size()),
              0x05440F15u);
}

// "ABC" in Base64 is "QUJD".
std::string image(const std::string &crcLine, const std::string &payload = "QUJD",
                  const std::string &version = "0x10") {
    return "HeaderVersion::1\r\nSubSystemID::0x7270\r\nPinOutAddr::0x100\r\nPinOutVer::255\r\n"
           "UpdateType::\"FWUpdate\"\r\nOffset::0\r\nVersion::" +
           version + "\r\n" + crcLine + "\r\nByteCount::3\r\n\r\n" + payload + "\r\n";
}

std::string crcOfAbc() {
    const uint8_t abc[] = {'A', 'B', 'C'};
    char text[32];
    std::snprintf(text, sizeof text, "CRC::0x%08x", firmwareCrc(abc, 3));
    return text;
}

TEST(FirmwareImageCheck, ASoundImageHasNoProblems) {
    const FirmwareCheck check = checkFirmwareImage(image(crcOfAbc()));
    EXPECT_TRUE(check.problems.empty());
    EXPECT_EQ(check.header.subsystemId, 0x7270u);
    EXPECT_EQ(check.header.pinOutVersion, 255u);
    EXPECT_EQ(check.header.version, 0x10u);
    EXPECT_EQ(check.header.updateType, "FWUpdate");
    EXPECT_EQ(check.decodedLength, 3u);
}

TEST(FirmwareImageCheck, NumbersFollowTheImageRules) {
    // A blank before 0x10 makes it base 10 with the prefix skipped; 0X is not the hex marker.
    EXPECT_EQ(checkFirmwareImage(image(crcOfAbc(), "QUJD", " 0x10")).header.version, 10u);
    EXPECT_EQ(checkFirmwareImage(image(crcOfAbc(), "QUJD", "0X10")).header.version, 10u);
    EXPECT_EQ(checkFirmwareImage(image(crcOfAbc(), "QUJD", "0x1f")).header.version, 0x1Fu);
}

TEST(FirmwareImageCheck, PaddingAndStrayCharactersAreSkippedInThePayload) {
    EXPECT_TRUE(checkFirmwareImage(image(crcOfAbc(), "QU JD\n==")).problems.empty());
}

TEST(FirmwareImageCheck, DefectsAreReported) {
    struct Case {
        std::string text;
        std::string problem;
    };
    const Case cases[] = {
        {image("CRC::0x12345678"), "the payload's CRC does not match the header's"},
        {image(crcOfAbc(), "QUJDRA"), "the payload holds 4 bytes, the header says 3"},
        {image("CRQ::1"), "the header has no CRC line"},
        {"HeaderVersion::1\r\nByteCount::0", "the header does not end with an empty line"},
    };
    for (const Case &c : cases) {
        const FirmwareCheck check = checkFirmwareImage(c.text);
        bool found = false;
        for (const std::string &problem : check.problems) found = found || problem == c.problem;
        EXPECT_TRUE(found) << c.problem;
    }
}

TEST(Numbers, AcceptCNotationWithinTheLimit) {
    EXPECT_EQ(parseNumber("0x1f", 0xFF, "value"), 0x1Fu);
    EXPECT_EQ(parseNumber("017", 0xFF, "value"), 15u);
    EXPECT_EQ(parseNumber("255", 0xFF, "value"), 255u);
    for (const char *bad : {"256", "", "-1", " 1", "0x", "1x", "+3", "99999999999999999999"}) {
        EXPECT_THROW(parseNumber(bad, 0xFF, "value"), UsageError) << '"' << bad << '"';
    }
}

TEST(Addresses, AreSevenBitWithinTheUsualRangeUnlessAsked) {
    CommonOptions &options = commonOptions();
    const CommonOptions saved = options;
    EXPECT_EQ(parseAddress("0x50"), 0x50);
    EXPECT_THROW(parseAddress("0x07"), UsageError);
    EXPECT_THROW(parseAddress("0x78"), UsageError);
    options.eightBit = true;
    EXPECT_EQ(parseAddress("0xa1"), 0x50);  // bit 0 takes no part
    EXPECT_EQ(showAddress(0x50), "0xa0");
    options.eightBit = false;
    options.allAddresses = true;
    EXPECT_EQ(parseAddress("0x7f"), 0x7F);
    EXPECT_THROW(parseAddress("0x80"), UsageError);
    options = saved;
}

TEST(Addresses, AnEightBitAddressWithoutTheFlagIsExplained) {
    try {
        parseAddress("0xA0");
        FAIL() << "0xA0 taken as a 7-bit address";
    } catch (const UsageError &e) {
        EXPECT_NE(std::string(e.what()).find("7-bit 0x50: add --8bit"), std::string::npos)
            << e.what();
    }
}

TEST(Ranges, DetectRangesStayWithinTheAllowedAddresses) {
    CommonOptions &options = commonOptions();
    const CommonOptions saved = options;
    const AddressRange whole = parseAddressRange("", "");
    EXPECT_EQ(whole.first, 0x03);
    EXPECT_EQ(whole.last, 0x77);
    const AddressRange some = parseAddressRange("0x48", "0x50");
    EXPECT_EQ(some.first, 0x48);
    EXPECT_EQ(some.last, 0x50);
    EXPECT_THROW(parseAddressRange("0x02", "0x10"), UsageError);
    EXPECT_THROW(parseAddressRange("0x10", "0x78"), UsageError);
    EXPECT_THROW(parseAddressRange("0x50", "0x48"), UsageError);
    options.allAddresses = true;
    EXPECT_EQ(parseAddressRange("0", "0x7f").last, 0x7F);
    options.allAddresses = false;
    options.eightBit = true;
    const AddressRange eight = parseAddressRange("0x90", "0xa1");
    EXPECT_EQ(eight.first, 0x48);
    EXPECT_EQ(eight.last, 0x50);
    options = saved;
}

TEST(Ranges, RegisterRangesAreFirstDashLast) {
    const RegisterRange range = parseRegisterRange("0x10-0x1f");
    EXPECT_EQ(range.first, 0x10u);
    EXPECT_EQ(range.last, 0x1Fu);
    EXPECT_EQ(parseRegisterRange("7-7").first, 7u);
    for (const char *bad : {"0x10", "0x20-0x10", "0-0x100", "-5", "1-", "a-b"}) {
        EXPECT_THROW(parseRegisterRange(bad), UsageError) << bad;
    }
}

TEST(Attributes, TheReadOnlyOnesAreKnown) {
    for (const char *name : {"vendor-id", "port-string", "firmware-version", "protected-list",
                             "chassis-eeprom-port", "setting-10004"}) {
        EXPECT_TRUE(findAttribute(name)->readOnly) << name;
    }
    for (const char *name :
         {"unrestricted", "setting-1004", "config-flag", "setting-10005", "reg:0x10"}) {
        EXPECT_FALSE(findAttribute(name)->readOnly) << name;
    }
}

TEST(Attributes, AreFoundByNameConstantIdentifierOrRegister) {
    EXPECT_EQ(findAttribute("vendor-id")->id, 101u);
    EXPECT_EQ(findAttribute("ZELSMBUS_ATTR_UNRESTRICTED")->id, 1001u);
    EXPECT_EQ(findAttribute("SETTING-10004")->id, 10004u);
    EXPECT_EQ(findAttribute("303")->name, "firmware-version");
    EXPECT_EQ(findAttribute("reg:0x10")->id, 0x20010u);
    EXPECT_EQ(findAttribute("0x2ffff")->name, "reg:0xffff");
    EXPECT_EQ(findAttribute("1004")->width, 4u);
    EXPECT_TRUE(findAttribute("unrestricted")->boolean);
    // The Python package's spellings too.
    EXPECT_EQ(findAttribute("VENDOR_ID")->id, 101u);
    EXPECT_EQ(findAttribute("config_flag")->id, 1006u);
    EXPECT_EQ(findAttribute("ZELSMBUS_ATTR_1004")->name, "setting-1004");
    for (const char *unknown : {"bogus", "999", "reg:0x10000", "0x30000", "reg:"}) {
        EXPECT_FALSE(findAttribute(unknown)) << unknown;
    }
}

TEST(Attributes, ATrueFalseSettingTakesOnlyZeroOrOne) {
    const AttributeInfo flag = *findAttribute("unrestricted");
    for (const char *on : {"1", "true", "TRUE"}) EXPECT_EQ(parseAttributeValue(flag, on), 1u) << on;
    for (const char *off : {"0", "false", "False"}) {
        EXPECT_EQ(parseAttributeValue(flag, off), 0u) << off;
    }
    for (const char *bad : {"2", "0x1", "01", "yes", "", "-1"}) {
        EXPECT_THROW(parseAttributeValue(flag, bad), UsageError) << bad;
    }
    // A number setting keeps its width as the limit.
    const AttributeInfo setting = *findAttribute("setting-10001");
    EXPECT_EQ(parseAttributeValue(setting, "0xffff"), 0xFFFFu);
    EXPECT_THROW(parseAttributeValue(setting, "0x10000"), UsageError);
    EXPECT_EQ(parseAttributeValue(*findAttribute("setting-1005"), "7"), 7u);
}

TEST(StatusText, ComesFromTheHeaderTable) {
    EXPECT_EQ(formatStatus(-52006),
              "-52006 ZELSMBUS_ERROR_NOT_FOUND: no such resource, controller or handle");
    EXPECT_EQ(formatStatus(-1234),
              "-1234 (0xfffffb2e): error reported by the driver or the "
              "chassis-query library");
}

// The failures a user can act on carry the next step as a hint.
TEST(StatusText, FailuresWithANextStepCarryIt) {
    const struct {
        int32_t status;
        const char *hintPart;  // nullptr: no hint
    } cases[] = {
        {ZELSMBUS_ERROR_ACCESS_DENIED, "/proc/driver/zel/ are not open to this user"},
        {ZELSMBUS_ERROR_BUSY, "the lock is free once that program"},
        {ZELSMBUS_ERROR_IO, nullptr},
    };
    for (const auto &c : cases) {
        try {
            check(c.status, "cannot read");
            ADD_FAILURE() << c.status << " passed";
        } catch (const ToolError &e) {
            EXPECT_EQ(e.code(), c.status);
            if (c.hintPart) {
                EXPECT_NE(e.hint().find(c.hintPart), std::string::npos) << e.hint();
            } else {
                EXPECT_EQ(e.hint(), "");
            }
        }
    }
}

// The progress line: the seconds passed while the length of a step is not
// known; a bar with the share, the rate and the time left once it is.
TEST(ProgressLine, ShowsWhatIsKnown) {
    const struct {
        double elapsed, expected;
        uint64_t bytes;
        size_t width;
        const char *line;
    } cases[] = {
        {12.4, 0, 4096, 80, "Reading... 12 s"},
        {0.25, 0, 0, 80, "Reading... 0.2 s"},
        {5, 10, 10 * 1024 * 1024, 80,
         "Reading [###############...............] 50 %, 1.0 MiB/s, 5.0 s left"},
        {30, 150, 0, 80, "Reading [######........................] 20 %, 2 min 00 s left"},
        {1, 4, 4096, 80, "Reading [#######.......................] 25 %, 1 KiB/s, 3.0 s left"},
        // Longer than the step it is measured by: not done before it returns.
        {12, 10, 0, 80, "Reading [#############################.] 99 %, any moment"},
        // A narrow terminal keeps the numbers and drops the bar.
        {5, 10, 0, 30, "Reading 50 %, 5.0 s left"},
    };
    for (const auto &c : cases) {
        const std::string line = progressLine("Reading", c.elapsed, c.expected, c.bytes, c.width);
        EXPECT_EQ(line, c.line) << c.elapsed << " of " << c.expected;
        EXPECT_LE(line.size(), c.width);
    }
    EXPECT_EQ(showDuration(75.4), "1 min 15 s");
}

TEST(JsonWriter, SeparatesMembersAndEscapesText) {
    std::ostringstream out;
    JsonWriter json(out);
    json.beginObject().member("text", "a\"b\\c\n\x01\xe9").key("list").beginArray();
    json.value(int64_t(1)).null().value(true).endArray();
    json.key("status");
    writeStatus(json, -26983);
    json.endObject();
    json.finish();
    EXPECT_EQ(out.str(),
              "{\"text\":\"a\\\"b\\\\c\\n\\u0001\\u00e9\",\"list\":[1,null,true],"
              "\"status\":{\"code\":-26983,\"name\":\"ZELSMBUS_ERROR_PROTECTED\",\"meaning\":"
              "\"protected address or attribute on a restricted session\"}}\n");
}

// Valid UTF-8 passes; control characters (C0, DEL, C1) are escaped; a byte that
// is not well-formed UTF-8 becomes the code point of its value.
TEST(JsonWriter, KeepsUtf8AndEscapesOnlyControlsAndBrokenBytes) {
    struct Case {
        const char *text, *json;
    };
    const Case cases[] = {
        {"Z\xc3\xbcrich", "Z\xc3\xbcrich"},
        {"\xe2\x82\xac \xf0\x9f\x94\x8c", "\xe2\x82\xac \xf0\x9f\x94\x8c"},
        {"\x1b[2J\x07\x7f", "\\u001b[2J\\u0007\\u007f"},
        {"\xc2\x9b"
         "1m \xc2\xa0",
         "\\u009b1m \xc2\xa0"},
        {"Z\xfcrich", "Z\\u00fcrich"},
        {"\xc3", "\\u00c3"},                                   // cut short at the end
        {"\xc3(", "\\u00c3("},                                 // no continuation byte
        {"\xc0\xaf", "\\u00c0\\u00af"},                        // overlong '/'
        {"\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"},             // surrogate
        {"\xf4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"},  // above U+10FFFF
        {"\x80", "\\u0080"},                                   // stray continuation byte
    };
    for (const Case &c : cases) EXPECT_EQ(JsonWriter::escape(c.text), c.json) << c.text;
}

TEST(TerminalSafe, EscapesWhatATerminalWouldActOn) {
    struct Case {
        const char *text, *shown;
    };
    const Case cases[] = {
        {"HOST::SMBUS0", "HOST::SMBUS0"},
        {"Z\xc3\xbcrich \\ 100%", "Z\xc3\xbcrich \\ 100%"},
        {"\x1b[2J", "\\x1b[2J"},
        {"a\tb\nc\rd\x7f", "a\\x09b\\x0ac\\x0dd\\x7f"},
        {"\xc2\x9b"
         "31m",
         "\\u009b31m"},
        {"\x9b"
         "31m",
         "\\x9b31m"},
        {"Z\xfcrich", "Z\\xfcrich"},
        {"\xe2\x82", "\\xe2\\x82"},
    };
    for (const Case &c : cases) EXPECT_EQ(terminalSafe(c.text), c.shown) << c.text;
}

}  // namespace
}  // namespace zelsmbus_tool
