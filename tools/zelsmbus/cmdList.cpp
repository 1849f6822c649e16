// zelsmbus list: every resource name, with -v each port's identity.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "driverPresence.h"
#include "failure.h"
#include "jsonWriter.h"
#include "options.h"
#include "session.h"
#include "statusText.h"
#include "utf8Text.h"

namespace zelsmbus_tool {
namespace {

struct PortDetails {
    std::string portText, deviceText;
    uint16_t ids[4] = {};       // vendor, device, subsystem vendor, subsystem
    uint16_t location[3] = {};  // bus, device, function
    uint16_t port = 0;
    uint32_t chassisEeprom = 0, extendedProtection = 0;
    std::vector<uint8_t> protectedAddresses;
};

// Every resource name. Without a driver and without the chassis-query library
// there is nothing to list: an empty list, as the I2C tools show no adapter,
// with a note on the standard error stream of what is missing and how to try
// the tools on the simulated driver.
std::vector<std::string> resourceNames() {
    char *list = ZELSMBusGetResourceNameList();
    if (!list) {
        const DriverPresence presence = probeDriverPresence();
        const std::string hint = simulatorHint(presence, commonOptions().commandLine);
        if (presence.nothing()) {
            std::cerr << "zelsmbus: " << missingDriverText(presence) << '\n'
                      << "zelsmbus: " << hint << '\n';
            return {};
        }
        if (presence.noDriver()) {
            throw ToolError("cannot list the resources: " + missingDriverText(presence),
                            std::nullopt, hint);
        }
        if (!presence.chassisLibrary) {
            throw ToolError(
                "cannot list the resources: the chassis-query library (libzelqpxi.so.1) "
                "cannot be loaded",
                std::nullopt,
                "install the chassis-query library of the driver's installation, or put its "
                "folder on LD_LIBRARY_PATH");
        }
        throw ToolError(
            "cannot list the resources: the driver or the chassis-query library "
            "(libzelqpxi.so.1) did not answer");
    }
    std::vector<std::string> names;
    for (const char *name = list; *name; name += names.back().size() + 1) names.emplace_back(name);
    ZELSMBusPutResourceNameList(list);
    return names;
}

PortDetails readDetails(const Session &session) {
    PortDetails details;
    tSMBusHandle *handle = session.handle();
    const std::string what = "cannot read the attributes of " + session.resource();
    details.portText = session.text(ZELSMBUS_ATTR_PORT_STRING);
    details.deviceText = session.text(ZELSMBUS_ATTR_DEVICE_STRING);
    const uint32_t idAttributes[4] = {ZELSMBUS_ATTR_VENDOR_ID, ZELSMBUS_ATTR_DEVICE_ID,
                                      ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID,
                                      ZELSMBUS_ATTR_SUBSYSTEM_ID};
    for (int i = 0; i < 4; ++i)
        check(ZELSMBusGetAttribute(handle, idAttributes[i], &details.ids[i]), what);
    const uint32_t locationAttributes[3] = {ZELSMBUS_ATTR_PCI_BUS, ZELSMBUS_ATTR_PCI_DEVICE,
                                            ZELSMBUS_ATTR_PCI_FUNCTION};
    for (int i = 0; i < 3; ++i) {
        check(ZELSMBusGetAttribute(handle, locationAttributes[i], &details.location[i]), what);
    }
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_PORT, &details.port), what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_CHASSIS_EEPROM_PORT, &details.chassisEeprom),
          what);
    check(ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_EXTENDED_PROTECTION,
                               &details.extendedProtection),
          what);
    details.protectedAddresses = session.protectedAddresses();
    return details;
}

std::string pciLocation(const PortDetails &d) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", d.location[0], d.location[1], d.location[2]);
    return text;
}

