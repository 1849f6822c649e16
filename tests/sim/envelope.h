// The driver's request envelope as a client builds it, from its own byte
// offsets: input and output addresses, then their sizes. One definition for
// the simulator's tests and their driver client.
#pragma once

#include <cstdint>
#include <cstring>

namespace simtest {

constexpr size_t kEnvelopeSize = 32;

// The ioctl request of driver command `number`: direction bits (1 write,
// 2 read, 3 both), the envelope's size and the driver's type 0x2E.
inline uint32_t requestCode(unsigned direction, unsigned number) {
    return (direction << 30) | (uint32_t(kEnvelopeSize) << 16) | (0x2Eu << 8) | number;
}

// Fills envelope with the two buffers and their sizes; the rest stays zero.
inline void packEnvelope(uint8_t (&envelope)[kEnvelopeSize], const void *in, uint32_t inSize,
                         void *out, uint32_t outSize) {
    std::memset(envelope, 0, sizeof envelope);
    std::memcpy(envelope + 0, &in, 8);
    std::memcpy(envelope + 8, &out, 8);
    std::memcpy(envelope + 16, &inSize, 4);
    std::memcpy(envelope + 20, &outSize, 4);
}

}  // namespace simtest
