// The wrapped C library calls. Paths under /proc/driver/zel/, the node paths
// the tree publishes (/dev/zelsmbus<n>) and the SMBIOS dump path are
// simulated; everything else goes to the C library untouched.
//
// Under a world server (client.cpp) a node's descriptor is its connection,
// so close, read and write need nothing from us there. In-process, the
// simulator's state sits behind one mutex: the wrappers tell a node from
// other descriptors without it (a handler that writes to a pipe or sleeps
// never touches it), a node call made by a signal handler that interrupted
// its own thread inside the mutex is refused (EDEADLK) instead of waiting
// for itself, and a fork takes the mutex first so that the child never
// inherits it held.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <set>

#include "client.h"
#include "nodeLock.h"
#include "pathHooks.h"
#include "real.h"
#include "sim.h"
#include "vtime.h"

namespace zelsim {

std::atomic<int> gOpenNodeCount{0};

namespace {

bool startsWith(const char *text, const char *prefix) {
    return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Counts a call of `kind` and tells whether a pending fault fails it.
bool faulted(Sim &s, zelsim_call kind) {
    ++s.counts[kind];
    if (!s.faults.calls[kind].take()) return false;
    errno = s.faults.calls[kind].value;
    return true;
}

int fail(int err) {
    errno = err;
    return -1;
}

// How deep the calling thread is in wrappers that take the in-process
// state's mutex: more than one means a signal handler interrupted the
// thread in there. (Initial-exec: reading it never allocates.)
__attribute__((tls_model("initial-exec"))) thread_local unsigned tInside = 0;

class Inside {
public:
    Inside() : reentered_(tInside++ != 0) {}
    ~Inside() { --tInside; }
    Inside(const Inside &) = delete;
    Inside &operator=(const Inside &) = delete;
    bool reentered() const { return reentered_; }

private:
    bool reentered_;
};

// In-process node descriptors as bits, read without the mutex; kept beside
// the state's table under the mutex. Larger numbers are looked up there.
constexpr int kNodeBits = 1 << 16;
std::atomic<uint64_t> gNodeBits[kNodeBits / 64];

void markNode(int fd, bool node) {
    if (fd < 0 || fd >= kNodeBits) return;
    uint64_t bit = uint64_t{1} << (fd % 64);
    if (node)
        gNodeBits[fd / 64].fetch_or(bit);
    else
        gNodeBits[fd / 64].fetch_and(~bit);
}

// Under the mutex: `fd` is no in-process node any more.
void dropNode(Sim &s, int fd) {
    if (s.openNodes.erase(fd) != 0) --gOpenNodeCount;
    markNode(fd, false);
}

bool isNode(int fd) {
    if (fd < 0 || gOpenNodeCount.load() == 0) return false;
    if (fd < kNodeBits) return (gNodeBits[fd / 64].load() >> (fd % 64) & 1) != 0;
    Inside inside;
    if (inside.reentered()) return false;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.openNodes.count(fd) != 0;
}

// A descriptor number the C library hands out again cannot still be an
// in-process node (it was closed behind our back, e.g. by close_range).
void forgetReused(int fd) {
    if (client::active() || !isNode(fd)) return;
    Inside inside;
    if (inside.reentered()) return;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    releaseLocks(s, fd);  // its bus locks go with it, not to the next file of that number
    dropNode(s, fd);
}

int openNode(const char *path, int flags) {
    if (client::active()) return client::openNode(path, flags);
    Inside inside;
    if (inside.reentered()) return fail(EDEADLK);
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (faulted(s, ZELSIM_CALL_OPEN)) return -1;
    for (size_t n = 0; n < s.files.size(); ++n) {
        if (!s.treePresent || s.files[n].nodePath != path) continue;
        int fd = real::open("/dev/null", O_RDWR | (flags & O_CLOEXEC), 0);
        if (fd < 0) return -1;
        if (s.openNodes.count(fd) == 0) ++gOpenNodeCount;
        s.openNodes[fd] = OpenNode{static_cast<unsigned>(n), s.generation};
        markNode(fd, true);
        return fd;
    }
    return fail(ENOENT);
}

}  // namespace

// ---- the path hooks (pathWrappers.inc, openWrappers.inc) --------------------

namespace paths {

int openPath(const char *path, int flags, mode_t mode) {
    if (startsWith(path, kNodePrefix)) return openNode(path, flags);
    std::string target;
    int node = -1;
    switch (where(path, target, node)) {
        case Where::Real:
            target = path;
            break;
        case Where::Redirected:
            break;
        case Where::Node:  // the node prefix was handled above
        case Where::Refused:
            return -1;
    }
    int fd = real::open(target.c_str(), flags, mode);
    forgetReused(fd);
    return fd;
}

int openRelative(int dirfd, const char *path, int flags, mode_t mode) {
    using OpenAt = int (*)(int, const char *, int, ...);
    static OpenAt realOpenAt = reinterpret_cast<OpenAt>(real::next("openat"));
    int fd = realOpenAt(dirfd, path, flags, mode);
    forgetReused(fd);
    return fd;
}

// The number a node path ends in, or -1.
int nodeNumber(const char *path) {
    const char *digits = path + std::strlen(kNodePrefix);
    if (*digits == '\0') return -1;
    int number = 0;
    for (const char *c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || number > 100000) return -1;
        number = number * 10 + (*c - '0');
    }
    return number;
}

// Whether a tree under `root` publishes `nodePath` in one of its
// interfacePath files.
bool treeNamesNode(const std::string &root, const char *nodePath) {
    glob_t found{};
    const std::string pattern = root + kProcPrefix + "*/deviceInterfaces/*/interfacePath";
    bool named = false;
    if (real::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; !named && i < found.gl_pathc; ++i) {
            int fd = real::open(found.gl_pathv[i], O_RDONLY | O_CLOEXEC, 0);
            if (fd < 0) continue;
            char text[256];
            ssize_t n = real::read(fd, text, sizeof text - 1);
            real::close(fd);
            if (n <= 0) continue;
            while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\0')) --n;
            text[n] = '\0';
            named = std::strcmp(text, nodePath) == 0;
        }
    }
    real::globfree(&found);
    return named;
}

Where where(const char *path, std::string &target, int &node) {
    const bool tree = inTree(path);
    const bool smbios = path != nullptr && std::strcmp(path, kSmbiosDumpPath) == 0;
    const bool nodePath = !tree && !smbios && startsWith(path, kNodePrefix);
    if (!tree && !smbios && !nodePath) return Where::Real;
    if (client::active()) {
        std::string root = tree || nodePath ? client::treeRoot() : std::string();
        if (root.empty()) return errno = ENOENT, Where::Refused;
        if (nodePath) {
            node = nodeNumber(path);
            return node >= 0 && treeNamesNode(root, path) ? Where::Node
                                                            : (errno = ENOENT, Where::Refused);
        }
        target = root + path;
        return Where::Redirected;
    }
    Inside inside;
    if (inside.reentered()) return errno = EDEADLK, Where::Refused;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (nodePath) {
        for (size_t n = 0; s.treePresent && n < s.files.size(); ++n) {
            if (s.files[n].nodePath == path) return node = static_cast<int>(n), Where::Node;
        }
        return errno = ENOENT, Where::Refused;
    }
    if (tree) {
        if (!s.treePresent) return errno = ENOENT, Where::Refused;
        target = treePath(s, path);
    } else {
        if (s.smbiosPath.empty()) return errno = ENOENT, Where::Refused;
        target = s.smbiosPath;
    }
    return Where::Redirected;
}

int nodeOf(int fd) {
    if (client::active()) return client::nodeNumber(fd);
    if (!isNode(fd)) return -1;
    Inside inside;
    if (inside.reentered()) return 0;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.openNodes.find(fd);
    return it == s.openNodes.end() ? -1 : static_cast<int>(it->second.node);
}

FILE *fopenPath(const char *path, const char *mode) {
    if (!inTree(path) && (path == nullptr || std::strcmp(path, kSmbiosDumpPath) != 0)) {
        return real::fopen(path, mode);
    }
    if (client::active()) {
        std::string root = inTree(path) ? client::treeRoot() : std::string();
        if (root.empty()) {
            errno = ENOENT;
            return nullptr;
        }
        return real::fopen((root + path).c_str(), mode);
    }
    Sim &s = sim();
    std::string target;
    {
        Inside inside;
        if (inside.reentered()) {
            errno = EDEADLK;
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(s.mutex);
        if (inTree(path)) {
            unsigned node = 0;
            std::string file;
            bool known = findNodeFile(s, path, node, file);
            if (known) ++s.files[node].fopenAttempts[file];
            if (faulted(s, ZELSIM_CALL_FOPEN)) return nullptr;
            if (!s.treePresent) {
                errno = ENOENT;
                return nullptr;
            }
            if (known) {
                auto it = s.files[node].unopenable.find(file);
                if (it != s.files[node].unopenable.end() && it->second != 0) {
                    errno = it->second;
                    return nullptr;
                }
            }
            target = treePath(s, path);
        } else {
            if (faulted(s, ZELSIM_CALL_FOPEN)) return nullptr;
            if (s.smbiosPath.empty()) {
                errno = ENOENT;
                return nullptr;
            }
            target = s.smbiosPath;
        }
    }
    return real::fopen(target.c_str(), mode);
}

int globRoot(const char *, std::string &root) {
    if (client::active()) {
        root = client::treeRoot();
        return root.empty() ? GLOB_NOMATCH : 0;
    }
    Inside inside;
    if (inside.reentered()) return GLOB_ABORTED;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.counts[ZELSIM_CALL_GLOB];
    if (s.faults.calls[ZELSIM_CALL_GLOB].take()) {
        errno = s.faults.calls[ZELSIM_CALL_GLOB].value;
        return GLOB_ABORTED;
    }
    if (s.faults.glob.take()) return s.faults.glob.value;
    if (!s.treePresent || s.root.empty()) return GLOB_NOMATCH;
    root = s.root;
    return 0;
}

}  // namespace paths

namespace {

// mmap is called by a sanitizer runtime while it starts, before it can
// follow instrumented code: the wrapper's first steps are not instrumented.
#define ZELSIM_BEFORE_SANITIZERS __attribute__((no_sanitize("thread", "address", "undefined")))

// A plain word read with the compiler's builtin: std::atomic's members may
// be out-of-line instrumented functions.
bool gLibraryReady = false;
ZELSIM_BEFORE_SANITIZERS bool libraryReady() {
    return __atomic_load_n(&gLibraryReady, __ATOMIC_ACQUIRE);
}

// The C library's mmap, or the system call itself while the dynamic
// linker's lookup may not be usable yet.
ZELSIM_BEFORE_SANITIZERS void *passMmap(void *address, size_t length, int protection, int flags,
                                        int fd, off_t offset) {
    if (libraryReady()) return real::mmap(address, length, protection, flags, fd, offset);
    long result = ::syscall(SYS_mmap, address, length, protection, flags, fd, offset);
    if (result < 0 && result > -4096) {
        errno = static_cast<int>(-result);
        return MAP_FAILED;
    }
    return reinterpret_cast<void *>(result);
}

// A fork takes the in-process state's mutex first,
// so that the child never starts with one held by a thread it does not have.
std::atomic<Sim *> gForkState{nullptr};
void beforeFork() {
    if (Sim *s = gForkState.load()) s->mutex.lock();
}
void afterFork() {
    if (Sim *s = gForkState.load()) s->mutex.unlock();
}

using FlockFunction = int (*)(int, int);
FlockFunction gRealFlock = nullptr;  // found when the library loads, never in a handler

__attribute__((constructor)) void prepareWrappers() {
    gRealFlock = reinterpret_cast<FlockFunction>(real::next("flock"));
    pthread_atfork(beforeFork, afterFork, afterFork);
    __atomic_store_n(&gLibraryReady, true, __ATOMIC_RELEASE);
}

}  // namespace

void protectAcrossFork(Sim &s) { gForkState.store(&s); }

}  // namespace zelsim

