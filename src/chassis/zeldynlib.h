// Run-time loading of a shared library, reporting failures through a tJsonStatus.
#pragma once

#include "status/tJsonStatus.h"

namespace zelqpxi {

// dlopen(path, flags); null and ZELSMBUS_ERROR_INVALID_PARAMETER with the loader's message when it
// fails. Does nothing when the status already holds an error.
void *zeldynlib_load(const char *path, int flags, nZELSMBUS000::tJsonStatus &status);
// dlsym(library, name); null and ZELSMBUS_ERROR_INVALID_PARAMETER naming the symbol when it is
// missing. Does nothing when the status already holds an error.
void *zeldynlib_getSymbol(void *library, const char *name, nZELSMBUS000::tJsonStatus &status);
// dlclose(library); its result is of no use to anyone here.
void zeldynlib_unload(void *library);

}  // namespace zelqpxi
