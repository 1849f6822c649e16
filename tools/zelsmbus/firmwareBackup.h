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
    // The header's Version: the version of the image zelsmbus last installed
    // on this board when the flash holds its bytes (versionOfImage), else the
    // version the controller reports running (attribute 303), which on 0x1010
    // and 0xBF8E is an older one until the board is next powered on.
    uint32_t version = 0;
    bool versionOfImage = false;
    uint32_t running = 0;    // attribute 303
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

// Remembers, in the state directory, the image just installed on the board
// the session reaches (its version and the bytes firmware-read will give
// back), so that a later reading of the same bytes carries the image's
// version rather than the one the controller runs.
struct FirmwareCheck;
void rememberInstalledImage(tSMBusHandle *handle, const std::string &resource,
                            const FirmwareCheck &image, uint16_t flashId, double seconds);
// How long the last update of this resource's flash device took (0: not known),
// for the progress of the next.
double lastUpdateSeconds(const std::string &resource, uint16_t flashId);

// How a reading's Version came about, for the user: "the version of the image
// zelsmbus installed, whose bytes the flash holds" or "the version the
// controller reports running ...".
std::string versionOrigin(const InstalledImage &image);

}  // namespace zelsmbus_tool
