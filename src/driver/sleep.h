// Pacing of the controller's flash: plain sleeps, immune to signals.
#pragma once

#include <cstdint>

namespace nZELSMBUS000 {
namespace nZELOSAL000 {

// Sleeps for the given number of milliseconds. An interrupting signal does not
// cut the sleep short: it resumes with the time that remained. Any other
// failure of the sleep ends it early (there is nothing sensible to report).
void sleepMilliseconds(uint32_t milliseconds) noexcept;

}  // namespace nZELOSAL000
}  // namespace nZELSMBUS000
