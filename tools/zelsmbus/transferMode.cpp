#include "transferMode.h"

#include "failure.h"

namespace zelsmbus_tool {
namespace {

struct ModeWord {
    const char *word;
    Mode mode;
    bool pecAllowed;
    const char *name;
};

constexpr ModeWord kModes[] = {
    {"b", Mode::Byte, true, "byte"},
    {"w", Mode::Word, true, "word"},
    {"c", Mode::SendReceive, true, "send/receive byte"},
    {"s", Mode::Block, true, "SMBus block"},
    {"i", Mode::I2CBlock, false, "I2C block"},
    {"call", Mode::Call, true, "process call"},
    {"bcall", Mode::BlockCall, true, "block process call"},
};

}  // namespace

bool looksLikeMode(const std::string &text) {
    return !text.empty() && !(text[0] >= '0' && text[0] <= '9');
}

TransferMode parseMode(const std::string &text, const std::string &allowed) {
    for (const ModeWord &entry : kModes) {
        const std::string word = entry.word;
        const bool plain = text == word;
        const bool withPec = entry.pecAllowed && text == word + "p";
        if (!plain && !withPec) continue;
        // allowed is a blank-separated list of the base words this command takes.
        if ((" " + allowed + " ").find(" " + word + " ") == std::string::npos) break;
        return {entry.mode, withPec, text};
    }
    throw UsageError("invalid mode \"" + text + "\" (this command takes: " + allowed +
                     "; a 'p' suffix asks for packet error checking)");
}

const char *modeName(Mode mode) {
    for (const ModeWord &entry : kModes) {
        if (entry.mode == mode) return entry.name;
    }
    return "?";
}

}  // namespace zelsmbus_tool
