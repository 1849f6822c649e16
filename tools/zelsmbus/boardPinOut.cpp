#include "boardPinOut.h"

#include <chrono>
#include <thread>

namespace zelsmbus_tool {
namespace {

// Serial command port (flash devices 0x1010 and 0xBF8E).
constexpr uint32_t kSerialCommand = 64, kSerialControl = 68, kSerialStatus = 72, kSerialData = 76;
// Indirect port (flash device 0x9D17).
constexpr uint32_t kIndirectControl = 0x2000, kIndirectAddress = 0x2008, kIndirectReadData = 0x200C,
                   kIndirectWriteData = 0x2010, kIndirectCommand = 0x2014;
constexpr uint16_t kIndirectFlash = 0x9D17;

struct RegisterFailure {};

class Registers {
public:
    explicit Registers(tSMBusHandle *handle) : handle_(handle) {}

    uint32_t read(uint32_t offset) {
        uint32_t value = 0;
        if (ZELSMBusGetAttribute(handle_, ZELSMBUS_ATTR_REGISTER_FIRST + offset, &value) < 0) {
            throw RegisterFailure{};
        }
        return value;
    }
    void write(uint32_t offset, uint32_t value) {
        if (ZELSMBusSetAttribute(handle_, ZELSMBUS_ATTR_REGISTER_FIRST + offset, &value) < 0) {
            throw RegisterFailure{};
        }
    }

private:
    tSMBusHandle *handle_;
};

void sleepOneMillisecond() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// Two polls of a ready (or idle) bit, 1 ms apart, as the library waits.
void waitFor(Registers &r, uint32_t offset, uint32_t bit, bool set) {
    for (int poll = 0; poll < 2; ++poll) {
        if (((r.read(offset) & bit) != 0) == set) return;
        sleepOneMillisecond();
    }
    throw RegisterFailure{};
}

void flashCommand(Registers &r, uint32_t word, uint32_t control) {
    r.write(kSerialCommand, word);
    r.write(kSerialControl, control);
    waitFor(r, kSerialStatus, 1u, true);
}

uint16_t readFlashId(Registers &r) {
    flashCommand(r, 0xAB000000, 0x304);
    r.write(kSerialControl, 0x202);
    waitFor(r, kSerialStatus, 1u, true);
    return static_cast<uint16_t>(r.read(kSerialData));
}

uint32_t reverseBits(uint32_t word) {
    uint32_t reversed = 0;
    for (int bit = 0; bit < 32; ++bit) reversed |= ((word >> bit) & 1u) << (31 - bit);
    return reversed;
}

// The serial port moves array data with the bits of the word reversed.
uint32_t readSerialWord(Registers &r, uint32_t address) {
    flashCommand(r, (address & 0xFFFFFF) | 0x03000000, 0x304);
    flashCommand(r, 0, 0x204);
    return reverseBits(r.read(kSerialData));
}

void waitIndirectIdle(Registers &r) { waitFor(r, kIndirectControl, 1u << 4, false); }

uint32_t readIndirectStatus(Registers &r) {
    r.write(kIndirectCommand, 0x50000);
    waitIndirectIdle(r);
    return r.read(kIndirectCommand);
}

// The device reset that precedes every indirect read (it also ends write enable).
void resetIndirectFlash(Registers &r) {
    r.write(kIndirectControl, 4);
    waitFor(r, kIndirectControl, 1u << 2, true);
    r.write(kIndirectCommand, 0x660000);
    waitIndirectIdle(r);
    r.write(kIndirectCommand, 0x990000);
    waitIndirectIdle(r);
    r.write(kIndirectControl, 32);  // write enable off
    waitIndirectIdle(r);
    if (r.read(kIndirectControl) & 2u) throw RegisterFailure{};
    uint32_t deviceStatus = 0;
    for (int poll = 0; poll < 10; ++poll) {
        deviceStatus = readIndirectStatus(r);
        if ((deviceStatus & 0xFFu) == 0) break;
        sleepOneMillisecond();
    }
    if (deviceStatus & 0x5Du) throw RegisterFailure{};
    r.write(kIndirectControl, 2);
}

uint32_t readIndirectWord(Registers &r, uint32_t address) {
    resetIndirectFlash(r);
    r.write(kIndirectControl, 1);
    r.write(kIndirectAddress, address);
    r.write(kIndirectReadData, 0);
    waitIndirectIdle(r);
    const uint32_t value = r.read(kIndirectReadData);
    r.write(kIndirectControl, 2);
    return value;
}

// Closing a transfer cut short, as the library closes one, so that a failed
// register access never leaves the flash mid-transfer for the update that
// follows. Best effort: the failure that led here is the one reported.
void endSerialTransfer(Registers &r) {
    try {
        r.write(kSerialControl, 0x200);
        waitFor(r, kSerialStatus, 1u, true);
    } catch (const RegisterFailure &) {
    }
}

void endIndirectTransfer(Registers &r) {
    try {
        r.write(kIndirectControl, 32);  // write enable off first
        waitIndirectIdle(r);
    } catch (const RegisterFailure &) {
    }
    try {
        r.write(kIndirectControl, 2);
    } catch (const RegisterFailure &) {
    }
}

// Runs one port's reads; on a failure, ends the transfer before passing it on.
template <typename Reads>
auto closingOnFailure(Registers &r, void (*end)(Registers &), Reads reads) {
    try {
        return reads();
    } catch (const RegisterFailure &) {
        end(r);
        throw;
    }
}

BoardPinOut read(Registers &r, uint32_t pinOutAddress) {
    BoardPinOut board{0, 0, false, 0};
    board.flashId = closingOnFailure(r, endSerialTransfer, [&] {
        // A process stopped mid-way may have left a command open or 0xBF8E in
        // auto-increment mode, where an identification reads garbage: end the
        // frame and disable writing (which ends the mode) first.
        r.write(kSerialControl, 0x200);
        waitFor(r, kSerialStatus, 1u, true);
        flashCommand(r, 0x04000000, 0x201);
        const uint16_t id = readFlashId(r);
        return id == 0xFFFF ? readFlashId(r) : id;
    });
    if (board.flashId == kIndirectFlash) {
        const uint32_t word = closingOnFailure(r, endIndirectTransfer,
                                               [&] { return readIndirectWord(r, pinOutAddress); });
        board.version = (word >> 8) & 0xFFu;
        board.erased = (word & 0xFFFFu) == 0xFFFFu;
        board.word = word & 0xFFFFu;
    } else if (board.flashId == 0x1010 || board.flashId == 0xBF8E) {
        const uint32_t word = closingOnFailure(r, endSerialTransfer, [&] {
            waitFor(r, kSerialStatus, 1u, true);
            const uint32_t first = readSerialWord(r, pinOutAddress);
            return first == 0xFFFFFFFFu ? readSerialWord(r, pinOutAddress) : first;
        });
        board.version = word & 0xFFu;
        board.erased = word == 0xFFFFFFFFu;
        board.word = word;
    } else {
        throw RegisterFailure{};  // a device the library does not update either
    }
    return board;
}

// The serial device's status register until it is neither busy nor write
// enabled: up to 627 polls, 1 ms apart for the first 30, 10 ms after.
void waitFlashIdle(Registers &r) {
    for (int poll = 0; poll < 627; ++poll) {
        flashCommand(r, 0x05000000, 0x202);
        if ((r.read(kSerialData) & 3u) == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(poll < 30 ? 1 : 10));
    }
    throw RegisterFailure{};
}

// Whatever a process stopped mid-way left: an open transfer ended, write
// enable (and with it 0xBF8E's auto-increment mode) off, the device idle.
void bringSerialToRest(Registers &r) {
    r.write(kSerialControl, 0x200);
    waitFor(r, kSerialStatus, 1u, true);
    flashCommand(r, 0x04000000, 0x201);
    flashCommand(r, 0x05000000, 0x202);
    if (r.read(kSerialData) & 1u) {
        waitFlashIdle(r);
        flashCommand(r, 0x04000000, 0x201);
    }
}

void storeLittleEndian(uint8_t *at, uint32_t word) {
    for (int byte = 0; byte < 4; ++byte) at[byte] = uint8_t(word >> (8 * byte));
}

std::vector<uint8_t> readRegion(Registers &r, uint16_t flashId, uint32_t offset) {
    std::vector<uint8_t> region(firmwareRegionSize(flashId));
    if (flashId == kIndirectFlash) {
        resetIndirectFlash(r);  // drops a transfer left open, write enable off
        r.write(kIndirectControl, 1);
        r.write(kIndirectAddress, 0x300000);
        r.write(kIndirectReadData, 0);
        waitIndirectIdle(r);
        for (size_t at = 0; at < region.size(); at += 2) {
            const uint32_t word = r.read(kIndirectReadData);
            waitIndirectIdle(r);
            region[at] = uint8_t(word >> 8);
            region[at + 1] = uint8_t(word);
        }
        r.write(kIndirectControl, 2);
        return region;
    }
    bringSerialToRest(r);
    flashCommand(r, (offset & 0xFFFFFF) | 0x03000000, 0x304);
    for (size_t at = 0; at < region.size(); at += 4) {
        r.write(kSerialControl, 0x304);
        waitFor(r, kSerialStatus, 1u, true);
        storeLittleEndian(&region[at], reverseBits(r.read(kSerialData)));
    }
    r.write(kSerialControl, 0x200);
    waitFor(r, kSerialStatus, 1u, true);
    return region;
}

void setSerialWriteEnable(Registers &r, uint16_t flashId, bool enable) {
    if (flashId == 0xBF8E) {
        flashCommand(r, 0x50000000, 0x201);
        flashCommand(r, enable ? 0x01000000 : 0x013C0000, 0x202);
    }
    flashCommand(r, enable ? 0x06000000 : 0x04000000, 0x201);
}

void setIndirectWriteEnable(Registers &r, bool enable) {
    r.write(kIndirectControl, enable ? 16 : 32);
    waitIndirectIdle(r);
    if (((r.read(kIndirectControl) & 2u) != 0) != enable) throw RegisterFailure{};
    uint32_t deviceStatus = 0;
    for (int poll = 0; poll < 10; ++poll) {
        deviceStatus = readIndirectStatus(r);
        if ((deviceStatus & 0xFFu) == (enable ? 2u : 0u)) break;
        sleepOneMillisecond();
    }
    if (deviceStatus & 0x5Du) throw RegisterFailure{};
}

// Programs one word; erased flash takes it without an erase.
void programPinOutWord(Registers &r, uint16_t flashId, uint32_t address, uint32_t word) {
    if (flashId == kIndirectFlash) {
        resetIndirectFlash(r);
        setIndirectWriteEnable(r, true);
        r.write(kIndirectAddress, address);
        r.write(kIndirectControl, 1);
        r.write(kIndirectWriteData, word & 0xFFFFu);
        waitIndirectIdle(r);
        r.write(kIndirectControl, 2);
        sleepOneMillisecond();
        setIndirectWriteEnable(r, false);
        return;
    }
    bringSerialToRest(r);
    setSerialWriteEnable(r, flashId, true);
    flashCommand(r, (address & 0xFFFFFC) | 0x02000000, 0x304);
    flashCommand(r, reverseBits(word), 0x304);
    r.write(kSerialControl, 0x200);  // ending the frame starts the program
    waitFlashIdle(r);
    setSerialWriteEnable(r, flashId, false);
}

}  // namespace

uint32_t firmwareRegionSize(uint16_t flashId) {
    switch (flashId) {
        case 0x1010: return 0x10000;
        case 0xBF8E: return 0x80000;
        case kIndirectFlash: return 0x300000;
        default: return 0;
    }
}

// Register access needs an unrestricted session for the moment of the access.
template <typename Access>
bool unrestricted(tSMBusHandle *handle, Access access) {
    uint32_t wasUnrestricted = 0;
    const uint32_t on = 1;
    if (ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_UNRESTRICTED, &wasUnrestricted) < 0 ||
        ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_UNRESTRICTED, &on) < 0) {
        return false;
    }
    Registers registers(handle);
    bool done = true;
    try {
        access(registers);
    } catch (const RegisterFailure &) {
        done = false;
    }
    ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_UNRESTRICTED, &wasUnrestricted);
    return done;
}

