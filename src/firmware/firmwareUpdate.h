// Firmware update: checks an image against the controller, writes it, reads
// it back and, where the device needs it, starts it.
#pragma once

#include <cstdint>

#include "controller/iSMBusController.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

// The update behind ZELSMBusWriteFirmware (length > 0, image not null). After
// a failure the region holds the old firmware or the new one, never a mix,
// on device 0x1010, which keeps a copy, unless the code is
// ZELSMBUS_ERROR_REGION_DAMAGED; on the others it may be left erased or
// partly written, and the same call made again completes it. Success means
// the new firmware read back whole. firmwareRefusedBeforeErase() tells the
// codes that leave the flash as it was.
void writeFirmware(iSMBusController &controller, uint32_t length, const char *image, uint32_t flags,
                   tStatus &status);

}  // namespace nZELSMBUS000
