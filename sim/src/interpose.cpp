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
#include "descriptorCache.h"
#include "nodeFiles.h"
#include "pathHooks.h"
#include "real.h"
#include "userMemory.h"
#include "sim.h"
#include "vtime.h"

namespace zelsim {

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

// Descriptors this process opened as nodes, as bits read without the mutex:
// a hint that spares read, write, close and mmap of other descriptors any
// look at the state. What a descriptor is, the kernel file behind it
// decides (nodeFiles.h); a node that came across exec or dup is no hint, and
// its read and write are the kernel's (end of file; the file is read-only).
constexpr int kHintBits = 1 << 16;
std::atomic<uint64_t> gNodeHints[kHintBits / 64];

void setHint(int fd, bool node) {
    if (fd < 0 || fd >= kHintBits) return;
    uint64_t bit = uint64_t{1} << (fd % 64);
    if (node)
        gNodeHints[fd / 64].fetch_or(bit);
    else
        gNodeHints[fd / 64].fetch_and(~bit);
}

bool hinted(int fd) {
    return fd >= 0 && fd < kHintBits && (gNodeHints[fd / 64].load() >> (fd % 64) & 1) != 0;
}

// A hinted descriptor that still is a node (of this world or a replaced
// one); clears the hint of one that is not.
bool hintedNode(int fd) {
    if (!hinted(fd)) return false;
    Inside inside;
    if (inside.reentered()) return false;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    NodeRef ref;
    if (lookupOpen(s, descriptors::openIdOf(fd), ref) != NodeLookup::None) return true;
    setHint(fd, false);
    return false;
}

}  // namespace

int nodeAccessMode(int fd) {
    const uint64_t openId = descriptors::openIdOf(fd);
    if (openId == 0 || client::active()) return -1;
    Inside inside;
    if (inside.reentered()) return -1;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.opens.find(openId);
    return it == s.opens.end() ? -1 : it->second.access;
}

