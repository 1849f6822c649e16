#include "loaderCalls.h"

#include <cstring>

namespace zelqpxi {

tLoaderCalls &loaderCalls() {
    static tLoaderCalls calls;
    return calls;
}

#ifdef ZELQPXI_STAND_IN_DIR
tStandIn::tStandIn(const std::string &variant)
    : path_(std::string(ZELQPXI_STAND_IN_DIR) + (variant.empty() ? "" : "/" + variant) +
            "/libzelqpxi.so.1"),
      handle_(__real_dlopen(path_.c_str(), RTLD_NOW | RTLD_GLOBAL)) {}
#else
tStandIn::tStandIn(const std::string &) : handle_(nullptr) {}
#endif

tStandIn::~tStandIn() {
    if (handle_ != nullptr) __real_dlclose(handle_);
}

bool chassisQueryLibraryLoaded() {
    void *handle = __real_dlopen("libzelqpxi.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    __real_dlclose(handle);
    return true;
}

}  // namespace zelqpxi

extern "C" {

void *__wrap_dlopen(const char *path, int flags) {
    zelqpxi::tLoaderCalls &calls = zelqpxi::loaderCalls();
    ++calls.dlopens;
    calls.lastPath = path != nullptr ? path : "";
    calls.lastFlags = flags;
    return __real_dlopen(path, flags);
}

void *__wrap_dlsym(void *handle, const char *name) {
    zelqpxi::tLoaderCalls &calls = zelqpxi::loaderCalls();
    ++calls.dlsyms;
    calls.lastSymbol = name != nullptr ? name : "";
    return __real_dlsym(handle, name);
}

int __wrap_dlclose(void *handle) {
    ++zelqpxi::loaderCalls().dlcloses;
    return __real_dlclose(handle);
}
}
