#include "api/resourceNameParts.h"

#include <cctype>
#include <limits>

namespace nZELSMBUS000 {

std::vector<std::string> splitResourceName(const std::string &text, const std::string &separator) {
    std::vector<std::string> parts;
    if (separator.empty()) {
        if (!text.empty()) parts.push_back(text);
        return parts;
    }
    size_t start = 0;
    for (size_t found = text.find(separator); found != std::string::npos;
         found = text.find(separator, start)) {
        parts.push_back(text.substr(start, found - start));
        start = found + separator.size();
    }
    if (start < text.size()) parts.push_back(text.substr(start));
    return parts;
}

bool equalsIgnoreCase(const std::string &left, const std::string &right) {
    if (left.size() != right.size()) return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(left[i])) !=
            std::tolower(static_cast<unsigned char>(right[i])))
            return false;
    }
    return true;
}

bool readWholeInteger(const std::string &text, int32_t &value) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t firstDigit = i;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        // Out of range is refused rather than wrapped.
        if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
    }
    if (i == firstDigit || i != text.size()) return false;
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int32_t>::max()) return false;
    value = static_cast<int32_t>(signedValue);
    return true;
}

}  // namespace nZELSMBUS000
