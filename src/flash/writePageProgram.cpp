// Devices written by page program over the serial port (0x1010): block
// erases waited for on the status register, then 256-byte pages.
#include "flash/flashAccess.h"
#include "flash/flashScope.h"
#include "flash/writeMethods.h"

namespace nZELSMBUS000 {

namespace reg = nFlashRegister;

namespace {
void programPages(iRegisterPort &port, uint16_t flashId, uint32_t address, const uint8_t *bytes,
                  uint32_t length, tStatus &status) {
    const uint32_t pages = (length + kFlashPageBytes - 1) / kFlashPageBytes;
    for (uint32_t page = 0; page < pages && !status.isFatal(); ++page) {
        setFlashWriteEnable(port, flashId, true, status);
        programFlashPage(
            port, address + page * kFlashPageBytes,
            *reinterpret_cast<const uint8_t(*)[kFlashPageBytes]>(bytes + page * kFlashPageBytes),
            status);
    }
}
}  // namespace

void writeRegionPageProgram(iRegisterPort &port, const tFlashChip &device,
                            const uint8_t *region, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope procedure(port, device.id, tFlashHold::writeProcedure, status);
    for (uint32_t at = 0; at < device.regionBytes && !status.isFatal(); at += device.eraseBytes) {
        setFlashWriteEnable(port, device.id, true, status);
        port.writeRegister(reg::kSerialCommand,
                           serialCommand(kOpBlockErase, device.regionBase + at), status);
        port.writeRegister(reg::kSerialControl, kSerialSendFour, status);
        waitFlashIdle(port, status);
    }
    programPages(port, device.id, device.regionBase, region, device.regionBytes, status);
    setFlashWriteEnable(port, device.id, false, status);
}

void programPageProgram(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                        const uint8_t *bytes, uint32_t length, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope procedure(port, device.id, tFlashHold::writeProcedure, status);
    programPages(port, device.id, address, bytes, length, status);
    setFlashWriteEnable(port, device.id, false, status);
}

}  // namespace nZELSMBUS000
