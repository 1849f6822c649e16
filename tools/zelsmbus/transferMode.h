// Mode letters of the transfer commands: b, w, c, s, i with a 'p' suffix for
// packet error checking, and the process calls.
#pragma once

#include <string>

namespace zelsmbus_tool {

enum class Mode {
    Byte,          // b: byte to or from a command code
    Word,          // w: word to or from a command code
    SendReceive,   // c: send byte (set), or send the command then receive a byte (get, dump)
    Block,         // s: SMBus block
    I2CBlock,      // i: I2C block
    Call,          // call: process call, a word out and a word back
    BlockCall,     // bcall: block process call
};

struct TransferMode {
    Mode mode = Mode::Byte;
    bool pec = false;
    std::string word;  // as typed, for messages
};

// True when text is meant as a mode (it does not start with a digit).
bool looksLikeMode(const std::string &text);
// Reads a mode word; throws UsageError when it is unknown or not one of allowed.
TransferMode parseMode(const std::string &text, const std::string &allowed);
// "byte", "word", ... for messages.
const char *modeName(Mode mode);

}  // namespace zelsmbus_tool
