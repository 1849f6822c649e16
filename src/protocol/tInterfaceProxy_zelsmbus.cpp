#include "protocol/tInterfaceProxy_zelsmbus.h"

#include <cstring>
#include <tuple>
#include <utility>

#include "protocol/commandTable.h"

namespace nZELSMBUS000 {

namespace {

using command::tCommand;

// Every argument of a command, inputs first, then outputs, then the status.
template <typename... Arguments>
using tArguments = std::tuple<Arguments &...>;

template <size_t First, typename Values, size_t... I>
constexpr bool widthsMatch(const command::tField *fields, std::index_sequence<I...>) {
    return ((fields[I].width ==
             sizeof(std::remove_reference_t<std::tuple_element_t<First + I, Values>>)) &&
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
    (std::memcpy(&std::get<Command.inputCount + I>(values), buffer + Command.outputs[I].offset,
                 Command.outputs[I].width),
     ...);
}

// One driver command: guard, pack (ending with the caller's status word), one
// ioctl, then either leave the failed system call's code in the caller's
// status or copy every output and fold in the driver's word. The arguments
// come in the list's order: the command's inputs, its outputs, the status.
template <const tCommand &Command, typename... Arguments>
void runCommand(tInterfaceProxy_zelsmbus &node, uint64_t line, Arguments &...arguments) {
    using Values = tArguments<Arguments...>;
    using InputIndexes = std::make_index_sequence<Command.inputCount>;
    using OutputIndexes = std::make_index_sequence<Command.outputCount>;
    static_assert(command::isWellFormed(Command), "command layout out of bounds or overlapping");
    static_assert(sizeof...(Arguments) == Command.inputCount + Command.outputCount + 1u,
                  "one argument per input field, one destination per output field, the status");
    static_assert(widthsMatch<0, Values>(Command.inputs, InputIndexes{}),
                  "input argument width differs from its field");
    static_assert(widthsMatch<Command.inputCount, Values>(Command.outputs, OutputIndexes{}),
                  "output destination width differs from its field");

    const Values values(arguments...);
    tStatus &status = std::get<sizeof...(Arguments) - 1>(values);
    if (status.isFatal()) {
        return;
    }
    // Pads go out as zeros rather than as stack contents.
    uint8_t input[Command.inputSize] = {};
    uint8_t output[Command.outputSize] = {};
    pack<Command>(input, values, InputIndexes{});
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
    unpack<Command>(output, values, OutputIndexes{});
    int32_t driverWord;
    std::memcpy(&driverWord, output + Command.outputSize - command::kStatusWordSize,
                sizeof driverWord);
    if (driverWord != 0) status.setCode(driverWord, kComponent, __FILE__, line);
}

}  // namespace

// Each method hands its row and its arguments, in the list's order, to the one
// exchange above.
#define ZELSMBUS_DEFINE_COMMAND_(method, row, scope, controller, parameters, arguments)          \
    void tInterfaceProxy_zelsmbus::method(ZELSMBUS_COMMAND_PARAMETERS(scope, parameters)) {      \
        runCommand<command::row>(*this, __LINE__, ZELSMBUS_COMMAND_ARGUMENTS(scope, arguments)); \
    }
ZELSMBUS_DRIVER_COMMANDS(ZELSMBUS_DEFINE_COMMAND_)
#undef ZELSMBUS_DEFINE_COMMAND_

}  // namespace nZELSMBUS000
