// zelsmbus detect: which addresses answer on a bus, as a grid of 7-bit addresses.
#include <zelsmbus.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "detectProbe.h"
#include "failure.h"
#include "jsonWriter.h"
#include "options.h"
#include "session.h"
#include "statusText.h"

namespace zelsmbus_tool {

// A quick write can change the state of some chips (it is a one-bit write), and
// serial EEPROMs in 0x50-0x5f take it as the start of a write; there, and in
// 0x30-0x37, a receive byte is the safe probe.
bool probeWithRead(uint8_t address7) {
    return (address7 >= 0x30 && address7 <= 0x37) || (address7 >= 0x50 && address7 <= 0x5F);
}

namespace {

// What one address gave: a device answered, nothing acknowledged, the tool
// skipped it (protected), or it could not be probed (status says why).
enum class Probe { Absent, Found, Protected, Unprobed };

struct ProbeResult {
    Probe kind = Probe::Absent;
    int32_t status = 0;
};

ProbeResult probe(const Session &session, const std::vector<uint8_t> &protectedList,
                  ScanBudget &budget, uint8_t address7) {
    if (std::find(protectedList.begin(), protectedList.end(), address7) != protectedList.end()) {
        // The library would refuse (or, for a quick write, silently skip) it.
        return {Probe::Protected, ZELSMBUS_ERROR_PROTECTED};
    }
    const int32_t status = budget.run([&] {
        if (probeWithRead(address7)) {
            uint8_t data = 0;
            return ZELSMBusReceiveByte(session.handle(), toWire(address7), 0, &data);
        }
        return ZELSMBusQuickWrite(session.handle(), toWire(address7));
    });
    if (status >= 0) return {Probe::Found, status};
    return {isNoAcknowledgement(status) ? Probe::Absent : Probe::Unprobed, status};
}

struct DetectArgs {
    std::string resource;
    std::vector<std::string> range;  // FIRST LAST, or nothing
};

void writeJson(const std::string &resource, int first, int last,
               const std::vector<ProbeResult> &results) {
    JsonWriter json(std::cout);
    json.beginObject()
        .member("resource", resource)
        .member("address_bits", commonOptions().eightBit ? 8 : 7)
        .member("first", jsonAddress(first))
        .member("last", jsonAddress(last));
    for (Probe kind : {Probe::Found, Probe::Protected}) {
        json.key(kind == Probe::Found ? "found" : "protected").beginArray();
        for (int address = first; address <= last; ++address) {
            if (results[address].kind == kind) json.value(int64_t(jsonAddress(address)));
        }
        json.endArray();
    }
    json.key("unprobed").beginArray();
    for (int address = first; address <= last; ++address) {
        if (results[address].kind != Probe::Unprobed) continue;
        json.beginObject().member("address", jsonAddress(address)).key("error");
        writeStatus(json, results[address].status);
        json.endObject();
    }
    json.endArray();
    json.endObject();
    json.finish();
}

void printGrid(int first, int last, const std::vector<ProbeResult> &results) {
    std::cout << "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
    for (int row = 0; row < 0x80; row += 16) {
        char text[16];
        std::snprintf(text, sizeof text, "%02x: ", row);
        std::cout << text;
        for (int address = row; address < row + 16; ++address) {
            if (address < first || address > last) {
                std::cout << "   ";
                continue;
            }
            switch (results[address].kind) {
                case Probe::Found:
                    std::snprintf(text, sizeof text, "%02x ", address);
                    std::cout << text;
                    break;
                case Probe::Protected:
                    std::cout << "PP ";
                    break;
                case Probe::Unprobed:
                    std::cout << "UU ";
                    break;
                case Probe::Absent:
                    std::cout << "-- ";
                    break;
            }
        }
        std::cout << '\n';
    }
}

// The first failure that kept an address from being probed, in the user's words.
[[noreturn]] void failUnprobed(const std::string &resource, int first, int last,
                               const std::vector<ProbeResult> &results) {
    int count = 0;
    int32_t status = 0;
    for (int address = first; address <= last; ++address) {
        if (results[address].kind != Probe::Unprobed) continue;
        if (count++ == 0) status = results[address].status;
    }
    const std::string what = "could not probe " + std::to_string(count) +
                             (count == 1 ? " address" : " addresses") + " of " + resource + " (UU)";
    try {
        check(status, what);  // an error: throws, with the next step for a busy bus
    } catch (ToolError &error) {
        if (commonOptions().json) error.shownInDocument();
        throw;
    }
    throw ToolError(what, status);
}

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

    std::vector<ProbeResult> results(0x80);
    ScanBudget budget;
    bool anyProtected = false, anyUnprobed = false;
    for (int address = first; address <= last; ++address) {
        results[address] = probe(session, protectedList, budget, static_cast<uint8_t>(address));
        anyProtected = anyProtected || results[address].kind == Probe::Protected;
        anyUnprobed = anyUnprobed || results[address].kind == Probe::Unprobed;
    }

    if (options.json) {
        writeJson(resource, first, last, results);
    } else {
        printGrid(first, last, results);
        if (anyProtected) {
            std::cerr << "PP: protected address, not probed (--unrestricted probes it)\n";
        }
    }
    if (anyUnprobed) failUnprobed(resource, first, last, results);
}

}  // namespace

Command addDetectCommand(CLI::App &tool) {
    static DetectArgs args;
    CLI::App *app = tool.add_subcommand(
        "detect",
        "Probe the addresses 0x03-0x77 (or FIRST-LAST) of a bus and draw the answers "
        "as a grid: the address where a device answered, -- where none did, PP for a "
        "protected address not probed, UU for one that could not be probed (the bus "
        "lock held by another program, or an error other than no acknowledgement; "
        "the exit status is then 1)");
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
