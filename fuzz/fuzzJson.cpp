// The JSON scanner, the in-place writer and the tJsonStatus buffer operations
// on arbitrary texts and buffer sizes.
//
// Input: a stream of operations (see the switch below) with their texts.
//  * the scanner must agree with an independent reference scanner of the same
//    grammar on every text;
//  * the writer works in an exactly-sized buffer of a fuzzed capacity: an
//    insertion either fails and leaves every byte unchanged, or writes exactly
//    the escaped member in front of the returned position, keeps the text
//    scanning, the zero fill and the end mark;
//  * tJsonStatus (setText, reserve, growFor, setCodeWithLocation, merge) keeps
//    its buffer laid out and its text scanning after every step.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzInput.h"
#include "status/jsonScanner.h"
#include "status/jsonWriter.h"
#include "status/tJsonStatus.h"

using namespace nZELSMBUS000;
using zelfuzz::tExactBytes;
using zelfuzz::tFuzzInput;

namespace {

// ---- reference scanner: the grammar written out once more ---------------

constexpr int kReferenceMaxNesting = 257;  // the library refuses deeper texts

struct tReferenceScanner {
    const char *p;
    bool ok = true;

    void space() {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    }
    static bool hex(char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }
    bool string() {
        if (*p != '"') return false;
        ++p;
        while (*p != '"') {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c < 0x20) return false;
            if (c == '\\') {
                const char e = p[1];
                if (e == 'u') {
                    for (int i = 2; i < 6; ++i)
                        if (!hex(p[i])) return false;
                    p += 6;
                    continue;
                }
                if (e == '\0' || std::strchr("\"/\\bfnrt", e) == nullptr) return false;
                p += 2;
                continue;
            }
            ++p;
        }
        ++p;
        return true;
    }
    bool digits() {
        if (*p < '0' || *p > '9') return false;
        while (*p >= '0' && *p <= '9') ++p;
        return true;
    }
    bool number() {
        const char *start = p;
        if (*p == '-') ++p;
        if (!digits()) {
            p = start;
            return false;
        }
        if (*p == '.') {
            ++p;
            if (!digits()) return false;  // a number that started but broke: no other form fits
        }
        if (*p == 'e' || *p == 'E') {
            ++p;
            if (*p == '+' || *p == '-') ++p;
            if (!digits()) return false;
        }
        return true;
    }
    bool word(const char *w) {
        const size_t n = std::strlen(w);
        if (std::strncmp(p, w, n) != 0) return false;
        p += n;
        return true;
    }
    bool value(int nesting) {
        if (*p == '"') return string();
        if (*p == '-' || (*p >= '0' && *p <= '9')) return number();
        if (*p == '{' || *p == '[') {
            if (!container(nesting + 1)) return false;
            ++p;
            return true;
        }
        return word("true") || word("false") || word("null");
    }
    // On success p is at the closing bracket.
    bool container(int nesting) {
        if (nesting > kReferenceMaxNesting) return false;
        const char open = *p;
        if (open != '{' && open != '[') return false;
        const char close = open == '{' ? '}' : ']';
        ++p;
        space();
        if (*p == close) return true;
        for (;;) {
            if (open == '{') {
                if (!string()) return false;
                space();
                if (*p != ':') return false;
                ++p;
                space();
            }
            if (!value(nesting)) return false;
            space();
            if (*p == close) return true;
            if (*p != ',') return false;
            ++p;
            space();
        }
    }
};

const char *referenceScan(const char *text) {
    tReferenceScanner scanner{text};
    return scanner.container(1) ? scanner.p : nullptr;
}

std::string referenceEscape(const char *text) {
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        switch (*p) {
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (*p < 0x20 || *p == 0x7F) {
                    char u[7];
                    std::snprintf(u, sizeof u, "\\u%04x", *p);
                    out += u;
                } else {
                    out += static_cast<char>(*p);
                }
        }
    }
    return out;
}

// ---- buffer layout ---------------------------------------------------------

void checkLayout(const char *buffer, size_t capacity) {
    ZELFUZZ_CHECK(capacity >= 2 && buffer[capacity - 1] == 'J');
    const size_t length = strnlen(buffer, capacity - 1);
    ZELFUZZ_CHECK(length <= capacity - 2);
    bool zeroFill = true;
    for (size_t i = length; i < capacity - 1; ++i) zeroFill &= buffer[i] == '\0';
    ZELFUZZ_CHECK(zeroFill);
    ZELFUZZ_CHECK(scanJsonContainer(buffer) != nullptr);
}

