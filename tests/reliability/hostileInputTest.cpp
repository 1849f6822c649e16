// Hostile input over every export: null handles, each null pointer, counts
// and lengths at and past their limits, unknown attributes, absurd resource
// names, and firmware images cut at every byte. Each case must get its clear
// status code and nothing more: no driver command where the input is refused,
// no output written, nothing left open.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firmwareImage.h"
#include "reliabilitySupport.h"

namespace zelrel {
namespace {

constexpr int32_t kNotFound = ZELSMBUS_ERROR_NOT_FOUND;
constexpr int32_t kInvalid = ZELSMBUS_ERROR_INVALID_PARAMETER;
constexpr int32_t kDone = ZELSMBUS_WARNING_TRANSFER_DONE;
constexpr int32_t kAnyError = INT32_MIN;  // some negative code chosen by the driver

struct tHostileCase {
    std::string name;
    std::function<int32_t(tSMBusHandle *)> call;
    int32_t expected;
    bool reachesDriver;  // false: refused before any driver command
};

std::vector<tHostileCase> hostileCases() {
    static uint8_t buffer[300];
    static uint8_t count;
    static uint16_t word;
    static const uint32_t value = 1;
    std::vector<tHostileCase> t;
    auto add = [&](std::string name, std::function<int32_t(tSMBusHandle *)> call, int32_t expected,
                   bool reachesDriver = false) {
        t.push_back({std::move(name), std::move(call), expected, reachesDriver});
    };

    // Null handle: every export that takes one, with otherwise valid arguments.
    add("QuickRead/null handle", [](tSMBusHandle *) { return ZELSMBusQuickRead(nullptr, kSensor); }, kNotFound);
    add("QuickWrite/null handle", [](tSMBusHandle *) { return ZELSMBusQuickWrite(nullptr, kSensor); }, kNotFound);
    add("SendByte/null handle", [](tSMBusHandle *) { return ZELSMBusSendByte(nullptr, kSensor, 0, 0); }, kNotFound);
    add("ReceiveByte/null handle", [](tSMBusHandle *) { return ZELSMBusReceiveByte(nullptr, kSensor, 0, nullptr); }, kNotFound);
    add("WriteByte/null handle", [](tSMBusHandle *) { return ZELSMBusWriteByte(nullptr, kSensor, 0, 0, 0); }, kNotFound);
    add("ReadByte/null handle", [](tSMBusHandle *) { return ZELSMBusReadByte(nullptr, kSensor, 0, 0, nullptr); }, kNotFound);
    add("WriteWord/null handle", [](tSMBusHandle *) { return ZELSMBusWriteWord(nullptr, kSensor, 0, 0, 0); }, kNotFound);
    add("ReadWord/null handle", [](tSMBusHandle *) { return ZELSMBusReadWord(nullptr, kSensor, 0, 0, nullptr); }, kNotFound);
    add("ProcessCall/null handle", [](tSMBusHandle *) { return ZELSMBusProcessCall(nullptr, kSensor, 0, 0, 0, nullptr); }, kNotFound);
    add("WriteBlock/null handle", [](tSMBusHandle *) { return ZELSMBusWriteBlock(nullptr, kSensor, 0, 4, buffer, 0); }, kNotFound);
    add("ReadBlock/null handle", [](tSMBusHandle *) { return ZELSMBusReadBlock(nullptr, kSensor, 0, 0, &count, buffer); }, kNotFound);
    add("BlockProcessCall/null handle", [](tSMBusHandle *) {
        return ZELSMBusBlockProcessCall(nullptr, kSensor, 0, 4, buffer, 0, &count, buffer);
    }, kNotFound);
    add("WriteBlockI2C/null handle", [](tSMBusHandle *) { return ZELSMBusWriteBlockI2C(nullptr, kEeprom, 0, 4, buffer); }, kNotFound);
    add("ReadBlockI2C/null handle", [](tSMBusHandle *) { return ZELSMBusReadBlockI2C(nullptr, kEeprom, 0, 4, buffer); }, kNotFound);
    add("Lock/null handle", [](tSMBusHandle *) { return ZELSMBusLock(nullptr); }, kNotFound);
    add("Unlock/null handle", [](tSMBusHandle *) { return ZELSMBusUnlock(nullptr); }, kNotFound);
    add("ResetBus/null handle", [](tSMBusHandle *) { return ZELSMBusResetBus(nullptr); }, ZELSMBUS_ERROR_NOT_SUPPORTED);
    add("GetAttribute/null handle", [](tSMBusHandle *) { return ZELSMBusGetAttribute(nullptr, ZELSMBUS_ATTR_PORT, buffer); }, kNotFound);
    add("SetAttribute/null handle", [](tSMBusHandle *) { return ZELSMBusSetAttribute(nullptr, ZELSMBUS_ATTR_UNRESTRICTED, &value); }, kNotFound);
    add("ReadI2CEEPROM/null handle", [](tSMBusHandle *) { return ZELSMBusReadI2CEEPROM(nullptr, kEeprom, 0, 4, buffer); }, kNotFound);
    add("GetChassisEEPROM/null handle", [](tSMBusHandle *) { return ZELSMBusGetChassisEEPROM(nullptr, 0, 4, buffer); }, kNotFound);
    add("WriteFirmware/null handle", [](tSMBusHandle *) { return ZELSMBusWriteFirmware(nullptr, 4, "abcd", 0); }, kNotFound);
    add("Close/null handle", [](tSMBusHandle *) { return ZELSMBusClose(nullptr); }, 0);

    // Each null pointer on a valid handle.
    add("ReceiveByte/null data", [](tSMBusHandle *h) { return ZELSMBusReceiveByte(h, kSensor, 0, nullptr); }, kInvalid);
    add("ReadByte/null data", [](tSMBusHandle *h) { return ZELSMBusReadByte(h, kSensor, 0, 0, nullptr); }, kInvalid);
    add("ReadWord/null data", [](tSMBusHandle *h) { return ZELSMBusReadWord(h, kSensor, 0, 0, nullptr); }, kInvalid);
    add("ProcessCall/null result", [](tSMBusHandle *h) { return ZELSMBusProcessCall(h, kSensor, 0, 0, 0, nullptr); }, kInvalid);
    add("WriteBlock/null data", [](tSMBusHandle *h) { return ZELSMBusWriteBlock(h, kSensor, 0x20, 4, nullptr, 0); }, kInvalid);
    add("ReadBlock/null count", [](tSMBusHandle *h) { return ZELSMBusReadBlock(h, kSensor, 0x20, 0, nullptr, buffer); }, kInvalid);
    add("ReadBlock/null data", [](tSMBusHandle *h) { return ZELSMBusReadBlock(h, kSensor, 0x20, 0, &count, nullptr); }, kInvalid);
    add("BlockProcessCall/null write data", [](tSMBusHandle *h) {
        return ZELSMBusBlockProcessCall(h, kSensor, 0x20, 4, nullptr, 0, &count, buffer);
    }, kInvalid);
    add("BlockProcessCall/null read count", [](tSMBusHandle *h) {
        return ZELSMBusBlockProcessCall(h, kSensor, 0x20, 4, buffer, 0, nullptr, buffer);
    }, kInvalid);
    add("BlockProcessCall/null read data", [](tSMBusHandle *h) {
        return ZELSMBusBlockProcessCall(h, kSensor, 0x20, 4, buffer, 0, &count, nullptr);
    }, kInvalid);
    add("WriteBlockI2C/null data", [](tSMBusHandle *h) { return ZELSMBusWriteBlockI2C(h, kEeprom, 0, 4, nullptr); }, kInvalid);
    add("ReadBlockI2C/null data", [](tSMBusHandle *h) { return ZELSMBusReadBlockI2C(h, kEeprom, 0, 4, nullptr); }, kInvalid);
    add("GetAttribute/null value", [](tSMBusHandle *h) { return ZELSMBusGetAttribute(h, ZELSMBUS_ATTR_PORT, nullptr); }, kInvalid);
    add("SetAttribute/null value", [](tSMBusHandle *h) { return ZELSMBusSetAttribute(h, ZELSMBUS_ATTR_2001, nullptr); }, kInvalid);
    add("ReadI2CEEPROM/null buffer", [](tSMBusHandle *h) { return ZELSMBusReadI2CEEPROM(h, kEeprom, 0, 4, nullptr); }, kInvalid);
    add("GetChassisEEPROM/null buffer", [](tSMBusHandle *h) { return ZELSMBusGetChassisEEPROM(h, 0, 4, nullptr); }, kInvalid);
    add("WriteFirmware/null image", [](tSMBusHandle *h) { return ZELSMBusWriteFirmware(h, 4, nullptr, 0); }, kNotFound);
    // A count of 0 needs no data.
    add("WriteBlock/count 0 without data", [](tSMBusHandle *h) { return ZELSMBusWriteBlock(h, kSensor, 0x20, 0, nullptr, 0); }, 0, true);

    // Counts and lengths: 0, 32, 33, 256, 257 and 0xFFFFFFFF where they fit the type.
    for (const uint32_t n : {0u, 32u, 33u, 255u}) {
        const uint8_t c = static_cast<uint8_t>(n);
        const bool fits = n <= 32;
        add("WriteBlock/count " + std::to_string(n),
            [c](tSMBusHandle *h) { return ZELSMBusWriteBlock(h, kSensor, 0x20, c, buffer, 0); },
            fits ? 0 : kInvalid, fits);
        add("BlockProcessCall/count " + std::to_string(n),
            [c](tSMBusHandle *h) { return ZELSMBusBlockProcessCall(h, kSensor, 0x20, c, buffer, 0, &count, buffer); },
            fits ? kDone : kInvalid, fits);
    }
    for (const uint32_t n : {32u, 33u, 256u, 257u, 0xFFFFFFFFu}) {
        const bool fits = n <= 256;
        add("WriteBlockI2C/length " + std::to_string(n),
            [n](tSMBusHandle *h) { return ZELSMBusWriteBlockI2C(h, kEeprom, 0, n, buffer); },
            fits ? kDone : kInvalid, fits);
        add("ReadBlockI2C/length " + std::to_string(n),
            [n](tSMBusHandle *h) { return ZELSMBusReadBlockI2C(h, kEeprom, 0, n, buffer); },
            fits ? kDone : kInvalid, fits);
        add("ReadI2CEEPROM/length " + std::to_string(n),
            [n](tSMBusHandle *h) { return ZELSMBusReadI2CEEPROM(h, kEeprom, 0, n, buffer); },
            fits ? 0 : kInvalid, fits);
    }
    // A length of 0 moves nothing and needs no data.
    add("WriteBlockI2C/length 0", [](tSMBusHandle *h) { return ZELSMBusWriteBlockI2C(h, kEeprom, 0, 0, nullptr); }, kDone, true);
    add("ReadBlockI2C/length 0", [](tSMBusHandle *h) { return ZELSMBusReadBlockI2C(h, kEeprom, 0, 0, nullptr); }, kDone, true);
    add("ReadI2CEEPROM/length 0", [](tSMBusHandle *h) { return ZELSMBusReadI2CEEPROM(h, kEeprom, 0, 0, buffer); }, kInvalid);
    add("GetChassisEEPROM/length 0", [](tSMBusHandle *h) { return ZELSMBusGetChassisEEPROM(h, 0, 0, buffer); }, kInvalid);
    add("GetChassisEEPROM/length 257", [](tSMBusHandle *h) { return ZELSMBusGetChassisEEPROM(h, 0, 257, buffer); }, kInvalid);
    add("GetChassisEEPROM/length 0xFFFFFFFF", [](tSMBusHandle *h) { return ZELSMBusGetChassisEEPROM(h, 0, 0xFFFFFFFFu, buffer); }, kInvalid);
    add("WriteFirmware/length 0", [](tSMBusHandle *h) { return ZELSMBusWriteFirmware(h, 0, "x", 0); }, kNotFound);
    // Addresses and offsets beyond 8 bits use their low byte.
    add("ReadI2CEEPROM/offset 0x1FF", [](tSMBusHandle *h) { return ZELSMBusReadI2CEEPROM(h, kEeprom | 0x100, 0x1FF, 1, buffer); }, 0, true);

    // Unknown attributes, and setting read-only ones.
    for (const uint32_t id : {0u, 100u, 109u, 300u, 304u, 1000u, 1007u, 9999u, 10006u, 0x1FFFFu, 0x30000u, 0xFFFFFFFFu}) {
        add("GetAttribute/unknown " + std::to_string(id),
            [id](tSMBusHandle *h) { return ZELSMBusGetAttribute(h, id, buffer); }, kInvalid);
        add("SetAttribute/unknown " + std::to_string(id),
            [id](tSMBusHandle *h) { return ZELSMBusSetAttribute(h, id, &value); }, kInvalid);
    }
    for (const uint32_t id : {101u, 104u, 108u, 301u, 302u, 303u, 401u, 402u, 1002u, 1003u, 10004u}) {
        add("SetAttribute/read-only " + std::to_string(id),
            [id](tSMBusHandle *h) { return ZELSMBusSetAttribute(h, id, &value); }, kInvalid);
    }
    (void)word;
    return t;
}

class tHostileInput : public tSimulatorTest, public ::testing::WithParamInterface<tHostileCase> {};

TEST_P(tHostileInput, GetsItsCodeAndNothingMore) {
    const tHostileCase &c = GetParam();
    tSession session(kSystemPort0);
    ASSERT_NE(session.get(), nullptr);
    const int descriptors = openDescriptorCount();
    zelsim_log_clear();
    const int32_t code = c.call(session.get());
    if (c.expected == kAnyError) {
        EXPECT_LT(code, 0);
    } else {
        EXPECT_EQ(code, c.expected);
    }
    if (!c.reachesDriver) {
        EXPECT_EQ(zelsim_log_count(), 0u) << "refused input reached the driver";
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
    uint8_t byte = 0;
    EXPECT_EQ(ZELSMBusReadByte(session.get(), kSensor, 0, 0, &byte), 0) << "handle unusable afterwards";
}

std::string caseName(const ::testing::TestParamInfo<tHostileCase> &info) {
    std::string name;
    for (char ch : info.param.name) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryExport, tHostileInput, ::testing::ValuesIn(hostileCases()), caseName);

// ---- outputs stay untouched when input is refused -------------------------

class tHostileOutputs : public tSimulatorTest {};

TEST_F(tHostileOutputs, RefusedCallsWriteNothing) {
    tSession session(kSystemPort0);
    ASSERT_NE(session.get(), nullptr);
    uint8_t data[300];
    std::memset(data, 0xEE, sizeof data);
    uint8_t count = 0xEE;
    EXPECT_EQ(ZELSMBusReadBlockI2C(session.get(), kEeprom, 0, 257, data), kInvalid);
    EXPECT_EQ(ZELSMBusReadI2CEEPROM(session.get(), kEeprom, 0, 257, data), kInvalid);
    EXPECT_EQ(ZELSMBusReadBlock(session.get(), kSensor, 0x20, 0, &count, nullptr), kInvalid);
    EXPECT_EQ(ZELSMBusGetAttribute(session.get(), 0xFFFFFFFFu, data), kInvalid);
    for (uint8_t b : data) ASSERT_EQ(b, 0xEE);
    EXPECT_EQ(count, 0xEE);
}

// ---- the open calls ---------------------------------------------------------

class tHostileOpen : public tSimulatorTest {};

TEST_F(tHostileOpen, NullArguments) {
    tSMBusHandle *handle = reinterpret_cast<tSMBusHandle *>(0x1);
    EXPECT_EQ(ZELSMBusOpen(nullptr, &handle), kInvalid);
    EXPECT_EQ(handle, reinterpret_cast<tSMBusHandle *>(0x1));
    EXPECT_EQ(ZELSMBusOpen(kSystemPort0, nullptr), kInvalid);

    int32_t status = 0;
    EXPECT_EQ(ZELSMBusOpenList(nullptr, &status), nullptr);
    EXPECT_EQ(status, kInvalid);
    uint32_t count = 77;
    EXPECT_EQ(ZELSMBusOpenList(&count, nullptr), nullptr);
    EXPECT_EQ(count, 77u);
    status = -1;
    EXPECT_EQ(ZELSMBusOpenListEx(reinterpret_cast<void *>(0x1), &count, &status), nullptr);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(count, 77u);
    ZELSMBusCloseList(0xFFFFFFFFu, nullptr);
    ZELSMBusPutResourceNameList(nullptr);
}

// Names built in exactly-sized heap blocks: the zero byte is the only end.
std::unique_ptr<char[]> exactName(const std::string &text) {
    std::unique_ptr<char[]> name(new char[text.size() + 1]);
    std::memcpy(name.get(), text.c_str(), text.size() + 1);
    return name;
}

TEST_F(tHostileOpen, AbsurdResourceNamesAreNotFound) {
    std::vector<std::string> names = {
        "",
        std::string(10000, 'A'),
        std::string(10000, ':'),
        "ZELSMBUS::SYSTEM::" + std::string(10000, '9'),
        "ZELSMBUS::SYSTEM::0::" + std::string(9980, '9') + "::",
        "ZELSMBUS::SYSTEM" + std::string(9984, ':'),
        "PXI0::" + std::string(9980, '7') + "::BACKPLANE",
        "PXI" + std::string(9990, '0') + "::1::BACKPLANE::X",
        "PXI0::1::" + std::string(9990, ':') + "BACKPLANE",
        std::string(5000, ':') + "PXI0::1::BACKPLANE",
        "HOST::SMBUS1" + std::string(9988, ' '),
    };
    std::string highBytes;
    for (int i = 0; i < 10000; ++i) highBytes += static_cast<char>(0x80 + i % 128);
    names.push_back(highBytes);
    names.push_back("ZELSMBUS::SYSTEM::\xff\xfe::0");
    names.push_back("PXI\xc3\xa9::1::BACKPLANE");
    std::string runs;
    while (runs.size() < 10000) runs += "::a:::b::::";
    names.push_back(runs);

    const int descriptors = openDescriptorCount();
    for (const std::string &text : names) {
        auto name = exactName(text);
        tSMBusHandle *handle = reinterpret_cast<tSMBusHandle *>(0x1);
        const int32_t code = ZELSMBusOpen(name.get(), &handle);
        EXPECT_LT(code, 0) << text.substr(0, 40) << "... (" << text.size() << " characters)";
        EXPECT_EQ(handle, reinterpret_cast<tSMBusHandle *>(0x1)) << "written on failure";
        EXPECT_EQ(openDescriptorCount(), descriptors);
    }
}

// The numbered names read their numbers modulo 2^16, whatever their length.
TEST_F(tHostileOpen, LongNumbersStillNameTheirPort) {
    auto name = exactName("zelsmbus::system::" + std::string(9990, '0') + "::1");
    tSession session(name.get());
    EXPECT_NE(session.get(), nullptr);
}

// ---- firmware images cut at every byte ----------------------------------------

class tHostileFirmware : public tSimulatorTest {};

TEST_F(tHostileFirmware, ImagesCutAtEveryByte) {
    tSession session(kSystemPort0);
    ASSERT_NE(session.get(), nullptr);
    const std::vector<uint8_t> payload(40, 0xA5);
    const std::string image = systemFirmwareImage(payload);
    const size_t payloadStart = image.find("\r\n\r\n") + 4;
    // The payload is whole once its last Base64 symbol is in (padding and the
    // line break carry nothing).
    const size_t payloadEnd = image.find_last_not_of("=\r\n") + 1;
    const int descriptors = openDescriptorCount();

    for (size_t length = 1; length <= image.size(); ++length) {
        // Shorter cuts lose bytes; an image without its empty line, or whose
        // payload line is empty or one symbol (no whole byte), is refused.
        const bool whole = length >= payloadEnd;
        if (whole && length != payloadEnd && length != image.size()) continue;  // flash writes are slow
        std::unique_ptr<char[]> cut(new char[length]);
        std::memcpy(cut.get(), image.data(), length);
        zelsim_log_clear();
        installSystemPinOut();  // a whole image's region does not carry it
        const int32_t code = ZELSMBusWriteFirmware(session.get(), static_cast<uint32_t>(length),
                                                   cut.get(), ZELSMBUS_FIRMWARE_FORCE);
        if (whole) {
            EXPECT_EQ(code, 0) << "cut at " << length;
        } else if (length <= payloadStart + 1) {
            EXPECT_EQ(code, kInvalid) << "cut at " << length;
        } else {
            EXPECT_EQ(code, ZELSMBUS_ERROR_CORRUPT_DATA) << "cut at " << length;
        }
        EXPECT_EQ(openDescriptorCount(), descriptors);
    }
}

}  // namespace
}  // namespace zelrel
