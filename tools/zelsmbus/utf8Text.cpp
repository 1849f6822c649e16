#include "utf8Text.h"

#include <cstdio>

namespace zelsmbus_tool {

size_t utf8SequenceLength(const std::string &text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
        if (lead == 0xED) high = 0x9F;  // surrogates U+D800-U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong below U+10000
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;  // continuation byte, C0/C1 overlong lead, F5-FF
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

std::string terminalSafe(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    char escape[8];
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        const size_t length = utf8SequenceLength(text, at);
        if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F))) {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
            ++at;
        } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            // U+0080-U+009F: terminals take some of them (CSI, OSC) as commands.
            std::snprintf(escape, sizeof escape, "\\u%04x",
                          static_cast<unsigned char>(text[at + 1]));
            out += escape;
            at += 2;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

}  // namespace zelsmbus_tool
