// zelsmbus get and set: one SMBus or I2C transaction on a device.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <algorithm>
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
        t.mode = args.rest.size() > 1 ? parseMode(args.rest[1], ModeUse::Read)
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
// Three steps: parse the command line into a plan (every check that needs no
// bus), act on the bus (mask, confirm, write, read back), report the outcome.

struct SetArgs {
    std::string resource, address, command;
    std::vector<std::string> rest;  // VALUE... [MODE]
    std::string mask;
    bool readBack = false;
};

struct SetPlan {
    Target target;
    std::vector<unsigned> values;
    std::optional<unsigned> mask;
    bool readBack = false;
};

struct SetOutcome {
    std::vector<unsigned> written;  // after the mask
    Reading reply;                  // process calls
    std::optional<Reading> readBack;
    bool matched = true;
};

std::string describeData(const Target &t, const std::vector<unsigned> &values) {
    const bool words = t.mode.facts().largestValue > 0xFF;
    std::string text;
    for (unsigned v : values) text += (text.empty() ? "" : " ") + (words ? hex4(v) : hex2(v));
    return text;
}

std::string describeReadBack(const Target &t, const Reading &readBack) {
    if (readBack.value) return describeData(t, {*readBack.value});
    return describeData(t, {readBack.bytes.begin(), readBack.bytes.end()});
}

// The mode: named last, or c without values, b with one; several values need a
// block mode.
TransferMode setMode(std::vector<std::string> &valueTexts) {
    if (!valueTexts.empty() && looksLikeMode(valueTexts.back())) {
        const TransferMode mode = parseMode(valueTexts.back(), ModeUse::Write);
        valueTexts.pop_back();
        return mode;
    }
    if (valueTexts.empty()) return {Mode::SendReceive, false, "c"};
    if (valueTexts.size() == 1) return {Mode::Byte, false, "b"};
    throw UsageError("several values need mode s, i or bcall");
}

SetPlan parseSet(const SetArgs &args) {
    SetPlan plan;
    Target &t = plan.target;
    t.resource = args.resource;
    t.address7 = parseAddress(args.address);
    t.command = static_cast<uint8_t>(parseNumber(args.command, 0xFF, "command"));
    std::vector<std::string> valueTexts = args.rest;
    t.mode = setMode(valueTexts);

    const ModeFacts &facts = t.mode.facts();
    if (valueTexts.size() < facts.fewestValues || valueTexts.size() > facts.mostValues) {
        const std::string count =
            facts.fewestValues == facts.mostValues
                ? std::to_string(facts.fewestValues)
                : std::to_string(facts.fewestValues) + " to " + std::to_string(facts.mostValues);
        throw UsageError("mode " + t.mode.word + " takes " + count +
                         (facts.mostValues == 1 ? " value" : " values"));
    }
    for (const std::string &text : valueTexts) {
        plan.values.push_back(parseNumber(text, facts.largestValue, "value"));
    }
    if (!args.mask.empty()) {
        if (!facts.masks) throw UsageError("-m works with modes b and w only");
        plan.mask = parseNumber(args.mask, facts.largestValue, "mask");
    }
    if (args.readBack && !facts.readsBack) {
        throw UsageError("-r works with modes b, w, s and i only");
    }
    plan.readBack = args.readBack;
    return plan;
}

// The one write transaction of the mode; a process call's answer goes to reply.
void writeOnce(const Session &session, const Target &t, const std::vector<unsigned> &values,
               Reading &reply) {
    tSMBusHandle *h = session.handle();
    const uint8_t address = toWire(t.address7);
    const int32_t pec = t.mode.pec ? 1 : 0;
    const std::string what = "cannot write to " + describeTarget(t);
    std::vector<uint8_t> bytes(values.begin(), values.end());
    int32_t status = 0;
    switch (t.mode.mode) {
        case Mode::SendReceive:
            status = ZELSMBusSendByte(h, address, *t.command, pec);
            break;
        case Mode::Byte:
            status = ZELSMBusWriteByte(h, address, *t.command, uint8_t(values[0]), pec);
            break;
        case Mode::Word:
            status = ZELSMBusWriteWord(h, address, *t.command, uint16_t(values[0]), pec);
            break;
        case Mode::Block:
            status = ZELSMBusWriteBlock(h, address, *t.command, uint8_t(bytes.size()), bytes.data(),
                                        pec);
            break;
        case Mode::I2CBlock:
            status =
                ZELSMBusWriteBlockI2C(h, address, *t.command, uint32_t(bytes.size()), bytes.data());
            break;
        case Mode::Call: {
            uint16_t result = 0;
            status = ZELSMBusProcessCall(h, address, *t.command, uint16_t(values[0]), pec, &result);
            reply.value = result;
            break;
        }
        case Mode::BlockCall: {
            uint8_t count = 0;
            uint8_t data[ZELSMBUS_BLOCK_MAX] = {};
            status = ZELSMBusBlockProcessCall(h, address, *t.command, uint8_t(bytes.size()),
                                              bytes.data(), pec, &count, data);
            if (count > ZELSMBUS_BLOCK_MAX) count = ZELSMBUS_BLOCK_MAX;
            reply.bytes.assign(data, data + count);
            break;
        }
    }
    checkTransfer(status, what);
}

