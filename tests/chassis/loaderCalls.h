// Counts of the loader calls the library makes (the test program is linked
// with --wrap for dlopen, dlsym and dlclose), and a way to put a chosen
// stand-in chassis-query library in place by path.
#pragma once

#include <dlfcn.h>

#include <string>

extern "C" {
void *__real_dlopen(const char *path, int flags);
void *__real_dlsym(void *handle, const char *name);
int __real_dlclose(void *handle);
}

namespace zelqpxi {

struct tLoaderCalls {
    unsigned dlopens = 0;
    std::string lastPath;
    int lastFlags = 0;
    unsigned dlsyms = 0;
    std::string lastSymbol;
    unsigned dlcloses = 0;
};

// Calls made by the library since the last reset (the tests' own go to the
// __real_ functions and are not counted).
tLoaderCalls &loaderCalls();

// Loads a stand-in library by path for the lifetime of the object, so that the
// library's dlopen("libzelqpxi.so.1") finds it by its SONAME.
class tStandIn {
public:
    // `variant`: "" for the complete library, else the variant's folder.
    explicit tStandIn(const std::string &variant);
    ~tStandIn();
    tStandIn(const tStandIn &) = delete;
    tStandIn &operator=(const tStandIn &) = delete;

    bool loaded() const { return handle_ != nullptr; }
    std::string path() const { return path_; }

    template <typename Function>
    Function function(const char *name) const {
        return reinterpret_cast<Function>(__real_dlsym(handle_, name));
    }

private:
    std::string path_;
    void *handle_;
};

// True when some object with the chassis-query SONAME is loaded.
bool chassisQueryLibraryLoaded();

}  // namespace zelqpxi
