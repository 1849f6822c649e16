// The wire format of the driver's commands: request code, buffer sizes and
// the offset and width of every argument field. The caller's status word is
// always the last four bytes of the input, the driver's the last four of the
// output; pads are not listed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nZELSMBUS000::command {

struct tField {
    uint16_t offset;
    uint16_t width;
};

struct tCommand {
    uint32_t request;
    uint32_t inputSize;
    uint32_t outputSize;
    uint8_t inputCount;
    tField inputs[6];  // in argument order
    uint8_t outputCount;
    tField outputs[4];  // in argument order
};

inline constexpr uint32_t kStatusWordSize = 4;

// Fields inside the buffer, ahead of its status word, in rising order and not overlapping.
constexpr bool fieldsFit(const tField *fields, uint8_t count, uint32_t size) {
    uint32_t end = 0;
    for (uint8_t i = 0; i < count; ++i) {
        if (fields[i].offset < end || fields[i].width == 0) {
            return false;
        }
        end = fields[i].offset + fields[i].width;
    }
    return end <= size - kStatusWordSize;
}

constexpr bool isWellFormed(const tCommand &command) {
    return command.inputSize >= kStatusWordSize && command.outputSize >= kStatusWordSize &&
           command.inputCount <= 6 && command.outputCount <= 4 &&
           fieldsFit(command.inputs, command.inputCount, command.inputSize) &&
           fieldsFit(command.outputs, command.outputCount, command.outputSize);
}

// Shorthands for the rows below.
inline constexpr tField kPort{0, 2};
inline constexpr tField kAddress{2, 1};
inline constexpr tField kCommandCode{3, 1};

