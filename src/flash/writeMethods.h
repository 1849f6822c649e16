// The ways a flash device is written, one file each, chosen by the device's
// row (flash/flashChips.h): writePageProgram.cpp, writeAutoIncrement.cpp,
// writeIndirect.cpp. Each ends what it starts on every way out of it (see
// flash/flashScope.h) and does nothing when the status holds an error.
#pragma once

#include <cstdint>

#include "flash/flashChips.h"
#include "flash/iRegisterPort.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

// Erases the firmware region and programs all of `region` (the region's
// bytes as composeFirmwareRegion makes them) into it. `offset` is the image's
// Offset (used where the region lies at it); `byteCount` the firmware's own
// length (the indirect method programs only the pages that hold it).
void writeRegionPageProgram(iRegisterPort &port, const tFlashChip &device,
                            const uint8_t *region, tStatus &status);
void writeRegionAutoIncrement(iRegisterPort &port, const tFlashChip &device, uint32_t offset,
                              const uint8_t *region, tStatus &status);
void writeRegionIndirect(iRegisterPort &port, const tFlashChip &device, const uint8_t *region,
                         uint32_t byteCount, tStatus &status);

// Programs `length` bytes at `address` without erasing, whole units of the
// method around them being 0xFF (which programming leaves as they are):
// whole 256-byte pages for the page methods (address page-aligned, length a
// multiple of 256), byte pairs for auto-increment (address and length even).
void programPageProgram(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                        const uint8_t *bytes, uint32_t length, tStatus &status);
void programAutoIncrement(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                          const uint8_t *bytes, uint32_t length, tStatus &status);
void programIndirectPages(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                          const uint8_t *bytes, uint32_t length, tStatus &status);

}  // namespace nZELSMBUS000
