#include "real.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace zelsim::real {

void *next(const char *name) {
    void *symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        static const char message[] = "zelsim: the C library lacks a wrapped function\n";
        ::syscall(1 /* write */, 2, message, sizeof message - 1);
        std::abort();
    }
    return symbol;
}

namespace {
template <typename F>
F resolve(std::atomic<void *> &slot, const char *name) {
    void *symbol = slot.load(std::memory_order_acquire);
    if (symbol == nullptr) {
        symbol = next(name);
        slot.store(symbol, std::memory_order_release);
    }
    return reinterpret_cast<F>(symbol);
}
}  // namespace

#define ZELSIM_REAL(name, ret, params, args)             \
    ret name params {                                    \
        static std::atomic<void *> slot{nullptr};        \
        return resolve<ret(*) params>(slot, #name) args; \
    }

ZELSIM_REAL(open, int, (const char *path, int flags, mode_t mode), (path, flags, mode))
ZELSIM_REAL(close, int, (int fd), (fd))
ZELSIM_REAL(read, ssize_t, (int fd, void *buffer, size_t count), (fd, buffer, count))
ZELSIM_REAL(write, ssize_t, (int fd, const void *buffer, size_t count), (fd, buffer, count))
ZELSIM_REAL(ioctl, int, (int fd, unsigned long request, void *argument), (fd, request, argument))
ZELSIM_REAL(mmap, void *,
            (void *address, size_t length, int protection, int flags, int fd, off_t offset),
            (address, length, protection, flags, fd, offset))
ZELSIM_REAL(fopen, FILE *, (const char *path, const char *mode), (path, mode))
ZELSIM_REAL(glob, int,
            (const char *pattern, int flags, int (*errfunc)(const char *, int), glob_t *result),
            (pattern, flags, errfunc, result))
ZELSIM_REAL(globfree, void, (glob_t * result), (result))
ZELSIM_REAL(nanosleep, int, (const struct timespec *request, struct timespec *remaining),
            (request, remaining))

#undef ZELSIM_REAL

}  // namespace zelsim::real
