// zelsmbus eeprom and chassis-eeprom: EEPROM contents as a table, raw bytes or fields.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "hexTable.h"
#include "jsonWriter.h"
#include "options.h"
#include "session.h"
#include "utf8Text.h"

namespace zelsmbus_tool {
namespace {

struct EepromArgs {
    std::string resource, address, output;
    std::string offset, length;  // as typed; no length: up to the end of the 256 bytes
};

void writeByteArray(JsonWriter &json, const std::vector<uint8_t> &bytes) {
    json.key("bytes").beginArray();
    for (uint8_t byte : bytes) json.value(int64_t(byte));
    json.endArray();
}

void printRange(uint32_t offset, const std::vector<uint8_t> &bytes) {
    ByteCells cells;
    cells.fill(kBlank);
    for (size_t i = 0; i < bytes.size(); ++i) cells[offset + i] = bytes[i];
    printByteTable(std::cout, cells);
}

void saveBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file)
        file.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (file) file.close();
    if (!file) throw ToolError("cannot write " + path + ": " + std::strerror(errno));
}

void runEeprom(const EepromArgs &args) {
    const uint8_t address7 = parseAddress(args.address);
    // Both numbers are read the same way, so that both report a bad value alike.
    const uint32_t offset = args.offset.empty() ? 0 : parseNumber(args.offset, 0xFF, "offset");
    const uint32_t length =
        args.length.empty() ? 256 - offset : parseNumber(args.length, 256, "length");
    if (length == 0) throw UsageError("length must be 1 to 256");
    if (length > 256 - offset) {
        throw UsageError("offset " + std::to_string(offset) + " and length " +
                         std::to_string(length) +
                         " reach beyond the 256 bytes an 8-bit offset "
                         "addresses");
    }
    Session session(args.resource, commonOptions().unrestricted);
    std::vector<uint8_t> bytes(length);
    checkTransfer(
        ZELSMBusReadI2CEEPROM(session.handle(), toWire(address7), offset, length, bytes.data()),
        "cannot read the EEPROM at " + showAddress(address7) + " on " + args.resource);
    if (!args.output.empty()) {
        saveBytes(args.output, bytes);
        if (!commonOptions().json) {
            std::cout << "Read " << length << " bytes from " << showAddress(address7) << " offset "
                      << hex2(offset) << " into " << args.output << '\n';
            return;
        }
    }
    if (commonOptions().json) {
        JsonWriter json(std::cout);
        json.beginObject()
            .member("resource", args.resource)
            .member("address", jsonAddress(address7))
            .member("offset", offset)
            .member("length", length);
        writeByteArray(json, bytes);
        json.endObject();
        json.finish();
        return;
    }
    printRange(offset, bytes);
}

// The identity texts of the chassis, as the chassis-query library reports them
// too (its string attributes 4096, 4097 and 4100).
struct ChassisField {
    const char *name;
    uint32_t offset, length;
    unsigned chassisAttribute;
};

constexpr ChassisField kChassisFields[] = {
    {"model", 5, 60, 4096},
    {"vendor", 65, 40, 4097},
    {"serial number", 106, 13, 4100},
};
constexpr uint32_t kChassisImageSize = 123;

// A field ends at its first zero byte or at its length.
std::string fieldText(const std::vector<uint8_t> &image, const ChassisField &field) {
    std::string text;
    for (uint32_t i = field.offset; i < field.offset + field.length && image[i] != 0; ++i) {
        text += static_cast<char>(image[i]);
    }
    return text;
}

constexpr const char *kChassisPortHint =
    "'zelsmbus list -v' shows the ports that reach it (port flags: chassis EEPROM yes)";

void runChassisEeprom(const std::string &resource, bool raw) {
    Session session(resource, false);
    // The library refuses a port without the chassis-EEPROM flag with the code of
    // a protected address; no option opens it, so say what it means here.
    uint32_t reachesChassis = 0;
    check(
        ZELSMBusGetAttribute(session.handle(), ZELSMBUS_ATTR_CHASSIS_EEPROM_PORT, &reachesChassis),
        "cannot read the port flags of " + resource);
    const std::string notReached = resource + " does not reach the chassis EEPROM";
    if (!reachesChassis) throw ToolError(notReached, std::nullopt, kChassisPortHint);
    std::vector<uint8_t> image(kChassisImageSize);
    const int32_t status =
        ZELSMBusGetChassisEEPROM(session.handle(), 0, kChassisImageSize, image.data());
    if (status == ZELSMBUS_ERROR_PROTECTED)
        throw ToolError(notReached, std::nullopt, kChassisPortHint);
    check(status, "cannot read the chassis EEPROM through " + resource);
    if (commonOptions().json) {
        JsonWriter json(std::cout);
        json.beginObject().member("resource", resource).key("fields").beginArray();
        for (const ChassisField &field : kChassisFields) {
            json.beginObject()
                .member("name", field.name)
                .member("offset", field.offset)
                .member("length", field.length)
                .member("chassis_attribute", field.chassisAttribute)
                .member("text", fieldText(image, field))
                .endObject();
        }
        json.endArray();
        writeByteArray(json, image);
        json.endObject();
        json.finish();
        return;
    }
    std::cout << "Chassis EEPROM through " << resource << ":\n";
    for (const ChassisField &field : kChassisFields) {
        char label[64];
        std::snprintf(label, sizeof label, "  %-14s (offset %3u, %2u bytes): ", field.name,
                      unsigned(field.offset), unsigned(field.length));
        std::cout << label << '"' << terminalSafe(fieldText(image, field)) << "\"\n";
    }
    if (raw) printRange(0, image);
}

}  // namespace

Command addEepromCommand(CLI::App &tool) {
    static EepromArgs args;
    CLI::App *app = tool.add_subcommand(
        "eeprom", "Read an I2C EEPROM (8-bit offsets) as a table, or its raw bytes into a file");
    app->add_option("RESOURCE", args.resource, "Resource name")->required();
    app->add_option("ADDRESS", args.address, "EEPROM address (7-bit unless --8bit)")->required();
    app->add_option("--offset", args.offset, "First byte (0-255, default 0)");
    app->add_option("--length", args.length, "Number of bytes (1-256, default: to the end)");
    app->add_option("-o,--output", args.output, "Write the raw bytes into this file");
    addJsonOption(*app);
    addAddressOptions(*app);
    addUnrestrictedOption(*app);
    addAcceptedYesOption(*app);
    return {app, "zelsmbus eeprom [OPTIONS] RESOURCE ADDRESS [--offset N] [--length N] [-o FILE]",
            [] { runEeprom(args); }};
}

Command addChassisEepromCommand(CLI::App &tool) {
    static std::string resource;
    static bool raw = false;
    CLI::App *app = tool.add_subcommand(
        "chassis-eeprom", "Read the chassis EEPROM (0x52) and decode its identity fields");
    app->add_option("RESOURCE", resource, "Resource name of a port that reaches the chassis EEPROM")
        ->required();
    app->add_flag("--raw", raw, "Also print the 123 bytes as a table");
    addJsonOption(*app);
    addAcceptedYesOption(*app);
    return {app, "zelsmbus chassis-eeprom [OPTIONS] RESOURCE",
            [] { runChassisEeprom(resource, raw); }};
}

}  // namespace zelsmbus_tool
