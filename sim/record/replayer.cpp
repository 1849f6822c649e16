// libzelsim-replay.so: preloaded by `zelsim replay`, it serves a program the
// answers of a recorded trace (zelsim-trace(5)) in place of a driver. The
// driver tree under /proc/driver/zel/ is the one the trace's header gives
// (written by the launcher into a folder of its own: glob, fopen and open
// of those paths are redirected there); a node path the tree or the trace
// names opens as a descriptor of our own; a driver request on it is matched
// with the trace and answered with the recorded output bytes, status word
// or errno. The first request that does not match fails with EPROTO, and
// so does every request after it; the launcher reports the difference.
//
// Every process of the program shares one replay state (replayState.h), so
// a script that runs several programs is replayed as one recording.
#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <stdarg.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "envelope.h"  // the simulator's own layout of the request envelope
#include "pathHooks.h"
#include "replayState.h"
#include "traceFormat.h"

using zelsim::replay::State;
using zelsim::replay::Volatile;
using zelsim::trace::Record;

namespace {

constexpr unsigned kDriverType = 0x2E;
constexpr int kSlots = 4096;
constexpr int kDivergedErrno = EPROTO;

using OpenFn = int (*)(const char *, int, ...);
using OpenAtFn = int (*)(int, const char *, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);
using FopenFn = FILE *(*)(const char *, const char *);

struct Next {
    OpenFn open;
    OpenAtFn openat;
    CloseFn close;
    IoctlFn ioctl;
    FopenFn fopen;
} gNext;

void *next(const char *name) {
    void *symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        static const char message[] = "zelsim replay: the C library lacks a wrapped function\n";
        ::syscall(SYS_write, 2, message, sizeof message - 1);
        std::abort();
    }
    return symbol;
}

// What the launcher handed over, read once when the library loads.
std::string gTreeRoot;
std::vector<Record> *gRecords = new std::vector<Record>;
std::set<std::string> *gNodePaths = new std::set<std::string>;
std::vector<Volatile> *gVolatile = new std::vector<Volatile>;
bool gKeyed = false;
State *gState = nullptr;

struct Slot {
    std::atomic<uint64_t> inode{0};
    const std::string *path = nullptr;
};
Slot gSlots[kSlots];

void complain(const char *what) {
    std::fprintf(stderr, "zelsim replay: %s\n", what);
}

uint64_t fieldValue(const uint8_t *bytes, size_t size, unsigned offset, unsigned width) {
    uint64_t value = 0;
    if (offset + width <= size && width <= 8) std::memcpy(&value, bytes + offset, width);
    return value;
}

struct Actual {
    const std::string *node;
    uint32_t request;
    const uint8_t *in;
    uint32_t inSize;
};

// The volatile entry a request falls under, if any.
const Volatile *volatileOf(const std::string &node, uint32_t request, const uint8_t *in,
                           size_t inSize) {
    for (const Volatile &v : *gVolatile) {
        if ((request & 0xFF) != v.command) continue;
        if (std::strcmp(v.node, "*") != 0 && node != v.node) continue;
        if (fieldValue(in, inSize, v.registerOffset, v.registerWidth) == v.reg) return &v;
    }
    return nullptr;
}

bool isVolatileRead(const Record &r) {
    const Volatile *v = volatileOf(r.node, r.request, r.in.data(), r.in.size());
    return v != nullptr && v->valueOffset < 0;
}

bool matches(const Record &r, const Actual &a) {
    if (r.node != *a.node || r.request != a.request || r.in.size() != a.inSize) return false;
    const Volatile *v = volatileOf(r.node, r.request, r.in.data(), r.in.size());
    if (v == nullptr || v->valueOffset < 0) return std::memcmp(r.in.data(), a.in, a.inSize) == 0;
    unsigned from = static_cast<unsigned>(v->valueOffset);
    for (unsigned i = 0; i < a.inSize; ++i) {
        if (i >= from && i < from + v->valueWidth) {
            uint8_t maskByte = static_cast<uint8_t>(v->mask >> (8 * (i - from)));
            if (((r.in[i] ^ a.in[i]) & ~maskByte) != 0) return false;
        } else if (r.in[i] != a.in[i]) {
            return false;
        }
    }
    return true;
}

