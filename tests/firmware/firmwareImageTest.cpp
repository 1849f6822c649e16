// Image header, numbers, Base64 and checksums as pure functions.
#include "flash/firmwareImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "flash/firmwareChecksums.h"
#include "flash/firmwarePayload.h"
#include "imageBuilder.h"

using namespace nZELSMBUS000;

namespace {

const uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(FirmwareChecksums, CheckValues) {
    EXPECT_EQ(firmwareCrc32(kDigits, 9), 0x05440F15u);
    EXPECT_EQ(regionCrc16(kDigits, 9), 0x29B1u);
}

struct NumberCase {
    const char *text;
    uint32_t value;
};

class ImageNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ImageNumbers, ReadAsTheHeaderDefines) {
    const NumberCase &c = GetParam();
    EXPECT_EQ(parseImageNumber(c.text, std::strlen(c.text)), c.value) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, ImageNumbers,
                         ::testing::Values(NumberCase{"0x10", 16}, NumberCase{" 0x10", 10},
                                           NumberCase{"0X10", 10}, NumberCase{"0xfF", 255},
                                           NumberCase{"12abc", 12}, NumberCase{"\t 42", 42},
                                           NumberCase{"", 0}, NumberCase{"0x", 0},
                                           NumberCase{"abc", 0}, NumberCase{"4294967297", 1},
                                           NumberCase{"0x1ffffffff", 0xFFFFFFFFu}));

