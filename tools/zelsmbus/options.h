// Options shared by several commands, and how addresses are read and shown.
#pragma once

#include <cstdint>
#include <string>

namespace CLI {
class App;
}

namespace zelsmbus_tool {

struct CommonOptions {
    bool json = false;          // machine-readable output
    bool eightBit = false;      // addresses in the library's 8-bit form
    bool unrestricted = false;  // open protected addresses (attribute 1001)
    bool allAddresses = false;  // -a: allow 0x00-0x07 and 0x78-0x7f
    bool yes = false;           // -y: do not ask
    std::string commandLine;    // the words after "zelsmbus", as typed, for hints
};

CommonOptions &commonOptions();

void addJsonOption(CLI::App &command);
void addAddressOptions(CLI::App &command);  // --8bit, -a
void addUnrestrictedOption(CLI::App &command);
void addYesOption(CLI::App &command);
// -y on a command that never asks: accepted, as scripts pass it to every command.
void addAcceptedYesOption(CLI::App &command);

// An unsigned number in C notation (0x1f, 017, 31) no larger than max.
uint32_t parseNumber(const std::string &text, uint32_t max, const char *what);

// A device address as typed (7-bit, or 8-bit with --8bit), returned 7-bit and
// checked against the allowed range.
uint8_t parseAddress(const std::string &text);

// The first and last 7-bit address of a detect range, typed as addresses are
// (FIRST LAST, both or neither); without them the whole allowed range.
struct AddressRange {
    uint8_t first, last;
};
AddressRange parseAddressRange(const std::string &first, const std::string &last);

// A register range "FIRST-LAST" (0-255, FIRST <= LAST), as the dump table takes it.
struct RegisterRange {
    unsigned first = 0, last = 0xFF;
};
RegisterRange parseRegisterRange(const std::string &text);

// The 7-bit address as the user reads addresses: "0x50", or "0xa0" with --8bit.
std::string showAddress(uint8_t address7);
// The number that JSON output carries for an address.
unsigned jsonAddress(uint8_t address7);

inline uint8_t toWire(uint8_t address7) { return static_cast<uint8_t>(address7 << 1); }

std::string hex2(unsigned value);  // "0x%02x"
std::string hex4(unsigned value);  // "0x%04x"

}  // namespace zelsmbus_tool
