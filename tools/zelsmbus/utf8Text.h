// Texts from devices, EEPROMs and image files are bytes, not promised to be
// UTF-8: what may reach a terminal, and how a sequence is recognised.
#pragma once

#include <cstddef>
#include <string>

namespace zelsmbus_tool {

// Length of the well-formed UTF-8 sequence at text[at] (1-4), or 0 when the
// byte there does not start one (a stray continuation byte, an overlong form,
// a surrogate, a code point above U+10FFFF, a sequence cut short).
size_t utf8SequenceLength(const std::string &text, size_t at);

// The text with everything a terminal could act on written as an escape:
// C0 control bytes and DEL as \xHH, C1 controls (U+0080-U+009F) as \u00HH,
// bytes that are not well-formed UTF-8 as \xHH. Printable ASCII and valid
// UTF-8 (such as "Zürich") stay as they are; a backslash stays a backslash.
std::string terminalSafe(const std::string &text);

}  // namespace zelsmbus_tool
