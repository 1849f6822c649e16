// The debug print behind the console trace destination.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace nZELSMBUS000::nZELOSAL000 {

// Text longer than this minus one is cut.
inline constexpr size_t kDebugPrintBufferSize = 512;

using tDebugFormatter = int (*)(char *buffer, size_t size, const char *format, va_list arguments);
using tDebugWriter = void (*)(const char *text);

// Replaceable hooks: bounded formatting (vsnprintf) and printing to stderr.
extern tDebugFormatter zelsdbg_formatter;
extern tDebugWriter zelsdbg_writer;

void zelsdbg_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace nZELSMBUS000::nZELOSAL000
