// The wire format of the 44 driver commands, checked against a table written
// out here from the command documentation (not taken from src/protocol), on
// the simulated driver's command log and against the simulator's own table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/tInterfaceProxy_zelsmbus.h"
#include "status/tStatus.h"
#include "zelsim.h"

namespace {

using nZELSMBUS000::tInterfaceProxy_zelsmbus;
using nZELSMBUS000::tStatus;

constexpr int64_t kWarning = 50254;

struct Field {
    uint16_t offset;
    uint16_t width;
};

// Argument values for one call: input field i carries the bytes
// inputByte(i, 0), inputByte(i, 1), ...; output destinations start as 0xEE.
class Arguments {
public:
    static uint8_t inputByte(size_t field, size_t k) {
        return static_cast<uint8_t>(0x21 + field * 0x10 + k);
    }

    Arguments() {
        for (size_t i = 0; i < kSlots; ++i) {
            for (size_t k = 0; k < sizeof inputs_[i]; ++k) {
                inputs_[i][k] = inputByte(i, k);
            }
        }
        std::memset(outputs_, 0xEE, sizeof outputs_);
    }

    uint8_t u8(size_t i) const { return inputs_[i][0]; }
    uint16_t u16(size_t i) const { return read<uint16_t>(i); }
    uint32_t u32(size_t i) const { return read<uint32_t>(i); }
    const uint8_t (&block(size_t i) const)[32] {
        return *reinterpret_cast<const uint8_t(*)[32]>(inputs_[i]);
    }
    const uint8_t (&i2c(size_t i) const)[256] { return inputs_[i]; }

