#include "firmware/configFlag.h"

#include <boost/shared_array.hpp>
#include <cstring>

#include "controller/flashAccess.h"
#include "controller/flashScope.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace {

constexpr uint32_t kErasedWord = 0xFFFFFFFFu;
constexpr uint32_t kFactoryFlagWord = 0x100;  // what an erased flag word starts from

// Brings the flash to rest (see bringFlashToRest); ZELSMBUS_ERROR_NOT_SUPPORTED
// unless it keeps configuration blocks.
void requireConfigFlash(iRegisterPort &port, tStatus &status) {
    const uint16_t flashId = bringFlashToRest(port, status);
    if (!status.isFatal() && flashId != kFlashId1010)
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
}

// Object allocation throws std::bad_alloc; the exports turn that into ZELSMBUS_ERROR_OUT_OF_MEMORY.
boost::shared_array<uint32_t> makeBlockBuffer() {
    return boost::shared_array<uint32_t>(new uint32_t[kConfigBlockWords]);
}

bool allErased(const uint32_t *words) {
    for (uint32_t index = 0; index < kConfigBlockWords; ++index)
        if (words[index] != kErasedWord) return false;
    return true;
}

// Reads block 2. A block that reads entirely erased is read again: a flash
// that did not answer reads the same way. Two readings that differ fail with
// ZELSMBUS_ERROR_IO.
void readBlockTrusted(iRegisterPort &port, uint32_t *words, tStatus &status) {
    readConfigBlock(port, kConfigFlagBlock, words, status);
    if (status.isFatal() || !allErased(words)) return;
    readConfigBlock(port, kConfigFlagBlock, words, status);
    if (!status.isFatal() && !allErased(words)) ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_IO);
}

// Erases block 2, writes `words` to it and reads it back into `readBack`. Each
// of the three ends what it started on every path (they hold their own scopes).
void rewriteBlock(iRegisterPort &port, const uint32_t *words, uint32_t *readBack,
                  tStatus &status) {
    eraseConfigBlock(port, kConfigFlagBlock, status);
    writeConfigBlock(port, kConfigFlagBlock, words, status);
    readConfigBlock(port, kConfigFlagBlock, readBack, status);
}

// Puts the old block back under a status of its own (the caller's holds the
// failure that made this necessary); a block that does not read back as it
// was is written once more. False when it could not be put back.
bool repairBlock(iRegisterPort &port, const uint32_t *original, uint32_t *scratch) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        tStatus repairStatus;
        rewriteBlock(port, original, scratch, repairStatus);
        if (!repairStatus.isFatal() && std::memcmp(scratch, original, kConfigBlockBytes) == 0)
            return true;
    }
    return false;
}

}  // namespace

bool readConfigFlag(iRegisterPort &port, tStatus &status) {
    requireConfigFlash(port, status);
    if (status.isFatal()) return false;
    boost::shared_array<uint32_t> words = makeBlockBuffer();
    readBlockTrusted(port, words.get(), status);
    if (status.isFatal()) return false;
    return (words[kConfigFlagWord] & kConfigFlagMask) == kConfigFlagSet;
}

void writeConfigFlag(iRegisterPort &port, bool value, tStatus &status) {
    requireConfigFlash(port, status);
    if (status.isFatal()) return;
    boost::shared_array<uint32_t> block = makeBlockBuffer();
    readBlockTrusted(port, block.get(), status);
    if (status.isFatal()) return;

    const uint32_t flag = block[kConfigFlagWord] & kConfigFlagMask;
    if ((value && flag == kConfigFlagSet) || (!value && flag == kConfigFlagClear)) return;

    boost::shared_array<uint32_t> original = makeBlockBuffer();
    std::memcpy(original.get(), block.get(), kConfigBlockBytes);

    uint32_t &word = block[kConfigFlagWord];
    if (word == kErasedWord) word = kFactoryFlagWord;
    word = (word & ~kConfigFlagMask) | (value ? kConfigFlagSet : kConfigFlagClear);
    const uint32_t wanted = word;

    // A block that cannot be written back must not be erased in the first place.
    if (block[0] == 0) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    rewriteBlock(port, block.get(), block.get(), status);

    // The block must read back as written: the old contents with the new flag.
    const uint32_t oldWord = original[kConfigFlagWord];
    original[kConfigFlagWord] = wanted;
    const bool intact =
        !status.isFatal() && std::memcmp(block.get(), original.get(), kConfigBlockBytes) == 0;
    original[kConfigFlagWord] = oldWord;
    if (intact) return;
    // Once the erase has begun, any failure may leave the block empty or half
    // written: the old block goes back, and the call reports the first
    // failure; a block that could not be put back says so instead. A flash
    // still busy after the release's wait answers nothing: it is not erased
    // again, and the failure stands.
    if (flashStillBusy(port, kFlashId1010)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TIMEOUT);
        return;
    }
    if (!repairBlock(port, original.get(), block.get())) {
        status.clear();
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_REGION_DAMAGED);
        return;
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_SYSTEM);
}

}  // namespace nZELSMBUS000
