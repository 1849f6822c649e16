// Flash operations built from the controller's register reads and writes.
//
// Two ports reach the flash: the serial command port (registers 64-76, flash
// devices 0x1010 and 0xBF8E) and the indirect port (registers 0x2000-0x2014,
// device 0x9D17). Every operation takes the caller's status last and does
// nothing when it already holds an error.
#pragma once

#include <cstdint>

#include "flash/flashChips.h"
#include "flash/iRegisterPort.h"
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

// Serial flash instructions (the top byte of a command word).
constexpr uint32_t kOpWriteStatus = 0x01;
constexpr uint32_t kOpPageProgram = 0x02;
constexpr uint32_t kOpRead = 0x03;
constexpr uint32_t kOpWriteDisable = 0x04;
constexpr uint32_t kOpReadStatus = 0x05;
constexpr uint32_t kOpWriteEnable = 0x06;
constexpr uint32_t kOpEnableStatusWrite = 0x50;  // 0xBF8E: lets the next 0x01 through
constexpr uint32_t kOpBusyOutputOn = 0x70;       // 0xBF8E: busy shown on the data line
constexpr uint32_t kOpBusyOutputOff = 0x80;
constexpr uint32_t kOpAutoIncrement = 0xAD;      // 0xBF8E: two bytes per command
constexpr uint32_t kOpIdentify = 0xAB;
constexpr uint32_t kOpBlockErase = 0xD8;

// A command word: the instruction in its top byte, then up to three bytes
// (a 24-bit address, or data).
constexpr uint32_t serialCommand(uint32_t instruction, uint32_t rest = 0) {
    return instruction << 24 | (rest & 0xFFFFFFu);
}

// Transfer control words of register 68: the low byte is the number of
// command bytes to move (at most 4), bit 8 keeps the flash selected after them.
constexpr uint32_t kSerialEnd = 0x200;  // moves nothing: deselects the flash, ending a frame
constexpr uint32_t kSerialSendOne = 0x201;
constexpr uint32_t kSerialSendTwo = 0x202;
constexpr uint32_t kSerialSendThree = 0x203;
constexpr uint32_t kSerialSendFour = 0x204;
constexpr uint32_t kSerialKeepFour = 0x304;              // four bytes, the frame stays open
constexpr uint32_t kSerialAutoIncrementStart = 0x704;    // 0xBF8E: address of an auto-increment run
constexpr uint32_t kSerialBusyOutputOff = 0xA01;         // 0xBF8E: with instruction 0x80
// Register 72: the interface has moved the last command's bytes.
constexpr uint32_t kSerialInterfaceReady = 1;
// 0xBF8E's status register bits that protect every block.
constexpr uint32_t kBF8EProtectAllBlocks = 0x3C;

// Indirect port: control words of 0x2000 and device commands of 0x2014.
constexpr uint32_t kIndirectOpen = 1;            // opens a transfer at 0x2008's address
constexpr uint32_t kIndirectClose = 2;           // closes it (programs what was written)
constexpr uint32_t kIndirectRequestReset = 4;
constexpr uint32_t kIndirectWriteEnable = 16;
constexpr uint32_t kIndirectWriteDisable = 32;
constexpr uint32_t kIndirectWriteEnabledBit = 2;  // in 0x2000's value
constexpr uint32_t kIndirectReadStatus = 0x50000;
constexpr uint32_t kIndirectResetEnable = 0x660000;
constexpr uint32_t kIndirectReset = 0x990000;
constexpr uint32_t kIndirectBusy = 1;            // in the device status
constexpr uint32_t kIndirectErrorBits = 0x5D;    // in the device status
constexpr uint32_t kIndirectStatusWriteEnabled = 2;

constexpr uint16_t kFlashId1010 = 0x1010;
constexpr uint16_t kFlashIdBF8E = 0xBF8E;
constexpr uint16_t kFlashId9D17 = 0x9D17;

constexpr uint32_t kConfigBlockWords = 8192;
constexpr uint32_t kConfigBlockBytes = kConfigBlockWords * 4;
constexpr uint32_t kFlashPageBytes = 256;
constexpr uint32_t kIndirectRegionBase = 0x300000;
constexpr uint32_t k1010RegionBytes = 0x10000;
constexpr uint32_t kBF8ERegionBytes = 0x80000;
constexpr uint32_t k9D17RegionBytes = 0x300000;

// The serial flash's wait (waitFlashIdle): up to 627 polls, 1 ms apart for
// the first 30 and 10 ms apart after that (about 6 s).
constexpr int kFlashIdlePolls = 627;
constexpr int kFlashIdleFastPolls = 30;
// 0x9D17's device status: up to 10 polls, 100 ms apart, while it is busy.
constexpr int kIndirectBusyPolls = 10;
constexpr uint32_t kIndirectBusyPollMilliseconds = 100;

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

// Reads `length` bytes of device 0x9D17 from `address` (two per transfer,
// high byte first); length must be even.
void readIndirectBytes(iRegisterPort &port, uint32_t address, uint32_t length, uint8_t *out,
                       tStatus &status);

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
// Polls the device status until its busy bit clears (kIndirectBusyPolls,
// sleeping after each); ZELSMBUS_ERROR_TIMEOUT while it stays busy. Returns
// the last status read (0 on error).
uint32_t waitIndirectDeviceReady(iRegisterPort &port, tStatus &status);
void resetIndirectFlash(iRegisterPort &port, tStatus &status);
// 0 on error.
uint32_t readIndirectWord(iRegisterPort &port, uint32_t address, tStatus &status);

}  // namespace nZELSMBUS000
