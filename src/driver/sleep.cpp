#include "driver/sleep.h"

#include <cerrno>
#include <ctime>

namespace nZELSMBUS000 {
namespace nZELOSAL000 {

void sleepMilliseconds(uint32_t milliseconds) noexcept {
    timespec request{};
    request.tv_sec = static_cast<time_t>(milliseconds / 1000);
    request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0) {
        if (errno != EINTR) return;
        request = remaining;
    }
}

}  // namespace nZELOSAL000
}  // namespace nZELSMBUS000
