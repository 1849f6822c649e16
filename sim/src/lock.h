// The bus lock of a port as the driver holds it: owned by the descriptor
// that took it, waited for by everyone else.
#pragma once

#include <mutex>

#include "sim.h"

namespace zelsim {

enum class BusWait { Free, Busy, Stale };

// Waits, under the state mutex, until the port's lock is free or held by
// `fd`, at most the world's lock timeout. Stale: the world was replaced (or
// the descriptor closed) meanwhile. Call deviceOf() again after it returns.
BusWait waitForBus(Sim &s, std::unique_lock<std::mutex> &lock, int fd, unsigned port);

}  // namespace zelsim
