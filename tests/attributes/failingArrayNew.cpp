// Replaces the global array operator new of this test program so that a test
// can make one allocation of a given size throw std::bad_alloc, as it does
// when the process runs out of memory.
#include "failingArrayNew.h"

#include <cstdlib>
#include <new>

namespace attrtest {
namespace {
size_t gFailBytes = 0;  // size of the allocation to fail, 0 for none
unsigned gFailNth = 0;  // which allocation of that size (1 = the next)
}  // namespace

void failArrayNew(size_t bytes, unsigned nth) {
    gFailBytes = bytes;
    gFailNth = nth;
}

}  // namespace attrtest

void *operator new[](std::size_t size) {
    using namespace attrtest;
    if (gFailBytes != 0 && size == gFailBytes && --gFailNth == 0) {
        gFailBytes = 0;
        throw std::bad_alloc();
    }
    if (void *memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }
