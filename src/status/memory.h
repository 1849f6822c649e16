// Allocation that reports failure through a tStatus instead of throwing.
#pragma once

#include <cstddef>

#include "status/tStatus.h"

namespace nZELSMBUS000 {

// malloc(size); null and ZELSMBUS_ERROR_OUT_OF_MEMORY on failure; null without allocating when the
// status already holds an error.
void *allocate(size_t size, tStatus &status) noexcept;
// free(); null is allowed.
void release(void *address) noexcept;

}  // namespace nZELSMBUS000
