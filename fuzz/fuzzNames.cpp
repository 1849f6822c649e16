// The resource-name parsers on arbitrary texts (exactly-sized, terminated only
// by their zero byte): splitResourceName, equalsIgnoreCase, readWholeInteger,
// the backplane recognition and the numbered forms, each compared with a
// reference written from the grammar.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/backplane.h"
#include "api/controllerSet.h"
#include "api/resourceNameParts.h"
#include "fuzzInput.h"

using namespace nZELSMBUS000;
using zelfuzz::tExactBytes;
using zelfuzz::tFuzzInput;

namespace {

std::vector<std::string> referenceSplit(const std::string &text, const std::string &separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        if (at == std::string::npos) break;
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    if (start < text.size()) parts.push_back(text.substr(start));
    return parts;
}

bool referenceEqualsIgnoreCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "%d%n" over the whole text, within 32 bits.
bool referenceWholeInteger(const std::string &text, int32_t &value) {
    const char *p = text.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const char *digits = p;
    if (*digits == '+' || *digits == '-') ++digits;
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return false;
    errno = 0;
    char *end = nullptr;
    const long long number = std::strtoll(p, &end, 10);
    if (errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
    if (static_cast<size_t>(end - text.c_str()) != text.size()) return false;
    value = static_cast<int32_t>(number);
    return true;
}

bool referenceBackplane(const std::string &name, int32_t &chassis) {
    const std::vector<std::string> parts = referenceSplit(name, "::");
    if (parts.size() != 3 || parts[0].size() < 3) return false;
    if (!referenceEqualsIgnoreCase(parts[0].substr(0, 3), "pxi")) return false;
    int32_t ignored = 0;
    if (parts[0].size() > 3 && !referenceWholeInteger(parts[0].substr(3), ignored)) return false;
    int32_t number = 0;
    if (!referenceWholeInteger(parts[1], number)) return false;
    if (!referenceEqualsIgnoreCase(parts[2], "backplane")) return false;
    chassis = number;
    return true;
}

void checkNumbered(const char *name, const char *prefix) {
    uint16_t device = 0xBEEF, port = 0xBEEF;
    const bool matched = matchNumberedName(name, prefix, device, port);
    const size_t prefixLength = std::strlen(prefix);
    const size_t length = std::strlen(name);
    bool prefixOk = length >= prefixLength;
    for (size_t i = 0; prefixOk && i < prefixLength; ++i)
        prefixOk = std::tolower(static_cast<unsigned char>(name[i])) == prefix[i];
    if (!prefixOk) {
        ZELFUZZ_CHECK(!matched);
        return;
    }
    const char *rest = name + prefixLength;
    if (*rest == '\0') {
        ZELFUZZ_CHECK(matched && device == 0 && port == 0);
        return;
    }
    unsigned first = 0, second = 0;
    int firstEnd = -1, secondEnd = -1;
    const int read = std::sscanf(rest, "::%u%n::%u%n", &first, &firstEnd, &second, &secondEnd);
    const size_t restLength = std::strlen(rest);
    bool expected = false;
    uint16_t wantDevice = 0, wantPort = 0;
    if (read == 1 && firstEnd >= 0 && size_t(firstEnd) == restLength) {
        expected = true;
        wantDevice = static_cast<uint16_t>(first);
    } else if (read == 2 && secondEnd >= 0 && size_t(secondEnd) == restLength) {
        expected = true;
        wantDevice = static_cast<uint16_t>(first);
        wantPort = static_cast<uint16_t>(second);
    }
    ZELFUZZ_CHECK(matched == expected);
    if (expected) ZELFUZZ_CHECK(device == wantDevice && port == wantPort);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    tFuzzInput input(data, size);
    const bool separatorFromInput = input.takeBool();
    tExactBytes separatorBytes = input.takeText();
    tExactBytes name = input.takeText();
    const std::string text(name.text());

    const std::string separator =
        separatorFromInput && separatorBytes.text()[0] != '\0' ? std::string(separatorBytes.text()) : "::";
    ZELFUZZ_CHECK(splitResourceName(text, separator) == referenceSplit(text, separator));
    ZELFUZZ_CHECK(equalsIgnoreCase(text, separatorBytes.text()) ==
                  referenceEqualsIgnoreCase(text, separatorBytes.text()));

    int32_t value = 0, expectedValue = 0;
    const bool whole = readWholeInteger(text, value);
    ZELFUZZ_CHECK(whole == referenceWholeInteger(text, expectedValue));
    if (whole) ZELFUZZ_CHECK(value == expectedValue);

    int32_t chassis = -7, expectedChassis = -7;
    const bool backplane = isBackplaneName(name.text(), chassis);
    ZELFUZZ_CHECK(backplane == referenceBackplane(text, expectedChassis));
    if (backplane) ZELFUZZ_CHECK(chassis == expectedChassis);

    checkNumbered(name.text(), "zelsmbus::system");
    checkNumbered(name.text(), "zelsmbus::remote");
    return 0;
}
