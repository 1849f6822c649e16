#include "chassis/zeldynlib.h"

#include <dlfcn.h>

#include "status/jsonWriter.h"
#include "zelsmbus.h"

namespace zelqpxi {
namespace {

using nZELSMBUS000::tJsonLocation;
using nZELSMBUS000::tJsonStatus;

constexpr const char *kInvalidParameterName = "zelosalerr_invalidParameter";

// Adds the "zeldynlib_debug" and "internal_error" objects beside the location
// members, then clears the loader's pending error.
void describeLoaderFailure(tJsonStatus &status, const tJsonLocation &location, const char *debug,
                           const char *subjectKey, const char *subject) {
    using namespace nZELSMBUS000;
    bool ok = true;
    status.setCodeWithLocation(ZELSMBUS_ERROR_INVALID_PARAMETER, location, ok);

    const char *loaderMessage = dlerror();
    char *position = status.reserve(0);
    position = addObject(position, "zeldynlib_debug", growJsonStatus, &status);
    position = addString(position, "debug", debug, growJsonStatus, &status);
    position = addString(position, subjectKey, subject, growJsonStatus, &status);
    position = closeObject(position);
    position = addObject(position, "internal_error", growJsonStatus, &status);
    position = addString(position, "api", "dlerror", growJsonStatus, &status);
    addString(position, "string", loaderMessage != nullptr ? loaderMessage : "", growJsonStatus,
              &status);
    dlerror();
}

}  // namespace

void *zeldynlib_load(const char *path, int flags, tJsonStatus &status) {
    if (status.isFatal()) return nullptr;
    if (void *library = dlopen(path, flags)) return library;
    describeLoaderFailure(status, ZELSMBUS_JSON_LOCATION(kInvalidParameterName),
                          "failed to zeldynlib_load library", "path", path);
    return nullptr;
}

void *zeldynlib_getSymbol(void *library, const char *name, tJsonStatus &status) {
    if (status.isFatal()) return nullptr;
    if (void *address = dlsym(library, name)) return address;
    describeLoaderFailure(status, ZELSMBUS_JSON_LOCATION(kInvalidParameterName),
                          "failed to get symbol", "zeldynlib_symbol", name);
    return nullptr;
}

void zeldynlib_unload(void *library) { static_cast<void>(dlclose(library)); }

}  // namespace zelqpxi
