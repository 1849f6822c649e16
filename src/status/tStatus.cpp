#include "status/tStatus.h"

#include <cstring>

namespace nZELSMBUS000 {
namespace {

// Copies at most `capacity` bytes of `text` (stopping at its NUL), zero-fills
// the rest and forces the last byte to 0.
size_t copyBounded(char *field, size_t capacity, const char *text) {
    size_t n = 0;
    if (text != nullptr) {
        while (n < capacity && text[n] != '\0') {
            field[n] = text[n];
            ++n;
        }
    }
    const size_t copied = n;
    for (; n < capacity; ++n) field[n] = '\0';
    field[capacity - 1] = '\0';
    return copied;
}

}  // namespace

bool tStatus::setCode(int64_t newCode, const char *componentName, const char *fileName,
                      uint64_t lineNumber) noexcept {
    if (newCode == 0) return false;
    const bool stored = code == 0 || (code > 0 && newCode < 0);
    if (!stored) return false;
    code = newCode;
    if (!isFull()) return true;

    copyBounded(component, kComponentSize, componentName);
    copyBounded(file, kFileSize, fileName);
    const size_t nameLength = fileName != nullptr ? std::strlen(fileName) : 0;
    if (nameLength > kFileSize - 1) {
        // Keep the first 49 and the last 49 characters around "..".
        constexpr size_t keep = 49;
        file[keep] = '.';
        file[keep + 1] = '.';
        std::memcpy(file + keep + 2, fileName + nameLength - keep, keep);
        file[kFileSize - 1] = '\0';
    }
    line = lineNumber;
    extension[0] = 0;
    return true;
}

bool tStatus::merge(const tStatus &other) noexcept {
    const bool otherFull = other.isFull();
    if (!setCode(other.code, otherFull ? other.component : "", otherFull ? other.file : "",
                 otherFull ? other.line : 0)) {
        return false;
    }
    if (isFull() && otherFull) {
        for (size_t i = 0; i < kExtensionWords; ++i) {
            extension[i] = other.extension[i];
            if (other.extension[i] == 0) break;
        }
    }
    return true;
}

void tStatus::clear() noexcept { reset(size); }

}  // namespace nZELSMBUS000
