#include "firmware/configFlag.h"

#include <boost/shared_array.hpp>
#include <cstring>

#include "controller/flashAccess.h"

namespace nZELSMBUS000 {

namespace {

// -52002 unless the controller's flash keeps configuration blocks.
void requireConfigFlash(iRegisterPort &port, tStatus &status) {
    const uint16_t flashId = identifyFlash(port, status);
    if (!status.isFatal() && flashId != kFlashId1010) ZELSMBUS_SET_CODE(status, -52002);
}

// Object allocation throws std::bad_alloc; the exports turn that into -52000.
boost::shared_array<uint32_t> makeBlockBuffer() {
    return boost::shared_array<uint32_t>(new uint32_t[kConfigBlockWords]);
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
// was is written once more.
void repairBlock(iRegisterPort &port, const uint32_t *original, uint32_t *scratch) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        tStatus repairStatus;
        rewriteBlock(port, original, scratch, repairStatus);
        if (!repairStatus.isFatal() && std::memcmp(scratch, original, kConfigBlockBytes) == 0)
            return;
    }
}

}  // namespace

bool readConfigFlag(iRegisterPort &port, tStatus &status) {
    requireConfigFlash(port, status);
    if (status.isFatal()) return false;
    boost::shared_array<uint32_t> words = makeBlockBuffer();
    readConfigBlock(port, kConfigFlagBlock, words.get(), status);
    if (status.isFatal()) return false;
    return (words[kConfigFlagWord] & kConfigFlagMask) == kConfigFlagSet;
}

void writeConfigFlag(iRegisterPort &port, bool value, tStatus &status) {
    requireConfigFlash(port, status);
    if (status.isFatal()) return;
    boost::shared_array<uint32_t> block = makeBlockBuffer();
    readConfigBlock(port, kConfigFlagBlock, block.get(), status);
    if (status.isFatal()) return;

    const uint32_t flag = block[kConfigFlagWord] & kConfigFlagMask;
    if ((value && flag == kConfigFlagSet) || (!value && flag == kConfigFlagClear)) return;

    boost::shared_array<uint32_t> original = makeBlockBuffer();
    std::memcpy(original.get(), block.get(), kConfigBlockBytes);

    uint32_t &word = block[kConfigFlagWord];
    if (word == 0xFFFFFFFFu) word = 0x100;  // erased: start from the factory default
    word = (word & ~kConfigFlagMask) | (value ? kConfigFlagSet : kConfigFlagClear);
    const uint32_t wanted = word;

    // A block that cannot be written back must not be erased in the first place.
    if (block[0] == 0) {
        ZELSMBUS_SET_CODE(status, -52005);
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
    // written: the old block goes back, and the call reports the first failure.
    repairBlock(port, original.get(), block.get());
    ZELSMBUS_SET_CODE(status, -52003);
}

}  // namespace nZELSMBUS000
