// An allocation-free line builder for trace records: appends to a caller's
// buffer and remembers when it ran out of room. Safe in a signal handler.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelsim::trace {

class Writer {
public:
    Writer(char *buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    Writer &raw(const char *text) {
        while (*text != '\0') put(*text++);
        return *this;
    }
    Writer &u64(uint64_t value) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) put(digits[--n]);
        return *this;
    }
    Writer &i64(int64_t value) {
        if (value < 0) {
            put('-');
            return u64(static_cast<uint64_t>(0) - static_cast<uint64_t>(value));
        }
        return u64(static_cast<uint64_t>(value));
    }
    Writer &hex(const uint8_t *bytes, size_t size) {
        static const char digits[] = "0123456789abcdef";
        for (size_t i = 0; i < size; ++i) {
            put(digits[bytes[i] >> 4]);
            put(digits[bytes[i] & 15]);
        }
        return *this;
    }
    // A JSON string literal: quotes, backslashes and control bytes escaped.
    Writer &string(const char *text) {
        static const char digits[] = "0123456789abcdef";
        put('"');
        for (; *text != '\0'; ++text) {
            unsigned char c = static_cast<unsigned char>(*text);
            if (c == '"' || c == '\\') {
                put('\\');
                put(static_cast<char>(c));
            } else if (c < 0x20 || c == 0x7F) {
                raw("\\u00");
                put(digits[c >> 4]);
                put(digits[c & 15]);
            } else {
                put(static_cast<char>(c));
            }
        }
        put('"');
        return *this;
    }
    size_t size() const { return size_; }
    bool overflowed() const { return overflowed_; }

private:
    void put(char c) {
        if (size_ < capacity_) {
            buffer_[size_++] = c;
        } else {
            overflowed_ = true;
        }
    }
    char *buffer_;
    size_t capacity_;
    size_t size_ = 0;
    bool overflowed_ = false;
};

}  // namespace zelsim::trace