void printDetails(const PortDetails &d) {
    char ids[64];
    std::snprintf(ids, sizeof ids, "%04x:%04x, subsystem %04x:%04x", d.ids[0], d.ids[1], d.ids[2],
                  d.ids[3]);
    std::cout << "    port text:        " << terminalSafe(d.portText) << '\n'
              << "    device text:      " << terminalSafe(d.deviceText) << '\n'
              << "    PCI identity:     " << ids << '\n'
              << "    PCI location:     " << pciLocation(d) << ", port " << d.port << '\n'
              << "    port flags:       chassis EEPROM " << (d.chassisEeprom ? "yes" : "no")
              << ", extended protection " << (d.extendedProtection ? "yes" : "no") << '\n'
              << "    protected:        ";
    if (d.protectedAddresses.empty()) std::cout << "none";
    for (size_t i = 0; i < d.protectedAddresses.size(); ++i) {
        std::cout << (i ? " " : "") << showAddress(d.protectedAddresses[i]);
    }
    std::cout << '\n';
}

void writeDetails(JsonWriter &json, const PortDetails &d) {
    json.member("port_text", d.portText).member("device_text", d.deviceText);
    json.key("pci")
        .beginObject()
        .member("vendor", unsigned(d.ids[0]))
        .member("device", unsigned(d.ids[1]))
        .member("subsystem_vendor", unsigned(d.ids[2]))
        .member("subsystem", unsigned(d.ids[3]))
        .member("bus", unsigned(d.location[0]))
        .member("slot", unsigned(d.location[1]))
        .member("function", unsigned(d.location[2]))
        .member("location", pciLocation(d))
        .endObject();
    json.member("port", unsigned(d.port));
    json.key("flags")
        .beginObject()
        .member("chassis_eeprom", d.chassisEeprom != 0)
        .member("extended_protection", d.extendedProtection != 0)
        .endObject();
    json.key("protected").beginArray();
    for (uint8_t address : d.protectedAddresses) json.value(int64_t(jsonAddress(address)));
    json.endArray();
}

void runList(bool verbose) {
    const std::vector<std::string> names = resourceNames();
    const bool asJson = commonOptions().json;
    JsonWriter json(std::cout);
    if (asJson) json.beginObject().key("resources").beginArray();
    bool failed = false;
    for (const std::string &name : names) {
        if (!verbose) {
            if (asJson) {
                json.value(name);
            } else {
                std::cout << terminalSafe(name) << '\n';
            }
            continue;
        }
        std::optional<PortDetails> details;
        std::optional<ToolError> error;
        try {
            Session session(name, false);
            details = readDetails(session);
        } catch (const ToolError &e) {
            error = e;
            failed = true;
        }
        if (asJson) {
            json.beginObject().member("name", name);
            if (details) writeDetails(json, *details);
            if (error) {
                json.member("error_message", error->what()).key("error");
                writeStatus(json, error->code().value_or(0));
            }
            json.endObject();
        } else {
            std::cout << terminalSafe(name) << '\n';
            if (details) printDetails(*details);
            if (error) {
                std::cout << "    error:            " << terminalSafe(error->what());
                if (error->code()) std::cout << ": " << formatStatus(*error->code());
                std::cout << '\n';
            }
        }
    }
    if (asJson) {
        json.endArray().endObject();
        json.finish();
    }
    if (failed) {
        ToolError error("some resources could not be opened or read");
        if (asJson) error.shownInDocument();
        throw error;
    }
}

}  // namespace

Command addListCommand(CLI::App &tool) {
    static bool verbose = false;
    CLI::App *app = tool.add_subcommand(
        "list",
        "List every resource name; with -v, each port's texts, PCI identity and location, "
        "flags and protected addresses");
    app->add_flag("-v,--verbose", verbose, "Show the details of every port");
    addJsonOption(*app);
    app->add_flag("--8bit", commonOptions().eightBit, "Show protected addresses in 8-bit form");
    addAcceptedYesOption(*app);
    return {app, "zelsmbus list [-v] [--json] [--8bit]", [] { runList(verbose); }};
}

}  // namespace zelsmbus_tool