void checkRecord(const tJsonStatus &record) {
    if (record.text == nullptr) {
        ZELFUZZ_CHECK(record.capacity == 0);
        return;
    }
    checkLayout(record.text, record.capacity);
}

// ---- the writer in a buffer of its own ------------------------------------

void fuzzWriter(tFuzzInput &input) {
    const size_t capacity = 2 + input.take<uint16_t>() % 2048;
    tExactBytes start = input.takeText();
    const char *initial = "{}";
    if (start.text()[0] == '{' && std::strlen(start.text()) <= capacity - 2 &&
        scanJsonContainer(start.text()) != nullptr)
        initial = start.text();
    const size_t initialLength = std::strlen(initial);
    if (initialLength > capacity - 2) return;

    std::vector<char> layout(capacity, '\0');
    std::memcpy(layout.data(), initial, initialLength);
    layout[capacity - 1] = 'J';
    tExactBytes buffer(reinterpret_cast<const uint8_t *>(layout.data()), capacity);
    char *text = buffer.text();
    checkLayout(text, capacity);

    char *position = const_cast<char *>(scanJsonContainer(text));
    int depth = 0;
    for (int step = 0; step < 16 && input.left() != 0 && position != nullptr; ++step) {
        const uint8_t op = input.take<uint8_t>() % 4;
        const std::vector<char> before(text, text + capacity);
        const size_t offset = static_cast<size_t>(position - text);
        const bool empty = [&] {
            const char *p = position - 1;
            while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') --p;
            return *p == '{';
        }();
        std::string member;
        char *after = nullptr;
        if (op == 0) {
            tExactBytes key = input.takeText();
            tExactBytes value = input.takeText();
            after = addString(position, key.text(), value.text());
            member = "\"" + referenceEscape(key.text()) + "\":\"" + referenceEscape(value.text()) + "\"";
        } else if (op == 1) {
            tExactBytes key = input.takeText();
            const int32_t value = input.take<int32_t>();
            after = addInteger(position, key.text(), value);
            member = "\"" + referenceEscape(key.text()) + "\":" + std::to_string(value);
        } else if (op == 2) {
            tExactBytes key = input.takeText();
            after = addObject(position, key.text());
            member = "\"" + referenceEscape(key.text()) + "\":{";
        } else {
            if (depth == 0) continue;
            position = closeObject(position);
            --depth;
            ZELFUZZ_CHECK(*position == '}');
            continue;
        }
        if (after == nullptr) {
            ZELFUZZ_CHECK(std::memcmp(before.data(), text, capacity) == 0);
            break;
        }
        const std::string written = (empty ? "" : ",") + member;
        ZELFUZZ_CHECK(after >= text + offset && after < text + capacity);
        ZELFUZZ_CHECK(size_t(after - (text + offset)) == written.size());
        ZELFUZZ_CHECK(std::memcmp(text + offset, written.data(), written.size()) == 0);
        // The rest of the text moved along unchanged.
        ZELFUZZ_CHECK(std::strcmp(after + (op == 2 ? 1 : 0), before.data() + offset) == 0);
        checkLayout(text, capacity);
        if (op == 2) {
            ++depth;
            ZELFUZZ_CHECK(*after == '}');
        }
        position = after;
    }
}

// ---- tJsonStatus -------------------------------------------------------------

// A second buffer routine, so that merge takes its copying road too.
bool otherResize(tJsonStatus *record, int64_t size) { return resizeJsonText(record, size); }

int64_t fuzzedReserve(tFuzzInput &input) {
    const uint8_t kind = input.take<uint8_t>() % 8;
    if (kind == 0) return -1 - input.take<uint8_t>();
    if (kind == 1) return kMaxJsonTextLength + 1 + input.take<uint8_t>();
    return input.take<uint16_t>() % 4096;
}