    uint8_t &o8(size_t j) { return outputs_[j][0]; }
    uint16_t &o16(size_t j) { return *reinterpret_cast<uint16_t *>(outputs_[j]); }
    uint32_t &o32(size_t j) { return *reinterpret_cast<uint32_t *>(outputs_[j]); }
    uint8_t (&oBlock(size_t j))[32] { return *reinterpret_cast<uint8_t(*)[32]>(outputs_[j]); }
    uint8_t (&oI2C(size_t j))[256] { return outputs_[j]; }
    char (&oText(size_t j))[64] { return *reinterpret_cast<char(*)[64]>(outputs_[j]); }
    const uint8_t *output(size_t j) const { return outputs_[j]; }

private:
    static constexpr size_t kSlots = 6;
    template <typename T>
    T read(size_t i) const {
        T value;
        std::memcpy(&value, inputs_[i], sizeof value);
        return value;
    }
    alignas(8) uint8_t inputs_[kSlots][256];
    alignas(8) uint8_t outputs_[kSlots][256];
};

using Call = std::function<void(tInterfaceProxy_zelsmbus &, Arguments &, tStatus &)>;

struct Command {
    unsigned number;
    uint32_t request;
    uint32_t inSize;
    uint32_t outSize;
    std::vector<Field> inputs;   // argument order, port first where there is one
    std::vector<Field> outputs;  // argument order
    const char *method;
    Call call;
};

#define CALL(body) [](tInterfaceProxy_zelsmbus &p, Arguments &a, tStatus &s) { body; }

// Transcribed from the command table of the driver protocol documentation.
// clang-format off
const std::vector<Command> &commands() {
    static const std::vector<Command> table = {
        {0x02, 0x80202E02, 4, 12, {}, {{0, 2}, {2, 2}, {4, 2}, {6, 2}}, "getPciIds",
         CALL(p.getPciIds(a.o16(0), a.o16(1), a.o16(2), a.o16(3), s))},
        {0x03, 0x80202E03, 4, 12, {}, {{0, 2}, {2, 2}, {4, 2}}, "getPciLocation",
         CALL(p.getPciLocation(a.o16(0), a.o16(1), a.o16(2), s))},
        {0x04, 0x80202E04, 8, 8, {{0, 2}}, {{0, 1}, {1, 1}}, "getPortFlags",
         CALL(p.getPortFlags(a.u16(0), a.o8(0), a.o8(1), s))},
        {0x05, 0x80202E05, 8, 68, {{0, 2}}, {{0, 64}}, "getPortString",
         CALL(p.getPortString(a.u16(0), a.oText(0), s))},
        {0x06, 0x80202E06, 8, 40, {{0, 2}}, {{0, 1}, {1, 32}}, "getProtectedAddresses",
         CALL(p.getProtectedAddresses(a.u16(0), a.o8(0), a.oBlock(1), s))},
        {0x07, 0x40202E07, 8, 4, {{0, 2}}, {}, "lock", CALL(p.lock(a.u16(0), s))},
        {0x08, 0x40202E08, 8, 4, {{0, 2}}, {}, "unlock", CALL(p.unlock(a.u16(0), s))},
        {0x09, 0x40202E09, 8, 4, {{0, 2}, {2, 1}}, {}, "quickWrite",
         CALL(p.quickWrite(a.u16(0), a.u8(1), s))},
        {0x0A, 0x80202E0A, 8, 4, {{0, 2}, {2, 1}}, {}, "quickRead",
         CALL(p.quickRead(a.u16(0), a.u8(1), s))},
        {0x0B, 0x40202E0B, 12, 4, {{0, 2}, {2, 1}, {3, 1}, {4, 1}}, {}, "sendByte",
         CALL(p.sendByte(a.u16(0), a.u8(1), a.u8(2), a.u8(3), s))},
        {0x0C, 0x80202E0C, 8, 8, {{0, 2}, {2, 1}, {3, 1}}, {{0, 1}}, "receiveByte",
         CALL(p.receiveByte(a.u16(0), a.u8(1), a.u8(2), a.o8(0), s))},
        {0x0D, 0x40202E0D, 12, 4, {{0, 2}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}, {}, "writeByte",
         CALL(p.writeByte(a.u16(0), a.u8(1), a.u8(2), a.u8(3), a.u8(4), s))},
        {0x0E, 0x80202E0E, 12, 8, {{0, 2}, {2, 1}, {3, 1}, {4, 1}}, {{0, 1}}, "readByte",
         CALL(p.readByte(a.u16(0), a.u8(1), a.u8(2), a.u8(3), a.o8(0), s))},
        {0x0F, 0x40202E0F, 12, 4, {{0, 2}, {2, 1}, {3, 1}, {4, 2}, {6, 1}}, {}, "writeWord",
         CALL(p.writeWord(a.u16(0), a.u8(1), a.u8(2), a.u16(3), a.u8(4), s))},
        {0x10, 0x80202E10, 12, 8, {{0, 2}, {2, 1}, {3, 1}, {4, 1}}, {{0, 2}}, "readWord",
         CALL(p.readWord(a.u16(0), a.u8(1), a.u8(2), a.u8(3), a.o16(0), s))},
        {0x11, 0xC0202E11, 12, 8, {{0, 2}, {2, 1}, {3, 1}, {4, 2}, {6, 1}}, {{0, 2}},
         "processCall",
         CALL(p.processCall(a.u16(0), a.u8(1), a.u8(2), a.u16(3), a.u8(4), a.o16(0), s))},
        {0x12, 0x40202E12, 44, 4, {{0, 2}, {2, 1}, {3, 1}, {4, 1}, {5, 32}, {37, 1}}, {},
         "writeBlock",
         CALL(p.writeBlock(a.u16(0), a.u8(1), a.u8(2), a.u8(3), a.block(4), a.u8(5), s))},
        {0x13, 0x80202E13, 12, 40, {{0, 2}, {2, 1}, {3, 1}, {4, 1}}, {{0, 1}, {1, 32}},
         "readBlock",
         CALL(p.readBlock(a.u16(0), a.u8(1), a.u8(2), a.u8(3), a.o8(0), a.oBlock(1), s))},
        {0x14, 0xC0202E14, 44, 40, {{0, 2}, {2, 1}, {3, 1}, {4, 1}, {5, 32}, {37, 1}},
         {{0, 1}, {1, 32}}, "blockProcessCall",
         CALL(p.blockProcessCall(a.u16(0), a.u8(1), a.u8(2), a.u8(3), a.block(4), a.u8(5),
                                 a.o8(0), a.oBlock(1), s))},
        {0x15, 0x40202E15, 268, 4, {{0, 2}, {2, 1}, {3, 1}, {4, 4}, {8, 256}}, {},
         "writeBlockI2C",
         CALL(p.writeBlockI2C(a.u16(0), a.u8(1), a.u8(2), a.u32(3), a.i2c(4), s))},
        {0x16, 0x80202E16, 12, 260, {{0, 2}, {2, 1}, {3, 1}, {4, 4}}, {{0, 256}},
         "readBlockI2C",
         CALL(p.readBlockI2C(a.u16(0), a.u8(1), a.u8(2), a.u32(3), a.oI2C(0), s))},
        {0x17, 0x80202E17, 12, 260, {{0, 2}, {2, 1}, {3, 1}, {4, 4}}, {{0, 256}},
         "readI2CEEPROM",
         CALL(p.readI2CEEPROM(a.u16(0), a.u8(1), a.u8(2), a.u32(3), a.oI2C(0), s))},
        {0x18, 0x80202E18, 12, 8, {{0, 2}, {4, 4}}, {{0, 4}}, "readRegister",
         CALL(p.readRegister(a.u16(0), a.u32(1), a.o32(0), s))},
        {0x19, 0x40202E19, 16, 4, {{0, 2}, {4, 4}, {8, 4}}, {}, "writeRegister",
         CALL(p.writeRegister(a.u16(0), a.u32(1), a.u32(2), s))},
        {0x1A, 0x80202E1A, 8, 8, {{0, 2}}, {{0, 2}}, "getAttribute10001",
         CALL(p.getAttribute10001(a.u16(0), a.o16(0), s))},
        {0x1B, 0x40202E1B, 8, 4, {{0, 2}, {2, 2}}, {}, "setAttribute10001",
         CALL(p.setAttribute10001(a.u16(0), a.u16(1), s))},
        {0x1C, 0x80202E1C, 8, 8, {{0, 2}}, {{0, 4}}, "getAttribute2001",
         CALL(p.getAttribute2001(a.u16(0), a.o32(0), s))},
        {0x1D, 0x40202E1D, 12, 4, {{0, 2}, {4, 4}}, {}, "setAttribute2001",
         CALL(p.setAttribute2001(a.u16(0), a.u32(1), s))},
        {0x20, 0x80202E20, 8, 8, {{0, 2}}, {{0, 2}}, "getAttribute10002",
         CALL(p.getAttribute10002(a.u16(0), a.o16(0), s))},
        {0x21, 0x40202E21, 8, 4, {{0, 2}, {2, 2}}, {}, "setAttribute10002",
         CALL(p.setAttribute10002(a.u16(0), a.u16(1), s))},
        {0x22, 0x80202E22, 8, 8, {{0, 2}}, {{0, 2}}, "getAttribute10003",
         CALL(p.getAttribute10003(a.u16(0), a.o16(0), s))},
        {0x23, 0x40202E23, 8, 4, {{0, 2}, {2, 2}}, {}, "setAttribute10003",
         CALL(p.setAttribute10003(a.u16(0), a.u16(1), s))},
        {0x24, 0x80202E24, 8, 8, {{0, 2}}, {{0, 2}}, "getAttribute10004",
         CALL(p.getAttribute10004(a.u16(0), a.o16(0), s))},
        {0x25, 0x80202E25, 8, 8, {{0, 2}}, {{0, 2}}, "getAttribute10005",
         CALL(p.getAttribute10005(a.u16(0), a.o16(0), s))},
        {0x26, 0x40202E26, 8, 4, {{0, 2}, {2, 2}}, {}, "setAttribute10005",
         CALL(p.setAttribute10005(a.u16(0), a.u16(1), s))},
        {0x27, 0x80202E27, 8, 8, {{0, 2}}, {{0, 4}}, "getAttribute3001",
         CALL(p.getAttribute3001(a.u16(0), a.o32(0), s))},
        {0x28, 0x40202E28, 12, 4, {{0, 2}, {4, 4}}, {}, "setAttribute3001",
         CALL(p.setAttribute3001(a.u16(0), a.u32(1), s))},
        {0x29, 0x80202E29, 8, 8, {{0, 2}}, {{0, 1}}, "getAttribute1004",
         CALL(p.getAttribute1004(a.u16(0), a.o8(0), s))},
        {0x2A, 0x40202E2A, 8, 4, {{0, 2}, {2, 1}}, {}, "setAttribute1004",
         CALL(p.setAttribute1004(a.u16(0), a.u8(1), s))},
        {0x2B, 0x80202E2B, 8, 8, {{0, 2}}, {{0, 4}}, "getAttribute1005",
         CALL(p.getAttribute1005(a.u16(0), a.o32(0), s))},
        {0x2C, 0x40202E2C, 12, 4, {{0, 2}, {4, 4}}, {}, "setAttribute1005",
         CALL(p.setAttribute1005(a.u16(0), a.u32(1), s))},
        {0x2D, 0x80202E2D, 8, 8, {{0, 2}}, {{0, 4}}, "getAttribute3002",
         CALL(p.getAttribute3002(a.u16(0), a.o32(0), s))},
        {0x2E, 0x40202E2E, 12, 4, {{0, 2}, {4, 4}}, {}, "setAttribute3002",
         CALL(p.setAttribute3002(a.u16(0), a.u32(1), s))},
        {0x2F, 0x80202E2F, 4, 68, {}, {{0, 64}}, "getDeviceString",
         CALL(p.getDeviceString(a.oText(0), s))},
    };
    return table;
}
// clang-format on

#undef CALL

int32_t wordAt(const uint8_t *bytes, uint32_t offset) {
    int32_t word;
    std::memcpy(&word, bytes + offset, sizeof word);
    return word;
}

class Wire : public ::testing::Test {
protected:
    void SetUp() override {
        zelsim_reset();
        tStatus status;
        proxy.open(zelsim_node_path(0), status);
        ASSERT_EQ(status.code, 0);
    }
    void TearDown() override {
        proxy.close();
        zelsim_reset();
    }

