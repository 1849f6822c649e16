// The flash lock of one controller: flock() on the controller's driver node,
// so that every process using this library (or the flash library beside it)
// honours it, and the kernel drops it when its holder closes the node or
// dies. Firmware updates and configuration-flag writes hold it exclusively
// for their whole procedure; configuration-flag reads and the tool's own
// flash reads share it, so readers never wait for each other, only for a
// writer.
#pragma once

#include <chrono>

#include "status/tStatus.h"

namespace nZELSMBUS000 {

enum class tFlashAccess {
    read,   // shared with other readers
    write,  // exclusive
};

// How long a caller waits for another holder before giving up (about 2 s in
// all, the in-process wait included), polling every 10 ms.
constexpr std::chrono::milliseconds kFlashLockWait{2000};
constexpr uint32_t kFlashLockPollMilliseconds = 10;

// Takes the lock on `descriptor`, an open driver node. While another open
// description of the node holds it in a way that excludes `access`, retries
// for the bounded time above and then sets ZELSMBUS_ERROR_BUSY; other
// failures set the errno's code.
void lockFlashNode(int descriptor, tFlashAccess access, tStatus &status) noexcept;
// The same, giving up at `deadline` (of the monotonic clock).
void lockFlashNode(int descriptor, tFlashAccess access,
                   std::chrono::steady_clock::time_point deadline, tStatus &status) noexcept;
void unlockFlashNode(int descriptor) noexcept;

}  // namespace nZELSMBUS000
