// Makes the nth array allocation of exactly `bytes` bytes (counted from the
// next) throw std::bad_alloc. Single-threaded tests only.
#pragma once

#include <cstddef>

namespace attrtest {
void failArrayNew(size_t bytes, unsigned nth = 1);
}
