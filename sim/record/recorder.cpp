// libzelsim-record.so: preloaded by `zelsim record`, it writes one trace line
// (zelsim-trace(5)) for every driver request a program makes, and otherwise
// changes nothing: each wrapped call goes on to the next definition in the
// search order (the simulator's interposer when it is preloaded behind this
// library, else the C library and the kernel's driver), with its arguments,
// result and errno untouched.
//
// A node descriptor is remembered when an open of a node path succeeds, by
// number together with its file's device and inode, and checked with fstat
// before a request is recorded: a number closed behind our back (close_range,
// dup2) and handed out again is not taken for the node. Descriptors made by
// dup or inherited across exec are not known and not recorded.
//
// Every ioctl on a node is recorded; only the driver's requests (type 0x2E)
// have their envelope and buffers read.
//
// A line is formatted on the stack and written with one write(2) on an
// O_APPEND descriptor, so concurrent writers never interleave within a line
// and every completed request is on disk when the program is killed. Nothing
// on the request path allocates or takes a lock, so a request made by a
// signal handler or a forked child is recorded like any other.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "envelope.h"  // the simulator's own layout of the request envelope
#include "pathHooks.h"
#include "traceWriter.h"

namespace {

constexpr const char *kProcPrefix = "/proc/driver/zel/";
constexpr const char *kNodePrefix = "/dev/zelsmbus";
constexpr unsigned kDriverType = 0x2E;
constexpr int kSlots = 4096;         // node descriptors below this number are recorded
constexpr size_t kPathBytes = 128;   // node paths are kept up to this length
constexpr uint32_t kBytesCap = 1024; // bytes of one buffer written to the trace

using OpenFn = int (*)(const char *, int, ...);
using OpenAtFn = int (*)(int, const char *, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);

struct Next {
    OpenFn open;
    OpenAtFn openat;
    CloseFn close;
    IoctlFn ioctl;
} gNext;

void *next(const char *name) {
    void *symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        static const char message[] = "zelsim record: the C library lacks a wrapped function\n";
        ::syscall(SYS_write, 2, message, sizeof message - 1);
        std::abort();
    }
    return symbol;
}

// One remembered node descriptor: published by a non-zero inode.
struct Slot {
    std::atomic<uint64_t> inode{0};
    uint64_t device = 0;
    char path[kPathBytes];
};
Slot gSlots[kSlots];

struct CommandName {
    char name[40];
    uint32_t inSize;
};
CommandName gCommands[256];

char gTracePath[4096];
std::atomic<int> gTraceFd{-1};
std::atomic<uint64_t> gTraceInode{0};
std::atomic<uint64_t> gLocalSeq{0};
std::atomic<uint64_t> *gSharedSeq = nullptr;  // shared by every process of the run

// The process and thread ids, asked once (a system call each) and forgotten
// in a forked child, whose ids differ. Initial-exec: reading the thread's
// copy never allocates, so a signal handler may.
std::atomic<int> gPid{0};
__attribute__((tls_model("initial-exec"))) thread_local int tTid = 0;

void forkedChild() {
    gPid.store(0);
    tTid = 0;
}

