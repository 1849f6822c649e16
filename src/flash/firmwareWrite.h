// Writing a firmware image into the controller's flash, and starting it.
#pragma once

#include <cstdint>

#include "flash/iRegisterPort.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

// What the firmware region of `flashId` holds once byteCount bytes are
// written: the bytes, 0xFF up to the region's end and, on 0xBF8E, the CRC-16
// trailer in the last two bytes. `region` holds the region's size.
void composeFirmwareRegion(uint16_t flashId, const uint8_t *bytes, uint32_t byteCount,
                           uint8_t *region);

// The largest firmware that fits a device's region (0xBF8E keeps its last
// two bytes for the trailer); 0 for an unknown device.
uint32_t firmwareCapacity(uint16_t flashId);

// Writes byteCount bytes as the firmware region at offset (device 0xBF8E; 0 on
// 0x1010; ignored on 0x9D17, whose region is fixed), padding the region with
// 0xFF. Checks the signature and the flash device first; `erasing`, when
// given, is set once those checks passed and the flash is about to change.
// Whatever way it ends, the device is left at rest (see flashScope.h).
void writeFirmwareRegion(iRegisterPort &port, uint32_t offset, uint32_t byteCount,
                         const uint8_t *bytes, tStatus &status, bool *erasing = nullptr);

// Programs a few bytes (a pin-out word) at a flash address of the device
// without erasing: only bits that read 1 can change, so the bytes must read
// erased first. Up to 256 bytes.
void programFlashBytes(iRegisterPort &port, uint16_t flashId, uint32_t address,
                       const uint8_t *bytes, uint32_t length, tStatus &status);

// Whether a failure code of the firmware update (ZELSMBusWriteFirmware)
// only ever comes before anything was erased: the flash then holds what it
// held before the call. Every other failure may come once the erase has
// begun (on 0x1010 the old firmware is then back in full unless the code is
// ZELSMBUS_ERROR_REGION_DAMAGED).
bool firmwareRefusedBeforeErase(int32_t code);

// The bytes at flash address 0 that activation writes on 0x9D17 (its boot
// header, 18 sixteen-bit words); the rest of sector 0 is erased with it.
inline constexpr uint32_t kBootHeaderBytes = 36;

// Makes device 0x9D17 restart from the freshly written region.
void activateIndirectFirmware(iRegisterPort &port, tStatus &status);
// Whether 0x9D17's boot header reads back as activation writes it.
bool indirectBootHeaderIntact(iRegisterPort &port, tStatus &status);

// Whether the region [offset, offset + region size) suits the serial device:
// aligned to its 64 KiB erase blocks and inside the 24-bit address space.
bool firmwareOffsetFits(uint16_t flashId, uint32_t offset);

}  // namespace nZELSMBUS000
