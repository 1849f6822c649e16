// The bus lock of a port as the driver holds it: owned by the open file
// that took it (nodeFiles.h), waited for by everyone else, and free again
// once that open file is closed everywhere (or its process died).
#pragma once

#include <mutex>

#include "nodeFiles.h"
#include "sim.h"

namespace zelsim {

enum class BusWait { Free, Busy, Stale };

// Waits, under the state mutex, until the port's lock is free or held by the
// open file `ref` stands for (reached through `fd`), at most the world's lock
// timeout. Stale: the world was replaced meanwhile, or `fd` no longer is that
// node. Call deviceOf() again after it returns.
BusWait waitForBus(Sim &s, std::unique_lock<std::mutex> &lock, int fd, const NodeRef &ref,
                   unsigned port);

}  // namespace zelsim
