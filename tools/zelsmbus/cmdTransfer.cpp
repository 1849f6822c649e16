// zelsmbus get and set: one SMBus or I2C transaction on a device.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "confirm.h"
#include "failure.h"
#include "jsonWriter.h"
#include "options.h"
#include "session.h"
#include "transferMode.h"

namespace zelsmbus_tool {
namespace {

struct Target {
    std::string resource;
    uint8_t address7 = 0;
    std::optional<uint8_t> command;
    TransferMode mode;
};

std::string describeTarget(const Target &t) {
    std::string text = t.resource + ", address " + showAddress(t.address7);
    if (t.command) text += ", command " + hex2(*t.command);
    return text;
}

void printBytes(const std::vector<uint8_t> &bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) std::cout << (i ? " " : "") << hex2(bytes[i]);
    std::cout << '\n';
}

void writeBytes(JsonWriter &json, const std::string &name, const std::vector<uint8_t> &bytes) {
    json.key(name).beginArray();
    for (uint8_t byte : bytes) json.value(int64_t(byte));
    json.endArray();
}

void beginJson(JsonWriter &json, const Target &t) {
    json.beginObject().member("resource", t.resource).member("address", jsonAddress(t.address7));
    json.key("command");
    if (t.command) {
        json.value(int64_t(*t.command));
    } else {
        json.null();
    }
    // A receive byte has neither a command code nor a mode.
    json.key("mode");
    if (t.command) {
        json.value(t.mode.word);
    } else {
        json.null();
    }
    json.member("pec", t.mode.pec);
}

// ---- get ---------------------------------------------------------------------

// A reading: a single value (byte or word) or a run of bytes.
struct Reading {
    std::optional<unsigned> value;
    std::vector<uint8_t> bytes;
};

Reading readOnce(const Session &session, const Target &t, uint32_t length) {
    tSMBusHandle *h = session.handle();
    const uint8_t address = toWire(t.address7);
    const int32_t pec = t.mode.pec ? 1 : 0;
    const std::string what = "cannot read " + describeTarget(t);
    Reading reading;
    if (!t.command) {
        uint8_t byte = 0;
        checkTransfer(ZELSMBusReceiveByte(h, address, 0, &byte), what);
        reading.value = byte;
        return reading;
    }
    switch (t.mode.mode) {
        case Mode::Byte: {
            uint8_t byte = 0;
            checkTransfer(ZELSMBusReadByte(h, address, *t.command, pec, &byte), what);
            reading.value = byte;
            break;
        }
        case Mode::Word: {
            uint16_t word = 0;
            checkTransfer(ZELSMBusReadWord(h, address, *t.command, pec, &word), what);
            reading.value = word;
            break;
        }
        case Mode::SendReceive: {
            uint8_t byte = 0;
            checkTransfer(ZELSMBusSendByte(h, address, *t.command, pec), what);
            checkTransfer(ZELSMBusReceiveByte(h, address, pec, &byte), what);
            reading.value = byte;
            break;
        }
        case Mode::Block: {
            uint8_t count = 0;
            uint8_t data[ZELSMBUS_BLOCK_MAX] = {};
            checkTransfer(ZELSMBusReadBlock(h, address, *t.command, pec, &count, data), what);
            if (count > ZELSMBUS_BLOCK_MAX) count = ZELSMBUS_BLOCK_MAX;
            reading.bytes.assign(data, data + count);
            break;
        }
        case Mode::I2CBlock: {
            std::vector<uint8_t> data(length);
            checkTransfer(ZELSMBusReadBlockI2C(h, address, *t.command, length, data.data()), what);
            reading.bytes = data;
            break;
        }
        default:
            throw UsageError("mode " + t.mode.word + " does not read");
    }
    return reading;
}

struct GetArgs {
    std::string resource, address;
    std::vector<std::string> rest;  // [COMMAND [MODE [LENGTH]]]
};

void runGet(const GetArgs &args) {
    Target t;
    t.resource = args.resource;
    t.address7 = parseAddress(args.address);
    if (args.rest.size() > 3) throw UsageError("too many arguments");
    t.mode.word = "";
    if (!args.rest.empty()) {
        t.command = static_cast<uint8_t>(parseNumber(args.rest[0], 0xFF, "command"));
        t.mode = args.rest.size() > 1 ? parseMode(args.rest[1], "b w c s i")
                                      : TransferMode{Mode::Byte, false, "b"};
    }
    uint32_t length = ZELSMBUS_BLOCK_MAX;
    if (args.rest.size() > 2) {
        if (t.mode.mode != Mode::I2CBlock) throw UsageError("only mode i takes a length");
        length = parseNumber(args.rest[2], ZELSMBUS_I2C_MAX, "length");
        if (length == 0) throw UsageError("length must be 1 to 256");
    }

    Session session(t.resource, commonOptions().unrestricted);
    const Reading reading = readOnce(session, t, length);

    if (commonOptions().json) {
        JsonWriter json(std::cout);
        beginJson(json, t);
        if (reading.value) {
            json.member("value", int64_t(*reading.value));
        } else {
            writeBytes(json, "bytes", reading.bytes);
        }
        json.endObject();
        json.finish();
    } else if (reading.value) {
        std::cout << (t.mode.mode == Mode::Word ? hex4(*reading.value) : hex2(*reading.value))
                  << '\n';
    } else {
        printBytes(reading.bytes);
    }
}

// ---- set ---------------------------------------------------------------------

struct SetArgs {
    std::string resource, address, command;
    std::vector<std::string> rest;  // VALUE... [MODE]
    std::string mask;
    bool readBack = false;
};

std::string describeData(const Target &t, const std::vector<unsigned> &values) {
    std::string text;
    for (unsigned v : values)
        text += (text.empty() ? "" : " ") +
                (t.mode.mode == Mode::Word || t.mode.mode == Mode::Call ? hex4(v) : hex2(v));
    return text;
}

std::string describeReadBack(const Target &t, const Reading &readBack) {
    if (readBack.value) return describeData(t, {*readBack.value});
    return describeData(t, {readBack.bytes.begin(), readBack.bytes.end()});
}

void runSet(const SetArgs &args) {
    Target t;
    t.resource = args.resource;
    t.address7 = parseAddress(args.address);
    t.command = static_cast<uint8_t>(parseNumber(args.command, 0xFF, "command"));

    std::vector<std::string> valueTexts = args.rest;
    if (!valueTexts.empty() && looksLikeMode(valueTexts.back())) {
        t.mode = parseMode(valueTexts.back(), "c b w s i call bcall");
        valueTexts.pop_back();
    } else if (valueTexts.empty()) {
        t.mode = {Mode::SendReceive, false, "c"};
    } else if (valueTexts.size() == 1) {
        t.mode = {Mode::Byte, false, "b"};
    } else {
        throw UsageError("several values need mode s, i or bcall");
    }

    // How many values each mode takes, and how large each may be.
    size_t fewest = 1, most = 1;
    uint32_t largest = 0xFF;
    switch (t.mode.mode) {
        case Mode::SendReceive:
            fewest = most = 0;
            break;
        case Mode::Word:
        case Mode::Call:
            largest = 0xFFFF;
            break;
        case Mode::Block:
        case Mode::BlockCall:
            most = ZELSMBUS_BLOCK_MAX;
            break;
        case Mode::I2CBlock:
            most = ZELSMBUS_I2C_MAX;
            break;
        default:
            break;
    }
    if (valueTexts.size() < fewest || valueTexts.size() > most) {
        throw UsageError(std::string("mode ") + t.mode.word + " takes " +
                         (fewest == most ? std::to_string(fewest)
                                         : std::to_string(fewest) + " to " + std::to_string(most)) +
                         (most == 1 ? " value" : " values"));
    }
    std::vector<unsigned> values;
    for (const std::string &text : valueTexts)
        values.push_back(parseNumber(text, largest, "value"));

    std::optional<unsigned> mask;
    if (!args.mask.empty()) {
        if (t.mode.mode != Mode::Byte && t.mode.mode != Mode::Word) {
            throw UsageError("-m works with modes b and w only");
        }
        mask = parseNumber(args.mask, largest, "mask");
    }
    const bool readsBack = args.readBack;
    if (readsBack && (t.mode.mode == Mode::SendReceive || t.mode.mode == Mode::Call ||
                      t.mode.mode == Mode::BlockCall)) {
        throw UsageError("-r works with modes b, w, s and i only");
    }

    Session session(t.resource, commonOptions().unrestricted);
    tSMBusHandle *h = session.handle();
    const uint8_t address = toWire(t.address7);
    const int32_t pec = t.mode.pec ? 1 : 0;

    std::string maskNote;
    if (mask) {
        const unsigned old = *readOnce(session, t, 0).value;
        values[0] = (values[0] & *mask) | (old & ~*mask & largest);
        maskNote = " (old value " + (largest == 0xFF ? hex2(old) : hex4(old)) + ", mask " +
                   (largest == 0xFF ? hex2(*mask) : hex4(*mask)) + ")";
    }

    std::string description = "I will write to " + describeTarget(t);
    if (!values.empty()) description += ", data " + describeData(t, values) + maskNote;
    description +=
        std::string(", mode ") + modeName(t.mode.mode) + (t.mode.pec ? " with PEC" : "") + ".";
    confirmWrite(description, eepromDanger(t.address7));

    const std::string what = "cannot write to " + describeTarget(t);
    std::vector<uint8_t> bytes(values.begin(), values.end());
    Reading reply;
    switch (t.mode.mode) {
        case Mode::SendReceive:
            checkTransfer(ZELSMBusSendByte(h, address, *t.command, pec), what);
            break;
        case Mode::Byte:
            checkTransfer(ZELSMBusWriteByte(h, address, *t.command, uint8_t(values[0]), pec), what);
            break;
        case Mode::Word:
            checkTransfer(ZELSMBusWriteWord(h, address, *t.command, uint16_t(values[0]), pec),
                          what);
            break;
        case Mode::Block:
            checkTransfer(ZELSMBusWriteBlock(h, address, *t.command, uint8_t(bytes.size()),
                                             bytes.data(), pec),
                          what);
            break;
        case Mode::I2CBlock:
            checkTransfer(
                ZELSMBusWriteBlockI2C(h, address, *t.command, uint32_t(bytes.size()), bytes.data()),
                what);
            break;
        case Mode::Call: {
            uint16_t result = 0;
            checkTransfer(
                ZELSMBusProcessCall(h, address, *t.command, uint16_t(values[0]), pec, &result),
                what);
            reply.value = result;
            break;
        }
        case Mode::BlockCall: {
            uint8_t count = 0;
            uint8_t data[ZELSMBUS_BLOCK_MAX] = {};
            checkTransfer(ZELSMBusBlockProcessCall(h, address, *t.command, uint8_t(bytes.size()),
                                                   bytes.data(), pec, &count, data),
                          what);
            if (count > ZELSMBUS_BLOCK_MAX) count = ZELSMBUS_BLOCK_MAX;
            reply.bytes.assign(data, data + count);
            break;
        }
    }

    std::optional<Reading> readBack;
    bool matched = true;
    if (readsBack) {
        readBack = readOnce(session, t, uint32_t(bytes.size()));
        if (readBack->value) {
            matched = *readBack->value == values[0];
        } else {
            matched = readBack->bytes == bytes;
        }
    }

    const bool isCall = t.mode.mode == Mode::Call || t.mode.mode == Mode::BlockCall;
    if (commonOptions().json) {
        JsonWriter json(std::cout);
        beginJson(json, t);
        json.key("written").beginArray();
        for (unsigned v : values) json.value(int64_t(v));
        json.endArray();
        if (isCall) {
            if (reply.value) {
                json.member("reply", int64_t(*reply.value));
            } else {
                writeBytes(json, "reply", reply.bytes);
            }
        }
        if (readBack) {
            if (readBack->value) {
                json.member("read_back", int64_t(*readBack->value));
            } else {
                writeBytes(json, "read_back", readBack->bytes);
            }
            json.member("matched", matched);
        }
        json.endObject();
        json.finish();
        if (!matched) {
            throw ToolError("read back " + describeReadBack(t, *readBack) + " differs from the " +
                            describeData(t, values) + " written")
                .shownInDocument();
        }
    } else if (isCall) {
        if (reply.value) {
            std::cout << hex4(*reply.value) << '\n';
        } else {
            printBytes(reply.bytes);
        }
    } else if (readBack && matched) {
        std::cout << "Value " << describeData(t, values) << " written, read back matched\n";
    }
    if (!matched) {
        throw ToolError("read back " + describeReadBack(t, *readBack) + " differs from the " +
                        describeData(t, values) + " written");
    }
}

}  // namespace

