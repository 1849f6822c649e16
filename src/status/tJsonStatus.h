// The status record exchanged with the chassis-query library: a code and a
// JSON description of the failure in a growable buffer that travels with the
// routine that owns it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "status/tStatus.h"

namespace nZELSMBUS000 {

struct tJsonStatus;

// Owns a record's text buffer: grows it to at least `size` bytes, or frees it
// for size 0. True on success.
using tJsonResize = bool (*)(tJsonStatus *record, int64_t size);

// The buffer routine of this library (malloc/free, 512 bytes or a power of two).
bool resizeJsonText(tJsonStatus *record, int64_t size);

// Where a code was set: the members written by setCodeWithLocation.
struct tJsonLocation {
    const char *file;
    int32_t line;
    const char *component;  // may be null
    const char *errorConstant;
};

// Longest text a buffer can hold (the NUL and the end mark need two bytes).
inline constexpr int64_t kMaxJsonTextLength = 0x7FFFFFFD;

// Buffer layout (capacity C): NUL-terminated JSON text, zero bytes up to
// index C-2, the letter 'J' at index C-1. The zero bytes are the free room.
struct tJsonStatus {
    int32_t code;
    uint32_t capacity;
    tJsonResize resize;
    char *text;

    tJsonStatus() noexcept : code(0), capacity(0), resize(resizeJsonText), text(nullptr) {}

    bool isFatal() const noexcept { return code < 0; }

    // First error stands, an error replaces a warning, success never overwrites.
    // On a change an existing text is reset to "{}".
    bool setCode(int32_t newCode) noexcept;
    // setCode, and on a change the text becomes an object describing the location.
    bool setCodeWithLocation(int32_t newCode, const tJsonLocation &location, bool &ok) noexcept;
    // Takes the other's code by precedence and, on a change, its text: moved
    // when both share a buffer routine, copied otherwise.
    bool merge(tJsonStatus &other, bool &ok) noexcept;

    // The buffer holds `json` (or "{}" for null); position of its last character.
    char *setText(const char *json) noexcept;
    // At least n + 2 bytes of buffer; position of the closing bracket of the
    // outermost object or array, null when growing fails or the text does not scan.
    char *reserve(int64_t n) noexcept;
    // Doubles the buffer and re-bases `position` into it; null on failure or
    // when there is no buffer.
    char *growFor(char *position) noexcept;
    // Frees the text through the record's own routine.
    void releaseText() noexcept;

    // Ends a call into the chassis-query library: an error becomes a thrown
    // zelerr::Exception carrying this record's text (unless an exception is
    // already propagating); otherwise the text is freed.
    void raiseIfFatal();
};

static_assert(sizeof(tJsonStatus) == 24, "tJsonStatus is a fixed 24-byte record");
static_assert(offsetof(tJsonStatus, code) == 0 && offsetof(tJsonStatus, capacity) == 4);
static_assert(offsetof(tJsonStatus, resize) == 8 && offsetof(tJsonStatus, text) == 16);

// The growing forms of the JSON writer take this for a tJsonStatus.
char *growJsonStatus(void *record, char *position) noexcept;

}  // namespace nZELSMBUS000

// A location of the current source line with this library's component.
#define ZELSMBUS_JSON_LOCATION(errorConstant) \
    (::nZELSMBUS000::tJsonLocation{__FILE__, __LINE__, ::nZELSMBUS000::kComponent, (errorConstant)})
