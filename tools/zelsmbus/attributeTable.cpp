#include "attributeTable.h"

#include <zelsmbus.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "api/attributeAccess.h"
#include "failure.h"
#include "options.h"

namespace zelsmbus_tool {
namespace {

struct AttributeRow {
    const char *constant;
    uint32_t id;
    unsigned width;
    const char *meaning;
};

#define ZELSMBUS_TOOL_ATTRIBUTE_ROW_(name, value, width, meaning) {#name, value, width, meaning},
constexpr AttributeRow kAttributeRows[] = {ZELSMBUS_ATTRIBUTES(ZELSMBUS_TOOL_ATTRIBUTE_ROW_)};
#undef ZELSMBUS_TOOL_ATTRIBUTE_ROW_

// The library's access table says which attributes it only reads.
bool isReadOnly(uint32_t id) {
    const nZELSMBUS000::tAttributeUse *use = nZELSMBUS000::findAttributeUse(id);
    return use != nullptr && use->access == nZELSMBUS000::tAttributeAccess::readOnly;
}

bool equalsIgnoreCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// One spelling for every form a user may type: the tool's (vendor-id), the
// Python package's (VENDOR_ID, vendor_id) and the header's constant
// (ZELSMBUS_ATTR_VENDOR_ID) all become "vendor-id".
std::string spelling(const std::string &text) {
    std::string folded;
    for (char c : text) {
        folded += c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::string prefix = "zelsmbus-attr-";
    if (folded.compare(0, prefix.size(), prefix) == 0) {
        folded.erase(0, prefix.size());
        if (!folded.empty() && std::isdigit(static_cast<unsigned char>(folded[0]))) {
            folded.insert(0, "setting-");
        }
    }
    return folded;
}

std::optional<unsigned long> wholeNumber(const std::string &text) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || errno == ERANGE) return std::nullopt;
    return value;
}

AttributeInfo registerAttribute(uint32_t id) {
    char name[24];
    std::snprintf(name, sizeof name, "reg:0x%04x", unsigned(id - ZELSMBUS_ATTR_REGISTER_FIRST));
    return {id, 4, name, "controller register (32-bit, full access)", false, false};
}

}  // namespace

const std::vector<AttributeInfo> &attributeTable() {
    static const std::vector<AttributeInfo> table = [] {
        std::vector<AttributeInfo> rows;
        for (const AttributeRow &row : kAttributeRows) {
            rows.push_back({row.id, row.width, spelling(row.constant), row.meaning,
                            std::strstr(row.meaning, "boolean") != nullptr, isReadOnly(row.id)});
        }
        return rows;
    }();
    return table;
}

std::optional<AttributeInfo> findAttribute(const std::string &text) {
    std::optional<unsigned long> id = wholeNumber(text);
    if (!id && text.size() > 4 && equalsIgnoreCase(text.substr(0, 4), "reg:")) {
        const std::optional<unsigned long> offset = wholeNumber(text.substr(4));
        if (!offset || *offset > ZELSMBUS_ATTR_REGISTER_LAST - ZELSMBUS_ATTR_REGISTER_FIRST) {
            return std::nullopt;
        }
        id = ZELSMBUS_ATTR_REGISTER_FIRST + *offset;
    }
    const std::string typed = spelling(text);
    for (const AttributeInfo &info : attributeTable()) {
        if (id ? *id == info.id : typed == info.name) return info;
    }
    if (id && *id >= ZELSMBUS_ATTR_REGISTER_FIRST && *id <= ZELSMBUS_ATTR_REGISTER_LAST) {
        return registerAttribute(static_cast<uint32_t>(*id));
    }
    return std::nullopt;
}

uint64_t parseAttributeValue(const AttributeInfo &info, const std::string &text) {
    if (info.boolean) {
        if (equalsIgnoreCase(text, "true") || text == "1") return 1;
        if (equalsIgnoreCase(text, "false") || text == "0") return 0;
        throw UsageError(info.name + " (" + std::to_string(info.id) +
                         ") is true or false: give 1 " + "or 0 (or true or false), not \"" + text +
                         "\"");
    }
    const uint32_t largest = info.width == 1 ? 0xFF : info.width == 2 ? 0xFFFF : 0xFFFFFFFF;
    return parseNumber(text, largest, "value");
}

}  // namespace zelsmbus_tool