std::string baseImage() {
    zelsmbus_mkimage::tImageFields fields;
    fields.subsystemId = 0x7A11;
    fields.pinOutAddress = 0x200;
    fields.pinOutVersion = 3;
    fields.version = 6;
    return zelsmbus_mkimage::buildFirmwareImage(fields, {'h', 'e', 'l', 'l', 'o'});
}

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Parses exactly the bytes of text, from a heap block of that size (no NUL
// behind it, so a read past the length shows under AddressSanitizer).
int64_t parse(const std::string &text, tFirmwareImageHeader &header, size_t length = SIZE_MAX) {
    if (length == SIZE_MAX) length = text.size();
    std::unique_ptr<char[]> exact(new char[length]);
    std::memcpy(exact.get(), text.data(), length);
    tStatus status;
    parseFirmwareImage(exact.get(), length, header, status);
    // Keep what the header points at valid for the caller's checks.
    if (header.payload != nullptr) header.payload = text.data() + (header.payload - exact.get());
    return status.code;
}

TEST(FirmwareImageHeader, ReadsEveryField) {
    tFirmwareImageHeader header;
    const std::string image = baseImage();
    ASSERT_EQ(parse(image, header), 0);
    EXPECT_EQ(header.headerVersion, 1u);
    EXPECT_EQ(header.subsystemId, 0x7A11u);
    EXPECT_EQ(header.pinOutAddress, 0x200u);
    EXPECT_EQ(header.pinOutVersion, 3u);
    EXPECT_EQ(header.version, 6u);
    EXPECT_EQ(header.offset, 0u);
    EXPECT_EQ(header.byteCount, 5u);
    EXPECT_TRUE(header.isFirmwareUpdate);
    EXPECT_EQ(std::string(header.payload, header.payloadLength), "aGVsbG8=");
}

struct HeaderCase {
    const char *name;
    const char *from;  // text of the base image replaced ...
    const char *to;    // ... by this
    int64_t code;
    bool firmwareUpdate;
};

class FirmwareImageHeaderCases : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(FirmwareImageHeaderCases, ParseOutcome) {
    const HeaderCase &c = GetParam();
    tFirmwareImageHeader header;
    EXPECT_EQ(parse(replaced(baseImage(), c.from, c.to), header), c.code);
    if (c.code == 0) {
        EXPECT_EQ(header.isFirmwareUpdate, c.firmwareUpdate);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirmwareImageHeaderCases,
    ::testing::Values(
        HeaderCase{"NoHeaderVersion", "HeaderVersion::", "HeaderVersio::", -52005, false},
        HeaderCase{"NoSubSystemID", "\r\nSubSystemID::", "\r\nSubSystem::", -52005, false},
        HeaderCase{"NoPinOutAddr", "\r\nPinOutAddr::", "\r\nPinOut::", -52005, false},
        HeaderCase{"NoPinOutVer", "\r\nPinOutVer::", "\r\nPinVer::", -52005, false},
        HeaderCase{"NoUpdateType", "\r\nUpdateType::", "\r\nType::", -52005, false},
        HeaderCase{"UnclosedUpdateType", "\"FWUpdate\"\r\n", "\"FWUpdate\r\n", -52005, false},
        HeaderCase{"NoOffset", "\r\nOffset::", "\r\nOff::", -52005, false},
        HeaderCase{"NoVersion", "\r\nVersion::", "\r\nVer::", -52005, false},
        HeaderCase{"NoCRC", "\r\nCRC::", "\r\nCRC:", -52005, false},
        HeaderCase{"NoByteCount", "\r\nByteCount::", "\r\nBytes::", -52005, false},
        HeaderCase{"KeyNotAtLineStart", "\r\nVersion::", "\r\n Version::", -52005, false},
        HeaderCase{"NoEmptyLine", "\r\n\r\n", "\r\n", -52005, false},
        HeaderCase{"NoPayload", "aGVsbG8=", "", -52005, false},
        HeaderCase{"PayloadOfPaddingOnly", "aGVsbG8=", "=", -52005, false},
        HeaderCase{"PayloadOfBlanks", "aGVsbG8=", "  \t ", -52005, false},
        HeaderCase{"PayloadOfOneCharacter", "aGVsbG8=", "a", -52005, false},
        HeaderCase{"UpdateTypeWithMore", "FWUpdate", "FWUpdateX", 0, false},
        HeaderCase{"UpdateTypeCutShort", "FWUpdate", "FWUpd", 0, false},
        HeaderCase{"UpdateTypeOtherCase", "FWUpdate", "fwupdate", 0, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FirmwareImageHeader, FirstOccurrenceOfAKeyCounts) {
    tFirmwareImageHeader header;
    ASSERT_EQ(
        parse(replaced(baseImage(), "\r\nVersion::6", "\r\nVersion::7\r\nVersion::6"), header), 0);
    EXPECT_EQ(header.version, 7u);
}

TEST(FirmwareImageHeader, NothingBeyondTheLengthIsRead) {
    const std::string image = baseImage();
    tFirmwareImageHeader header;
    // Cut inside the last header line: its key lies beyond the length.
    EXPECT_EQ(parse(image, header, image.find("ByteCount::") + 4), -52005);
    // Cut before the empty line ends.
    EXPECT_EQ(parse(image, header, image.find("\r\n\r\n") + 3), -52005);
    // Cut after the payload's first characters: the payload is what lies within.
    ASSERT_EQ(parse(image, header, image.find("\r\n\r\n") + 4 + 3), 0);
    EXPECT_EQ(header.payloadLength, 3u);
    // Without its final line break the payload runs to the end of the image.
    ASSERT_EQ(parse(image, header, image.size() - 2), 0);
    EXPECT_EQ(header.payloadLength, 8u);
}

struct PayloadCase {
    const char *text;
    const char *decoded;
};

class FirmwarePayload : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(FirmwarePayload, DecodesIgnoringWhatIsNotBase64) {
    const PayloadCase &c = GetParam();
    const size_t length = std::strlen(c.text);
    std::vector<uint8_t> out(decodedPayloadLength(c.text, length) + 1);
    const size_t decoded = decodePayload(c.text, length, out.data());
    EXPECT_EQ(decoded, std::strlen(c.decoded));
    EXPECT_EQ(decoded, decodedPayloadLength(c.text, length));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out.data()), decoded), c.decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirmwarePayload,
    ::testing::Values(PayloadCase{"aGVsbG8=", "hello"}, PayloadCase{"aGVsbG8", "hello"},
                      PayloadCase{"aGVs bG8=", "hello"}, PayloadCase{"aGVs\nbG8=\n", "hello"},
                      PayloadCase{"aGVsbA==", "hell"}, PayloadCase{"aGVsbA", "hell"},
                      PayloadCase{"aGVsb", "hel"}, PayloadCase{"=a=G=V=s=", "hel"},
                      PayloadCase{"\xff\x80"
                                  "aGk=",
                                  "hi"},
                      PayloadCase{"", ""}));

TEST(FirmwarePayload, ALineBreakEndsThePayload) {
    tFirmwareImageHeader header;
    const std::string image = replaced(baseImage(), "aGVsbG8=", "aGVs\r\nbG8=");
    ASSERT_EQ(parse(image, header), 0);
    EXPECT_EQ(std::string(header.payload, header.payloadLength), "aGVs");
}

TEST(FirmwarePayload, BuilderOutputDecodesToTheFirmware) {
    std::vector<uint8_t> firmware(1000);
    for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = uint8_t(i * 131 + 7);
    const std::string text = zelsmbus_mkimage::encodeBase64(firmware);
    std::vector<uint8_t> out(firmware.size() + 1);
    ASSERT_EQ(decodePayload(text.data(), text.size(), out.data()), firmware.size());
    out.pop_back();
    EXPECT_EQ(out, firmware);
}

}  // namespace
