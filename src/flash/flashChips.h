// The flash devices (chips) the library knows, one row each: everything the flash
// procedures need to tell one device from another. The procedures choose
// their steps by the enumerations below in switches without a default, so a
// new method is a compiler warning everywhere it matters. Adding a device is
// a row here, and a method file only when it is written in a new way (see
// docs/flash-chips.md).
#pragma once

#include <cstdint>

namespace nZELSMBUS000 {

// Which of the controller's ports reaches the device.
enum class tFlashPort {
    serial,    // registers 64-76: command word, transfer control, ready, data
    indirect,  // registers 0x2000-0x2014: control, sector erase, address, data
};

// Where the firmware region lies, and what the image's Offset may say.
enum class tRegionPlacement {
    fixedAtZero,  // at flash address 0; an Offset other than 0 is refused
    atOffset,     // at the image's Offset, aligned to the erase unit, inside 24 address bits
    fixedBase,    // at the row's regionBase whatever the Offset says
};

// How an update erases and programs the region (one file each under
// src/firmware/: writePageProgram.cpp, writeAutoIncrement.cpp,
// writeIndirect.cpp).
enum class tWriteMethod {
    pageProgram,    // erase blocks, waiting on the status register; 256-byte page programs
    autoIncrement,  // erase blocks, waiting their erase time; two bytes per command
    indirectPages,  // erase sectors through the indirect port; 256-byte transfers
};

// How writing is enabled and disabled.
enum class tWriteEnable {
    latch,               // write enable / write disable
    latchAndProtection,  // the status register's block protection too
    indirectPort,        // the indirect port's control register, checked in the device status
};

// How the device is brought to rest and told to be idle.
enum class tRestMethod {
    statusRegister,  // polled through the serial status register (0x05)
    eraseTime,       // given the time of its longest operation; its status is never read
    indirectStatus,  // polled through the indirect port's device status
};

struct tFlashChip {
    uint16_t id;                 // what the device answers to identification
    tFlashPort port;
    uint32_t regionBytes;        // the firmware region, written whole by an update
    tRegionPlacement placement;
    uint32_t regionBase;         // the region's flash address for fixed placements
    uint32_t eraseBytes;         // the erase unit (block or sector)
    uint32_t eraseMilliseconds;  // the time an erase is given when the status is not read
    tWriteMethod write;
    tWriteEnable writeEnable;
    tRestMethod rest;
    uint32_t trailerBytes;       // a CRC-16 of the rest of the region in its last bytes (0: none)
    bool keepsCopy;              // the region is saved before the erase and put back after a failure
    bool configBlocks;           // configuration blocks 0-3 (attribute 1006's flag in block 2)
    bool activation;             // the new firmware is started by writing a boot header
    uint32_t pinOutBytes;        // 4: a serial word, version in its low byte;
                                 // 2: a 16-bit indirect word, version in bits 8-15
};

inline constexpr tFlashChip kFlashChips[] = {
    {0x1010, tFlashPort::serial, 0x10000, tRegionPlacement::fixedAtZero, 0, 0x8000, 0,
     tWriteMethod::pageProgram, tWriteEnable::latch, tRestMethod::statusRegister, 0, true, true,
     false, 4},
    {0xBF8E, tFlashPort::serial, 0x80000, tRegionPlacement::atOffset, 0, 0x10000, 25,
     tWriteMethod::autoIncrement, tWriteEnable::latchAndProtection, tRestMethod::eraseTime, 2,
     false, false, false, 4},
    {0x9D17, tFlashPort::indirect, 0x300000, tRegionPlacement::fixedBase, 0x300000, 0x10000, 0,
     tWriteMethod::indirectPages, tWriteEnable::indirectPort, tRestMethod::indirectStatus, 0,
     false, false, true, 2},
};

// The row of a device; null for an identifier the library does not know.
inline const tFlashChip *findFlashChip(uint16_t flashId) noexcept {
    for (const tFlashChip &device : kFlashChips)
        if (device.id == flashId) return &device;
    return nullptr;
}

}  // namespace nZELSMBUS000
