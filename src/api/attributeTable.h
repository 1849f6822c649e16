// The attributes of a session: one table drives both the get and the set export.
#pragma once

#include <cstdint>

#include "api/tSMBusHandle.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

struct tAttribute {
    uint32_t identifier;
    uint8_t width;  // bytes of the application's value: 1, 2, 4 or 8
    bool fullAccess;
    // Null when the attribute cannot be read or set.
    uint64_t (*get)(tSMBusHandle &handle, tStatus &status);
    void (*set)(tSMBusHandle &handle, uint64_t value, tStatus &status);
};

// The table entry of an identifier outside the register range; null if unknown.
const tAttribute *findAttribute(uint32_t identifier);

constexpr uint32_t kRegisterAttributeFirst = 0x20000;
constexpr uint32_t kRegisterAttributeLast = 0x2FFFF;

}  // namespace nZELSMBUS000
