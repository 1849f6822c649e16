// flock() on a node descriptor, as a real driver node (one kernel file per
// node) answers it: one exclusive owner or any number of shared ones per
// node, owned by the descriptor that took it, released when that descriptor
// is closed (and so when its process dies) or the world is replaced. Owners
// are identified the way the bus lock identifies them.
#pragma once

#include <mutex>

#include "sim.h"

namespace zelsim {

// flock(fd, operation) on a simulated node descriptor of the in-process
// world. Takes the state mutex itself. Returns 0, or -1 with errno
// (EWOULDBLOCK for LOCK_NB on a held lock, EINVAL for a bad operation).
// A blocking wait looks at `abandoned` (when given) every 100 ms and gives
// up with EINTR once it answers true (the world server's client is gone).
int nodeFlock(int fd, int operation, bool (*abandoned)(const void *) = nullptr,
              const void *context = nullptr);

// Under the state mutex: drops whatever node lock `fd` holds (its close).
void releaseNodeLock(Sim &s, int fd);

}  // namespace zelsim