void fuzzRecords(tFuzzInput &input) {
    tJsonStatus records[2];
    if (input.takeBool()) records[1].resize = otherResize;
    for (int step = 0; step < 24 && input.left() != 0; ++step) {
        const uint8_t op = input.take<uint8_t>();
        tJsonStatus &record = records[op >> 7];
        tJsonStatus &other = records[1 - (op >> 7)];
        switch (op % 6) {
            case 0: {
                tExactBytes json = input.takeText();
                const bool useNull = input.takeBool();
                const char *wanted = useNull ? "{}" : json.text();
                char *last = record.setText(useNull ? nullptr : json.text());
                if (last != nullptr) {
                    const size_t length = std::strlen(wanted);
                    ZELFUZZ_CHECK(std::strcmp(record.text, wanted) == 0);
                    ZELFUZZ_CHECK(last == record.text + (length > 0 ? length - 1 : 0));
                }
                // A text that does not scan is allowed in the buffer; only
                // check the layout's frame then.
                if (record.text != nullptr && scanJsonContainer(record.text) == nullptr) {
                    ZELFUZZ_CHECK(record.text[record.capacity - 1] == 'J');
                    record.setText(nullptr);
                }
                break;
            }
            case 1: {
                const int64_t n = fuzzedReserve(input);
                const uint32_t capacityBefore = record.capacity;
                char *closing = record.reserve(n);
                if (n < 0 || n > kMaxJsonTextLength) {
                    ZELFUZZ_CHECK(closing == nullptr && record.capacity == capacityBefore);
                } else if (closing != nullptr) {
                    ZELFUZZ_CHECK(record.capacity >= uint64_t(n) + 2);
                    ZELFUZZ_CHECK(*closing == '}' || *closing == ']');
                }
                break;
            }
            case 2: {
                if (record.text == nullptr) {
                    ZELFUZZ_CHECK(record.growFor(nullptr) == nullptr);
                    break;
                }
                char *closing = const_cast<char *>(scanJsonContainer(record.text));
                if (closing == nullptr || record.capacity > 8192) break;
                const size_t offset = static_cast<size_t>(closing - record.text);
                const uint32_t capacityBefore = record.capacity;
                char *moved = record.growFor(closing);
                ZELFUZZ_CHECK(moved != nullptr);
                ZELFUZZ_CHECK(moved == record.text + offset && (*moved == '}' || *moved == ']'));
                ZELFUZZ_CHECK(record.capacity >= 2 * capacityBefore - 4);
                break;
            }
            case 3: {
                tExactBytes file = input.takeText();
                tExactBytes component = input.takeText();
                tExactBytes constant = input.takeText();
                const int32_t code = input.take<int32_t>();
                const int32_t line = input.take<int32_t>();
                const bool withComponent = input.takeBool();
                const int32_t before = record.code;
                bool ok = false;
                const bool changed = record.setCodeWithLocation(
                    code, {file.text(), line, withComponent ? component.text() : nullptr,
                           constant.text()},
                    ok);
                ZELFUZZ_CHECK(changed == ((before == 0 && code != 0) || (before > 0 && code < 0)));
                if (changed) {
                    ZELFUZZ_CHECK(ok && record.text != nullptr);
                    std::string expected = "{\"error_constant\":\"" + referenceEscape(constant.text()) +
                                           "\",\"file\":\"" + referenceEscape(file.text()) +
                                           "\",\"line\":" + std::to_string(line);
                    if (withComponent)
                        expected += ",\"component\":\"" + referenceEscape(component.text()) + "\"";
                    expected += "}";
                    ZELFUZZ_CHECK(expected == record.text);
                }
                break;
            }
            case 4: {
                bool ok = false;
                const int32_t before = record.code;
                const bool hadText = other.text != nullptr;
                const std::string otherText = hadText ? other.text : "";
                const bool changed = record.merge(other, ok);
                ZELFUZZ_CHECK(changed ==
                              ((before == 0 && other.code != 0) || (before > 0 && other.code < 0)));
                if (changed && hadText) ZELFUZZ_CHECK(ok && otherText == record.text);
                if (changed && record.resize == other.resize) ZELFUZZ_CHECK(other.text == nullptr);
                break;
            }
            default: {
                const int32_t code = input.take<int32_t>();
                const bool hadText = record.text != nullptr;
                const bool changed = record.setCode(code);
                if (changed && hadText) ZELFUZZ_CHECK(std::strcmp(record.text, "{}") == 0);
                break;
            }
        }
        checkRecord(records[0]);
        checkRecord(records[1]);
    }
    records[0].releaseText();
    records[1].releaseText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    tFuzzInput input(data, size);
    const uint8_t mode = input.take<uint8_t>() % 3;
    if (mode == 0) {
        tExactBytes text = input.takeRest();
        std::vector<char> terminated(text.text(), text.text() + text.size());
        terminated.push_back('\0');
        tExactBytes exact(reinterpret_cast<const uint8_t *>(terminated.data()), terminated.size());
        ZELFUZZ_CHECK(scanJsonContainer(exact.text()) == referenceScan(exact.text()));
    } else if (mode == 1) {
        fuzzWriter(input);
    } else {
        fuzzRecords(input);
    }
    return 0;
}
