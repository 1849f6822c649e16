// zelsmbus detect: which addresses answer on a bus, as a grid of 7-bit addresses.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "jsonWriter.h"
#include "options.h"
#include "session.h"

namespace zelsmbus_tool {
namespace {

enum class Probe { Absent, Found, Protected };

// A quick write can change the state of some chips (it is a one-bit write), and
// serial EEPROMs in 0x50-0x5f take it as the start of a write; there, and in
// 0x30-0x37, a receive byte is the safe probe.
bool probeWithRead(uint8_t address7) {
    return (address7 >= 0x30 && address7 <= 0x37) || (address7 >= 0x50 && address7 <= 0x5F);
}

Probe probe(const Session &session, const std::vector<uint8_t> &protectedList, uint8_t address7) {
    if (std::find(protectedList.begin(), protectedList.end(), address7) != protectedList.end()) {
        // The library would refuse (or, for a quick write, silently skip) it.
        return Probe::Protected;
    }
    int32_t status;
    if (probeWithRead(address7)) {
        uint8_t data = 0;
        status = ZELSMBusReceiveByte(session.handle(), toWire(address7), 0, &data);
    } else {
        status = ZELSMBusQuickWrite(session.handle(), toWire(address7));
    }
    return status >= 0 ? Probe::Found : Probe::Absent;
}

struct DetectArgs {
    std::string resource;
    std::vector<std::string> range;  // FIRST LAST, or nothing
};

void runDetect(const DetectArgs &args) {
    const CommonOptions &options = commonOptions();
    if (args.range.size() == 1) throw UsageError("LAST is missing: give both FIRST and LAST");
    const AddressRange range = parseAddressRange(args.range.empty() ? "" : args.range[0],
                                                 args.range.empty() ? "" : args.range[1]);
    const std::string &resource = args.resource;
    Session session(resource, options.unrestricted);
    std::vector<uint8_t> protectedList;
    if (!session.unrestricted()) protectedList = session.protectedAddresses();
    const int first = range.first;
    const int last = range.last;

    std::vector<Probe> results(0x80, Probe::Absent);
    for (int address = first; address <= last; ++address) {
        results[address] = probe(session, protectedList, static_cast<uint8_t>(address));
    }

    if (options.json) {
        JsonWriter json(std::cout);
        json.beginObject()
            .member("resource", resource)
            .member("address_bits", options.eightBit ? 8 : 7)
            .member("first", jsonAddress(first))
            .member("last", jsonAddress(last));
        for (Probe kind : {Probe::Found, Probe::Protected}) {
            json.key(kind == Probe::Found ? "found" : "protected").beginArray();
            for (int address = first; address <= last; ++address) {
                if (results[address] == kind) json.value(int64_t(jsonAddress(address)));
            }
            json.endArray();
        }
        json.endObject();
        json.finish();
        return;
    }

    bool anyProtected = false;
    std::cout << "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
    for (int row = 0; row < 0x80; row += 16) {
        char text[16];
        std::snprintf(text, sizeof text, "%02x: ", row);
        std::cout << text;
        for (int address = row; address < row + 16; ++address) {
            if (address < first || address > last) {
                std::cout << "   ";
            } else if (results[address] == Probe::Found) {
                std::snprintf(text, sizeof text, "%02x ", address);
                std::cout << text;
            } else if (results[address] == Probe::Protected) {
                std::cout << "PP ";
                anyProtected = true;
            } else {
                std::cout << "-- ";
            }
        }
        std::cout << '\n';
    }
    if (anyProtected) {
        std::cerr << "PP: protected address, not probed (--unrestricted probes it)\n";
    }
}

}  // namespace

Command addDetectCommand(CLI::App &tool) {
    static DetectArgs args;
    CLI::App *app = tool.add_subcommand(
        "detect",
        "Probe the addresses 0x03-0x77 (or FIRST-LAST) of a bus and draw the answers "
        "as a grid");
    app->add_option("RESOURCE", args.resource, "Resource name, as 'zelsmbus list' shows it")
        ->required();
    app->add_option("FIRST LAST", args.range,
                    "Probe only these addresses (7-bit unless --8bit; within 0x03-0x77, or "
                    "0x00-0x7f with -a)")
        ->expected(0, 2);
    addJsonOption(*app);
    app->add_flag("-a,--all-addresses", commonOptions().allAddresses,
                  "Probe all addresses 0x00-0x7f");
    app->add_flag("--8bit", commonOptions().eightBit,
                  "Type FIRST and LAST and give addresses in JSON in 8-bit form");
    addUnrestrictedOption(*app);
    addAcceptedYesOption(*app);
    return {app, "zelsmbus detect [OPTIONS] RESOURCE [FIRST LAST]", [] { runDetect(args); }};
}

}  // namespace zelsmbus_tool
