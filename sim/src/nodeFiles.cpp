#include "nodeFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "pathHooks.h"
#include "real.h"

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

}  // namespace

int openNodeFile(Sim &s, unsigned node, int flags) {
    if (node >= s.files.size() || s.files[node].file.empty()) {
        errno = ENODEV;
        return -1;
    }
    // Read-only: a write that bypasses our wrappers (a descriptor that came
    // across exec) fails instead of moving the offset the id lives in.
    int fd = real::open(s.files[node].file.c_str(), O_RDONLY | O_NOCTTY | (flags & O_CLOEXEC), 0);
    if (fd < 0) return -1;
    const uint64_t openId = s.nextOpenId++;
    flock held = lockOfOpen(F_RDLCK, openId);
    if (::lseek(fd, static_cast<off_t>(openId), SEEK_SET) < 0 ||
        ::fcntl(fd, F_OFD_SETLK, &held) != 0) {
        closeKeepingErrno(fd);
        return -1;
    }
    return fd;
}

NodeLookup lookupNode(const Sim &s, int fd, NodeRef &ref) {
    if (fd < 0) return NodeLookup::None;
    struct stat status {};
    if (paths::rawFstat(fd, status) != 0 || !S_ISREG(status.st_mode)) return NodeLookup::None;
    const auto identity = std::make_pair(static_cast<uint64_t>(status.st_dev),
                                         static_cast<uint64_t>(status.st_ino));
    for (size_t n = 0; n < s.files.size(); ++n) {
        if (s.files[n].identity != identity) continue;
        off_t offset = ::lseek(fd, 0, SEEK_CUR);
        if (offset <= 0) return NodeLookup::None;
        ref.node = static_cast<unsigned>(n);
        ref.openId = static_cast<uint64_t>(offset);
        return NodeLookup::Current;
    }
    return s.retiredNodes.count(identity) != 0 ? NodeLookup::Stale : NodeLookup::None;
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
    int fd = real::open(s.files[node].file.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return true;
    bool alive = openFileAlive(fd, openId);
    closeKeepingErrno(fd);
    return alive;
}

void makeNodeFiles(Sim &s) {
    const std::string folder = s.root + "/nodes";
    if (::mkdir(folder.c_str(), 0755) == 0) s.written.push_back(folder);
    for (size_t n = 0; n < s.files.size(); ++n) {
        std::string path = folder + "/" + std::to_string(s.generation) + "-" + std::to_string(n);
        int fd = real::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
        if (fd < 0) continue;
        struct stat status {};
        if (paths::rawFstat(fd, status) == 0) {
            s.files[n].file = path;
            s.files[n].identity = {static_cast<uint64_t>(status.st_dev),
                                   static_cast<uint64_t>(status.st_ino)};
            s.written.push_back(path);
        }
        real::close(fd);
    }
}

}  // namespace zelsim
