// Asking before a write, as Linux I2C users expect.
#pragma once

#include <string>

namespace zelsmbus_tool {

// Whether to talk to a person: standard input is a terminal. The environment
// variable ZELSMBUS_INTERACTIVE=1 (or 0) overrides that decision, so that tests
// and wrappers can feed an answer through a pipe.
bool isInteractive();
// Whether progress may be drawn on the standard error stream.
bool errorIsTerminal();

// Returns when the user agreed (or -y was given); otherwise throws ToolError.
// A write with a danger text (a serial EEPROM, the firmware) shows that text too
// and asks "[y/N]", so that a bare Enter refuses.
void confirmWrite(const std::string &description, const std::string &danger = {});

// The danger text for a write to a 7-bit address, empty outside 0x50-0x57.
std::string eepromDanger(unsigned address7);

}  // namespace zelsmbus_tool
