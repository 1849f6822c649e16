// Mode letters of the transfer commands: b, w, c, s, i with a 'p' suffix for
// packet error checking, and the process calls; what each mode allows, in one
// table.
#pragma once

#include <cstdint>
#include <string>

namespace zelsmbus_tool {

enum class Mode {
    Byte,         // b: byte to or from a command code
    Word,         // w: word to or from a command code
    SendReceive,  // c: send byte (set), or send the command then receive a byte (get, dump)
    Block,        // s: SMBus block
    I2CBlock,     // i: I2C block
    Call,         // call: process call, a word out and a word back
    BlockCall,    // bcall: block process call
};

// What a mode is and what set may do with it.
struct ModeFacts {
    const char *word;  // as typed, without the 'p' suffix
    Mode mode;
    const char *name;       // "byte", "word", ... for messages
    bool pecAllowed;        // takes the 'p' suffix
    bool reads;             // get and dump take it
    unsigned fewestValues;  // set: how many values it takes
    unsigned mostValues;
    uint32_t largestValue;  // set: each value's limit
    bool masks;             // set -m: read, change the masked bits, write
    bool readsBack;         // set -r: the same mode reads the value back
    bool replies;           // set: the device answers (process calls), printed
};

const ModeFacts &modeFacts(Mode mode);

struct TransferMode {
    Mode mode = Mode::Byte;
    bool pec = false;
    std::string word;  // as typed, for messages

    const ModeFacts &facts() const { return modeFacts(mode); }
};

// True when text is meant as a mode (it does not start with a digit).
bool looksLikeMode(const std::string &text);
// Which commands a mode word is read for: get and dump read, set writes.
enum class ModeUse { Read, Write };
// Reads a mode word; throws UsageError, listing the modes of that use, when it
// is unknown or not one of them.
TransferMode parseMode(const std::string &text, ModeUse use);
// "byte", "word", ... for messages.
const char *modeName(Mode mode);

}  // namespace zelsmbus_tool
