#include "flashModel.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "statusWords.h"

namespace zelsim {

namespace {

constexpr uint16_t kSerialSmall = 0x1010;  // 128 KiB, 32 KiB blocks, page program
constexpr uint16_t kSerialLarge = 0xBF8E;  // 1 MiB, 64 KiB blocks, auto-increment programming
constexpr uint16_t kIndirect = 0x9D17;     // 6 MiB, 64 KiB sectors behind the indirect port

// What each device answers, and nothing more: an instruction a part does not
// define answers all ones and changes nothing, as absent hardware would.
struct Part {
    uint16_t flashId;
    uint32_t arrayBytes;
    bool behindIndirectPort;     // its serial port tells its identifier and nothing else
    const uint8_t *instructions;  // what its serial port answers, 0-terminated
    bool byteProgram;             // 0x02 programs one byte (otherwise up to a page)
};

constexpr uint8_t kSmallInstructions[] = {0xAB, 0x03, 0x05, 0x06, 0x04, 0x02, 0xD8, 0};
// 0xBF8E's status register is written (0x50, 0x01) but never read; its
// byte program is there, programming one byte, though updates use
// auto-increment (0xAD) only.
constexpr uint8_t kLargeInstructions[] = {0xAB, 0x03, 0x06, 0x04, 0x50, 0x01,
                                          0xD8, 0xAD, 0x70, 0x80, 0x02, 0};
constexpr uint8_t kIdentifyOnly[] = {0xAB, 0};

constexpr Part kParts[] = {
    {kSerialSmall, 0x20000, false, kSmallInstructions, false},
    {kSerialLarge, 0x100000, false, kLargeInstructions, true},
    {kIndirect, 0x600000, true, kIdentifyOnly, false},
};
// Any other identifier: a part that identifies itself and holds nothing.
constexpr Part kUnknownPart = {0, 0, false, kIdentifyOnly, false};

const Part &partOf(uint16_t flashId) {
    for (const Part &part : kParts)
        if (part.flashId == flashId) return part;
    return kUnknownPart;
}

bool answers(const Part &part, uint8_t instruction) {
    for (const uint8_t *at = part.instructions; *at != 0; ++at)
        if (*at == instruction) return true;
    return false;
}

uint8_t reverse(uint8_t value) {
    uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (value & (1u << bit)) result |= uint8_t(0x80u >> bit);
    return result;
}

uint32_t address24(const std::vector<uint8_t> &frame, size_t at) {
    return uint32_t(frame[at]) << 16 | uint32_t(frame[at + 1]) << 8 | frame[at + 2];
}

}  // namespace

FlashModel::FlashModel(const FlashSetup &setup, Clock clock)
    : flashId_(setup.flashId),
      signature_(setup.signature),
      version_(setup.firmwareVersion),
      clock_(std::move(clock)) {
    memory_.assign(arraySize(flashId_), 0xFF);
    switch (flashId_) {
        case kSerialSmall:
            eraseBlock_ = 0x8000;
            // Configuration block 2: a written block whose flag word holds the factory value.
            for (uint32_t word = 0; word < 8192; ++word) {
                const uint32_t value = word == 8179 ? 0x00200100u : 0x5A000000u | (word * 0x10001u);
                const uint32_t at = 0x10000 + word * 4;
                memory_[at] = uint8_t(value >> 24);
                memory_[at + 1] = uint8_t(value >> 16);
                memory_[at + 2] = uint8_t(value >> 8);
                memory_[at + 3] = uint8_t(value);
            }
            break;
        case kSerialLarge:
            statusBits_ = 0x3C;  // comes up with every block protected
            break;
        default:
            break;  // 0x9D17 starts erased; an unknown device identifies itself and holds nothing
    }
    if (setup.hasFirmware) installFirmware(setup.firmwareOffset, setup.firmware);
    if (setup.hasPinOut) writeArray(setup.pinOutAddress, &setup.pinOutVersion, 1);
}

uint32_t FlashModel::arraySize(uint16_t flashId) { return partOf(flashId).arrayBytes; }

bool FlashModel::indirectDevice() const { return partOf(flashId_).behindIndirectPort; }

bool FlashModel::firmwareRegion(uint16_t flashId, uint32_t offset, uint32_t &base, uint32_t &size) {
    switch (flashId) {
        case kSerialSmall: base = 0, size = 0x10000; return offset == 0;  // as an update refuses
        case kSerialLarge: base = offset, size = 0x80000; break;
        case kIndirect: base = 0x300000, size = 0x300000; break;
        default: return false;
    }
    return uint64_t(base) + size <= arraySize(flashId);
}

// The region as a successful update leaves it: the image, 0xFF after it, on
// 0xBF8E a CRC-16 of the rest in the last two bytes, on 0x9D17 the boot header
// that starts the firmware (register 4 stays as the world says).
void FlashModel::installFirmware(uint32_t offset, const std::vector<uint8_t> &bytes) {
    uint32_t base = 0, size = 0;
    if (!firmwareRegion(flashId_, offset, base, size) || bytes.size() > size) return;
    std::fill_n(memory_.begin() + long(base), size, uint8_t(0xFF));
    std::copy(bytes.begin(), bytes.end(), memory_.begin() + long(base));
    if (flashId_ == kSerialLarge) {
        uint16_t crc = 0xFFFF;
        for (uint32_t at = base; at < base + size - 2; ++at) {
            crc ^= uint16_t(memory_[at] << 8);
            for (int bit = 0; bit < 8; ++bit) crc = uint16_t(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
        }
        memory_[base + size - 2] = uint8_t(crc >> 8);
        memory_[base + size - 1] = uint8_t(crc);
    }
    if (flashId_ == kIndirect) {
        static const uint16_t kBootHeader[] = {0xAA99, 0x5566, 0x2000, 0x0000, 0x3002, 0x0001,
                                               0x0030, 0x0000, 0x3000, 0x8001, 0x0000, 0x000F,
                                               0x2000, 0x0000, 0x2000, 0x0000, 0x2000, 0x0000};
        for (size_t word = 0; word < 18; ++word) {
            memory_[2 * word] = uint8_t(kBootHeader[word] >> 8);
            memory_[2 * word + 1] = uint8_t(kBootHeader[word]);
        }
    }
}

bool FlashModel::claims(uint32_t offset) {
    return offset == 0 || offset == 4 || (offset >= 64 && offset <= 76 && offset % 4 == 0) ||
           (offset >= 0x2000 && offset <= 0x2014 && offset % 4 == 0);
}

void FlashModel::setIdentity(uint16_t flashId, uint32_t signature) {
    flashId_ = flashId;
    signature_ = signature;
}

// Busy ends when the clock (virtual time) reaches its end, and at the latest
// once the same time plus a margin has passed for real: a world in which
// nobody sleeps never keeps a part busy for good (a retry after a killed
// update), while a check made at once never depends on how the scheduler ran
// the program.
namespace {
// The real monotonic clock past every wrapper (a program's clocks run ahead
// by its virtual sleeps under the simulator).
uint64_t realNow() {
    timespec now{};
    ::syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}
}  // namespace

void FlashModel::startBusy(uint64_t now, uint64_t nanoseconds) {
    busyUntil_ = now + nanoseconds;
    busyRealUntil_ = realNow() + nanoseconds + kRealTimeMarginNs;
}

bool FlashModel::busy() const {
    return deviceStuckBusy || (clock_() < busyUntil_ && realNow() < busyRealUntil_);
}

// The clock, noticing when it was set back: whatever busy time was still
// pending is then counted from the new reading.
uint64_t FlashModel::now() {
    const uint64_t reading = clock_();
    if (reading < lastNow_)
        busyUntil_ = busyUntil_ > lastNow_ ? reading + (busyUntil_ - lastNow_) : 0;
    lastNow_ = reading;
    return reading;
}

void FlashModel::readArray(uint32_t address, uint8_t *out, size_t length) const {
    for (size_t index = 0; index < length; ++index) {
        const size_t at = size_t(address) + index;
        out[index] = at < memory_.size() ? memory_[at] : 0xFF;
    }
}

void FlashModel::writeArray(uint32_t address, const uint8_t *bytes, size_t length) {
    for (size_t index = 0; index < length; ++index) {
        const size_t at = size_t(address) + index;
        if (at < memory_.size()) memory_[at] = bytes[index];
    }
}

// A page program latches its data into a 256-byte page buffer, wrapping
// within the page: of more than 256 bytes only the last 256 are kept, each
// replacing what an earlier byte left at its position.
void FlashModel::program(uint32_t address, const uint8_t *bytes, size_t length, bool wrapInPage) {
    if (dropPrograms > 0) {
        --dropPrograms;
        return;
    }
    if (!wrapInPage) {
        for (size_t index = 0; index < length; ++index) {
            const size_t at = size_t(address) + index;
            if (at < memory_.size()) memory_[at] &= bytes[index];  // programming only clears bits
        }
        return;
    }
    uint8_t page[256] = {};
    bool latched[256] = {};
    for (size_t index = 0; index < length; ++index) {
        const uint8_t position = uint8_t(address + index);
        page[position] = bytes[index];
        latched[position] = true;
    }
    for (unsigned position = 0; position < 256; ++position) {
        const size_t at = (address & ~0xFFu) | position;
        if (latched[position] && at < memory_.size()) memory_[at] &= page[position];
    }
}

void FlashModel::erase(uint32_t address, uint32_t blockSize) {
    const size_t start = address / blockSize * size_t(blockSize);
    if (start >= memory_.size()) return;
    std::fill_n(memory_.begin() + long(start), std::min<size_t>(blockSize, memory_.size() - start),
                uint8_t(0xFF));
}

bool FlashModel::protectedArray() const { return flashId_ == kSerialLarge && (statusBits_ & 0x3C); }

// In auto-increment mode the flash takes only the next pair (0xAD), its status
// (0x05), write disable (0x04, which ends the mode) and the busy-output
// switches; every other instruction is ignored, status writes included.
bool FlashModel::refusedInAutoIncrement(uint8_t instruction) const {
    if (!autoIncrement_) return false;
    switch (instruction) {
        case 0xAD:
        case 0x05:
        case 0x04:
        case 0x70:
        case 0x80:
            return false;
        default:
            return true;
    }
}

FlashModel::State FlashModel::state() const {
    State s;
    s.selected = selected_;
    s.openInstruction = selected_ && !frame_.empty() ? frame_[0] : 0;
    s.writeEnabled = writeEnabled_;
    s.statusRegister = serialStatus();
    s.protection = flashId_ == kSerialLarge ? uint8_t(statusBits_ & 0x3C) : 0;
    s.autoIncrement = autoIncrement_;
    s.busy = busy();
    const uint64_t reading = clock_();
    s.busyNsLeft = s.busy && !deviceStuckBusy && busyUntil_ > reading ? busyUntil_ - reading : 0;
    s.indirectTransferOpen = transferOpen_;
    s.resetGranted = resetGranted_;
    return s;
}

// ---- registers ----------------------------------------------------------------

int32_t FlashModel::read(uint32_t offset, uint32_t &value) {
    now();
    if (offset >= 0x2000 && !indirectDevice()) {
        value = 0xFFFFFFFFu;  // no device behind the indirect port
        return 0;
    }
    switch (offset) {
        case 0:
            value = signature_;
            break;
        case 4:
            value = version_;
            break;
        case 64:
            value = command_;
            break;
        case 68:
            value = 0;
            break;
        case 72:
            value = interfaceStuck ? 0u : 1u;
            break;
        case 76:
            value = received_;
            if (missDataWord > 0 && --missDataWord == 0) value = 0xFFFFFFFFu;
            break;
        case 0x2000:
            value = (interfaceStuck ? 0x10u : 0u) | (resetGranted_ ? 4u : 0u) |
                    (writeEnabled_ ? 2u : 0u) | (transferOpen_ ? 1u : 0u);
            break;
        case 0x2008:
            value = address_;
            break;
        case 0x200C: {
            if (busy()) {  // a flash busy programming or erasing streams no data
                value = 0xFFFF;
                readPointer_ += 2;
                break;
            }
            uint8_t bytes[2];
            readArray(readPointer_, bytes, 2);
            value = uint32_t(bytes[0]) << 8 | bytes[1];
            readPointer_ += 2;
            break;
        }
        case 0x2014:
            value = statusLatch_;
            break;
        default:
            value = 0;
            break;
    }
    return 0;
}

int32_t FlashModel::write(uint32_t offset, uint32_t value) {
    now();
    if (offset >= 0x2000 && !indirectDevice()) return 0;
    switch (offset) {
        case 0:
        case 4:
        case 72:
        case 76:
            return kStatusReadOnly;
        case 64:
            command_ = value;
            break;
        case 68:
            serialTransfer(value);
            break;
        case 0x2000:
            indirectControl(value);
            break;
        case 0x2004:
            if (writeEnabled_ && !busy() && !interfaceStuck) {
                erase(value * 0x10000u, 0x10000);
                writeEnabled_ = false;
                startBusy(clock_(), kSectorEraseNs9D17);
            }
            break;
        case 0x2008:
            address_ = value;
            break;
        case 0x200C:
            readPointer_ = address_;
            break;
        case 0x2010:
            if (transferOpen_) {
                transferData_.push_back(uint8_t(value >> 8));
                transferData_.push_back(uint8_t(value));
            }
            break;
        case 0x2014:
            indirectCommand(value);
            break;
        default:
            break;
    }
    return 0;
}

// ---- serial port --------------------------------------------------------------
// Control word: low byte = bytes to move (at most 4, taken from the top of
// the command word), bit 8 = keep the flash selected afterwards.

void FlashModel::serialTransfer(uint32_t control) {
    if (interfaceStuck) return;
    const unsigned count = std::min<unsigned>(control & 0xFFu, 4);
    if (count > 0) received_ = 0;
    for (unsigned index = 0; index < count; ++index)
        received_ = received_ << 8 | clockByte(uint8_t(command_ >> (24 - 8 * index)));
    if ((control & 0x100u) == 0) endFrame();
}

uint8_t FlashModel::serialStatus() const {
    uint8_t status = statusBits_;
    if (busy()) status |= 1;
    if (writeEnabled_) status |= 2;
    if (autoIncrement_) status |= 0x40;
    return status;
}

// One byte on the wire: what the flash answers while the host shifts `out`.
uint8_t FlashModel::clockByte(uint8_t out) {
    if (!selected_) {
        selected_ = true;
        frame_.clear();
        instructionsSeen[out / 8] |= uint8_t(1u << (out % 8));
        // A part answers only its own instructions; a busy flash only its
        // status (the indirect part's serial port only identifies, busy or
        // not); auto-increment mode takes little.
        const Part &part = partOf(flashId_);
        frameIgnored_ = !answers(part, out) ||
                        (busy() && out != 0x05 && !part.behindIndirectPort) ||
                        refusedInAutoIncrement(out);
        frameUnanswered_ = false;
        unsigned *miss = out == 0xAB ? &missIdentify : out == 0x03 ? &missRead : nullptr;
        if (!frameIgnored_ && miss != nullptr && *miss > 0) {
            --*miss;
            frameUnanswered_ = true;
        }
    }
    // Bytes shifted while the flash stays selected continue the open command,
    // whatever instruction they carry.
    frame_.push_back(out);
    const size_t position = frame_.size() - 1;
    if (position == 0 || frameIgnored_ || frameUnanswered_) return 0xFF;
    switch (frame_[0]) {
        case 0x05:
            return serialStatus();
        case 0xAB:
            if (position < 4) return 0xFF;
            return (position - 4) % 2 == 0 ? uint8_t(flashId_ >> 8) : uint8_t(flashId_);
        case 0x03: {
            if (position < 4) return 0xFF;
            uint8_t data;
            readArray(address24(frame_, 1) + uint32_t(position - 4), &data, 1);
            return reverse(data);  // array data leaves the port bit-reversed
        }
        default:
            return 0xFF;
    }
}

void FlashModel::endFrame() {
    if (!selected_) return;
    selected_ = false;
    if (frameIgnored_ || frame_.empty()) return;
    const std::vector<uint8_t> &f = frame_;
    const uint64_t now = clock_();
    std::vector<uint8_t> data;
    switch (f[0]) {
        case 0x06:
            writeEnabled_ = true;
            break;
        case 0x04:
            writeEnabled_ = false;
            autoIncrement_ = false;
            break;
        case 0x50:
            statusWriteEnabled_ = true;
            break;
        case 0x01:
            if (f.size() >= 2 && (statusWriteEnabled_ || writeEnabled_)) {
                statusBits_ = f[1] & 0xBC;
                statusWriteEnabled_ = false;
                writeEnabled_ = false;
            }
            break;
        case 0x02:
            if (writeEnabled_ && f.size() > 4 && !protectedArray()) {
                // A byte program takes the first data byte and ignores the rest.
                const size_t end = partOf(flashId_).byteProgram ? 5 : f.size();
                for (size_t at = 4; at < end; ++at) data.push_back(reverse(f[at]));
                program(address24(f, 1), data.data(), data.size(), true);
                startBusy(now, partOf(flashId_).byteProgram ? kByteProgramNs : kPageProgramNs);
            }
            writeEnabled_ = false;
            break;
        case 0xD8:
            if (writeEnabled_ && f.size() >= 4 && !protectedArray()) {
                erase(address24(f, 1), eraseBlock_);
                startBusy(now, flashId_ == kSerialLarge ? kEraseNsBF8E : kEraseNs1010);
            }
            writeEnabled_ = false;
            break;
        case 0xAD: {
            // Auto-increment programming (0xBF8E only): address and two bytes
            // first, then two bytes per command. The controller holds each
            // transfer until the flash is ready, so no busy time shows.
            size_t at = 1;
            if (!autoIncrement_) {
                if (!writeEnabled_ || f.size() < 6 || protectedArray()) break;
                autoAddress_ = address24(f, 1);
                autoIncrement_ = true;
                at = 4;
            }
            if (f.size() < at + 2) break;
            const uint8_t pair[2] = {reverse(f[at]), reverse(f[at + 1])};
            program(autoAddress_, pair, 2, false);
            autoAddress_ += 2;
            break;
        }
        default:
            break;  // 0x70/0x80 (busy output on/off) and anything else: no state
    }
}

// ---- indirect port ------------------------------------------------------------

uint32_t FlashModel::indirectDeviceStatus() const {
    return (busy() ? 1u : 0u) | (writeEnabled_ ? 2u : 0u) | extraStatusBits;
}

void FlashModel::indirectControl(uint32_t value) {
    if (interfaceStuck) return;
    switch (value) {
        case 1:
            transferOpen_ = true;
            transferData_.clear();
            break;
        case 2:
            closeTransfer();
            resetGranted_ = false;
            break;
        case 4:
            resetGranted_ = true;
            break;
        case 16:
            if (!busy()) writeEnabled_ = true;
            break;
        case 32:
            writeEnabled_ = false;
            break;
        default:
            break;
    }
}

void FlashModel::indirectCommand(uint32_t value) {
    if (interfaceStuck) return;
    if (value == 0x50000) {
        statusLatch_ = indirectDeviceStatus();
    } else if (value == 0x660000 || value == 0x990000) {
        if (resetGranted_ && value == 0x990000 && lastCommand_ == 0x660000) {
            writeEnabled_ = false;
            transferOpen_ = false;
            transferData_.clear();
        }
    }
    lastCommand_ = value;
}

// Closing a transfer that carried data programs it as one page. A boot header
// written at address 0 whose words hold the restart command makes the device
// restart into its new firmware.
void FlashModel::closeTransfer() {
    if (!transferOpen_) return;
    transferOpen_ = false;
    if (transferData_.empty()) return;
    if (!writeEnabled_ || busy()) return;
    program(address_, transferData_.data(), transferData_.size(), true);
    writeEnabled_ = false;
    startBusy(clock_(), kPageProgramNs);
    if (address_ != 0 || transferData_.size() < 4) return;
    static const uint8_t kSync[] = {0xAA, 0x99, 0x55, 0x66};
    static const uint8_t kRestart[] = {0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x0F};
    const auto begin = transferData_.begin();
    if (std::equal(kSync, kSync + 4, begin) &&
        std::search(begin, transferData_.end(), kRestart, kRestart + 8) != transferData_.end()) {
        ++activations_;
        ++version_;
    }
}

}  // namespace zelsim
