// The board's flash as the tool reads it: through the flash library's
// primitives, over a register port made of the register attributes.
#include "boardPinOut.h"

#include "flash/firmwareWrite.h"
#include "flash/flashAccess.h"
#include "flash/flashChips.h"
#include "flash/flashLock.h"
#include "flash/flashScope.h"
#include "flash/tAttributeRegisterPort.h"

namespace zelsmbus_tool {
namespace {

using nZELSMBUS000::tStatus;

using nZELSMBUS000::tFlashChip;

// A 16-bit pin-out word (the indirect port's) or a 32-bit one.
bool shortWord(const tFlashChip &chip) { return chip.pinOutBytes == 2; }

bool erasedWord(const tFlashChip &chip, uint32_t word) {
    return shortWord(chip) ? (word & 0xFFFFu) == 0xFFFFu : word == 0xFFFFFFFFu;
}

// The pin-out word at an address as the library reads it before an update:
// a reading of all ones (which a flash that does not answer gives too) is
// read a second time, and the second reading stands.
uint32_t readPinOutWord(nZELSMBUS000::iRegisterPort &port, const tFlashChip &chip,
                        uint32_t address, tStatus &status) {
    auto once = [&] {
        switch (chip.port) {
            case nZELSMBUS000::tFlashPort::indirect:
                return nZELSMBUS000::readIndirectWord(port, address, status) & 0xFFFFu;
            case nZELSMBUS000::tFlashPort::serial:
                break;
        }
        nZELSMBUS000::waitInterfaceReady(port, status);
        return nZELSMBUS000::readFlashWord(port, address, status);
    };
    const uint32_t first = once();
    if (status.isFatal() || !erasedWord(chip, first)) return first;
    return once();
}

// Runs a procedure on the board's flash with the session unrestricted for it
// (register attributes need that), once the flash is identified: a reading
// procedure sends it nothing else, a writing one starts from a device at
// rest (the write itself ends what it starts on every path).
template <typename Procedure>
bool onFlash(tSMBusHandle *handle, nZELSMBUS000::tFlashAccess access, Procedure procedure) {
    tStatus status;
    const nZELSMBUS000::tUnrestrictedSession unrestricted(handle, status);
    nZELSMBUS000::tAttributeRegisterPort port(handle);
    const uint16_t flashId = access == nZELSMBUS000::tFlashAccess::write
                                 ? nZELSMBUS000::identifyFlashForWriting(port, status)
                                 : nZELSMBUS000::identifyFlashForReading(port, status);
    if (status.isFatal()) return false;
    procedure(port, flashId, status);
    return !status.isFatal();
}

}  // namespace

uint32_t firmwareRegionSize(uint16_t flashId) { return nZELSMBUS000::firmwareRegionSize(flashId); }

std::optional<uint16_t> readFlashIdentifier(const FlashWriterLock &, tSMBusHandle *handle) {
    uint16_t found = 0;
    const bool read = onFlash(handle, nZELSMBUS000::tFlashAccess::read,
                              [&](auto &, uint16_t flashId, tStatus &) { found = flashId; });
    if (!read) return std::nullopt;
    return found;
}

bool restFlash(const FlashWriterLock &, tSMBusHandle *handle) {
    return onFlash(handle, nZELSMBUS000::tFlashAccess::write, [](auto &, uint16_t, tStatus &) {});
}

bool bootHeaderIntact(const FlashWriterLock &, tSMBusHandle *handle) {
    bool intact = false;
    const bool read = onFlash(handle, nZELSMBUS000::tFlashAccess::read,
                              [&](auto &port, uint16_t flashId, tStatus &status) {
                                  if (flashId != nZELSMBUS000::kFlashId9D17) return;
                                  intact = nZELSMBUS000::indirectBootHeaderIntact(port, status);
                              });
    return read && intact;
}

std::optional<BoardPinOut> readBoardPinOut(const FlashWriterLock &, tSMBusHandle *handle,
                                           uint32_t pinOutAddress) {
    BoardPinOut board{0, 0, false, 0};
    const tFlashChip *chip = nullptr;
    const bool read = onFlash(handle, nZELSMBUS000::tFlashAccess::read, [&](auto &port, uint16_t flashId, tStatus &status) {
        board.flashId = flashId;
        chip = nZELSMBUS000::findFlashChip(flashId);
        if (chip == nullptr) {
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);  // a device the library does not update
            return;
        }
        board.word = readPinOutWord(port, *chip, pinOutAddress, status);
    });
    if (!read || chip == nullptr) return std::nullopt;
    board.erased = erasedWord(*chip, board.word);
    // The version is the word's first byte in the flash.
    board.version = shortWord(*chip) ? (board.word >> 8) & 0xFFu : board.word & 0xFFu;
    return board;
}

std::optional<std::vector<uint8_t>> readFirmwareRegion(const FlashWriterLock &,
                                                       tSMBusHandle *handle, uint16_t flashId,
                                                       uint32_t offset) {
    std::vector<uint8_t> region(firmwareRegionSize(flashId));
    if (region.empty()) return std::nullopt;
    const bool read = onFlash(handle, nZELSMBUS000::tFlashAccess::read, [&](auto &port, uint16_t found, tStatus &status) {
        if (found != flashId) ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        nZELSMBUS000::readFlashRegion(port, flashId, offset, uint32_t(region.size()), region.data(),
                                      status);
    });
    if (!read) return std::nullopt;
    return region;
}

std::optional<std::vector<uint8_t>> readConfigBlocks(const FlashWriterLock &,
                                                     tSMBusHandle *handle, uint32_t first,
                                                     uint32_t count) {
    std::vector<uint8_t> bytes;
    const bool read = onFlash(handle, nZELSMBUS000::tFlashAccess::read, [&](auto &port, uint16_t found, tStatus &status) {
        if (found != nZELSMBUS000::kFlashId1010) status.code = ZELSMBUS_ERROR_NOT_SUPPORTED;
        std::vector<uint32_t> words(nZELSMBUS000::kConfigBlockWords);
        for (uint32_t block = first; block < first + count && !status.isFatal(); ++block) {
            nZELSMBUS000::readConfigBlock(port, block, words.data(), status);
            // A block's words are big-endian in the flash.
            for (uint32_t word : words) {
                for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(word >> shift));
            }
        }
    });
    if (!read) return std::nullopt;
    return bytes;
}

bool restorePinOutWord(const FlashWriterLock &held, tSMBusHandle *handle, uint16_t flashId,
                       uint32_t address, uint32_t word) {
    const bool programmed = onFlash(handle, nZELSMBUS000::tFlashAccess::write, [&](auto &port, uint16_t found, tStatus &status) {
        const tFlashChip *chip = nZELSMBUS000::findFlashChip(flashId);
        if (found != flashId || chip == nullptr) {
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
            return;
        }
        // The word's bytes as they lie in the flash.
        const uint8_t shortBytes[2] = {uint8_t(word >> 8), uint8_t(word)};
        const uint8_t longBytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16),
                                      uint8_t(word >> 24)};
        nZELSMBUS000::programFlashBytes(port, flashId, address,
                                        shortWord(*chip) ? shortBytes : longBytes,
                                        chip->pinOutBytes, status);
    });
    const std::optional<BoardPinOut> now = readBoardPinOut(held, handle, address);
    return programmed && now && now->word == word;
}

}  // namespace zelsmbus_tool
