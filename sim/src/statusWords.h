// Driver status words the simulator answers on its own; the values are in the
// library's code space and mirror the constants of zelsim.h.
#pragma once

#include <cstdint>

namespace zelsim {

constexpr int32_t kStatusNack = -52024;       // the addressed device did not acknowledge
constexpr int32_t kStatusBusy = -52031;       // bus lock held by another descriptor
constexpr int32_t kStatusBadPort = -52005;    // port index beyond the node's ports
constexpr int32_t kStatusBadLength = -52005;  // count/length beyond the data area
constexpr int32_t kStatusReadOnly = -52005;   // write to a read-only register or attribute

}  // namespace zelsim
