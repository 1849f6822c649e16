// Names and meanings of the library's status codes, taken from the table in zelsmbus.h.
#pragma once

#include <cstdint>
#include <string>

namespace zelsmbus_tool {

struct StatusText {
    const char *name;     // e.g. ZELSMBUS_ERROR_NOT_FOUND, or nullptr for an unknown code
    const char *meaning;  // one line
};

StatusText describeStatus(int32_t code);

// "-52006 ZELSMBUS_ERROR_NOT_FOUND: no such resource, controller or handle"
std::string formatStatus(int32_t code);

}  // namespace zelsmbus_tool
