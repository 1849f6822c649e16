// Where trace text goes.
#pragma once

#include <cstddef>

namespace nZELSMBUS000::nZELOSAL000 {

class iTraceDestination {
public:
    virtual ~iTraceDestination() = default;

    virtual iTraceDestination &print(const char *text) = 0;
    // At most length characters, fewer when a NUL comes first.
    virtual iTraceDestination &write(const char *characters, size_t length) = 0;
    virtual void flush() = 0;
    // The command-line arguments that select this destination, cut to the
    // buffer; *sizeOut (when given) receives the full size including the NUL.
    virtual void getDestinationArguments(char *buffer, size_t bufferSize, size_t *sizeOut) = 0;
    virtual bool isEnabled() = 0;
    virtual void shutdown() = 0;
    virtual const char *getName() = 0;

protected:
    iTraceDestination() = default;
    iTraceDestination(const iTraceDestination &) = default;
    iTraceDestination &operator=(const iTraceDestination &) = default;
};

}  // namespace nZELSMBUS000::nZELOSAL000