int diverge(const Actual &a, uint32_t expected) {
    uint32_t clean = zelsim::replay::kClean;
    if (gState->diverged.compare_exchange_strong(clean, zelsim::replay::kWriting)) {
        zelsim::replay::Divergence &d = gState->divergence;
        d.expected = expected;
        d.served = gState->served.load();
        d.request = a.request;
        d.envelopeInSize = a.inSize;
        d.inSize = std::min<uint32_t>(a.inSize, zelsim::replay::kInBytes);
        if (d.inSize != 0) std::memcpy(d.in, a.in, d.inSize);
        d.pid = ::getpid();
        std::snprintf(d.node, sizeof d.node, "%s", a.node->c_str());
        gState->diverged.store(zelsim::replay::kWritten);
    }
    errno = kDivergedErrno;
    return -1;
}

// The record that answers `a`, or -1 after recording the divergence.
long findStrict(const Actual &a) {
    const std::vector<Record> &records = *gRecords;
    const size_t count = records.size();
    bool volatileRead = false;
    if (const Volatile *v = volatileOf(*a.node, a.request, a.in, a.inSize)) volatileRead = v->valueOffset < 0;
    for (;;) {
        uint32_t cursor = gState->cursor.load();
        uint32_t due = cursor;
        if (!volatileRead) {
            // Polls the recording made and this run does not: passed over.
            while (due < count && isVolatileRead(records[due])) ++due;
        }
        if (due < count && matches(records[due], a)) {
            if (gState->cursor.compare_exchange_weak(cursor, due + 1)) return static_cast<long>(due);
            continue;
        }
        if (volatileRead) {
            // One poll more than recorded: the last recorded answer again.
            for (size_t i = cursor; i-- > 0;) {
                if (matches(records[i], a)) return static_cast<long>(i);
            }
        }
        diverge(a, due < count ? due : zelsim::replay::kNone);
        return -1;
    }
}

long findKeyed(const Actual &a) {
    const std::vector<Record> &records = *gRecords;
    long lastMatch = -1;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!matches(records[i], a)) continue;
        lastMatch = static_cast<long>(i);
        uint8_t unused = 0;
        if (gState->used[i].compare_exchange_strong(unused, 1)) return static_cast<long>(i);
    }
    const Volatile *v = volatileOf(*a.node, a.request, a.in, a.inSize);
    if (lastMatch >= 0 && v != nullptr && v->valueOffset < 0) return lastMatch;
    // The nearest candidate to show: an unused record of the same request.
    uint32_t expected = zelsim::replay::kNone;
    for (size_t i = 0; i < records.size() && expected == zelsim::replay::kNone; ++i) {
        if (gState->used[i].load() == 0 && records[i].request == a.request &&
            records[i].node == *a.node)
            expected = static_cast<uint32_t>(i);
    }
    for (size_t i = 0; i < records.size() && expected == zelsim::replay::kNone; ++i) {
        if (gState->used[i].load() == 0) expected = static_cast<uint32_t>(i);
    }
    diverge(a, expected);
    return -1;
}

