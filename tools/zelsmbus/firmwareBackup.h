// The firmware installed in a controller's flash as an image of the project's
// own format, so that `zelsmbus firmware --force` can write it back.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <string>

namespace zelsmbus_tool {

struct InstalledImage {
    std::string text;        // the image
    uint16_t flashId = 0;
    uint32_t version = 0;    // installed version (attribute 303)
    uint32_t subsystemId = 0;
    uint32_t pinOutVersion = 0;
    size_t byteCount = 0;    // bytes in use: the region without its trailing 0xFF
};

// Reads the region twice (the readings must agree: a flash that answers all
// ones or a changing region gives no image) and builds the header from the
// board's attributes, its pin-out word at pinOutAddress and the region. On 0xBF8E
// the region starts at offset and its two trailer bytes are left out (an update
// writes them). Throws ToolError with the next step when it cannot.
InstalledImage readInstalledImage(tSMBusHandle *handle, const std::string &resource,
                                  uint32_t pinOutAddress, uint32_t offset);

}  // namespace zelsmbus_tool
