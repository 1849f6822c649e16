// Flash operations built from the controller's register reads and writes.
//
// Two ports reach the flash: the serial command port (registers 64-76, flash
// devices 0x1010 and 0xBF8E) and the indirect port (registers 0x2000-0x2014,
// device 0x9D17). Every operation takes the caller's status last and does
// nothing when it already holds an error.
#pragma once

#include <cstdint>

#include "controller/iRegisterPort.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

namespace nFlashRegister {
constexpr uint32_t kSignature = 0;
constexpr uint32_t kFirmwareVersion = 4;
constexpr uint32_t kSerialCommand = 64;
constexpr uint32_t kSerialControl = 68;
constexpr uint32_t kSerialStatus = 72;
constexpr uint32_t kSerialData = 76;
constexpr uint32_t kIndirectControl = 0x2000;
constexpr uint32_t kIndirectErase = 0x2004;
constexpr uint32_t kIndirectAddress = 0x2008;
constexpr uint32_t kIndirectReadData = 0x200C;
constexpr uint32_t kIndirectWriteData = 0x2010;
constexpr uint32_t kIndirectCommand = 0x2014;
}  // namespace nFlashRegister

constexpr uint32_t kControllerSignature = 0x727EBABE;

constexpr uint16_t kFlashId1010 = 0x1010;
constexpr uint16_t kFlashIdBF8E = 0xBF8E;
constexpr uint16_t kFlashId9D17 = 0x9D17;

constexpr uint32_t kConfigBlockWords = 8192;
constexpr uint32_t kConfigBlockBytes = kConfigBlockWords * 4;
constexpr uint32_t kFlashPageBytes = 256;
constexpr uint32_t kIndirectRegionBase = 0x300000;

// Size of the firmware region of a flash device; 0 for an unknown device.
uint32_t firmwareRegionSize(uint16_t flashId);

// Serial command port.
void flashCommand(iRegisterPort &port, uint32_t word, uint32_t control, tStatus &status);
void waitInterfaceReady(iRegisterPort &port, tStatus &status);
// Bits of the serial flash's status register.
constexpr uint32_t kFlashStatusBusy = 1u << 0;
constexpr uint32_t kFlashStatusWriteEnabled = 1u << 1;
// The serial flash's status register (its low byte); 0 when the status holds an error.
uint32_t readFlashStatus(iRegisterPort &port, tStatus &status);
// Polls the flash's status register until it is neither busy nor write-enabled.
void waitFlashIdle(iRegisterPort &port, tStatus &status);
// As waitFlashIdle, but only until it is no longer busy (a write enable may stay).
void waitFlashReady(iRegisterPort &port, tStatus &status);
// 0 when the status holds an error.
uint16_t readFlashId(iRegisterPort &port, tStatus &status);
// readFlashId, asked a second time when the first answer is 0xFFFF.
uint16_t identifyFlash(iRegisterPort &port, tStatus &status);
void setFlashWriteEnable(iRegisterPort &port, uint16_t flashId, bool enable,
                         tStatus &status);
// The word at a flash address in memory order; 0 on error.
uint32_t readFlashWord(iRegisterPort &port, uint32_t address, tStatus &status);
// Programs the 256 bytes of one page (the page must be erased and write-enabled).
void programFlashPage(iRegisterPort &port, uint32_t address,
                      const uint8_t (&page)[kFlashPageBytes], tStatus &status);

// Configuration blocks of device 0x1010 (blocks 0-3, 8192 big-endian words).
void readConfigBlock(iRegisterPort &port, uint32_t block, uint32_t *words,
                     tStatus &status);
void eraseConfigBlock(iRegisterPort &port, uint32_t block, tStatus &status);
void writeConfigBlock(iRegisterPort &port, uint32_t block, const uint32_t *words,
                      tStatus &status);

// Reads a whole firmware region; length must be the device's region size.
void readFlashRegion(iRegisterPort &port, uint16_t flashId, uint32_t offset,
                     uint32_t length, uint8_t *out, tStatus &status);

// Indirect port.
void waitIndirectIdle(iRegisterPort &port, tStatus &status);
uint32_t readIndirectStatus(iRegisterPort &port, tStatus &status);
void resetIndirectFlash(iRegisterPort &port, tStatus &status);
// 0 on error.
uint32_t readIndirectWord(iRegisterPort &port, uint32_t address, tStatus &status);

}  // namespace nZELSMBUS000
