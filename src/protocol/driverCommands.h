// The 44 driver commands, each written once, in command-number order:
//
//   X(method, row, scope, controller, (parameters), (arguments))
//
// method      the command's method on the node proxy (and, where the
//             controller forwards it, the controller operation of that name)
// row         its layout in protocol/commandTable.h
// scope       port: the port index goes in front of the parameters;
//             device: the command concerns the whole node and has no port
// controller  forward: the controller's operation passes the arguments
//             through with its port in front; own: the controller's operation
//             has logic or arguments of its own and is written out by hand
// parameters  the inputs in the order of the input buffer, the output
//             destinations in the order of the output buffer, then the
//             caller's status: one argument order for the wire, the proxy
//             and the forwarding controller
// arguments   the same names, for calls that pass them on
//
// The proxy's interface, its implementations and the controller's forwarders
// are expanded from this list; the compiler then checks every signature
// against the interface it overrides and every width against the command's row.
#pragma once

#include <cstdint>

#include "status/tStatus.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

using tBlockData = uint8_t[ZELSMBUS_BLOCK_MAX];  // SMBus block data, always moved whole
using tI2CData = uint8_t[ZELSMBUS_I2C_MAX];      // I2C block and EEPROM data, always moved whole
using tText = char[64];  // text filled by the driver, NUL-terminated or full

}  // namespace nZELSMBUS000

// clang-format off
#define ZELSMBUS_DRIVER_COMMANDS(X) \
    /* 0x02 .. 0x06: identity and per-port descriptions */ \
    X(getPciIds, kGetPciIds, device, own, \
      (uint16_t &vendorId, uint16_t &deviceId, uint16_t &subsystemVendorId, uint16_t &subsystemId, tStatus &status), \
      (vendorId, deviceId, subsystemVendorId, subsystemId, status)) \
    X(getPciLocation, kGetPciLocation, device, own, \
      (uint16_t &bus, uint16_t &device, uint16_t &function, tStatus &status), \
      (bus, device, function, status)) \
    X(getPortFlags, kGetPortFlags, port, own, \
      (uint8_t &chassisEepromPort, uint8_t &extendedProtection, tStatus &status), \
      (chassisEepromPort, extendedProtection, status)) \
    X(getPortString, kGetPortString, port, own, (tText &text, tStatus &status), (text, status)) \
    X(getProtectedAddresses, kGetProtectedAddresses, port, own, \
      (uint8_t &count, tBlockData &addresses, tStatus &status), (count, addresses, status)) \
    /* 0x07 .. 0x17: bus lock and transactions */ \
    X(lock, kLock, port, forward, (tStatus &status), (status)) \
    X(unlock, kUnlock, port, forward, (tStatus &status), (status)) \
    X(quickWrite, kQuickWrite, port, forward, (uint8_t address, tStatus &status), (address, status)) \
    X(quickRead, kQuickRead, port, forward, (uint8_t address, tStatus &status), (address, status)) \
    X(sendByte, kSendByte, port, forward, \
      (uint8_t address, uint8_t data, uint8_t pec, tStatus &status), (address, data, pec, status)) \
    X(receiveByte, kReceiveByte, port, forward, \
      (uint8_t address, uint8_t pec, uint8_t &data, tStatus &status), (address, pec, data, status)) \
    X(writeByte, kWriteByte, port, forward, \
      (uint8_t address, uint8_t command, uint8_t data, uint8_t pec, tStatus &status), \
      (address, command, data, pec, status)) \
    X(readByte, kReadByte, port, forward, \
      (uint8_t address, uint8_t command, uint8_t pec, uint8_t &data, tStatus &status), \
      (address, command, pec, data, status)) \
    X(writeWord, kWriteWord, port, forward, \
      (uint8_t address, uint8_t command, uint16_t data, uint8_t pec, tStatus &status), \
      (address, command, data, pec, status)) \
    X(readWord, kReadWord, port, forward, \
      (uint8_t address, uint8_t command, uint8_t pec, uint16_t &data, tStatus &status), \
      (address, command, pec, data, status)) \
    X(processCall, kProcessCall, port, forward, \
      (uint8_t address, uint8_t command, uint16_t data, uint8_t pec, uint16_t &reply, tStatus &status), \
      (address, command, data, pec, reply, status)) \
    X(writeBlock, kWriteBlock, port, own, \
      (uint8_t address, uint8_t command, uint8_t count, const tBlockData &data, uint8_t pec, tStatus &status), \
      (address, command, count, data, pec, status)) \
    X(readBlock, kReadBlock, port, forward, \
      (uint8_t address, uint8_t command, uint8_t pec, uint8_t &count, tBlockData &data, tStatus &status), \
      (address, command, pec, count, data, status)) \
    X(blockProcessCall, kBlockProcessCall, port, own, \
      (uint8_t address, uint8_t command, uint8_t writeCount, const tBlockData &writeData, uint8_t pec, \
       uint8_t &readCount, tBlockData &readData, tStatus &status), \
      (address, command, writeCount, writeData, pec, readCount, readData, status)) \
    X(writeBlockI2C, kWriteBlockI2C, port, forward, \
      (uint8_t address, uint8_t command, uint32_t length, const tI2CData &data, tStatus &status), \
      (address, command, length, data, status)) \
    X(readBlockI2C, kReadBlockI2C, port, forward, \
      (uint8_t address, uint8_t command, uint32_t length, tI2CData &data, tStatus &status), \
      (address, command, length, data, status)) \
    X(readI2CEEPROM, kReadI2CEEPROM, port, forward, \
      (uint8_t address, uint8_t startOffset, uint32_t length, tI2CData &data, tStatus &status), \
      (address, startOffset, length, data, status)) \
    /* 0x18, 0x19: controller registers */ \
    X(readRegister, kReadRegister, port, forward, \
      (uint32_t offset, uint32_t &value, tStatus &status), (offset, value, status)) \
    X(writeRegister, kWriteRegister, port, forward, \
      (uint32_t offset, uint32_t value, tStatus &status), (offset, value, status)) \
    /* 0x1A .. 0x2E: attributes, named after their identifiers */ \
    ZELSMBUS_ATTRIBUTE_COMMANDS(X) \
    /* 0x2F: the device's text */ \
    X(getDeviceString, kGetDeviceString, device, own, (tText &text, tStatus &status), (text, status))

