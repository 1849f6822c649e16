#include "nodeFiles.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "real.h"
#include "vtime.h"

namespace zelsim {
namespace {

// The byte of the node's file that stands for open `openId`.
flock lockOfOpen(short type, uint64_t openId) {
    flock range{};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(openId);
    range.l_len = 1;
    return range;
}

void closeKeepingErrno(int fd) {
    const int savedErrno = errno;
    real::close(fd);
    errno = savedErrno;
}

bool openFileAliveAt(const std::string &file, uint64_t openId);

// Ids: 2^42 + 18 random bits per process + a 24-bit count of opens, below
// the largest offset any file system allows a regular file (2^44).
constexpr uint64_t kIdBase = uint64_t{1} << 42;
constexpr uint64_t kIdEnd = kIdBase << 1;
// Opens remembered before the dead ones are forgotten: at least this many,
// and twice those alive at the last look (a look per open on average).
constexpr size_t kPruneAtLeast = 256;

uint64_t newOpenId(Sim &s) {
    while (s.openSalt == 0 || s.openSalt == s.retiredSalt) {
        uint64_t bits = 0;
        if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits)
            bits = uint64_t(::getpid()) * 0x9E3779B97F4A7C15u ^ realMonotonicNs();
        s.openSalt = bits & 0x3FFFF;
    }
    for (;;) {
        const uint64_t id = kIdBase | s.openSalt << 24 | (s.openCounter++ & 0xFFFFFF);
        if (s.opens.count(id) == 0) return id;  // a count that came round keeps live ids
    }
}

// Forgets the opens of replaced worlds and the opens no longer open anywhere.
void prune(Sim &s) {
    for (auto it = s.opens.begin(); it != s.opens.end();) {
        const bool gone = it->second.generation != s.generation ||
                          !openFileAlive(s, it->second.node, it->first);
        it = gone ? s.opens.erase(it) : std::next(it);
    }
    s.pruneAt = std::max(kPruneAtLeast, 2 * s.opens.size());
}

}  // namespace

int openNodeFile(Sim &s, unsigned node, int flags) {
    if (node >= s.files.size() || s.files[node].file.empty()) {
        errno = ENODEV;
        return -1;
    }
    if (s.opens.size() >= std::max(kPruneAtLeast, s.pruneAt)) prune(s);
    // Read-only: a write that bypasses our wrappers (a descriptor that came
    // across exec) fails instead of moving the offset the id lives in.
    int fd = real::open(s.files[node].file.c_str(), O_RDONLY | O_NOCTTY | (flags & O_CLOEXEC), 0);
    if (fd < 0) return -1;
    const uint64_t openId = newOpenId(s);
    flock held = lockOfOpen(F_RDLCK, openId);
    if (::lseek(fd, static_cast<off_t>(openId), SEEK_SET) < 0 ||
        ::fcntl(fd, F_OFD_SETLK, &held) != 0) {
        closeKeepingErrno(fd);
        return -1;
    }
    s.opens[openId] = OpenRecord{node, s.generation, flags & O_ACCMODE};
    return fd;
}

void forgetIfClosed(Sim &s, uint64_t openId) {
    auto it = s.opens.find(openId);
    if (it == s.opens.end()) return;
    if (it->second.generation != s.generation || !openFileAlive(s, it->second.node, openId))
        s.opens.erase(it);
}

void drawNewOpenIds(Sim &s) {
    s.retiredSalt = s.openSalt;
    s.openSalt = 0;
}

uint64_t openIdOf(int fd) {
    if (fd < 0) return 0;
    const int savedErrno = errno;
    const off_t offset = ::lseek(fd, 0, SEEK_CUR);
    errno = savedErrno;
    return offset >= off_t(kIdBase) && offset < off_t(kIdEnd) ? uint64_t(offset) : 0;
}

NodeLookup lookupOpen(const Sim &s, uint64_t openId, NodeRef &ref) {
    if (openId == 0) return NodeLookup::None;
    auto it = s.opens.find(openId);
    if (it == s.opens.end()) return NodeLookup::None;
    ref.node = it->second.node;
    ref.openId = openId;
    return it->second.generation == s.generation && ref.node < s.files.size()
               ? NodeLookup::Current
               : NodeLookup::Stale;
}

bool openFileAlive(int fdOfNode, uint64_t openId) {
    // A write lock would conflict with the open's read lock, unless the
    // asking open file is that open itself (its own locks never conflict).
    flock probe = lockOfOpen(F_WRLCK, openId);
    if (::fcntl(fdOfNode, F_OFD_GETLK, &probe) != 0) return true;  // cannot tell: keep it
    if (probe.l_type != F_UNLCK) return true;
    off_t own = ::lseek(fdOfNode, 0, SEEK_CUR);
    return own == static_cast<off_t>(openId);
}

bool openFileAlive(const Sim &s, unsigned node, uint64_t openId) {
    if (node >= s.files.size() || s.files[node].file.empty()) return false;
    return openFileAliveAt(s.files[node].file, openId);
}

namespace {
bool openFileAliveAt(const std::string &file, uint64_t openId) {
    int fd = real::open(file.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return true;
    bool alive = openFileAlive(fd, openId);
    closeKeepingErrno(fd);
    return alive;
}
}  // namespace

void makeNodeFiles(Sim &s) {
    const std::string folder = s.root + "/nodes";
    if (::mkdir(folder.c_str(), 0755) == 0) s.written.push_back(folder);
    for (size_t n = 0; n < s.files.size(); ++n) {
        std::string path = folder + "/" + std::to_string(s.generation) + "-" + std::to_string(n);
        int fd = real::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
        if (fd < 0) continue;
        s.files[n].file = path;
        s.written.push_back(path);
        real::close(fd);
    }
}

}  // namespace zelsim
