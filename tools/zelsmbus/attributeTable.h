// The attributes of a session, by readable name, from the table in zelsmbus.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelsmbus_tool {

struct AttributeInfo {
    uint32_t id;
    unsigned width;    // bytes
    std::string name;  // "vendor-id", "setting-1004", "reg:0x0004"
    std::string meaning;
    bool boolean;   // a 0/1 value
    bool readOnly;  // the library only reads it
};

const std::vector<AttributeInfo> &attributeTable();

// An attribute named by its readable name, its constant's name, its identifier,
// or reg:OFFSET for the raw register range; nullopt when none fits.
std::optional<AttributeInfo> findAttribute(const std::string &text);

// A new value as typed for the attribute: 0 or 1 (or false/true, in any case)
// for a true/false attribute, else a number within the attribute's width.
// Throws UsageError with the accepted values.
uint64_t parseAttributeValue(const AttributeInfo &info, const std::string &text);

}  // namespace zelsmbus_tool
