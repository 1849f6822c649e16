#include "status/tJsonStatus.h"

#include <cstdlib>
#include <cstring>
#include <exception>

#include "status/jsonScanner.h"
#include "status/jsonWriter.h"
#include "status/zelerrException.h"

namespace nZELSMBUS000 {
namespace {

constexpr int64_t kSmallestBuffer = 512;
constexpr int64_t kLargestBuffer = int64_t{1} << 31;

int64_t bufferSizeFor(int64_t n) {
    if (n <= kSmallestBuffer) return kSmallestBuffer;
    int64_t size = kSmallestBuffer;
    while (size < n) size <<= 1;
    return size;
}

// Text, zero fill up to index capacity-2, end mark at capacity-1.
void layOut(char *buffer, size_t capacity, const char *text, size_t length) {
    std::memcpy(buffer, text, length);
    std::memset(buffer + length, 0, capacity - 1 - length);
    buffer[capacity - 1] = 'J';
}

}  // namespace

bool resizeJsonText(tJsonStatus *record, int64_t size) {
    if (record == nullptr) return false;
    if (size == 0) {
        std::free(record->text);
        record->text = nullptr;
        record->capacity = 0;
        return true;
    }
    if (size < 0) return false;
    if (size <= static_cast<int64_t>(record->capacity)) return true;
    if (size > kLargestBuffer) return false;

    const int64_t newSize = bufferSizeFor(size);
    char *buffer = static_cast<char *>(std::malloc(static_cast<size_t>(newSize)));
    if (buffer == nullptr) return false;
    if (record->text != nullptr && record->capacity >= 2) {
        layOut(buffer, static_cast<size_t>(newSize), record->text,
               strnlen(record->text, record->capacity - 2));
    } else {
        layOut(buffer, static_cast<size_t>(newSize), "{}", 2);
    }
    std::free(record->text);
    record->text = buffer;
    record->capacity = static_cast<uint32_t>(newSize);
    return true;
}

bool tJsonStatus::setCode(int32_t newCode) noexcept {
    const bool changes = (code == 0 && newCode != 0) || (code > 0 && newCode < 0);
    if (!changes) return false;
    code = newCode;
    if (text != nullptr) setText(nullptr);
    return true;
}

bool tJsonStatus::setCodeWithLocation(int32_t newCode, const tJsonLocation &location,
                                      bool &ok) noexcept {
    ok = true;
    if (!setCode(newCode)) return false;
    char *position = setText(nullptr);
    position = addString(position, "error_constant", location.errorConstant, growJsonStatus, this);
    position = addString(position, "file", location.file, growJsonStatus, this);
    position = addInteger(position, "line", location.line, growJsonStatus, this);
    if (location.component != nullptr) {
        position = addString(position, "component", location.component, growJsonStatus, this);
    }
    ok = position != nullptr;
    return true;
}

bool tJsonStatus::merge(tJsonStatus &other, bool &ok) noexcept {
    ok = true;
    if (!setCode(other.code)) return false;
    if (resize == other.resize) {
        releaseText();
        capacity = other.capacity;
        text = other.text;
        other.capacity = 0;
        other.text = nullptr;
    } else {
        ok = setText(other.text) != nullptr;
    }
    return true;
}

char *tJsonStatus::setText(const char *json) noexcept {
    if (json == nullptr) json = "{}";
    const size_t length = std::strlen(json);
    if (length > static_cast<size_t>(kMaxJsonTextLength)) return nullptr;
    if (resize == nullptr || !resize(this, static_cast<int64_t>(length) + 2)) return nullptr;
    if (text == nullptr || capacity < length + 2) return nullptr;
    layOut(text, capacity, json, length);
    return text + (length > 0 ? length - 1 : 0);
}

char *tJsonStatus::reserve(int64_t n) noexcept {
    if (n < 0 || n > kMaxJsonTextLength) return nullptr;
    if (resize == nullptr || !resize(this, n + 2) || text == nullptr) return nullptr;
    return const_cast<char *>(scanJsonContainer(text));
}

char *tJsonStatus::growFor(char *position) noexcept {
    if (text == nullptr || position == nullptr) return nullptr;
    const ptrdiff_t offset = position - text;
    if (reserve(2 * static_cast<int64_t>(capacity) - 4) == nullptr) return nullptr;
    return text + offset;
}

void tJsonStatus::releaseText() noexcept {
    if (text != nullptr && resize != nullptr) resize(this, 0);
}

void tJsonStatus::raiseIfFatal() {
    if (code < 0 && std::uncaught_exceptions() == 0) {
        zelerr::Exception failure(*this);
        releaseText();  // left only when the text had to be copied
        throw failure;
    }
    releaseText();
}

char *growJsonStatus(void *record, char *position) noexcept {
    return static_cast<tJsonStatus *>(record)->growFor(position);
}

}  // namespace nZELSMBUS000
