// The numbered resource-name forms ZELSMBUS::SYSTEM::n::p and ZELSMBUS::REMOTE::n::p.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "api/controllerSet.h"

namespace nZELSMBUS000 {

bool matchNumberedName(const char *name, const char *prefix, uint16_t &device, uint16_t &port) {
    const size_t prefixLength = std::strlen(prefix);
    for (size_t i = 0; i < prefixLength; ++i) {
        // A shorter name meets its NUL here, which no prefix character equals.
        if (std::tolower(static_cast<unsigned char>(name[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    const char *rest = name + prefixLength;
    if (*rest == '\0') {
        device = port = 0;
        return true;
    }
    const size_t restLength = std::strlen(rest);
    unsigned first = 0, second = 0;
    int firstEnd = -1, secondEnd = -1;
    const int numbers = std::sscanf(rest, "::%u%n::%u%n", &first, &firstEnd, &second, &secondEnd);
    if (numbers == 1 && firstEnd >= 0 && static_cast<size_t>(firstEnd) == restLength) {
        device = static_cast<uint16_t>(first);
        port = 0;
        return true;
    }
    if (numbers == 2 && secondEnd >= 0 && static_cast<size_t>(secondEnd) == restLength) {
        device = static_cast<uint16_t>(first);
        port = static_cast<uint16_t>(second);
        return true;
    }
    return false;
}

}  // namespace nZELSMBUS000
