#include "trace/zelsdbg.h"

#include <cstdio>

namespace nZELSMBUS000::nZELOSAL000 {

namespace {

void writeToStandardError(const char *text) { std::fprintf(stderr, "%s", text); }

}  // namespace

tDebugFormatter zelsdbg_formatter = std::vsnprintf;
tDebugWriter zelsdbg_writer = writeToStandardError;

void zelsdbg_printf(const char *format, ...) {
    char buffer[kDebugPrintBufferSize];
    // A formatter that fails (e.g. a precision beyond INT_MAX) then prints nothing.
    buffer[0] = '\0';
    va_list arguments;
    va_start(arguments, format);
    zelsdbg_formatter(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    buffer[sizeof buffer - 1] = '\0';
    zelsdbg_writer(buffer);
}

}  // namespace nZELSMBUS000::nZELOSAL000
