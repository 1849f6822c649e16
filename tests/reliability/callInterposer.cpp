// The test program's own entry points for the calls the simulator wraps; each
// forwards to the next definition (the sanitizer runtime or the simulator).
// Fortified inline versions of open() would clash with the definitions here.
#undef _FORTIFY_SOURCE
#include "callInterposer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace zelrel {
namespace {

std::mutex gMutex;
bool gRecording = false;
size_t gCount = 0;
size_t gArmedOrdinal = 0;
tFault gArmedFault = tFault::errnoValue;
bool gDelivered = false;
std::vector<tCallRecord> gCalls;
bool gKeepCalls = true;
// Fast path for the (many) calls made while nothing is being recorded.
std::atomic<bool> gActive{false};

bool startsWith(const char *text, const char *prefix) {
    return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool simulatedPath(const char *path) {
    return startsWith(path, "/proc/driver/zel") || startsWith(path, "/dev/zelsmbus");
}

bool simulatedDescriptor(int fd) { return gActive.load() && zelsim_node_of_fd(fd) >= 0; }

// Counts one call on the simulated driver and arms the simulator's fault for
// it when it is the chosen one.
void passing(zelsim_call kind, unsigned command) {
    if (!gActive.load()) return;
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gRecording) return;
    if (gKeepCalls) gCalls.push_back({kind, command});
    if (++gCount != gArmedOrdinal) return;
    if (gArmedFault == tFault::driverWord) {
        if (kind != ZELSIM_CALL_IOCTL) return;
        zelsim_set_driver_status(command, kFaultDriverWord, 1);
    } else if (kind == ZELSIM_CALL_IOCTL) {
        zelsim_fail_command(command, faultErrno(kind), 1);
    } else if (kind == ZELSIM_CALL_GLOB) {
        zelsim_fail_glob(GLOB_ABORTED, 1);
    } else {
        zelsim_fail_call(kind, faultErrno(kind), 1);
    }
    gDelivered = true;
}

template <typename F>
F next(const char *name) {
    void *symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "callInterposer: no next definition of %s\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(symbol);
}

mode_t modeOf(int flags, va_list args) {
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE)
        return static_cast<mode_t>(va_arg(args, int));
    return 0;
}

}  // namespace

void startRecording(bool keepCalls) {
    std::lock_guard<std::mutex> lock(gMutex);
    gRecording = true;
    gKeepCalls = keepCalls;
    gCount = 0;
    gArmedOrdinal = 0;
    gDelivered = false;
    gCalls.clear();
    gActive = true;
}

void armFault(size_t ordinal, tFault fault) {
    std::lock_guard<std::mutex> lock(gMutex);
    gArmedOrdinal = ordinal;
    gArmedFault = fault;
    gDelivered = false;
}

void disarm() {
    std::lock_guard<std::mutex> lock(gMutex);
    gArmedOrdinal = 0;
}

bool faultDelivered() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gDelivered;
}

size_t recordedCallCount() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gCount;
}

std::vector<tCallRecord> recordedCalls() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gCalls;
}

void pauseRecording() {
    std::lock_guard<std::mutex> lock(gMutex);
    gRecording = false;
    gArmedOrdinal = 0;
    gActive = false;
}

int faultErrno(zelsim_call kind) {
    switch (kind) {
        case ZELSIM_CALL_OPEN: return EMFILE;
        case ZELSIM_CALL_FOPEN: return EACCES;
        case ZELSIM_CALL_MMAP: return ENOMEM;
        case ZELSIM_CALL_IOCTL: return EIO;
        default: return EIO;
    }
}

std::string describe(const tCallRecord &call) {
    static const char *const kNames[] = {"open", "close", "ioctl", "read",
                                         "write", "mmap", "fopen", "glob"};
    std::string text = call.kind < ZELSIM_CALL_KIND_COUNT ? kNames[call.kind] : "?";
    if (call.kind == ZELSIM_CALL_IOCTL) {
        char command[16];
        std::snprintf(command, sizeof command, " 0x%02X", call.command);
        text += command;
    }
    return text;
}

}  // namespace zelrel

using zelrel::passing;
using zelrel::simulatedDescriptor;
using zelrel::simulatedPath;

