// zelsmbus attr: read every attribute of a port, or read or set one.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "attributeTable.h"
#include "commands.h"
#include "confirm.h"
#include "failure.h"
#include "jsonWriter.h"
#include "options.h"
#include "session.h"
#include "statusText.h"
#include "utf8Text.h"

namespace zelsmbus_tool {
namespace {

constexpr const char *kAccessHint = "the attribute needs full access; --unrestricted gives it";

struct AttrArgs {
    std::string resource, attribute, value;
};

// What an attribute reads as: a number, a text, or a list of addresses.
using AttrValue = std::variant<uint64_t, std::string, std::vector<uint8_t>>;

struct AttrReading {
    int32_t status = 0;
    AttrValue value;
};

AttrReading readAttribute(const Session &session, const AttributeInfo &info) {
    AttrReading reading;
    uint64_t raw = 0;  // every width fits; the library writes only the attribute's width
    reading.status = ZELSMBusGetAttribute(session.handle(), info.id, &raw);
    if (reading.status == ZELSMBUS_ERROR_NOT_SUPPORTED && info.id == ZELSMBUS_ATTR_DEVICE_STRING) {
        reading.status = 0;  // the driver gives no device text: it is empty
        reading.value = std::string();
        return reading;
    }
    if (reading.status < 0) return reading;
    if (info.id == ZELSMBUS_ATTR_PORT_STRING || info.id == ZELSMBUS_ATTR_DEVICE_STRING) {
        // The text's address is of no use outside this process: show the text.
        const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(raw));
        reading.value = std::string(text ? text : "");
    } else if (info.id == ZELSMBUS_ATTR_PROTECTED_LIST) {
        try {
            reading.value = session.protectedAddresses();
        } catch (const ToolError &e) {
            reading.status = e.code().value_or(ZELSMBUS_ERROR_SYSTEM);
        }
    } else {
        reading.value = raw;
    }
    return reading;
}

std::string showNumber(const AttributeInfo &info, uint64_t value) {
    if (info.boolean || info.width == 1) return std::to_string(value);
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llx", int(info.width * 2),
                  static_cast<unsigned long long>(value));
    return text;
}

std::string showValue(const AttributeInfo &info, const AttrReading &reading) {
    if (reading.status == ZELSMBUS_ERROR_PROTECTED) return "(needs --unrestricted)";
    if (reading.status < 0) {
        const StatusText text = describeStatus(reading.status);
        return "(" + std::to_string(reading.status) +
               (text.name ? std::string(" ") + text.name : "") + ")";
    }
    if (const auto *number = std::get_if<uint64_t>(&reading.value))
        return showNumber(info, *number);
    if (const auto *text = std::get_if<std::string>(&reading.value)) {
        return "\"" + terminalSafe(*text) + "\"";
    }
    const auto &addresses = std::get<std::vector<uint8_t>>(reading.value);
    std::string list;
    for (uint8_t address : addresses) list += (list.empty() ? "" : " ") + showAddress(address);
    return list.empty() ? "none" : list;
}

void writeValue(JsonWriter &json, const AttrReading &reading) {
    if (reading.status < 0) {
        json.key("error");
        writeStatus(json, reading.status);
        return;
    }
    json.key("value");
    if (const auto *number = std::get_if<uint64_t>(&reading.value)) {
        json.value(int64_t(*number));
    } else if (const auto *text = std::get_if<std::string>(&reading.value)) {
        json.value(*text);
    } else {
        json.beginArray();
        for (uint8_t address : std::get<std::vector<uint8_t>>(reading.value)) {
            json.value(int64_t(jsonAddress(address)));
        }
        json.endArray();
    }
}

void beginJsonAttribute(JsonWriter &json, const AttributeInfo &info) {
    json.beginObject()
        .member("id", info.id)
        .member("name", info.name)
        .member("width", info.width)
        .member("meaning", info.meaning);
}

void listAll(const Session &session) {
    const bool asJson = commonOptions().json;
    JsonWriter json(std::cout);
    if (asJson) {
        json.beginObject().member("resource", session.resource()).key("attributes").beginArray();
    } else {
        std::printf("%15s  %-24s %-26s %s\n", "ID", "NAME", "VALUE", "MEANING");
    }
    for (const AttributeInfo &info : attributeTable()) {
        const AttrReading reading = readAttribute(session, info);
        if (asJson) {
            beginJsonAttribute(json, info);
            writeValue(json, reading);
            json.endObject();
        } else {
            std::printf("%15u  %-24s %-26s %s\n", info.id, info.name.c_str(),
                        showValue(info, reading).c_str(), info.meaning.c_str());
        }
    }
    if (asJson) {
        json.endArray()
            .key("registers")
            .beginObject()
            .member("first", int64_t(ZELSMBUS_ATTR_REGISTER_FIRST))
            .member("last", int64_t(ZELSMBUS_ATTR_REGISTER_LAST))
            .member("meaning",
                    "controller register at byte offset id - first (32-bit, full access)")
            .endObject()
            .endObject();
        json.finish();
    } else {
        std::printf("%15s  %-24s %-26s %s\n", "0x20000-0x2ffff", "reg:0x0000-reg:0xffff",
                    "(name one to read it)",
                    "controller register at that byte offset (32-bit, full access)");
    }
}