    tInterfaceProxy_zelsmbus proxy;
};

TEST_F(Wire, TheTableHoldsFortyFourCommands) { EXPECT_EQ(commands().size(), 44u); }

TEST_F(Wire, EveryCommandPutsItsCodeSizesAndFieldsOnTheWire) {
    for (const Command &c : commands()) {
        SCOPED_TRACE(c.method);
        zelsim_log_clear();
        zelsim_clear_call_counts();
        Arguments arguments;
        tStatus status;
        ASSERT_TRUE(status.setCode(kWarning, "zelsmbus", "caller.cpp", 1));
        c.call(proxy, arguments, status);

        ASSERT_EQ(zelsim_call_count(ZELSIM_CALL_IOCTL), 1u);
        ASSERT_EQ(zelsim_log_count(), 1u);
        zelsim_log_record entry;
        ASSERT_EQ(zelsim_log_entry(0, &entry), 0);
        EXPECT_EQ(entry.request, c.request);
        EXPECT_EQ(entry.command, c.number);
        EXPECT_EQ(entry.in_size, c.inSize);
        EXPECT_EQ(entry.out_size, c.outSize);
        for (size_t i = 0; i < c.inputs.size(); ++i) {
            for (size_t k = 0; k < c.inputs[i].width; ++k) {
                ASSERT_EQ(entry.in[c.inputs[i].offset + k], Arguments::inputByte(i, k))
                    << "input field " << i << " byte " << k;
            }
        }
        EXPECT_EQ(wordAt(entry.in, c.inSize - 4), kWarning) << "caller status word";
        // Whatever the driver wrote reaches the destinations.
        ASSERT_EQ(entry.err, 0);
        for (size_t j = 0; j < c.outputs.size(); ++j) {
            EXPECT_EQ(std::memcmp(arguments.output(j), entry.out + c.outputs[j].offset,
                                  c.outputs[j].width),
                      0)
                << "output field " << j;
        }
        if (entry.driver_status < 0) {
            EXPECT_EQ(status.code, entry.driver_status);
        } else {
            EXPECT_EQ(status.code, kWarning);
        }
    }
}

// While patternReplies is set, every ioctl of this program is answered here
// instead of by the simulated driver: its output buffer is filled with a known
// pattern (status word 0), so that each destination's offset shows. The
// envelope is the driver's documented one: input and output addresses, then
// input size, output size, result word and a reserved word.
struct Envelope {
    uint64_t input, output;
    uint32_t inputSize, outputSize, result, reserved;
};

bool patternReplies = false;
int patternCalls = 0;

uint8_t patternByte(size_t k) { return static_cast<uint8_t>(0x80 + k); }

int replyWithPattern(void *argument) {
    ++patternCalls;
    Envelope envelope;
    std::memcpy(&envelope, argument, sizeof envelope);
    auto *bytes = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(envelope.output));
    for (uint32_t k = 0; k < envelope.outputSize; ++k) {
        bytes[k] = patternByte(k);
    }
    const int32_t success = 0;
    std::memcpy(bytes + envelope.outputSize - 4, &success, sizeof success);
    return 0;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (patternReplies && argument != nullptr) return replyWithPattern(argument);
    using tIoctl = int (*)(int, unsigned long, ...);
    static const auto next = reinterpret_cast<tIoctl>(dlsym(RTLD_NEXT, "ioctl"));
    return next(fd, request, argument);
}

