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
    command.add_flag("-y,--yes", commonOptions().yes, "Do not ask for confirmation");
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

uint8_t parseAddress(const std::string &text) {
    const CommonOptions &options = commonOptions();
    const uint32_t typed = parseNumber(text, options.eightBit ? 0xFF : 0x7F, "address");
    const uint8_t address7 = static_cast<uint8_t>(options.eightBit ? typed >> 1 : typed);
    if (!options.allAddresses && (address7 < 0x08 || address7 > 0x77)) {
        throw UsageError("address " + text + " is out of range (7-bit 0x08-0x77; -a allows all)");
    }
    return address7;
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
