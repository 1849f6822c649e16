// String helpers for recognising resource names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nZELSMBUS000 {

// Cuts `text` at every `separator`: each piece before an occurrence is a part
// (also an empty one), the piece after the last one only when it is not empty.
// "a::b::" gives a, b; "::a" gives "", a; "" gives nothing.
std::vector<std::string> splitResourceName(const std::string &text, const std::string &separator);

// Same length and equal character by character after tolower.
bool equalsIgnoreCase(const std::string &left, const std::string &right);

// Reads a whole decimal integer as "%d%n" does (leading blanks and a sign
// accepted) and succeeds only when it consumes all of `text` and fits in 32
// bits.
bool readWholeInteger(const std::string &text, int32_t &value);

}  // namespace nZELSMBUS000