namespace {

TEST_F(Wire, EveryOutputIsCopiedFromItsOffset) {
    for (const Command &c : commands()) {
        SCOPED_TRACE(c.method);
        Arguments arguments;
        tStatus status;
        patternCalls = 0;
        patternReplies = true;
        c.call(proxy, arguments, status);
        patternReplies = false;
        EXPECT_EQ(patternCalls, 1);
        EXPECT_EQ(status.code, 0);
        for (size_t j = 0; j < c.outputs.size(); ++j) {
            for (size_t k = 0; k < c.outputs[j].width; ++k) {
                ASSERT_EQ(arguments.output(j)[k], patternByte(c.outputs[j].offset + k))
                    << "output field " << j << " byte " << k;
            }
            EXPECT_EQ(arguments.output(j)[c.outputs[j].width], 0xEE) << "written past field " << j;
        }
    }
}

TEST_F(Wire, TheSimulatorsTableAgreesWithTheDocumentedOne) {
    std::set<unsigned> documented;
    for (const Command &c : commands()) {
        SCOPED_TRACE(c.method);
        documented.insert(c.number);
        zelsim_command info;
        ASSERT_EQ(zelsim_command_info(c.number, &info), 0);
        EXPECT_EQ(info.request, c.request);
        EXPECT_EQ(info.in_size, c.inSize);
        EXPECT_EQ(info.out_size, c.outSize);
        EXPECT_STREQ(info.name, c.method);

        std::set<std::tuple<int, int, int>> expected, simulated;
        for (const Field &f : c.inputs) expected.emplace(0, f.offset, f.width);
        for (const Field &f : c.outputs) expected.emplace(1, f.offset, f.width);
        expected.emplace(0, c.inSize - 4, 4);
        expected.emplace(1, c.outSize - 4, 4);
        for (unsigned i = 0; i < info.field_count; ++i) {
            if (std::string(info.fields[i].name) == "pad") continue;
            simulated.emplace(info.fields[i].output, info.fields[i].offset, info.fields[i].width);
        }
        EXPECT_EQ(simulated, expected);
    }
    for (unsigned number = 0; number < 0x40; ++number) {
        if (documented.count(number) == 0) {
            zelsim_command info;
            EXPECT_EQ(zelsim_command_info(number, &info), -1) << number;
        }
    }
}

}  // namespace