Command addGetCommand(CLI::App &tool) {
    static GetArgs args;
    CLI::App *app = tool.add_subcommand(
        "get", "Read from a device: receive byte, or a byte, word or block from a command code");
    app->add_option("RESOURCE", args.resource, "Resource name")->required();
    app->add_option("ADDRESS", args.address, "Device address (7-bit unless --8bit)")->required();
    app->add_option("COMMAND MODE LENGTH", args.rest,
                    "Command code; mode b (byte, default), w (word), c (send the command, then "
                    "receive a byte), s (SMBus block), i (I2C block), with a 'p' suffix for PEC "
                    "(not i); length for mode i (1-256, default 32)")
        ->expected(0, 3);
    addJsonOption(*app);
    addAddressOptions(*app);
    addUnrestrictedOption(*app);
    addAcceptedYesOption(*app);
    return {app, "zelsmbus get [OPTIONS] RESOURCE ADDRESS [COMMAND [MODE [LENGTH]]]",
            [] { runGet(args); }};
}

Command addSetCommand(CLI::App &tool) {
    static SetArgs args;
    CLI::App *app = tool.add_subcommand(
        "set",
        "Write to a device: send byte, a byte, word or block to a command code, or a "
        "(block) process call that also reads the reply; asks first");
    app->add_option("RESOURCE", args.resource, "Resource name")->required();
    app->add_option("ADDRESS", args.address, "Device address (7-bit unless --8bit)")->required();
    app->add_option("COMMAND", args.command, "Command code (the byte sent in mode c)")->required();
    app->add_option("VALUE... MODE", args.rest,
                    "Values, then the mode: c (send byte, no value), b (byte, default), w (word), "
                    "s (SMBus block), i (I2C block), call (process call), bcall (block process "
                    "call), with a 'p' suffix for PEC (not i)")
        ->expected(0, -1);
    app->add_option("-m,--mask", args.mask, "Change only the bits set in MASK (modes b, w)");
    app->add_flag("-r,--read-back", args.readBack, "Read the value back and report a mismatch");
    addYesOption(*app);
    addJsonOption(*app);
    addAddressOptions(*app);
    addUnrestrictedOption(*app);
    return {app, "zelsmbus set [OPTIONS] RESOURCE ADDRESS COMMAND [VALUE...] [MODE]",
            [] { runSet(args); }};
}

}  // namespace zelsmbus_tool
