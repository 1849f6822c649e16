// The one table that turns an errno value into a status code.
#pragma once

#include <cstdint>

namespace nZELSMBUS000::nZELOSAL000 {

// errno values 0 to 130 have an entry; anything above maps to -52008.
inline constexpr int kLastMappedErrno = 130;

int64_t statusCodeForErrno(int error) noexcept;

}  // namespace nZELSMBUS000::nZELOSAL000
