// Driver status words the simulator answers on its own. Their values are
// defined once, in zelsim.h, where tests and programs see them too.
#pragma once

#include <cstdint>

#include "zelsim.h"

namespace zelsim {

constexpr int32_t kStatusNack = ZELSIM_STATUS_NACK;
constexpr int32_t kStatusBusy = ZELSIM_STATUS_BUSY;
constexpr int32_t kStatusBadPort = ZELSIM_STATUS_BAD_PORT;
constexpr int32_t kStatusBadLength = ZELSIM_STATUS_BAD_LENGTH;
constexpr int32_t kStatusReadOnly = ZELSIM_STATUS_READ_ONLY;

}  // namespace zelsim