// clang-format off
// Rows: request code, input size, output size, input count and fields, output count and fields.
inline constexpr tCommand kGetPciIds{0x80202E02, 4, 12, 0, {}, 4, {{0, 2}, {2, 2}, {4, 2}, {6, 2}}};
inline constexpr tCommand kGetPciLocation{0x80202E03, 4, 12, 0, {}, 3, {{0, 2}, {2, 2}, {4, 2}}};
inline constexpr tCommand kGetPortFlags{0x80202E04, 8, 8, 1, {kPort}, 2, {{0, 1}, {1, 1}}};
inline constexpr tCommand kGetPortString{0x80202E05, 8, 68, 1, {kPort}, 1, {{0, 64}}};
inline constexpr tCommand kGetProtectedAddresses{0x80202E06, 8, 40, 1, {kPort}, 2, {{0, 1}, {1, 32}}};
inline constexpr tCommand kLock{0x40202E07, 8, 4, 1, {kPort}, 0, {}};
inline constexpr tCommand kUnlock{0x40202E08, 8, 4, 1, {kPort}, 0, {}};
inline constexpr tCommand kQuickWrite{0x40202E09, 8, 4, 2, {kPort, kAddress}, 0, {}};
inline constexpr tCommand kQuickRead{0x80202E0A, 8, 4, 2, {kPort, kAddress}, 0, {}};
inline constexpr tCommand kSendByte{0x40202E0B, 12, 4, 4, {kPort, kAddress, {3, 1}, {4, 1}}, 0, {}};
inline constexpr tCommand kReceiveByte{0x80202E0C, 8, 8, 3, {kPort, kAddress, {3, 1}}, 1, {{0, 1}}};
inline constexpr tCommand kWriteByte{0x40202E0D, 12, 4, 5, {kPort, kAddress, kCommandCode, {4, 1}, {5, 1}}, 0, {}};
inline constexpr tCommand kReadByte{0x80202E0E, 12, 8, 4, {kPort, kAddress, kCommandCode, {4, 1}}, 1, {{0, 1}}};
inline constexpr tCommand kWriteWord{0x40202E0F, 12, 4, 5, {kPort, kAddress, kCommandCode, {4, 2}, {6, 1}}, 0, {}};
inline constexpr tCommand kReadWord{0x80202E10, 12, 8, 4, {kPort, kAddress, kCommandCode, {4, 1}}, 1, {{0, 2}}};
inline constexpr tCommand kProcessCall{0xC0202E11, 12, 8, 5, {kPort, kAddress, kCommandCode, {4, 2}, {6, 1}}, 1, {{0, 2}}};
inline constexpr tCommand kWriteBlock{0x40202E12, 44, 4, 6, {kPort, kAddress, kCommandCode, {4, 1}, {5, 32}, {37, 1}}, 0, {}};
inline constexpr tCommand kReadBlock{0x80202E13, 12, 40, 4, {kPort, kAddress, kCommandCode, {4, 1}}, 2, {{0, 1}, {1, 32}}};
inline constexpr tCommand kBlockProcessCall{0xC0202E14, 44, 40, 6, {kPort, kAddress, kCommandCode, {4, 1}, {5, 32}, {37, 1}}, 2, {{0, 1}, {1, 32}}};
inline constexpr tCommand kWriteBlockI2C{0x40202E15, 268, 4, 5, {kPort, kAddress, kCommandCode, {4, 4}, {8, 256}}, 0, {}};
inline constexpr tCommand kReadBlockI2C{0x80202E16, 12, 260, 4, {kPort, kAddress, kCommandCode, {4, 4}}, 1, {{0, 256}}};
inline constexpr tCommand kReadI2CEEPROM{0x80202E17, 12, 260, 4, {kPort, kAddress, {3, 1}, {4, 4}}, 1, {{0, 256}}};
inline constexpr tCommand kReadRegister{0x80202E18, 12, 8, 2, {kPort, {4, 4}}, 1, {{0, 4}}};
inline constexpr tCommand kWriteRegister{0x40202E19, 16, 4, 3, {kPort, {4, 4}, {8, 4}}, 0, {}};
inline constexpr tCommand kGetAttribute10001{0x80202E1A, 8, 8, 1, {kPort}, 1, {{0, 2}}};
inline constexpr tCommand kSetAttribute10001{0x40202E1B, 8, 4, 2, {kPort, {2, 2}}, 0, {}};
inline constexpr tCommand kGetAttribute2001{0x80202E1C, 8, 8, 1, {kPort}, 1, {{0, 4}}};
inline constexpr tCommand kSetAttribute2001{0x40202E1D, 12, 4, 2, {kPort, {4, 4}}, 0, {}};
inline constexpr tCommand kGetAttribute10002{0x80202E20, 8, 8, 1, {kPort}, 1, {{0, 2}}};
inline constexpr tCommand kSetAttribute10002{0x40202E21, 8, 4, 2, {kPort, {2, 2}}, 0, {}};
inline constexpr tCommand kGetAttribute10003{0x80202E22, 8, 8, 1, {kPort}, 1, {{0, 2}}};
inline constexpr tCommand kSetAttribute10003{0x40202E23, 8, 4, 2, {kPort, {2, 2}}, 0, {}};
inline constexpr tCommand kGetAttribute10004{0x80202E24, 8, 8, 1, {kPort}, 1, {{0, 2}}};
inline constexpr tCommand kGetAttribute10005{0x80202E25, 8, 8, 1, {kPort}, 1, {{0, 2}}};
inline constexpr tCommand kSetAttribute10005{0x40202E26, 8, 4, 2, {kPort, {2, 2}}, 0, {}};
inline constexpr tCommand kGetAttribute3001{0x80202E27, 8, 8, 1, {kPort}, 1, {{0, 4}}};
inline constexpr tCommand kSetAttribute3001{0x40202E28, 12, 4, 2, {kPort, {4, 4}}, 0, {}};
inline constexpr tCommand kGetAttribute1004{0x80202E29, 8, 8, 1, {kPort}, 1, {{0, 1}}};
inline constexpr tCommand kSetAttribute1004{0x40202E2A, 8, 4, 2, {kPort, {2, 1}}, 0, {}};
inline constexpr tCommand kGetAttribute1005{0x80202E2B, 8, 8, 1, {kPort}, 1, {{0, 4}}};
inline constexpr tCommand kSetAttribute1005{0x40202E2C, 12, 4, 2, {kPort, {4, 4}}, 0, {}};
inline constexpr tCommand kGetAttribute3002{0x80202E2D, 8, 8, 1, {kPort}, 1, {{0, 4}}};
inline constexpr tCommand kSetAttribute3002{0x40202E2E, 12, 4, 2, {kPort, {4, 4}}, 0, {}};
inline constexpr tCommand kGetDeviceString{0x80202E2F, 4, 68, 0, {}, 1, {{0, 64}}};
// clang-format on

}  // namespace nZELSMBUS000::command