extern "C" {

int open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = zelrel::modeOf(flags, args);
    va_end(args);
    if (simulatedPath(path)) passing(ZELSIM_CALL_OPEN, 0);
    static auto real = zelrel::next<int (*)(const char *, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = zelrel::modeOf(flags, args);
    va_end(args);
    if (simulatedPath(path)) passing(ZELSIM_CALL_OPEN, 0);
    static auto real = zelrel::next<int (*)(const char *, int, ...)>("open64");
    return real(path, flags, mode);
}

int __open_2(const char *path, int flags) {
    if (simulatedPath(path)) passing(ZELSIM_CALL_OPEN, 0);
    static auto real = zelrel::next<int (*)(const char *, int)>("__open_2");
    return real(path, flags);
}

int __open64_2(const char *path, int flags) {
    if (simulatedPath(path)) passing(ZELSIM_CALL_OPEN, 0);
    static auto real = zelrel::next<int (*)(const char *, int)>("__open64_2");
    return real(path, flags);
}

int openat(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = zelrel::modeOf(flags, args);
    va_end(args);
    if (simulatedPath(path)) passing(ZELSIM_CALL_OPEN, 0);
    static auto real = zelrel::next<int (*)(int, const char *, int, ...)>("openat");
    return real(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = zelrel::modeOf(flags, args);
    va_end(args);
    if (simulatedPath(path)) passing(ZELSIM_CALL_OPEN, 0);
    static auto real = zelrel::next<int (*)(int, const char *, int, ...)>("openat64");
    return real(dirfd, path, flags, mode);
}

FILE *fopen(const char *path, const char *mode) {
    if (simulatedPath(path)) passing(ZELSIM_CALL_FOPEN, 0);
    static auto real = zelrel::next<FILE *(*)(const char *, const char *)>("fopen");
    return real(path, mode);
}

FILE *fopen64(const char *path, const char *mode) {
    if (simulatedPath(path)) passing(ZELSIM_CALL_FOPEN, 0);
    static auto real = zelrel::next<FILE *(*)(const char *, const char *)>("fopen64");
    return real(path, mode);
}

int glob(const char *pattern, int flags, int (*errfunc)(const char *, int), glob_t *result) {
    if (simulatedPath(pattern)) passing(ZELSIM_CALL_GLOB, 0);
    static auto real =
        zelrel::next<int (*)(const char *, int, int (*)(const char *, int), glob_t *)>("glob");
    return real(pattern, flags, errfunc, result);
}

int glob64(const char *pattern, int flags, int (*errfunc)(const char *, int), glob64_t *result) {
    if (simulatedPath(pattern)) passing(ZELSIM_CALL_GLOB, 0);
    static auto real =
        zelrel::next<int (*)(const char *, int, int (*)(const char *, int), glob64_t *)>("glob64");
    return real(pattern, flags, errfunc, result);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if (simulatedDescriptor(fd)) passing(ZELSIM_CALL_IOCTL, static_cast<unsigned>(request & 0xFF));
    static auto real = zelrel::next<int (*)(int, unsigned long, ...)>("ioctl");
    return real(fd, request, argument);
}

int close(int fd) {
    if (simulatedDescriptor(fd)) passing(ZELSIM_CALL_CLOSE, 0);
    static auto real = zelrel::next<int (*)(int)>("close");
    return real(fd);
}

ssize_t read(int fd, void *buffer, size_t count) {
    if (simulatedDescriptor(fd)) passing(ZELSIM_CALL_READ, 0);
    static auto real = zelrel::next<ssize_t (*)(int, void *, size_t)>("read");
    return real(fd, buffer, count);
}

ssize_t write(int fd, const void *buffer, size_t count) {
    if (simulatedDescriptor(fd)) passing(ZELSIM_CALL_WRITE, 0);
    static auto real = zelrel::next<ssize_t (*)(int, const void *, size_t)>("write");
    return real(fd, buffer, count);
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset) {
    if (simulatedDescriptor(fd)) passing(ZELSIM_CALL_MMAP, 0);
    static auto real = zelrel::next<void *(*)(void *, size_t, int, int, int, off_t)>("mmap");
    return real(address, length, protection, flags, fd, offset);
}

}  // extern "C"
