#include "descriptorCache.h"

#include <atomic>

#include "nodeFiles.h"

namespace zelsim::descriptors {
namespace {

constexpr int kCached = 1 << 16;  // larger numbers are looked at every time

std::atomic<uint64_t> gEpoch{1};
// Per number: the epoch the id was read in, and the id. A reader takes the
// id when the epoch is the current one before and after reading it.
std::atomic<uint64_t> gSeenIn[kCached];
std::atomic<uint64_t> gOpenId[kCached];

}  // namespace

void changed() { gEpoch.fetch_add(1, std::memory_order_acq_rel); }

uint64_t openIdOf(int fd) {
    if (fd < 0) return 0;
    if (fd >= kCached) return zelsim::openIdOf(fd);
    const uint64_t epoch = gEpoch.load(std::memory_order_acquire);
    if (gSeenIn[fd].load(std::memory_order_acquire) == epoch) {
        const uint64_t id = gOpenId[fd].load(std::memory_order_acquire);
        if (gSeenIn[fd].load(std::memory_order_acquire) == epoch) return id;
    }
    const uint64_t id = zelsim::openIdOf(fd);
    gSeenIn[fd].store(0, std::memory_order_release);
    gOpenId[fd].store(id, std::memory_order_release);
    gSeenIn[fd].store(epoch, std::memory_order_release);  // read in that epoch, or older
    return id;
}

}  // namespace zelsim::descriptors
