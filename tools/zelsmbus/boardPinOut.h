// The pin-out version a controller's installed firmware carries, read from its
// flash the way the library reads it before an update, so that a mismatch can
// be shown with both versions before anything is written.
#pragma once

#include <zelsmbus.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "flashWriterLock.h"

namespace zelsmbus_tool {

struct BoardPinOut {
    uint16_t flashId;
    uint32_t version;  // 0-255
    bool erased;       // the whole word reads as erased flash: an update was cut short
    uint32_t word;     // as read: the serial word in memory order, or the indirect 16-bit word
};

// Each reading and writing below runs while the caller holds the controller's
// flash writer lock (the first argument says so), so that no other writer's
// commands mix with its own.
//
// Reads through the raw register attributes, for which the session is made
// unrestricted for the moment of the reading (the update itself needs no
// access rights either). nullopt when a register cannot be read, the flash
// device is unknown or an interface does not become ready: the library's own
// check then decides.
std::optional<BoardPinOut> readBoardPinOut(const FlashWriterLock &held, tSMBusHandle *handle,
                                           uint32_t pinOutAddress);

// The flash device's identifier, read as the library reads it before a
// reading (nothing else is sent); nullopt when it does not answer.
std::optional<uint16_t> readFlashIdentifier(const FlashWriterLock &held, tSMBusHandle *handle);

// Brings the flash to rest by its own means, as a writer does first (a
// writer killed in the middle may have left it busy or programming, when it
// answers no identification); true when it then identifies itself. Sends the
// device control instructions: only once the user agreed to write.
bool restFlash(const FlashWriterLock &held, tSMBusHandle *handle);

// Device 0x9D17: whether the boot header that starts its firmware reads back
// as a verified update leaves it (an update cut short leaves it erased).
bool bootHeaderIntact(const FlashWriterLock &held, tSMBusHandle *handle);

// The firmware region of the board's flash device (0x1010: 0x10000 bytes at 0;
// 0xBF8E: 0x80000 bytes at offset; 0x9D17: 0x300000 bytes at 0x300000), read
// once the device is identified, sending it nothing but reads; nullopt when a
// register access fails.
std::optional<std::vector<uint8_t>> readFirmwareRegion(const FlashWriterLock &held,
                                                       tSMBusHandle *handle, uint16_t flashId,
                                                       uint32_t offset);
uint32_t firmwareRegionSize(uint16_t flashId);  // 0 for a device without one

// Configuration blocks first..first+count-1 of device 0x1010 (32 KiB each,
// block n at flash address n * 0x8000), as bytes in flash order, read the way
// the library reads block 2 for attribute 1006; nullopt when a register
// access fails or the device is another.
std::optional<std::vector<uint8_t>> readConfigBlocks(const FlashWriterLock &held,
                                                     tSMBusHandle *handle, uint32_t first,
                                                     uint32_t count);

// Programs a pin-out word read earlier (BoardPinOut::word) back at its address,
// which must read erased; true when it reads back as given.
bool restorePinOutWord(const FlashWriterLock &held, tSMBusHandle *handle, uint16_t flashId,
                       uint32_t address, uint32_t word);

}  // namespace zelsmbus_tool