int serve(const Slot &slot, unsigned long request, void *argument) {
    if (gState == nullptr) {
        errno = kDivergedErrno;
        return -1;
    }
    // A request that is not the driver's (a terminal ioctl on a node) is
    // matched by its number alone and answered with its recorded errno; its
    // argument is never read.
    bool driverRequest = ((request >> 8) & 0xFF) == kDriverType;
    if (driverRequest && argument == nullptr) {
        errno = EFAULT;
        return -1;
    }
    uint8_t *envelope = static_cast<uint8_t *>(argument);
    zelsim::envelope::View view{};
    if (driverRequest) view = zelsim::envelope::read(envelope);
    Actual a{slot.path, static_cast<uint32_t>(request), view.in,
             view.in == nullptr ? 0 : view.inSize};
    if (gState->diverged.load() != zelsim::replay::kClean) {
        errno = kDivergedErrno;
        return -1;
    }
    long index = gKeyed ? findKeyed(a) : findStrict(a);
    if (index < 0) return -1;
    const Record &r = (*gRecords)[static_cast<size_t>(index)];
    gState->served.fetch_add(1);
    if (r.err != 0) {
        errno = r.err;
        return -1;
    }
    if (!driverRequest) return 0;
    if (view.out != nullptr && !r.out.empty())
        std::memcpy(view.out, r.out.data(), std::min<size_t>(r.out.size(), view.outSize));
    zelsim::envelope::store<int32_t>(envelope, zelsim::envelope::kResult, r.status);
    return 0;
}

const Slot *nodeSlot(int fd) {
    if (fd < 0 || fd >= kSlots) return nullptr;
    const Slot &slot = gSlots[fd];
    uint64_t inode = slot.inode.load(std::memory_order_acquire);
    if (inode == 0) return nullptr;
    struct stat st;
    if (zelsim::paths::rawFstat(fd, st) != 0 || static_cast<uint64_t>(st.st_ino) != inode)
        return nullptr;
    return &slot;
}

void forget(int fd) {
    if (fd >= 0 && fd < kSlots) gSlots[fd].inode.store(0, std::memory_order_release);
}

int openNode(const std::string &path, int flags) {
    int fd = static_cast<int>(::syscall(SYS_memfd_create, "zelsim-replay-node",
                                        (flags & O_CLOEXEC) != 0 ? MFD_CLOEXEC : 0));
    if (fd < 0) return -1;
    struct stat st;
    if (fd >= kSlots || zelsim::paths::rawFstat(fd, st) != 0) {
        ::syscall(SYS_close, fd);
        errno = EMFILE;
        return -1;
    }
    gSlots[fd].path = &*gNodePaths->find(path);
    gSlots[fd].inode.store(st.st_ino, std::memory_order_release);
    return fd;
}

void loadVolatile(const char *text) {
    // NODE|COMMAND|REGOFFSET|REGWIDTH|REGISTER|VALUEOFFSET|VALUEWIDTH|MASK;...
    std::string all = text != nullptr ? text : "";
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(';', start);
        if (end == std::string::npos) end = all.size();
        std::string entry = all.substr(start, end - start);
        start = end + 1;
        std::vector<std::string> parts;
        size_t p = 0;
        for (;;) {
            size_t bar = entry.find('|', p);
            parts.push_back(entry.substr(p, bar == std::string::npos ? std::string::npos : bar - p));
            if (bar == std::string::npos) break;
            p = bar + 1;
        }
        if (parts.size() != 8) continue;
        Volatile v{};
        std::snprintf(v.node, sizeof v.node, "%s", parts[0].c_str());
        v.command = static_cast<unsigned>(std::strtoul(parts[1].c_str(), nullptr, 0));
        v.registerOffset = static_cast<unsigned>(std::strtoul(parts[2].c_str(), nullptr, 0));
        v.registerWidth = static_cast<unsigned>(std::strtoul(parts[3].c_str(), nullptr, 0));
        v.reg = std::strtoull(parts[4].c_str(), nullptr, 0);
        v.valueOffset = static_cast<int>(std::strtol(parts[5].c_str(), nullptr, 0));
        v.valueWidth = static_cast<unsigned>(std::strtoul(parts[6].c_str(), nullptr, 0));
        v.mask = std::strtoull(parts[7].c_str(), nullptr, 0);
        gVolatile->push_back(v);
    }
}

