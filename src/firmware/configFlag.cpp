#include "firmware/configFlag.h"

#include <boost/shared_array.hpp>
#include <cstring>

#include "flash/flashAccess.h"
#include "flash/flashChips.h"
#include "flash/flashScope.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace {

constexpr uint32_t kErasedWord = 0xFFFFFFFFu;
constexpr uint32_t kFactoryFlagWord = 0x100;  // what an erased flag word starts from

// Identifies the flash (see flashScope.h); ZELSMBUS_ERROR_NOT_SUPPORTED
// unless it keeps configuration blocks. A reader sends nothing but
// identifications; a writer also brings the device to rest.
// Returns the device's identifier.
uint16_t requireConfigFlash(iRegisterPort &port, bool writing, tStatus &status) {
    const uint16_t flashId = writing ? identifyFlashForWriting(port, status)
                                     : identifyFlashForReading(port, status);
    const tFlashChip *device = findFlashChip(flashId);
    if (!status.isFatal() && (device == nullptr || !device->configBlocks))
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
    return flashId;
}

// Object allocation throws std::bad_alloc; the exports turn that into ZELSMBUS_ERROR_OUT_OF_MEMORY.
boost::shared_array<uint32_t> makeBlockBuffer() {
    return boost::shared_array<uint32_t>(new uint32_t[kConfigBlockWords]);
}

// Reads block 2 to keep it, twice: a word that did not answer reads all
// ones, which the block may hold as well, so only two readings that agree
// are kept. Readings that differ fail with ZELSMBUS_ERROR_IO.
void saveBlock(iRegisterPort &port, uint32_t *words, uint32_t *scratch, tStatus &status) {
    readConfigBlock(port, kConfigFlagBlock, words, status);
    readConfigBlock(port, kConfigFlagBlock, scratch, status);
    if (!status.isFatal() && std::memcmp(words, scratch, kConfigBlockBytes) != 0)
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_IO);
}

// Erases block 2, writes `words` to it and reads it back into `readBack`. Each
// of the three ends what it started on every path (they hold their own scopes).
void rewriteBlock(iRegisterPort &port, const uint32_t *words, uint32_t *readBack,
                  tStatus &status) {
    eraseConfigBlock(port, kConfigFlagBlock, status);
    writeConfigBlock(port, kConfigFlagBlock, words, status);
    readConfigBlock(port, kConfigFlagBlock, readBack, status);
}

// Whether block 2 holds `original`, writing it back when it does not, under
// statuses of their own (the caller's holds the failure that made this
// necessary). A block that still reads as it was is left alone; a write-back
// that does not read back is tried once more.
bool repairBlock(iRegisterPort &port, const uint32_t *original, uint32_t *scratch) {
    tStatus checkStatus;
    readConfigBlock(port, kConfigFlagBlock, scratch, checkStatus);
    if (!checkStatus.isFatal() && std::memcmp(scratch, original, kConfigBlockBytes) == 0)
        return true;
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
    requireConfigFlash(port, false, status);
    if (status.isFatal()) return false;
    boost::shared_array<uint32_t> words = makeBlockBuffer();
    readConfigBlock(port, kConfigFlagBlock, words.get(), status);
    // A flag word of all ones may be a word that did not answer: the second
    // reading stands.
    if (!status.isFatal() && words[kConfigFlagWord] == kErasedWord)
        readConfigBlock(port, kConfigFlagBlock, words.get(), status);
    if (status.isFatal()) return false;
    return (words[kConfigFlagWord] & kConfigFlagMask) == kConfigFlagSet;
}

void writeConfigFlag(iRegisterPort &port, bool value, tStatus &status) {
    const uint16_t flashId = requireConfigFlash(port, true, status);
    if (status.isFatal()) return;
    boost::shared_array<uint32_t> block = makeBlockBuffer();
    boost::shared_array<uint32_t> original = makeBlockBuffer();
    saveBlock(port, original.get(), block.get(), status);
    if (status.isFatal()) return;

    const uint32_t flag = original[kConfigFlagWord] & kConfigFlagMask;
    if ((value && flag == kConfigFlagSet) || (!value && flag == kConfigFlagClear)) return;

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
    // written: the old block must be back and read back, or the call says
    // the block is damaged. A flash still busy after the release's wait (or
    // whose status cannot be read) answers nothing: it is not erased again.
    if (flashStillBusy(port, flashId) || !repairBlock(port, original.get(), block.get())) {
        status.clear();
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_REGION_DAMAGED);
        return;
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_SYSTEM);
}

}  // namespace nZELSMBUS000
