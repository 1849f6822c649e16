// What each preload library of the simulator (the simulated driver, the
// recorder, the replayer) decides about the paths a program names. The C
// library's names themselves are defined once, in openWrappers.inc and
// pathWrappers.inc, which a preload includes in one of its files after
// defining the hooks below (each library has its own, hidden from others).
#pragma once

#include <dlfcn.h>
#include <glob.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zelsim::paths {

constexpr const char *kTreeTop = "/proc/driver/zel";

// The driver's tree: the folder itself or anything under it.
inline bool inTree(const char *path) {
    const size_t n = std::strlen(kTreeTop);
    return path != nullptr && std::strncmp(path, kTreeTop, n) == 0 &&
           (path[n] == '\0' || path[n] == '/');
}

// Where a path a program names is found.
enum class Where {
    Real,        // the path itself: none of ours
    Redirected,  // the file at `target`
    Node,        // a driver node (a character device of its own)
    Refused,     // not there: fail with errno as set
};

// ---- hooks each including library defines ----------------------------------

// open() of any path (relative ones from the working folder).
int openPath(const char *path, int flags, mode_t mode);
// openat() of a relative path from `dirfd`.
int openRelative(int dirfd, const char *path, int flags, mode_t mode);
// The path calls below (pathWrappers.inc only): where `path` is found, with
// `target` set for Redirected, `node` for Node and errno for Refused.
Where where(const char *path, std::string &target, int &node);
// The node a descriptor stands for, or -1 for any other descriptor.
int nodeOf(int fd);
FILE *fopenPath(const char *path, const char *mode);
// A glob pattern: -1 when it is none of ours; 0 to run it under `root`;
// otherwise the glob answer to give without running it.
int globRoot(const char *pattern, std::string &root);

// ---- helpers ---------------------------------------------------------------

// The next definition of a C library name, found once; aborts with a message
// when the C library lacks it.
template <typename Function>
Function nextFunction(std::atomic<void *> &slot, const char *name) {
    void *symbol = slot.load(std::memory_order_acquire);
    if (symbol == nullptr) {
        symbol = dlsym(RTLD_NEXT, name);
        if (symbol == nullptr) {
            static const char message[] = "zelsim: the C library lacks a wrapped function\n";
            ::syscall(SYS_write, 2, message, sizeof message - 1);
            std::abort();
        }
        slot.store(symbol, std::memory_order_release);
    }
    return reinterpret_cast<Function>(symbol);
}

#define ZELSIM_NEXT(type, name)                      \
    ([]() {                                          \
        static std::atomic<void *> slot{nullptr};    \
        return ::zelsim::paths::nextFunction<type>(slot, name); \
    }())

// What a driver node reports to stat and fstat: a character device readable
// and writable by all, with the identity (device and inode) of the object
// that stands for it, so that two descriptors of one node compare equal.
constexpr unsigned kNodeMajor = 240;  // from the range kept for local use
inline void makeNodeStatus(struct stat &status, int node) {
    status.st_mode = S_IFCHR | 0666;
    status.st_rdev = makedev(kNodeMajor, node < 0 ? 0 : static_cast<unsigned>(node));
    status.st_size = 0;
    status.st_blocks = 0;
    status.st_nlink = 1;
}

}  // namespace zelsim::paths

namespace zelsim::paths {
// fstat as the kernel answers it, past every wrapper (ours included).
inline int rawFstat(int fd, struct stat &status) {
    return static_cast<int>(::syscall(SYS_fstat, fd, &status));
}
}  // namespace zelsim::paths