int processId() {
    int pid = gPid.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = static_cast<int>(::syscall(SYS_getpid));
        gPid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

int threadId() {
    if (tTid == 0) tTid = static_cast<int>(::syscall(SYS_gettid));
    return tTid;
}

bool startsWith(const char *text, const char *prefix) {
    return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool nodePath(const char *path) { return startsWith(path, kProcPrefix) || startsWith(path, kNodePrefix); }

int rawOpen(const char *path, int flags, mode_t mode = 0) {
    return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}
void rawClose(int fd) { ::syscall(SYS_close, fd); }

uint64_t nowNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void remember(int fd, const char *path) {
    if (fd < 0 || fd >= kSlots) return;
    struct stat st;
    if (zelsim::paths::rawFstat(fd, st) != 0) return;
    Slot &slot = gSlots[fd];
    slot.inode.store(0, std::memory_order_release);
    size_t n = std::strlen(path);
    if (n >= kPathBytes) n = kPathBytes - 1;
    std::memcpy(slot.path, path, n);
    slot.path[n] = '\0';
    slot.device = st.st_dev;
    slot.inode.store(static_cast<uint64_t>(st.st_ino) == 0 ? 1 : st.st_ino,
                     std::memory_order_release);
}

void forget(int fd) {
    if (fd >= 0 && fd < kSlots) gSlots[fd].inode.store(0, std::memory_order_release);
}

// The node slot of `fd`, or null when it is no node we opened.
const Slot *nodeSlot(int fd) {
    if (fd < 0 || fd >= kSlots) return nullptr;
    const Slot &slot = gSlots[fd];
    uint64_t inode = slot.inode.load(std::memory_order_acquire);
    if (inode == 0) return nullptr;
    struct stat st;
    if (zelsim::paths::rawFstat(fd, st) != 0 || static_cast<uint64_t>(st.st_ino) != inode ||
        st.st_dev != slot.device) {
        return nullptr;
    }
    return &slot;
}

// The trace descriptor, opened again when the program closed ours or put
// another file in its place.
int traceFd() {
    int fd = gTraceFd.load(std::memory_order_acquire);
    if (fd >= 0) {
        struct stat st;
        if (zelsim::paths::rawFstat(fd, st) == 0 && static_cast<uint64_t>(st.st_ino) == gTraceInode.load())
            return fd;
    }
    if (gTracePath[0] == '\0') return -1;
    int fresh = rawOpen(gTracePath, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fresh < 0) return -1;
    struct stat st;
    if (zelsim::paths::rawFstat(fresh, st) != 0) {
        rawClose(fresh);
        return -1;
    }
    gTraceInode.store(st.st_ino);
    if (!gTraceFd.compare_exchange_strong(fd, fresh)) {
        rawClose(fresh);  // another thread opened one first
        return fd;
    }
    return fresh;
}

void record(const Slot &slot, unsigned long request, const void *argument, int result, int err,
            uint64_t start, uint64_t end) {
    uint64_t seq = gSharedSeq != nullptr ? gSharedSeq->fetch_add(1) + 1 : gLocalSeq.fetch_add(1) + 1;
    unsigned command = static_cast<unsigned>(request & 0xFF);
    const uint8_t *in = nullptr;
    const uint8_t *out = nullptr;
    uint32_t inSize = 0;
    uint32_t outSize = 0;
    int32_t status = 0;
    // Only the driver's own requests carry an envelope; any other request
    // (a terminal or socket ioctl made on a node) is recorded with its
    // result alone, its argument never read.
    bool driverRequest = ((request >> 8) & 0xFF) == kDriverType;
    if (driverRequest && argument != nullptr && (result == 0 || err != EFAULT)) {
        const uint8_t *envelope = static_cast<const uint8_t *>(argument);
        zelsim::envelope::View view = zelsim::envelope::read(envelope);
        if (result == 0) {
            in = view.in;
            inSize = view.inSize;
            out = view.out;
            outSize = view.outSize;
            status = zelsim::envelope::load<int32_t>(envelope, zelsim::envelope::kResult);
        } else if (view.inSize == gCommands[command].inSize && view.inSize != 0) {
            // A failed request's input is shown only when its size is the
            // command's: the driver read it, so it is the caller's memory.
            in = view.in;
            inSize = view.inSize;
        }
    }
    if (in == nullptr) inSize = 0;
    if (out == nullptr) outSize = 0;
    if (inSize > kBytesCap) inSize = kBytesCap;
    if (outSize > kBytesCap) outSize = kBytesCap;

    char line[2 * 2 * kBytesCap + 1024];
    zelsim::trace::Writer w(line, sizeof line);
    w.raw("{\"seq\":").u64(seq);
    w.raw(",\"t_ns\":").u64(start);
    w.raw(",\"pid\":").i64(processId());
    w.raw(",\"tid\":").i64(threadId());
    w.raw(",\"node\":").string(slot.path);
    w.raw(",\"request\":").u64(static_cast<uint32_t>(request));
    w.raw(",\"command\":").u64(command);
    w.raw(",\"name\":").string(driverRequest ? gCommands[command].name : "");
    w.raw(",\"in\":\"").hex(in, inSize).raw("\"");
    w.raw(",\"out\":\"").hex(out, outSize).raw("\"");
    w.raw(",\"errno\":").i64(result == 0 ? 0 : err);
    w.raw(",\"status\":").i64(status);
    w.raw(",\"duration_ns\":").u64(end - start);
    w.raw("}\n");
    int fd = traceFd();
    if (fd < 0 || w.overflowed()) return;
    ::syscall(SYS_write, fd, line, w.size());
}

// Reads the command names the launcher passes: "NUMBER:NAME:INSIZE ...".
void loadCommandNames(const char *table) {
    while (table != nullptr && *table != '\0') {
        char *end = nullptr;
        unsigned long number = std::strtoul(table, &end, 10);
        if (end == table || *end != ':' || number > 255) return;
        const char *name = end + 1;
        const char *colon = std::strchr(name, ':');
        if (colon == nullptr) return;
        size_t n = static_cast<size_t>(colon - name);
        if (n >= sizeof gCommands[number].name) n = sizeof gCommands[number].name - 1;
        std::memcpy(gCommands[number].name, name, n);
        gCommands[number].name[n] = '\0';
        gCommands[number].inSize = static_cast<uint32_t>(std::strtoul(colon + 1, &end, 10));
        table = end;
        while (*table == ' ') ++table;
    }
}

__attribute__((constructor)) void prepare() {
    gNext.open = reinterpret_cast<OpenFn>(next("open"));
    gNext.openat = reinterpret_cast<OpenAtFn>(next("openat"));
    gNext.close = reinterpret_cast<CloseFn>(next("close"));
    gNext.ioctl = reinterpret_cast<IoctlFn>(next("ioctl"));
    int savedErrno = errno;
    pthread_atfork(nullptr, nullptr, forkedChild);
    const char *path = std::getenv("ZELSIM_RECORD_FILE");
    if (path != nullptr && std::strlen(path) < sizeof gTracePath) std::strcpy(gTracePath, path);
    loadCommandNames(std::getenv("ZELSIM_RECORD_COMMANDS"));
    if (const char *counter = std::getenv("ZELSIM_RECORD_COUNTER")) {
        int fd = rawOpen(counter, O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            void *map = ::mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            rawClose(fd);
            if (map != MAP_FAILED) gSharedSeq = static_cast<std::atomic<uint64_t> *>(map);
        }
    }
    errno = savedErrno;
}

// After a successful open of a node path: remember it, keeping errno.
int opened(int fd, const char *path) {
    if (fd >= 0) {
        int savedErrno = errno;
        if (nodePath(path)) {
            remember(fd, path);
        } else {
            forget(fd);
        }
        errno = savedErrno;
    }
    return fd;
}

}  // namespace

// ---- the open hooks (openWrappers.inc) ---------------------------------------

namespace zelsim::paths {

int openPath(const char *path, int flags, mode_t mode) {
    return opened(gNext.open(path, flags, mode), path);
}

int openRelative(int dirfd, const char *path, int flags, mode_t mode) {
    int fd = gNext.openat(dirfd, path, flags, mode);
    if (fd >= 0) forget(fd);
    return fd;
}

}  // namespace zelsim::paths

#include "openWrappers.inc"

#pragma GCC visibility push(default)
extern "C" {

int close(int fd) {
    forget(fd);
    return gNext.close(fd);
}

int ioctl(int fd, unsigned long request, ...) __THROW {
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    int savedErrno = errno;
    const Slot *slot = nodeSlot(fd);
    errno = savedErrno;
    if (slot == nullptr) return gNext.ioctl(fd, request, argument);
    uint64_t start = nowNs();
    int result = gNext.ioctl(fd, request, argument);
    int err = errno;
    uint64_t end = nowNs();
    record(*slot, request, argument, result, err, start, end);
    errno = err;
    return result;
}

}  // extern "C"
#pragma GCC visibility pop
