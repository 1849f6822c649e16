// The pin-out version a controller's installed firmware carries, read from its
// flash the way the library reads it before an update, so that a mismatch can
// be shown with both versions before anything is written.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <optional>

namespace zelsmbus_tool {

struct BoardPinOut {
    uint16_t flashId;
    uint32_t version;  // 0-255
    bool erased;       // the whole word reads as erased flash: an update was cut short
};

// Reads through the raw register attributes, for which the session is made
// unrestricted for the moment of the reading (the update itself needs no
// access rights either). nullopt when a register cannot be read, the flash
// device is unknown or an interface does not become ready: the library's own
// check then decides.
std::optional<BoardPinOut> readBoardPinOut(tSMBusHandle *handle, uint32_t pinOutAddress);

}  // namespace zelsmbus_tool
