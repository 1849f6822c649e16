#include "status/jsonScanner.h"

#include <cctype>
#include <cstring>

namespace nZELSMBUS000 {
namespace {

// Deeper nesting than this is refused rather than risking the stack.
constexpr int kMaxDepth = 256;

class tScanner {
public:
    // Each scan function returns the position just past what it matched, or null.
    const char *container(const char *p, int depth) {
        if (depth > kMaxDepth) return nullptr;
        if (*p == '{') return members(p + 1, depth);
        if (*p == '[') return elements(p + 1, depth);
        return nullptr;
    }

private:
    static const char *skipSpace(const char *p) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
        return p;
    }

    static bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    static const char *string(const char *p) {
        if (*p != '"') return nullptr;
        for (++p;; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c == '"') return p + 1;
            if (c < 0x20) return nullptr;  // also the end of the text
            if (c != '\\') continue;
            ++p;
            if (*p == 'u') {
                for (int i = 1; i <= 4; ++i) {
                    if (!isHex(p[i])) return nullptr;
                }
                p += 4;
            } else if (*p == '\0' || std::strchr("\"/\\bfnrt", *p) == nullptr) {
                return nullptr;
            }
        }
    }

    static const char *digits(const char *p) {
        if (!isDigit(*p)) return nullptr;
        while (isDigit(*p)) ++p;
        return p;
    }

    static const char *number(const char *p) {
        if (*p == '-') ++p;
        p = digits(p);
        if (p == nullptr) return nullptr;
        if (*p == '.') {
            p = digits(p + 1);
            if (p == nullptr) return nullptr;
        }
        if (*p == 'e' || *p == 'E') {
            ++p;
            if (*p == '+' || *p == '-') ++p;
            p = digits(p);
        }
        return p;
    }

    static const char *literal(const char *p, const char *word) {
        const size_t length = std::strlen(word);
        return std::strncmp(p, word, length) == 0 ? p + length : nullptr;
    }

    const char *value(const char *p, int depth) {
        if (const char *end = string(p)) return end;
        if (const char *end = number(p)) return end;
        if (*p == '{' || *p == '[') {
            const char *closing = container(p, depth + 1);
            return closing != nullptr ? closing + 1 : nullptr;
        }
        if (const char *end = literal(p, "true")) return end;
        if (const char *end = literal(p, "false")) return end;
        return literal(p, "null");
    }

    // After '{': members up to '}'; returns the position of the '}'.
    const char *members(const char *p, int depth) {
        p = skipSpace(p);
        if (*p == '}') return p;
        for (;;) {
            p = string(p);
            if (p == nullptr) return nullptr;
            p = skipSpace(p);
            if (*p != ':') return nullptr;
            p = value(skipSpace(p + 1), depth);
            if (p == nullptr) return nullptr;
            p = skipSpace(p);
            if (*p == '}') return p;
            if (*p != ',') return nullptr;
            p = skipSpace(p + 1);
        }
    }

    // After '[': values up to ']'; returns the position of the ']'.
    const char *elements(const char *p, int depth) {
        p = skipSpace(p);
        if (*p == ']') return p;
        for (;;) {
            p = value(p, depth);
            if (p == nullptr) return nullptr;
            p = skipSpace(p);
            if (*p == ']') return p;
            if (*p != ',') return nullptr;
            p = skipSpace(p + 1);
        }
    }
};

}  // namespace

const char *scanJsonContainer(const char *text) {
    if (text == nullptr) return nullptr;
    tScanner scanner;
    return scanner.container(text, 0);
}

}  // namespace nZELSMBUS000