using namespace zelsim;

#pragma GCC visibility push(default)
extern "C" {

int ioctl(int fd, unsigned long request, ...) __THROW {
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if (client::active()) {
        client::Node *node = client::findNode(fd);
        return node != nullptr ? client::ioctl(fd, node, request, argument)
                               : real::ioctl(fd, request, argument);
    }
    if (!isNode(fd)) return real::ioctl(fd, request, argument);
    Inside inside;
    if (inside.reentered()) return fail(EDEADLK);
    return deviceIoctl(fd, request, argument);
}

int flock(int fd, int operation) __THROW {
    if (client::active()) {
        client::Node *node = client::findNode(fd);
        if (node != nullptr) return client::flock(fd, node, operation);
    } else if (isNode(fd)) {
        Inside inside;
        if (inside.reentered()) return fail(EDEADLK);
        return nodeFlock(fd, operation);
    }
    if (gRealFlock == nullptr) gRealFlock = reinterpret_cast<FlockFunction>(real::next("flock"));
    return gRealFlock(fd, operation);
}

int close(int fd) {
    // A world server's node is its socket: the kernel's close is all it takes.
    if (client::active() || !isNode(fd)) return real::close(fd);
    bool failed = false;
    int err = 0;
    {
        Inside inside;
        if (inside.reentered()) return fail(EDEADLK);
        Sim &s = sim();
        std::lock_guard<std::mutex> lock(s.mutex);
        failed = faulted(s, ZELSIM_CALL_CLOSE);
        err = errno;
        releaseLocks(s, fd);
        dropNode(s, fd);
    }
    real::close(fd);  // the descriptor is gone even when the close "fails"
    if (failed) return fail(err);
    return 0;
}

// A world server's node answers read and write itself: end of file, and
// whatever is written is discarded by the server.
ssize_t read(int fd, void *buffer, size_t count) {
    if (!isNode(fd)) return real::read(fd, buffer, count);
    Inside inside;
    if (inside.reentered()) return fail(EDEADLK);
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (faulted(s, ZELSIM_CALL_READ)) return -1;
    return 0;  // the node has no byte stream: end of file
}

ssize_t __read_chk(int fd, void *buffer, size_t count, size_t) { return read(fd, buffer, count); }

ssize_t write(int fd, const void *buffer, size_t count) {
    if (!isNode(fd)) return real::write(fd, buffer, count);
    Inside inside;
    if (inside.reentered()) return fail(EDEADLK);
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (faulted(s, ZELSIM_CALL_WRITE)) return -1;
    return static_cast<ssize_t>(count);  // accepted and discarded
}

ZELSIM_BEFORE_SANITIZERS void *mmap(void *address, size_t length, int protection, int flags, int fd,
                                    off_t offset) __THROW {
    // Anonymous memory (every allocator's) goes straight through; before
    // this library's constructors have run (a sanitizer runtime starting up)
    // nothing else is looked at either.
    if (fd < 0 || !libraryReady()) return passMmap(address, length, protection, flags, fd, offset);
    if (client::active()) {
        if (client::findNode(fd) == nullptr)
            return real::mmap(address, length, protection, flags, fd, offset);
    } else if (!isNode(fd)) {
        return real::mmap(address, length, protection, flags, fd, offset);
    } else {
        Sim &s = sim();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (faulted(s, ZELSIM_CALL_MMAP)) return MAP_FAILED;
    }
    // A window of the node: zero-filled shared memory of the asked length.
    return real::mmap(address, length, protection,
                      (flags & ~MAP_PRIVATE) | MAP_SHARED | MAP_ANONYMOUS, -1, 0);
}

ZELSIM_BEFORE_SANITIZERS void *mmap64(void *address, size_t length, int protection, int flags,
                                      int fd, off_t offset) __THROW {
    return mmap(address, length, protection, flags, fd, offset);
}

// The sleeps (nanosleep and the rest) are in sleepWrappers.cpp.

}  // extern "C"
#pragma GCC visibility pop

#include "openWrappers.inc"
#include "pathWrappers.inc"
