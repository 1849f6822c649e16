// Splits one fuzzer input into the pieces a target needs. Every text it hands
// out is an exactly-sized heap copy, so AddressSanitizer sees any read past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace zelfuzz {

// Stops the run loudly: libFuzzer records the input as a crash.
[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
#define ZELFUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::zelfuzz::fail(#condition " at " __FILE__))

// Exactly n bytes on the heap; new[] of 0 still gives a unique pointer that
// may not be read.
class tExactBytes {
public:
    tExactBytes(const uint8_t *data, size_t n) : bytes_(new uint8_t[n]), size_(n) {
        if (n != 0) std::memcpy(bytes_.get(), data, n);
    }
    uint8_t *data() { return bytes_.get(); }
    const char *text() const { return reinterpret_cast<const char *>(bytes_.get()); }
    char *text() { return reinterpret_cast<char *>(bytes_.get()); }
    size_t size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_;
};

class tFuzzInput {
public:
    tFuzzInput(const uint8_t *data, size_t size) : data_(data), left_(size) {}

    size_t left() const { return left_; }

    template <typename T>
    T take() {
        T value{};
        const size_t n = left_ < sizeof(T) ? left_ : sizeof(T);
        std::memcpy(&value, data_, n);
        data_ += n;
        left_ -= n;
        return value;
    }

    bool takeBool() { return (take<uint8_t>() & 1) != 0; }

    // Bytes up to the next NUL (or the end), as a NUL-terminated heap copy of
    // exactly length + 1 bytes. The NUL separator is consumed.
    tExactBytes takeText() {
        size_t n = 0;
        while (n < left_ && data_[n] != 0) ++n;
        std::vector<uint8_t> copy(data_, data_ + n);
        copy.push_back(0);
        const size_t used = n < left_ ? n + 1 : n;
        data_ += used;
        left_ -= used;
        return tExactBytes(copy.data(), copy.size());
    }

    // Up to `limit` raw bytes, not terminated.
    tExactBytes takeBytes(size_t limit) {
        const size_t n = left_ < limit ? left_ : limit;
        tExactBytes bytes(data_, n);
        data_ += n;
        left_ -= n;
        return bytes;
    }

    tExactBytes takeRest() { return takeBytes(left_); }

private:
    const uint8_t *data_;
    size_t left_;
};

}  // namespace zelfuzz
