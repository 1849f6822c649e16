#include "trace/tConsoleTraceDestination.h"

#include <cstdio>
#include <cstring>

#include "trace/zelsdbg.h"

namespace nZELSMBUS000::nZELOSAL000 {

iTraceDestination &tConsoleTraceDestination::print(const char *text) {
    zelsdbg_printf("%s", text);
    return *this;
}

iTraceDestination &tConsoleTraceDestination::write(const char *characters, size_t length) {
    // "%.<length>s": the precision bounds what is read from characters.
    char format[32];
    std::snprintf(format, sizeof format, "%%.%zus", length);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    zelsdbg_printf(format, characters);
#pragma GCC diagnostic pop
    return *this;
}

void tConsoleTraceDestination::flush() {}

void tConsoleTraceDestination::getDestinationArguments(char *buffer, size_t bufferSize,
                                                       size_t *sizeOut) {
    if (buffer != nullptr && bufferSize != 0) {
        std::strncpy(buffer, kArguments, bufferSize);
        buffer[bufferSize - 1] = '\0';
    }
    if (sizeOut != nullptr) {
        *sizeOut = std::strlen(kArguments) + 1;
    }
}

bool tConsoleTraceDestination::isEnabled() { return true; }

void tConsoleTraceDestination::shutdown() {}

const char *tConsoleTraceDestination::getName() { return kName; }

}  // namespace nZELSMBUS000::nZELOSAL000
