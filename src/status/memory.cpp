#include "status/memory.h"

#include <cstdlib>

#include "zelsmbus.h"

namespace nZELSMBUS000 {

void *allocate(size_t size, tStatus &status) noexcept {
    if (status.isFatal()) return nullptr;
    void *address = std::malloc(size);
    if (address == nullptr) ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
    return address;
}

void release(void *address) noexcept { std::free(address); }

}  // namespace nZELSMBUS000
