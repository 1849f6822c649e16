#include "transferMode.h"

#include <zelsmbus.h>

#include "failure.h"

namespace zelsmbus_tool {
namespace {

// clang-format off
constexpr ModeFacts kModes[] = {
    // word    mode              name                 pec    reads  values (fewest, most, largest)  mask   back   reply
    {"b",     Mode::Byte,        "byte",              true,  true,  1, 1,                 0xFF,   true,  true,  false},
    {"w",     Mode::Word,        "word",              true,  true,  1, 1,                 0xFFFF, true,  true,  false},
    {"c",     Mode::SendReceive, "send/receive byte", true,  true,  0, 0,                 0xFF,   false, false, false},
    {"s",     Mode::Block,       "SMBus block",       true,  true,  1, ZELSMBUS_BLOCK_MAX, 0xFF,  false, true,  false},
    {"i",     Mode::I2CBlock,    "I2C block",         false, true,  1, ZELSMBUS_I2C_MAX,  0xFF,   false, true,  false},
    {"call",  Mode::Call,        "process call",      true,  false, 1, 1,                 0xFFFF, false, false, true},
    {"bcall", Mode::BlockCall,   "block process call", true, false, 1, ZELSMBUS_BLOCK_MAX, 0xFF,  false, false, true},
};
// clang-format on

}  // namespace

const ModeFacts &modeFacts(Mode mode) {
    for (const ModeFacts &entry : kModes) {
        if (entry.mode == mode) return entry;
    }
    return kModes[0];  // every Mode has a row
}

bool looksLikeMode(const std::string &text) {
    return !text.empty() && !(text[0] >= '0' && text[0] <= '9');
}

TransferMode parseMode(const std::string &text, ModeUse use) {
    std::string allowed;
    for (const ModeFacts &entry : kModes) {
        if (use == ModeUse::Write || entry.reads) {
            allowed += (allowed.empty() ? "" : " ") + std::string(entry.word);
        }
    }
    for (const ModeFacts &entry : kModes) {
        const std::string word = entry.word;
        const bool plain = text == word;
        const bool withPec = entry.pecAllowed && text == word + "p";
        if (!plain && !withPec) continue;
        if (use == ModeUse::Read && !entry.reads) break;
        return {entry.mode, withPec, text};
    }
    throw UsageError("invalid mode \"" + text + "\" (this command takes: " + allowed +
                     "; a 'p' suffix asks for packet error checking)");
}

const char *modeName(Mode mode) { return modeFacts(mode).name; }

}  // namespace zelsmbus_tool