// Asks before a set that outlasts the command: a driver setting, a controller
// register or the configuration flag in the controller's flash. The
// unrestricted flag belongs to the command's own session and ends with it, so
// setting it writes nothing and does not ask.
// The configuration flag lives in the flash: its busy answer comes from the
// controller's flash lock (a firmware update or another set), not the bus lock.
void checkFlashBusy(const AttributeInfo &info, int32_t status, const std::string &what) {
    if (info.id != ZELSMBUS_ATTR_CONFIG_FLAG || status != ZELSMBUS_ERROR_BUSY) return;
    throw ToolError(what + ": another program is writing the controller's flash", status,
                    "wait until it is done (a firmware update takes minutes), then run the "
                    "command again");
}

void confirmSet(const AttributeInfo &info, uint64_t value, const std::string &resource) {
    if (info.id == ZELSMBUS_ATTR_UNRESTRICTED) return;
    std::string danger;
    if (info.id == ZELSMBUS_ATTR_CONFIG_FLAG) {
        danger =
            "DANGER! The configuration flag lives in the controller's flash: setting it "
            "rewrites a flash block.";
    } else if (info.id >= ZELSMBUS_ATTR_REGISTER_FIRST && info.id <= ZELSMBUS_ATTR_REGISTER_LAST) {
        danger =
            "DANGER! Writing a controller register can stop the controller until the "
            "system restarts.";
    }
    confirmWrite("I will set " + info.name + " (" + std::to_string(info.id) + ") of " + resource +
                     " to " + showNumber(info, value) + ".",
                 danger);
}

void runAttr(const AttrArgs &args) {
    std::optional<AttributeInfo> info;
    if (!args.attribute.empty()) {
        info = findAttribute(args.attribute);
        if (!info) {
            throw UsageError("unknown attribute \"" + args.attribute +
                             "\" ('zelsmbus attr RESOURCE' lists them)");
        }
    }
    std::optional<uint64_t> newValue;
    if (!args.value.empty()) {
        if (info->readOnly) {
            throw UsageError(info->name + " (" + std::to_string(info->id) +
                             ") is read-only: it can be read but not set");
        }
        newValue = parseAttributeValue(*info, args.value);
    }

    Session session(args.resource, commonOptions().unrestricted);
    if (!info) {
        listAll(session);
        return;
    }
    const std::string label = info->name + " (" + std::to_string(info->id) + ")";
    if (newValue) {
        confirmSet(*info, *newValue, args.resource);
        const int32_t status = ZELSMBusSetAttribute(session.handle(), info->id, &*newValue);
        checkFlashBusy(*info, status, "cannot set " + label + " on " + args.resource);
        checkTransfer(status, "cannot set " + label + " on " + args.resource, kAccessHint);
        // The unrestricted flag belongs to the session, which ends with this command.
        const bool sessionOnly = info->id == ZELSMBUS_ATTR_UNRESTRICTED;
        if (commonOptions().json) {
            JsonWriter json(std::cout);
            beginJsonAttribute(json, *info);
            json.member("set", int64_t(*newValue));
            if (sessionOnly) json.member("session_only", true);
            json.endObject();
            json.finish();
        } else if (sessionOnly) {
            std::cout << label << " set to " << showNumber(*info, *newValue)
                      << " for this command's session only: it ends with the command. Give "
                         "--unrestricted to each command that needs it.\n";
        } else {
            std::cout << label << " set to " << showNumber(*info, *newValue) << '\n';
        }
        return;
    }
    const AttrReading reading = readAttribute(session, *info);
    checkFlashBusy(*info, reading.status, "cannot read " + label + " on " + args.resource);
    checkTransfer(reading.status, "cannot read " + label + " on " + args.resource, kAccessHint);
    if (commonOptions().json) {
        JsonWriter json(std::cout);
        beginJsonAttribute(json, *info);
        writeValue(json, reading);
        json.endObject();
        json.finish();
    } else {
        std::cout << label << ": " << showValue(*info, reading) << '\n';
    }
}

}  // namespace

Command addAttrCommand(CLI::App &tool) {
    static AttrArgs args;
    CLI::App *app = tool.add_subcommand(
        "attr",
        "Show every attribute of a port, or read or set one by name or identifier; setting "
        "one writes the driver's port setting, the controller register or (config-flag) the "
        "controller's flash, and asks first");
    app->add_option("RESOURCE", args.resource, "Resource name")->required();
    app->add_option("ATTRIBUTE", args.attribute,
                    "Name (vendor-id, unrestricted, ...), identifier (101), or reg:OFFSET "
                    "(register range 0x20000-0x2ffff)");
    app->add_option("VALUE", args.value,
                    "New value: sets the attribute (0 or 1, or false or true, for a true/false "
                    "attribute)");
    addJsonOption(*app);
    app->add_flag("--8bit", commonOptions().eightBit, "Show protected addresses in 8-bit form");
    addUnrestrictedOption(*app);
    addYesOption(*app);
    return {app, "zelsmbus attr [OPTIONS] RESOURCE [NAME|ID [VALUE]]", [] { runAttr(args); }};
}

}  // namespace zelsmbus_tool
