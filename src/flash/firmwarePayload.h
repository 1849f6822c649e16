// Base64 payload of a firmware image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nZELSMBUS000 {

// Number of bytes the payload decodes to. Characters outside the Base64
// alphabet (padding, blanks, stray line feeds) carry nothing; a trailing group
// of two or three characters gives one or two bytes, a lone character none.
size_t decodedPayloadLength(const char *text, size_t length);

// Decodes the payload into out, which must hold decodedPayloadLength() + 1
// bytes (the decoder stores the start of an unfinished byte behind the last
// one). Returns the number of bytes decoded.
size_t decodePayload(const char *text, size_t length, uint8_t *out);

}  // namespace nZELSMBUS000