void prepare() {
    gNext.open = reinterpret_cast<OpenFn>(next("open"));
    gNext.openat = reinterpret_cast<OpenAtFn>(next("openat"));
    gNext.close = reinterpret_cast<CloseFn>(next("close"));
    gNext.ioctl = reinterpret_cast<IoctlFn>(next("ioctl"));
    gNext.fopen = reinterpret_cast<FopenFn>(next("fopen"));
    int savedErrno = errno;
    const char *tracePath = std::getenv("ZELSIM_REPLAY_TRACE");
    const char *statePath = std::getenv("ZELSIM_REPLAY_STATE");
    const char *tree = std::getenv("ZELSIM_REPLAY_TREE");
    const char *mode = std::getenv("ZELSIM_REPLAY_MODE");
    gTreeRoot = tree != nullptr ? tree : "/nonexistent";
    gKeyed = mode != nullptr && std::strcmp(mode, "keyed") == 0;
    loadVolatile(std::getenv("ZELSIM_REPLAY_VOLATILE"));
    zelsim::trace::Trace trace;
    std::string error;
    if (tracePath == nullptr || statePath == nullptr ||
        !zelsim::trace::readTrace(tracePath, trace, error)) {
        complain(error.empty() ? "run me through 'zelsim replay'" : error.c_str());
        errno = savedErrno;
        return;
    }
    *gRecords = std::move(trace.records);
    std::stable_sort(gRecords->begin(), gRecords->end(),
                     [](const Record &x, const Record &y) { return x.seq < y.seq; });
    for (const Record &r : *gRecords) gNodePaths->insert(r.node);
    for (const auto &d : trace.header.tree) {
        auto it = d.files.find("interfacePath");
        if (it != d.files.end()) gNodePaths->insert(it->second);
    }
    int fd = static_cast<int>(::syscall(SYS_openat, AT_FDCWD, statePath, O_RDWR | O_CLOEXEC, 0));
    if (fd >= 0) {
        size_t size = zelsim::replay::stateSize(static_cast<uint32_t>(gRecords->size()));
        void *map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::syscall(SYS_close, fd);
        if (map != MAP_FAILED) gState = static_cast<State *>(map);
    }
    if (gState == nullptr) complain("cannot map the replay state; every request fails");
    errno = savedErrno;
}

// Runs when the library loads, after the globals above are constructed (in
// one file they are initialised in order of definition).
struct Prepare {
    Prepare() { prepare(); }
} gPrepare;

}  // namespace

// ---- the path hooks (pathWrappers.inc, openWrappers.inc) --------------------

namespace zelsim::paths {

int openPath(const char *path, int flags, mode_t mode) {
    if (path != nullptr && gNodePaths->count(path) != 0) return openNode(path, flags);
    int fd = gNext.open(inTree(path) ? (gTreeRoot + path).c_str() : path, flags, mode);
    if (fd >= 0) forget(fd);
    return fd;
}

int openRelative(int dirfd, const char *path, int flags, mode_t mode) {
    int fd = gNext.openat(dirfd, path, flags, mode);
    if (fd >= 0) forget(fd);
    return fd;
}

Where where(const char *path, std::string &target, int &node) {
    if (path != nullptr && gNodePaths->count(path) != 0) {
        node = static_cast<int>(std::distance(gNodePaths->begin(), gNodePaths->find(path)));
        return Where::Node;
    }
    if (!inTree(path)) return Where::Real;
    target = gTreeRoot + path;
    return Where::Redirected;
}

int nodeOf(int fd) {
    const Slot *slot = nodeSlot(fd);
    if (slot == nullptr) return -1;
    return static_cast<int>(std::distance(gNodePaths->begin(), gNodePaths->find(*slot->path)));
}

FILE *fopenPath(const char *path, const char *mode) {
    return gNext.fopen(inTree(path) ? (gTreeRoot + path).c_str() : path, mode);
}

int globRoot(const char *, std::string &root) {
    root = gTreeRoot;
    return 0;
}

}  // namespace zelsim::paths

#include "openWrappers.inc"
#include "pathWrappers.inc"

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
    return serve(*slot, request, argument);
}

}  // extern "C"
#pragma GCC visibility pop
