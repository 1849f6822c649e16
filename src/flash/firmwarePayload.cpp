#include "flash/firmwarePayload.h"

#include <climits>

extern "C" {
#include <b64/cdecode.h>
}

namespace nZELSMBUS000 {

size_t decodedPayloadLength(const char *text, size_t length) {
    size_t symbols = 0;
    for (size_t index = 0; index < length; ++index)
        if (base64_decode_value(text[index]) >= 0) ++symbols;
    static constexpr size_t kTailBytes[4] = {0, 0, 1, 2};
    return symbols / 4 * 3 + kTailBytes[symbols % 4];
}

size_t decodePayload(const char *text, size_t length, uint8_t *out) {
    base64_decodestate state;
    base64_init_decodestate(&state);
    size_t decoded = 0;
    // The decoder counts in int; feed it in pieces, its state carries across.
    while (length > 0) {
        const size_t piece = length < size_t(INT_MAX / 2) ? length : size_t(INT_MAX / 2);
        decoded += static_cast<size_t>(base64_decode_block(
            text, static_cast<int>(piece), reinterpret_cast<char *>(out + decoded), &state));
        text += piece;
        length -= piece;
    }
    return decoded;
}

}  // namespace nZELSMBUS000
