// A firmware image read just far enough to put it into a simulated flash (the
// world key firmware_image). The simulator never uses the library's code, so it
// keeps this small reader of its own: the fields it needs, the Base64 payload
// and the CRC that proves the payload whole. It checks nothing the library's
// update checks against a controller (subsystem, pin-out, versions).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelsim {

struct FlashImage {
    uint32_t offset = 0;   // Offset: where the region starts on 0xBF8E
    uint32_t version = 0;  // Version
    std::vector<uint8_t> bytes;
};

// False, with the reason in error, when the text is not a whole image.
bool readFlashImage(const std::string &text, FlashImage &image, std::string &error);

}  // namespace zelsim
