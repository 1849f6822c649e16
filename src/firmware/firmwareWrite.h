// Writing a firmware image into the controller's flash, and starting it.
#pragma once

#include <cstdint>

#include "controller/iRegisterPort.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

// Writes byteCount bytes as the firmware region at offset (device 0xBF8E; 0 on
// 0x1010; ignored on 0x9D17, whose region is fixed), padding the region with
// 0xFF. Checks the signature and the flash device first; `erasing`, when
// given, is set once those checks passed and the flash is about to change.
// Whatever way it ends, the device is left at rest (see flashScope.h).
void writeFirmwareRegion(iRegisterPort &port, uint32_t offset, uint32_t byteCount,
                         const uint8_t *bytes, tStatus &status, bool *erasing = nullptr);

// Makes device 0x9D17 restart from the freshly written region.
void activateIndirectFirmware(iRegisterPort &port, tStatus &status);

// Whether the region [offset, offset + region size) suits the serial device:
// aligned to its 64 KiB erase blocks and inside the 24-bit address space.
bool firmwareOffsetFits(uint16_t flashId, uint32_t offset);

}  // namespace nZELSMBUS000