// The attribute commands, in command-number order: a get has the value as its
// one output, a set as its one input; 10004 has no set.
#define ZELSMBUS_ATTRIBUTE_COMMANDS(X) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 10001, uint16_t) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 2001, uint32_t) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 10002, uint16_t) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 10003, uint16_t) \
    ZELSMBUS_ATTRIBUTE_GET(X, 10004, uint16_t) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 10005, uint16_t) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 3001, uint32_t) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 1004, uint8_t) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 1005, uint32_t) \
    ZELSMBUS_ATTRIBUTE_GET_SET(X, 3002, uint32_t)
#define ZELSMBUS_ATTRIBUTE_GET(X, id, type) \
    X(getAttribute##id, kGetAttribute##id, port, forward, (type &value, tStatus &status), (value, status))
#define ZELSMBUS_ATTRIBUTE_GET_SET(X, id, type) \
    ZELSMBUS_ATTRIBUTE_GET(X, id, type) \
    X(setAttribute##id, kSetAttribute##id, port, forward, (type value, tStatus &status), (value, status))
// clang-format on

// Helpers for expanding the list. ZELSMBUS_COMMAND_PARAMETERS(scope, parameters)
// gives a proxy method's parameter list, the port first where it has one;
// ZELSMBUS_COMMAND_ARGUMENTS likewise for its arguments; ZELSMBUS_WHEN_FORWARDED
// keeps its tokens for rows the controller forwards and drops them otherwise.
#define ZELSMBUS_COMMAND_PARAMETERS(scope, parameters) \
    ZELSMBUS_COMMAND_PARAMETERS_##scope parameters
#define ZELSMBUS_COMMAND_PARAMETERS_port(...) uint16_t port, __VA_ARGS__
#define ZELSMBUS_COMMAND_PARAMETERS_device(...) __VA_ARGS__
#define ZELSMBUS_COMMAND_ARGUMENTS(scope, arguments) ZELSMBUS_COMMAND_ARGUMENTS_##scope arguments
#define ZELSMBUS_COMMAND_ARGUMENTS_port(...) port, __VA_ARGS__
#define ZELSMBUS_COMMAND_ARGUMENTS_device(...) __VA_ARGS__
#define ZELSMBUS_UNPARENTHESISED(...) __VA_ARGS__
#define ZELSMBUS_WHEN_FORWARDED(controller, ...) ZELSMBUS_WHEN_FORWARDED_##controller(__VA_ARGS__)
#define ZELSMBUS_WHEN_FORWARDED_forward(...) __VA_ARGS__
#define ZELSMBUS_WHEN_FORWARDED_own(...)
