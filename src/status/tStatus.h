// The status record every operation reports through.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nZELSMBUS000 {

// Name stored as the component of every code this library sets.
inline constexpr const char *kComponent = "zelsmbus";

struct tStatus {
    // Records of at least this many bytes carry component, file, line and extension.
    static constexpr uint64_t kFullSize = 216;
    static constexpr size_t kComponentSize = 10;
    static constexpr size_t kFileSize = 101;
    static constexpr size_t kExtensionWords = 10;

    uint64_t size;
    int64_t code;
    char component[kComponentSize];
    char file[kFileSize];
    uint64_t line;
    uint64_t extension[kExtensionWords];

    // Initialises only what the record's readers look at (it sits on every call's stack).
    tStatus() noexcept { reset(kFullSize); }
    explicit tStatus(uint64_t recordSize) noexcept { reset(recordSize); }

    bool isFatal() const noexcept { return code < 0; }
    bool isWarning() const noexcept { return code > 0; }
    bool isFull() const noexcept { return size >= kFullSize; }
    // The value an exported function returns.
    int32_t result() const noexcept { return static_cast<int32_t>(code); }

    // Never inlined: it sits on the error paths of the transactions, whose
    // exports inline everything else (its text copies would only bloat them).
    [[gnu::noinline]] bool setCode(int64_t newCode, const char *componentName, const char *fileName,
                                   uint64_t lineNumber) noexcept;
    bool merge(const tStatus &other) noexcept;
    void clear() noexcept;

private:
    // Inline: every export and every driver command builds a record.
    void reset(uint64_t recordSize) noexcept {
        size = recordSize;
        code = 0;
        if (isFull()) {
            component[0] = '\0';
            file[0] = '\0';
            line = 0;
            extension[0] = 0;
        }
    }
};

static_assert(sizeof(tStatus) == 216, "tStatus is a fixed 216-byte record");
static_assert(offsetof(tStatus, size) == 0 && offsetof(tStatus, code) == 8);
static_assert(offsetof(tStatus, component) == 16 && offsetof(tStatus, file) == 26);
static_assert(offsetof(tStatus, line) == 128 && offsetof(tStatus, extension) == 136);

}  // namespace nZELSMBUS000

// Sets a code with this library's component and the current source location
// (file names are relative to the source tree, see -fmacro-prefix-map).
#define ZELSMBUS_SET_CODE(status, newCode) \
    ((status).setCode((newCode), ::nZELSMBUS000::kComponent, __FILE__, __LINE__))
