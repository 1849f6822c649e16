// The attributes of a session: one table drives both the get and the set export.
#pragma once

#include <cstdint>

#include "api/attributeAccess.h"
#include "api/tSMBusHandle.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

// How a session reads and sets one attribute of the public table; its width
// and access come from that table and the access table beside it.
struct tAttribute {
    const tAttributeUse *use;
    uint64_t (*get)(tSMBusHandle &handle, tStatus &status);
    // Null when the attribute is read-only.
    void (*set)(tSMBusHandle &handle, uint64_t value, tStatus &status);
    bool settable;  // the row has a setter: exactly the read-write attributes
};

// The table entry of an identifier outside the register range; null if unknown.
const tAttribute *findAttribute(uint32_t identifier);

constexpr uint32_t kRegisterAttributeFirst = 0x20000;
constexpr uint32_t kRegisterAttributeLast = 0x2FFFF;

}  // namespace nZELSMBUS000
