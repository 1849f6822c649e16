#include "protocol/tInterfaceProxy_zelsmbus.h"

#include <cstring>
#include <tuple>
#include <utility>

#include "protocol/commandTable.h"

namespace nZELSMBUS000 {

namespace {

using command::tCommand;

template <const tCommand &Command, typename Values, size_t... I>
constexpr bool widthsMatch(const command::tField *fields, std::index_sequence<I...>) {
    return ((fields[I].width == sizeof(std::remove_reference_t<std::tuple_element_t<I, Values>>)) &&
            ...);
}

// Offsets and widths are read from the command's row at compile time, so each
// field's copy is a fixed-size move rather than a call with a width from memory.
template <const tCommand &Command, typename Values, size_t... I>
[[gnu::always_inline]] inline void pack(uint8_t *buffer, const Values &values,
                                        std::index_sequence<I...>) {
    (std::memcpy(buffer + Command.inputs[I].offset, &std::get<I>(values), Command.inputs[I].width),
     ...);
}

template <const tCommand &Command, typename Values, size_t... I>
[[gnu::always_inline]] inline void unpack(const uint8_t *buffer, const Values &values,
                                          std::index_sequence<I...>) {
    (std::memcpy(&std::get<I>(values), buffer + Command.outputs[I].offset,
                 Command.outputs[I].width),
     ...);
}

// One driver command: guard, pack (ending with the caller's status word), one
// ioctl, then either leave the failed system call's code in the caller's
// status or copy every output and fold in the driver's word.
template <const tCommand &Command, typename... Inputs, typename... Outputs>
void runCommand(tInterfaceProxy_zelsmbus &node, std::tuple<Inputs &...> inputs,
                std::tuple<Outputs &...> outputs, tStatus &status, uint64_t line) {
    using InputIndexes = std::index_sequence_for<Inputs...>;
    using OutputIndexes = std::index_sequence_for<Outputs...>;
    static_assert(command::isWellFormed(Command), "command layout out of bounds or overlapping");
    static_assert(sizeof...(Inputs) == Command.inputCount, "one argument per input field");
    static_assert(sizeof...(Outputs) == Command.outputCount, "one destination per output field");
    static_assert(widthsMatch<Command, std::tuple<Inputs &...>>(Command.inputs, InputIndexes{}),
                  "input argument width differs from its field");
    static_assert(widthsMatch<Command, std::tuple<Outputs &...>>(Command.outputs, OutputIndexes{}),
                  "output destination width differs from its field");

    if (status.isFatal()) {
        return;
    }
    // Pads go out as zeros rather than as stack contents.
    uint8_t input[Command.inputSize] = {};
    uint8_t output[Command.outputSize] = {};
    pack<Command>(input, inputs, InputIndexes{});
    const int32_t callerWord = static_cast<int32_t>(status.code);
    std::memcpy(input + Command.inputSize - command::kStatusWordSize, &callerWord,
                sizeof callerWord);

    // The caller's status is not fatal here and a failed system call only ever
    // sets an error code (with its location) or nothing, so the call takes that
    // status directly: a failure lands in it exactly as a merge from a fresh
    // status of its own would, and only a failure makes it fatal.
    node.ioctl(Command.request, input, Command.inputSize, output, Command.outputSize, status);
    if (status.isFatal()) {
        return;
    }
    unpack<Command>(output, outputs, OutputIndexes{});
    int32_t driverWord;
    std::memcpy(&driverWord, output + Command.outputSize - command::kStatusWordSize,
                sizeof driverWord);
    if (driverWord != 0) status.setCode(driverWord, kComponent, __FILE__, line);
}

}  // namespace

// Each method names its command and its arguments in field order; the line
// recorded with a driver's status word is the method's own.
#define ZELSMBUS_EXCHANGE(name, inputs, outputs) \
    runCommand<command::name>(*this, std::tie inputs, std::tie outputs, status, __LINE__)

void tInterfaceProxy_zelsmbus::getPciIds(uint16_t &vendorId, uint16_t &deviceId,
                                         uint16_t &subsystemVendorId, uint16_t &subsystemId,
                                         tStatus &status) {
    ZELSMBUS_EXCHANGE(kGetPciIds, (), (vendorId, deviceId, subsystemVendorId, subsystemId));
}

void tInterfaceProxy_zelsmbus::getPciLocation(uint16_t &bus, uint16_t &device, uint16_t &function,
                                              tStatus &status) {
    ZELSMBUS_EXCHANGE(kGetPciLocation, (), (bus, device, function));
}

void tInterfaceProxy_zelsmbus::getPortFlags(uint16_t port, uint8_t &chassisEepromPort,
                                            uint8_t &extendedProtection, tStatus &status) {
    ZELSMBUS_EXCHANGE(kGetPortFlags, (port), (chassisEepromPort, extendedProtection));
}

void tInterfaceProxy_zelsmbus::getPortString(uint16_t port, tText &text, tStatus &status) {
    ZELSMBUS_EXCHANGE(kGetPortString, (port), (text));
}

void tInterfaceProxy_zelsmbus::getProtectedAddresses(uint16_t port, uint8_t &count,
                                                     tBlock &addresses, tStatus &status) {
    ZELSMBUS_EXCHANGE(kGetProtectedAddresses, (port), (count, addresses));
}

void tInterfaceProxy_zelsmbus::lock(uint16_t port, tStatus &status) {
    ZELSMBUS_EXCHANGE(kLock, (port), ());
}

void tInterfaceProxy_zelsmbus::unlock(uint16_t port, tStatus &status) {
    ZELSMBUS_EXCHANGE(kUnlock, (port), ());
}

void tInterfaceProxy_zelsmbus::quickWrite(uint16_t port, uint8_t address, tStatus &status) {
    ZELSMBUS_EXCHANGE(kQuickWrite, (port, address), ());
}

void tInterfaceProxy_zelsmbus::quickRead(uint16_t port, uint8_t address, tStatus &status) {
    ZELSMBUS_EXCHANGE(kQuickRead, (port, address), ());
}

void tInterfaceProxy_zelsmbus::sendByte(uint16_t port, uint8_t address, uint8_t data, uint8_t pec,
                                        tStatus &status) {
    ZELSMBUS_EXCHANGE(kSendByte, (port, address, data, pec), ());
}

void tInterfaceProxy_zelsmbus::receiveByte(uint16_t port, uint8_t address, uint8_t pec,
                                           uint8_t &data, tStatus &status) {
    ZELSMBUS_EXCHANGE(kReceiveByte, (port, address, pec), (data));
}

void tInterfaceProxy_zelsmbus::writeByte(uint16_t port, uint8_t address, uint8_t commandCode,
                                         uint8_t data, uint8_t pec, tStatus &status) {
    ZELSMBUS_EXCHANGE(kWriteByte, (port, address, commandCode, data, pec), ());
}

void tInterfaceProxy_zelsmbus::readByte(uint16_t port, uint8_t address, uint8_t commandCode,
                                        uint8_t pec, uint8_t &data, tStatus &status) {
    ZELSMBUS_EXCHANGE(kReadByte, (port, address, commandCode, pec), (data));
}

void tInterfaceProxy_zelsmbus::writeWord(uint16_t port, uint8_t address, uint8_t commandCode,
                                         uint16_t data, uint8_t pec, tStatus &status) {
    ZELSMBUS_EXCHANGE(kWriteWord, (port, address, commandCode, data, pec), ());
}

void tInterfaceProxy_zelsmbus::readWord(uint16_t port, uint8_t address, uint8_t commandCode,
                                        uint8_t pec, uint16_t &data, tStatus &status) {
    ZELSMBUS_EXCHANGE(kReadWord, (port, address, commandCode, pec), (data));
}

void tInterfaceProxy_zelsmbus::processCall(uint16_t port, uint8_t address, uint8_t commandCode,
                                           uint16_t data, uint8_t pec, uint16_t &reply,
                                           tStatus &status) {
    ZELSMBUS_EXCHANGE(kProcessCall, (port, address, commandCode, data, pec), (reply));
}

void tInterfaceProxy_zelsmbus::writeBlock(uint16_t port, uint8_t address, uint8_t commandCode,
                                          uint8_t count, const tBlock &data, uint8_t pec,
                                          tStatus &status) {
    ZELSMBUS_EXCHANGE(kWriteBlock, (port, address, commandCode, count, data, pec), ());
}

void tInterfaceProxy_zelsmbus::readBlock(uint16_t port, uint8_t address, uint8_t commandCode,
                                         uint8_t pec, uint8_t &count, tBlock &data,
                                         tStatus &status) {
    ZELSMBUS_EXCHANGE(kReadBlock, (port, address, commandCode, pec), (count, data));
}

void tInterfaceProxy_zelsmbus::blockProcessCall(uint16_t port, uint8_t address, uint8_t commandCode,
                                                uint8_t writeCount, const tBlock &writeData,
                                                uint8_t pec, uint8_t &readCount, tBlock &readData,
                                                tStatus &status) {
    ZELSMBUS_EXCHANGE(kBlockProcessCall, (port, address, commandCode, writeCount, writeData, pec),
                      (readCount, readData));
}

void tInterfaceProxy_zelsmbus::writeBlockI2C(uint16_t port, uint8_t address, uint8_t commandCode,
                                             uint32_t length, const tI2C &data, tStatus &status) {
    ZELSMBUS_EXCHANGE(kWriteBlockI2C, (port, address, commandCode, length, data), ());
}

void tInterfaceProxy_zelsmbus::readBlockI2C(uint16_t port, uint8_t address, uint8_t commandCode,
                                            uint32_t length, tI2C &data, tStatus &status) {
    ZELSMBUS_EXCHANGE(kReadBlockI2C, (port, address, commandCode, length), (data));
}

void tInterfaceProxy_zelsmbus::readI2CEEPROM(uint16_t port, uint8_t address, uint8_t startOffset,
                                             uint32_t length, tI2C &data, tStatus &status) {
    ZELSMBUS_EXCHANGE(kReadI2CEEPROM, (port, address, startOffset, length), (data));
}

void tInterfaceProxy_zelsmbus::readRegister(uint16_t port, uint32_t offset, uint32_t &value,
                                            tStatus &status) {
    ZELSMBUS_EXCHANGE(kReadRegister, (port, offset), (value));
}

void tInterfaceProxy_zelsmbus::writeRegister(uint16_t port, uint32_t offset, uint32_t value,
                                             tStatus &status) {
    ZELSMBUS_EXCHANGE(kWriteRegister, (port, offset, value), ());
}

// The attribute commands: a get has the value as its one output, a set as its one input.
#define ZELSMBUS_ATTRIBUTE_GET(id, type)                                                           \
    void tInterfaceProxy_zelsmbus::getAttribute##id(uint16_t port, type &value, tStatus &status) { \
        ZELSMBUS_EXCHANGE(kGetAttribute##id, (port), (value));                                     \
    }
#define ZELSMBUS_ATTRIBUTE_SET(id, type)                                                          \
    void tInterfaceProxy_zelsmbus::setAttribute##id(uint16_t port, type value, tStatus &status) { \
        ZELSMBUS_EXCHANGE(kSetAttribute##id, (port, value), ());                                  \
    }

ZELSMBUS_ATTRIBUTE_GET(10001, uint16_t)
ZELSMBUS_ATTRIBUTE_SET(10001, uint16_t)
ZELSMBUS_ATTRIBUTE_GET(2001, uint32_t)
ZELSMBUS_ATTRIBUTE_SET(2001, uint32_t)
ZELSMBUS_ATTRIBUTE_GET(10002, uint16_t)
ZELSMBUS_ATTRIBUTE_SET(10002, uint16_t)
ZELSMBUS_ATTRIBUTE_GET(10003, uint16_t)
ZELSMBUS_ATTRIBUTE_SET(10003, uint16_t)
ZELSMBUS_ATTRIBUTE_GET(10004, uint16_t)
ZELSMBUS_ATTRIBUTE_GET(10005, uint16_t)
ZELSMBUS_ATTRIBUTE_SET(10005, uint16_t)
ZELSMBUS_ATTRIBUTE_GET(3001, uint32_t)
ZELSMBUS_ATTRIBUTE_SET(3001, uint32_t)
ZELSMBUS_ATTRIBUTE_GET(1004, uint8_t)
ZELSMBUS_ATTRIBUTE_SET(1004, uint8_t)
ZELSMBUS_ATTRIBUTE_GET(1005, uint32_t)
ZELSMBUS_ATTRIBUTE_SET(1005, uint32_t)
ZELSMBUS_ATTRIBUTE_GET(3002, uint32_t)
ZELSMBUS_ATTRIBUTE_SET(3002, uint32_t)

void tInterfaceProxy_zelsmbus::getDeviceString(tText &text, tStatus &status) {
    ZELSMBUS_EXCHANGE(kGetDeviceString, (), (text));
}

}  // namespace nZELSMBUS000
