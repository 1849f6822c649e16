#include "options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "failure.h"

namespace zelsmbus_tool {

CommonOptions &commonOptions() {
    static CommonOptions options;
    return options;
}

void addJsonOption(CLI::App &command) {
    command.add_flag("--json", commonOptions().json, "Print the result as JSON");
}

void addAddressOptions(CLI::App &command) {
    command.add_flag("--8bit", commonOptions().eightBit,
                     "Take and show addresses in 8-bit form (7-bit address shifted left)");
    command.add_flag("-a,--all-addresses", commonOptions().allAddresses,
                     "Allow addresses 0x00-0x07 and 0x78-0x7f (7-bit)");
}

void addUnrestrictedOption(CLI::App &command) {
    command.add_flag("--unrestricted", commonOptions().unrestricted,
                     "Open the session's protected addresses (sets attribute 1001)");
}

void addYesOption(CLI::App &command) {
    command.add_flag("-y,--yes", commonOptions().yes,
                     "Write without asking; without a terminal the command refuses to write "
                     "unless -y is given");
}

void addAcceptedYesOption(CLI::App &command) {
    command.add_flag("-y,--yes", commonOptions().yes,
                     "Accepted for scripts; this command writes nothing and never asks");
}

uint32_t parseNumber(const std::string &text, uint32_t max, const char *what) {
    // strtoul would accept a sign and leading blanks; a number here starts with a digit.
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        throw UsageError(std::string("invalid ") + what + " \"" + text + "\"");
    }
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0') throw UsageError(std::string("invalid ") + what + " \"" + text + "\"");
    if (errno == ERANGE || value > max) {
        throw UsageError(std::string(what) + " " + text + " is out of range (at most " +
                         std::to_string(max) + ")");
    }
    return static_cast<uint32_t>(value);
}

namespace {

// The address as typed, 7-bit; the range check is the caller's.
uint8_t typedAddress(const std::string &text, const char *what) {
    const bool eightBit = commonOptions().eightBit;
    const uint32_t typed = parseNumber(text, 0xFF, what);
    if (eightBit) return static_cast<uint8_t>(typed >> 1);
    if (typed > 0x7F) {
        throw UsageError(std::string(what) + " " + text +
                         " is out of range for a 7-bit address (at most 0x7f); " + text +
                         " is the 8-bit form of 7-bit " + hex2(typed >> 1) +
                         ": add --8bit to type 8-bit addresses");
    }
    return static_cast<uint8_t>(typed);
}

}  // namespace

uint8_t parseAddress(const std::string &text) {
    const uint8_t address7 = typedAddress(text, "address");
    if (!commonOptions().allAddresses && (address7 < 0x08 || address7 > 0x77)) {
        throw UsageError("address " + text + " is out of range (7-bit 0x08-0x77; -a allows all)");
    }
    return address7;
}

AddressRange parseAddressRange(const std::string &first, const std::string &last) {
    const bool all = commonOptions().allAddresses;
    const AddressRange allowed{uint8_t(all ? 0x00 : 0x03), uint8_t(all ? 0x7F : 0x77)};
    if (first.empty()) return allowed;
    const std::string limits = "7-bit " + hex2(allowed.first) + "-" + hex2(allowed.last) +
                               (all ? "" : "; -a allows 0x00-0x7f");
    AddressRange range{typedAddress(first, "FIRST"), typedAddress(last, "LAST")};
    if (range.first < allowed.first || range.first > allowed.last) {
        throw UsageError("FIRST " + first + " is out of range (" + limits + ")");
    }
    if (range.last < allowed.first || range.last > allowed.last) {
        throw UsageError("LAST " + last + " is out of range (" + limits + ")");
    }
    if (range.last < range.first) throw UsageError("LAST " + last + " is below FIRST " + first);
    return range;
}

RegisterRange parseRegisterRange(const std::string &text) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        throw UsageError("invalid range \"" + text + "\" (FIRST-LAST, such as 0x10-0x1f)");
    }
    RegisterRange range;
    range.first = parseNumber(text.substr(0, dash), 0xFF, "first register");
    range.last = parseNumber(text.substr(dash + 1), 0xFF, "last register");
    if (range.last < range.first) {
        throw UsageError("range " + text + ": the last register is below the first");
    }
    return range;
}

std::string hex2(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

std::string hex4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::string showAddress(uint8_t address7) { return hex2(jsonAddress(address7)); }

unsigned jsonAddress(uint8_t address7) {
    return commonOptions().eightBit ? static_cast<unsigned>(address7) << 1 : address7;
}

}  // namespace zelsmbus_tool
