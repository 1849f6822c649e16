// How each attribute of the public table (ZELSMBUS_ATTRIBUTES in zelsmbus.h)
// may be used, keyed by the same names:
//
//   X(name, access, session)
//
// access   readOnly: the value is only read; readWrite: it is read and set
// session  any: every session may use it; unrestricted: refused with
//          ZELSMBUS_ERROR_PROTECTED until the session is unrestricted
//
// The public table keeps its four columns, since programs expand it with
// macros of their own; this table sits beside it and is checked against it
// row by row. The library's attribute exports and the tool read it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zelsmbus.h"

// clang-format off
#define ZELSMBUS_ATTRIBUTE_ACCESS(X) \
    X(ZELSMBUS_ATTR_VENDOR_ID, readOnly, any) \
    X(ZELSMBUS_ATTR_DEVICE_ID, readOnly, any) \
    X(ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID, readOnly, any) \
    X(ZELSMBUS_ATTR_SUBSYSTEM_ID, readOnly, any) \
    X(ZELSMBUS_ATTR_PCI_BUS, readOnly, any) \
    X(ZELSMBUS_ATTR_PCI_DEVICE, readOnly, any) \
    X(ZELSMBUS_ATTR_PCI_FUNCTION, readOnly, any) \
    X(ZELSMBUS_ATTR_PORT, readOnly, any) \
    X(ZELSMBUS_ATTR_PORT_STRING, readOnly, any) \
    X(ZELSMBUS_ATTR_DEVICE_STRING, readOnly, any) \
    X(ZELSMBUS_ATTR_FIRMWARE_VERSION, readOnly, any) \
    X(ZELSMBUS_ATTR_PROTECTED_COUNT, readOnly, any) \
    X(ZELSMBUS_ATTR_PROTECTED_LIST, readOnly, any) \
    X(ZELSMBUS_ATTR_UNRESTRICTED, readWrite, any) \
    X(ZELSMBUS_ATTR_CHASSIS_EEPROM_PORT, readOnly, any) \
    X(ZELSMBUS_ATTR_EXTENDED_PROTECTION, readOnly, any) \
    X(ZELSMBUS_ATTR_1004, readWrite, unrestricted) \
    X(ZELSMBUS_ATTR_1005, readWrite, any) \
    X(ZELSMBUS_ATTR_CONFIG_FLAG, readWrite, any) \
    X(ZELSMBUS_ATTR_2001, readWrite, any) \
    X(ZELSMBUS_ATTR_3001, readWrite, unrestricted) \
    X(ZELSMBUS_ATTR_3002, readWrite, unrestricted) \
    X(ZELSMBUS_ATTR_10001, readWrite, unrestricted) \
    X(ZELSMBUS_ATTR_10002, readWrite, unrestricted) \
    X(ZELSMBUS_ATTR_10003, readWrite, unrestricted) \
    X(ZELSMBUS_ATTR_10004, readOnly, unrestricted) \
    X(ZELSMBUS_ATTR_10005, readWrite, unrestricted)
// clang-format on

namespace nZELSMBUS000 {

enum class tAttributeAccess : uint8_t { readOnly, readWrite };
enum class tAttributeSession : uint8_t { any, unrestricted };

struct tAttributeUse {
    uint32_t identifier;
    uint8_t width;  // bytes, from the public table
    tAttributeAccess access;
    tAttributeSession session;
};

namespace attributeuse {

struct tPublicRow {
    uint32_t identifier;
    uint8_t width;
};

#define ZELSMBUS_PUBLIC_ATTRIBUTE_ROW_(name, value, width, meaning) {name, width},
inline constexpr tPublicRow kPublicRows[] = {ZELSMBUS_ATTRIBUTES(ZELSMBUS_PUBLIC_ATTRIBUTE_ROW_)};
#undef ZELSMBUS_PUBLIC_ATTRIBUTE_ROW_

constexpr uint8_t widthOf(uint32_t identifier) {
    for (const tPublicRow &row : kPublicRows)
        if (row.identifier == identifier) return row.width;
    return 0;
}

}  // namespace attributeuse

// Every row of the public table, in its order, with its access.
#define ZELSMBUS_ATTRIBUTE_USE_ROW_(name, access, session) \
    {name, attributeuse::widthOf(name), tAttributeAccess::access, tAttributeSession::session},
inline constexpr tAttributeUse kAttributeUses[] = {
    ZELSMBUS_ATTRIBUTE_ACCESS(ZELSMBUS_ATTRIBUTE_USE_ROW_)};
#undef ZELSMBUS_ATTRIBUTE_USE_ROW_

namespace attributeuse {

constexpr bool matchesPublicTable() {
    if (sizeof kAttributeUses / sizeof kAttributeUses[0] !=
        sizeof kPublicRows / sizeof kPublicRows[0])
        return false;
    for (size_t i = 0; i < sizeof kPublicRows / sizeof kPublicRows[0]; ++i)
        if (kAttributeUses[i].identifier != kPublicRows[i].identifier) return false;
    return true;
}
static_assert(matchesPublicTable(), "one access row per public attribute, in the same order");

}  // namespace attributeuse

// The use of an identifier of the public table; null for any other.
constexpr const tAttributeUse *findAttributeUse(uint32_t identifier) {
    for (const tAttributeUse &use : kAttributeUses)
        if (use.identifier == identifier) return &use;
    return nullptr;
}

}  // namespace nZELSMBUS000