SetOutcome actSet(const Session &session, const SetPlan &plan) {
    const Target &t = plan.target;
    SetOutcome outcome;
    outcome.written = plan.values;
    std::string maskNote;
    if (plan.mask) {
        const unsigned largest = t.mode.facts().largestValue;
        const unsigned old = *readOnce(session, t, 0).value;
        outcome.written[0] = (plan.values[0] & *plan.mask) | (old & ~*plan.mask & largest);
        maskNote = " (old value " + describeData(t, {old}) + ", mask " +
                   describeData(t, {*plan.mask}) + ")";
    }

    std::string description = "I will write to " + describeTarget(t);
    if (!outcome.written.empty()) {
        description += ", data " + describeData(t, outcome.written) + maskNote;
    }
    description +=
        std::string(", mode ") + modeName(t.mode.mode) + (t.mode.pec ? " with PEC" : "") + ".";
    confirmWrite(description, eepromDanger(t.address7));

    writeOnce(session, t, outcome.written, outcome.reply);
    if (plan.readBack) {
        outcome.readBack = readOnce(session, t, uint32_t(outcome.written.size()));
        if (outcome.readBack->value) {
            outcome.matched = *outcome.readBack->value == outcome.written[0];
        } else {
            outcome.matched =
                std::equal(outcome.readBack->bytes.begin(), outcome.readBack->bytes.end(),
                           outcome.written.begin(), outcome.written.end());
        }
    }
    return outcome;
}

void writeSetJson(const SetPlan &plan, const SetOutcome &outcome) {
    JsonWriter json(std::cout);
    beginJson(json, plan.target);
    json.key("written").beginArray();
    for (unsigned v : outcome.written) json.value(int64_t(v));
    json.endArray();
    if (plan.target.mode.facts().replies) {
        if (outcome.reply.value) {
            json.member("reply", int64_t(*outcome.reply.value));
        } else {
            writeBytes(json, "reply", outcome.reply.bytes);
        }
    }
    if (outcome.readBack) {
        if (outcome.readBack->value) {
            json.member("read_back", int64_t(*outcome.readBack->value));
        } else {
            writeBytes(json, "read_back", outcome.readBack->bytes);
        }
        json.member("matched", outcome.matched);
    }
    json.endObject();
    json.finish();
}

void reportSet(const SetPlan &plan, const SetOutcome &outcome) {
    const Target &t = plan.target;
    if (commonOptions().json) {
        writeSetJson(plan, outcome);
    } else if (t.mode.facts().replies) {
        if (outcome.reply.value) {
            std::cout << hex4(*outcome.reply.value) << '\n';
        } else {
            printBytes(outcome.reply.bytes);
        }
    } else if (outcome.readBack && outcome.matched) {
        std::cout << "Value " << describeData(t, outcome.written)
                  << " written, read back matched\n";
    }
    if (!outcome.matched) {
        ToolError mismatch("read back " + describeReadBack(t, *outcome.readBack) +
                           " differs from the " + describeData(t, outcome.written) + " written");
        if (commonOptions().json) mismatch.shownInDocument();
        throw mismatch;
    }
}

void runSet(const SetArgs &args) {
    const SetPlan plan = parseSet(args);
    Session session(plan.target.resource, commonOptions().unrestricted);
    reportSet(plan, actSet(session, plan));
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
