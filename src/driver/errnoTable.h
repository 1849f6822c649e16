// The one table that turns an errno value into a status code.
#pragma once

#include <cstdint>

namespace nZELSMBUS000::nZELOSAL000 {

// 0 for 0; the status code of an errno value (EIO: ZELSMBUS_ERROR_IO, EBUSY:
// ZELSMBUS_ERROR_BUSY, ...), ZELSMBUS_ERROR_OS for one without a code of its own.
int64_t statusCodeForErrno(int error) noexcept;

}  // namespace nZELSMBUS000::nZELOSAL000
