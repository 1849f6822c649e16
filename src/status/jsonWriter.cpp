#include "status/jsonWriter.h"

#include <cstdio>
#include <cstring>

namespace nZELSMBUS000 {
namespace {

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Two-byte escape letter for a byte, or 0 when it has none.
char shortEscape(unsigned char c) {
    switch (c) {
        case '\b':
            return 'b';
        case '\t':
            return 't';
        case '\n':
            return 'n';
        case '\f':
            return 'f';
        case '\r':
            return 'r';
        case '"':
            return '"';
        case '\\':
            return '\\';
        default:
            return 0;
    }
}

bool needsUnicodeEscape(unsigned char c) { return c < 0x20 || c == 0x7F; }

char *writeEscaped(char *out, const char *text) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p) {
        if (const char letter = shortEscape(*p)) {
            *out++ = '\\';
            *out++ = letter;
        } else if (needsUnicodeEscape(*p)) {
            char digits[7];
            std::snprintf(digits, sizeof digits, "\\u%04x", *p);
            std::memcpy(out, digits, 6);
            out += 6;
        } else {
            *out++ = static_cast<char>(*p);
        }
    }
    return out;
}

char *writeQuoted(char *out, const char *text) {
    *out++ = '"';
    out = writeEscaped(out, text);
    *out++ = '"';
    return out;
}

// Free room of the buffer: zero bytes between the text's NUL and the end mark.
size_t freeRoom(const char *position) {
    const char *end = position + std::strlen(position);
    size_t room = 0;
    for (const char *p = end + 1; *p == '\0'; ++p) ++room;
    return room;
}

bool objectIsEmpty(const char *position) {
    const char *p = position - 1;
    while (isJsonSpace(*p)) --p;
    return *p == '{' || *p == '[';
}

// Opens a gap for a member of `memberLength` bytes at the closing bracket and
// returns where the member goes (after the comma if one is needed), or null.
// `after` receives the position just past the member.
char *openGap(char *position, size_t memberLength, char *&after) {
    if (position == nullptr) return nullptr;
    const bool needsComma = !objectIsEmpty(position);
    const size_t needed = memberLength + (needsComma ? 1 : 0);
    if (freeRoom(position) < needed) return nullptr;
    std::memmove(position + needed, position, std::strlen(position) + 1);
    if (needsComma) *position++ = ',';
    after = position + memberLength;
    return position;
}

const char *orEmpty(const char *text) { return text != nullptr ? text : ""; }

}  // namespace

size_t escapedLength(const char *text) {
    size_t length = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(orEmpty(text)); *p != 0;
         ++p) {
        length += shortEscape(*p) ? 2 : needsUnicodeEscape(*p) ? 6 : 1;
    }
    return length;
}

char *addString(char *position, const char *key, const char *value) {
    key = orEmpty(key);
    value = orEmpty(value);
    char *after = nullptr;
    char *out = openGap(position, escapedLength(key) + escapedLength(value) + 5, after);
    if (out == nullptr) return nullptr;
    out = writeQuoted(out, key);
    *out++ = ':';
    writeQuoted(out, value);
    return after;
}

char *addInteger(char *position, const char *key, int32_t value) {
    key = orEmpty(key);
    char digits[16];
    const int digitCount = std::snprintf(digits, sizeof digits, "%i", static_cast<int>(value));
    char *after = nullptr;
    char *out = openGap(position, escapedLength(key) + 3 + static_cast<size_t>(digitCount), after);
    if (out == nullptr) return nullptr;
    out = writeQuoted(out, key);
    *out++ = ':';
    std::memcpy(out, digits, static_cast<size_t>(digitCount));
    return after;
}

char *addObject(char *position, const char *key) {
    key = orEmpty(key);
    char *after = nullptr;
    char *out = openGap(position, escapedLength(key) + 5, after);
    if (out == nullptr) return nullptr;
    out = writeQuoted(out, key);
    *out++ = ':';
    *out++ = '{';
    *out = '}';
    return out;
}

char *closeObject(char *position) { return position != nullptr ? position + 1 : nullptr; }

namespace {

template <typename Insert>
char *insertGrowing(char *position, tJsonGrow grow, void *argument, Insert insert) {
    while (position != nullptr) {
        if (char *after = insert(position)) return after;
        position = grow != nullptr ? grow(argument, position) : nullptr;
    }
    return nullptr;
}

}  // namespace

char *addString(char *position, const char *key, const char *value, tJsonGrow grow,
                void *argument) {
    return insertGrowing(position, grow, argument,
                         [&](char *at) { return addString(at, key, value); });
}

char *addInteger(char *position, const char *key, int32_t value, tJsonGrow grow, void *argument) {
    return insertGrowing(position, grow, argument,
                         [&](char *at) { return addInteger(at, key, value); });
}

char *addObject(char *position, const char *key, tJsonGrow grow, void *argument) {
    return insertGrowing(position, grow, argument, [&](char *at) { return addObject(at, key); });
}

}  // namespace nZELSMBUS000
