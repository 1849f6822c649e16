// The request envelope every driver command carries: where the caller's input
// and output buffers are, their sizes, and the result word the driver fills.
// The one place its layout is written down on the simulator's side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zelsim::envelope {

constexpr size_t kSize = 32;
constexpr size_t kIn = 0;        // const void *: the input buffer
constexpr size_t kOut = 8;       // void *: the output buffer
constexpr size_t kInSize = 16;   // uint32_t
constexpr size_t kOutSize = 20;  // uint32_t
constexpr size_t kResult = 24;   // int32_t: the driver status word, filled on success

struct View {
    const uint8_t *in;
    uint8_t *out;
    uint32_t inSize;
    uint32_t outSize;
};

template <typename T>
T load(const uint8_t *envelope, size_t offset) {
    T value;
    std::memcpy(&value, envelope + offset, sizeof value);
    return value;
}

template <typename T>
void store(uint8_t *envelope, size_t offset, T value) {
    std::memcpy(envelope + offset, &value, sizeof value);
}

inline View read(const uint8_t *envelope) {
    return {load<const uint8_t *>(envelope, kIn), load<uint8_t *>(envelope, kOut),
            load<uint32_t>(envelope, kInSize), load<uint32_t>(envelope, kOutSize)};
}

inline void write(uint8_t *envelope, const View &view) {
    store(envelope, kIn, view.in);
    store(envelope, kOut, view.out);
    store(envelope, kInSize, view.inSize);
    store(envelope, kOutSize, view.outSize);
}

}  // namespace zelsim::envelope