namespace {

// A number the C library hands out for another file is no node.
int clearHint(int fd) {
    descriptors::changed();
    if (hinted(fd)) setHint(fd, false);
    return fd;
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
        const int savedErrno = errno;
        int fd = openNodeFile(s, static_cast<unsigned>(n), flags);
        if (fd < 0) return -1;
        descriptors::changed();
        setHint(fd, true);
        errno = savedErrno;
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
    const bool simulated = inTree(path) || (path != nullptr && std::strcmp(path, kSmbiosDumpPath) == 0);
    if (simulated && !client::active()) {
        // Opens of the tree's files and the SMBIOS dump are counted, and fail
        // when a fault says so, as opens of nodes are.
        Inside inside;
        if (inside.reentered()) return fail(EDEADLK);
        Sim &s = sim();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (faulted(s, ZELSIM_CALL_OPEN)) return -1;
    }
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
    return clearHint(real::open(target.c_str(), flags, mode));
}

int openRelative(int dirfd, const char *path, int flags, mode_t mode) {
    using OpenAt = int (*)(int, const char *, int, ...);
    static OpenAt realOpenAt = reinterpret_cast<OpenAt>(real::next("openat"));
    return clearHint(realOpenAt(dirfd, path, flags, mode));
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
    const uint64_t openId = descriptors::openIdOf(fd);
    if (openId == 0) return -1;
    Inside inside;
    if (inside.reentered()) return -1;
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    NodeRef ref;
    return lookupOpen(s, openId, ref) == NodeLookup::Current ? static_cast<int>(ref.node) : -1;
}

FILE *fopenPath(const char *path, const char *mode) {
    descriptors::changed();  // a stream's descriptor takes a number
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

// A fork takes the in-process state's mutex first, so that the child never
// starts with one held by a thread it does not have. A fork from a signal
// handler (a crash handler, say) that interrupted this thread inside the
// mutex goes ahead without it: the thread that holds it is this one, in
// the child too, and lets it go when the interrupted call ends.
std::atomic<Sim *> gForkState{nullptr};
__attribute__((tls_model("initial-exec"))) thread_local bool tForkLocked = false;
void beforeFork() {
    Sim *s = gForkState.load();
    tForkLocked = s != nullptr && tInside == 0;
    if (tForkLocked) s->mutex.lock();
}
void afterForkInParent() {
    if (tForkLocked) gForkState.load()->mutex.unlock();
}
// The child's world is a copy of its own: it holds none of the bus locks the
// parent's open files hold, which it could not see released, and its opens
// take ids of their own.
void afterForkInChild() {
    if (!tForkLocked) return;
    Sim *s = gForkState.load();
    drawNewOpenIds(*s);
    for (Device &device : s->world.devices) {
        for (Port &port : device.ports) {
            if (port.lockOwner != kLockHeldByFault) {
                port.lockOwner = 0;
                port.lockOwnerDescriptor = -1;
            }
        }
    }
    s->mutex.unlock();
}

using FlockFunction = int (*)(int, int);
FlockFunction gRealFlock = nullptr;  // found when the library loads, never in a handler

__attribute__((constructor)) void prepareWrappers() {
    gRealFlock = reinterpret_cast<FlockFunction>(real::next("flock"));
    pthread_atfork(beforeFork, afterForkInParent, afterForkInChild);
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
    // A descriptor without an open id (nodeFiles.h) is no node: a terminal's
    // or a socket's request goes on without a look at the state.
    const uint64_t openId = descriptors::openIdOf(fd);
    if (openId == 0) return real::ioctl(fd, request, argument);
    Inside inside;
    if (inside.reentered()) return fail(EDEADLK);
    bool node = true;
    int result = deviceIoctl(fd, openId, request, argument, node);
    return node ? result : real::ioctl(fd, request, argument);
}

int flock(int fd, int operation) __THROW {
    if (client::active()) {
        client::Node *node = client::findNode(fd);
        if (node != nullptr) return client::flock(fd, node, operation);
    }
    // In-process a node is a kernel file: its lock is the kernel's flock.
    if (gRealFlock == nullptr) gRealFlock = reinterpret_cast<FlockFunction>(real::next("flock"));
    return gRealFlock(fd, operation);
}

int close(int fd) {
    // A node's locks go with its open file's last descriptor, as the kernel
    // decides: the close itself is the kernel's. Only a close fault and the
    // call count are ours.
    if (client::active() || !hintedNode(fd)) {
        const int result = real::close(clearHint(fd));
        descriptors::changed();  // after the close too: a look made meanwhile saw it open
        return result;
    }
    bool failed = false;
    int err = 0;
    const uint64_t openId = descriptors::openIdOf(fd);
    Inside inside;
    if (inside.reentered()) return fail(EDEADLK);
    Sim &s = sim();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        failed = faulted(s, ZELSIM_CALL_CLOSE);
        err = errno;
    }
    real::close(clearHint(fd));  // the descriptor is gone even when the close "fails"
    descriptors::changed();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        forgetIfClosed(s, openId);
    }
    if (failed) return fail(err);
    return 0;
}

// A world server's node answers read and write itself: end of file, and
// whatever is written is discarded by the server.
ssize_t read(int fd, void *buffer, size_t count) {
    if (!hintedNode(fd)) return real::read(fd, buffer, count);
    Inside inside;
    if (inside.reentered()) return fail(EDEADLK);
    Sim &s = sim();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (faulted(s, ZELSIM_CALL_READ)) return -1;
    return 0;  // the node has no byte stream: end of file
}

ssize_t __read_chk(int fd, void *buffer, size_t count, size_t) { return read(fd, buffer, count); }

ssize_t write(int fd, const void *buffer, size_t count) {
    if (!hintedNode(fd)) return real::write(fd, buffer, count);
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
    } else if (!hintedNode(fd)) {
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

// Changes to the program's mappings: pages a node call found good before
// are looked at again (userMemory.h).
using MunmapFn = int (*)(void *, size_t);
using MprotectFn = int (*)(void *, size_t, int);
using MremapFn = void *(*)(void *, size_t, size_t, int, ...);

int munmap(void *address, size_t length) __THROW {
    userMappingsChanged();
    return ZELSIM_NEXT(MunmapFn, "munmap")(address, length);
}

int mprotect(void *address, size_t length, int protection) __THROW {
    userMappingsChanged();
    return ZELSIM_NEXT(MprotectFn, "mprotect")(address, length, protection);
}

void *mremap(void *address, size_t length, size_t newLength, int flags, ...) __THROW {
    va_list args;
    va_start(args, flags);
    void *newAddress = (flags & MREMAP_FIXED) != 0 ? va_arg(args, void *) : nullptr;
    va_end(args);
    userMappingsChanged();
    return ZELSIM_NEXT(MremapFn, "mremap")(address, length, newLength, flags, newAddress);
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
