// Trace destination that writes to the process's standard error stream.
#pragma once

#include "trace/iTraceDestination.h"

namespace nZELSMBUS000::nZELOSAL000 {

class tConsoleTraceDestination : public iTraceDestination {
public:
    static constexpr const char *kArguments = " --destination osal";
    static constexpr const char *kName = "zelsdbg_printf";

    iTraceDestination &print(const char *text) override;
    iTraceDestination &write(const char *characters, size_t length) override;
    void flush() override;
    void getDestinationArguments(char *buffer, size_t bufferSize, size_t *sizeOut) override;
    bool isEnabled() override;
    void shutdown() override;
    const char *getName() override;
};

// The library's console destination (created at load, see globals.cpp).
extern tConsoleTraceDestination gConsoleTraceDestination;

}  // namespace nZELSMBUS000::nZELOSAL000
