// Drives tStatus through arbitrary sequences of setCode, merge and clear with
// arbitrary component and file texts, and checks after every step that the
// precedence rule held and the text fields stayed bounded and terminated.
// One of the records is a short (older layout) record living in a heap block
// of exactly 16 bytes, so any touch beyond its code is an AddressSanitizer
// report.
#include <cstdint>
#include <cstring>
#include <new>

#include "fuzzInput.h"
#include "status/tStatus.h"

using nZELSMBUS000::tStatus;
using zelfuzz::tExactBytes;
using zelfuzz::tFuzzInput;

namespace {

constexpr size_t kShortSize = 16;

bool precedenceStores(int64_t stored, int64_t offered) {
    if (offered == 0) return false;
    return stored == 0 || (stored > 0 && offered < 0);
}

void checkTexts(const tStatus &status) {
    if (!status.isFull()) return;
    // A fresh record clears only the first byte of each text; both must
    // always end inside their field.
    ZELFUZZ_CHECK(std::memchr(status.component, 0, tStatus::kComponentSize) != nullptr);
    ZELFUZZ_CHECK(std::memchr(status.file, 0, tStatus::kFileSize) != nullptr);
}

void checkStoredDetails(const tStatus &status, const char *component, const char *file,
                        uint64_t line) {
    if (!status.isFull()) return;
    ZELFUZZ_CHECK(std::strncmp(status.component, component, 9) == 0);
    const size_t fileLength = std::strlen(file);
    if (fileLength <= 100) {
        ZELFUZZ_CHECK(std::strcmp(status.file, file) == 0);
    } else {
        ZELFUZZ_CHECK(std::memcmp(status.file, file, 49) == 0);
        ZELFUZZ_CHECK(status.file[49] == '.' && status.file[50] == '.');
        ZELFUZZ_CHECK(std::memcmp(status.file + 51, file + fileLength - 49, 49) == 0);
        ZELFUZZ_CHECK(std::strlen(status.file) == 100);
    }
    ZELFUZZ_CHECK(status.line == line);
    ZELFUZZ_CHECK(status.extension[0] == 0);
}

// A record of the older, shorter layout: only size and code exist.
class tShortRecord {
public:
    tShortRecord() : block_(new uint8_t[kShortSize]) {
        const uint64_t size = kShortSize;
        const int64_t code = 0;
        std::memcpy(block_.get(), &size, sizeof size);
        std::memcpy(block_.get() + 8, &code, sizeof code);
    }
    tStatus &record() { return *reinterpret_cast<tStatus *>(block_.get()); }

private:
    std::unique_ptr<uint8_t[]> block_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    tFuzzInput input(data, size);
    tStatus full;
    tStatus second;
    tShortRecord shortRecord;
    tStatus *records[] = {&full, &second, &shortRecord.record()};

    for (int step = 0; step < 64 && input.left() != 0; ++step) {
        const uint8_t op = input.take<uint8_t>();
        tStatus &target = *records[(op >> 2) % 3];
        switch (op & 3) {
            case 0: {
                const int64_t code = input.take<int64_t>();
                const uint64_t line = input.take<uint64_t>();
                tExactBytes component = input.takeText();
                tExactBytes file = input.takeText();
                const int64_t before = target.code;
                const bool changed = target.setCode(code, component.text(), file.text(), line);
                ZELFUZZ_CHECK(changed == precedenceStores(before, code));
                ZELFUZZ_CHECK(target.code == (changed ? code : before));
                if (changed) checkStoredDetails(target, component.text(), file.text(), line);
                break;
            }
            case 1: {
                tStatus &source = *records[(op >> 4) % 3];
                if (&source == &target) break;
                const int64_t before = target.code;
                const bool changed = target.merge(source);
                ZELFUZZ_CHECK(changed == precedenceStores(before, source.code));
                ZELFUZZ_CHECK(target.code == (changed ? source.code : before));
                if (changed && target.isFull() && source.isFull()) {
                    ZELFUZZ_CHECK(std::strcmp(target.file, source.file) == 0);
                    ZELFUZZ_CHECK(std::strcmp(target.component, source.component) == 0);
                    ZELFUZZ_CHECK(target.line == source.line);
                }
                break;
            }
            case 2:
                target.clear();
                ZELFUZZ_CHECK(target.code == 0 && !target.isFatal() && !target.isWarning());
                break;
            default: {
                // A caller-built record of any size; only 216 and up are full.
                const uint64_t recordSize = input.take<uint64_t>();
                if (&target == &shortRecord.record()) break;
                new (&target) tStatus(recordSize);
                ZELFUZZ_CHECK(target.code == 0 && target.isFull() == (recordSize >= 216));
                break;
            }
        }
        for (tStatus *record : records) checkTexts(*record);
        ZELFUZZ_CHECK(shortRecord.record().size == kShortSize);
        ZELFUZZ_CHECK(full.result() == static_cast<int32_t>(full.code));
    }
    return 0;
}