std::optional<std::vector<uint8_t>> readFirmwareRegion(tSMBusHandle *handle, uint16_t flashId,
                                                       uint32_t offset) {
    if (firmwareRegionSize(flashId) == 0) return std::nullopt;
    std::vector<uint8_t> region;
    const bool done = unrestricted(handle, [&](Registers &r) {
        try {
            region = readRegion(r, flashId, offset);
        } catch (const RegisterFailure &) {
            flashId == kIndirectFlash ? endIndirectTransfer(r) : endSerialTransfer(r);
            throw;
        }
    });
    if (!done) return std::nullopt;
    return region;
}

bool restorePinOutWord(tSMBusHandle *handle, uint16_t flashId, uint32_t address, uint32_t word) {
    const bool programmed = unrestricted(handle, [&](Registers &r) {
        try {
            programPinOutWord(r, flashId, address, word);
        } catch (const RegisterFailure &) {
            flashId == kIndirectFlash ? endIndirectTransfer(r) : endSerialTransfer(r);
            throw;
        }
    });
    const std::optional<BoardPinOut> now = readBoardPinOut(handle, address);
    return programmed && now && now->word == word;
}

std::optional<BoardPinOut> readBoardPinOut(tSMBusHandle *handle, uint32_t pinOutAddress) {
    uint32_t wasUnrestricted = 0;
    if (ZELSMBusGetAttribute(handle, ZELSMBUS_ATTR_UNRESTRICTED, &wasUnrestricted) < 0) {
        return std::nullopt;
    }
    const uint32_t on = 1;
    if (ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_UNRESTRICTED, &on) < 0) return std::nullopt;
    std::optional<BoardPinOut> result;
    Registers registers(handle);
    try {
        result = read(registers, pinOutAddress);
    } catch (const RegisterFailure &) {
        result.reset();
    }
    ZELSMBusSetAttribute(handle, ZELSMBUS_ATTR_UNRESTRICTED, &wasUnrestricted);
    return result;
}

}  // namespace zelsmbus_tool
