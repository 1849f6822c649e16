// Devices written by auto-increment programming over the serial port
// (0xBF8E): block erases given their erase time, then two bytes per command.
#include "driver/sleep.h"
#include "flash/flashAccess.h"
#include "flash/flashBitOrder.h"
#include "flash/flashScope.h"
#include "flash/writeMethods.h"

namespace nZELSMBUS000 {

using nZELOSAL000::sleepMilliseconds;

namespace {
// The address and the first two bytes in one command, then two bytes per
// command. The mode takes nothing but its own commands, write disable and
// the busy output switches: write disable ends it before the blocks are
// protected again. Runs inside the caller's scope.
void autoIncrement(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                   const uint8_t *bytes, uint32_t length, tStatus &status) {
    flashCommand(port, serialCommand(kOpBusyOutputOn), kSerialSendOne, status);
    setFlashWriteEnable(port, device.id, true, status);
    flashCommand(port, serialCommand(kOpAutoIncrement, address), kSerialAutoIncrementStart, status);
    for (uint32_t at = 0; at + 1 < length && !status.isFatal(); at += 2) {
        // The pair as the serial port sends it: each byte's bits reversed.
        const uint32_t pair =
            uint32_t(reverseByteBits(bytes[at])) << 8 | reverseByteBits(bytes[at + 1]);
        if (at == 0)
            flashCommand(port, pair << 16, kSerialSendTwo, status);
        else
            flashCommand(port, serialCommand(kOpAutoIncrement, pair << 8), kSerialSendThree, status);
    }
    flashCommand(port, serialCommand(kOpWriteDisable), kSerialSendOne, status);
    setFlashWriteEnable(port, device.id, false, status);
    flashCommand(port, serialCommand(kOpBusyOutputOff), kSerialBusyOutputOff, status);
}
}  // namespace

void writeRegionAutoIncrement(iRegisterPort &port, const tFlashChip &device, uint32_t offset,
                              const uint8_t *region, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope procedure(port, device.id, tFlashHold::writeProcedure, status);
    for (uint32_t at = 0; at < device.regionBytes && !status.isFatal(); at += device.eraseBytes) {
        setFlashWriteEnable(port, device.id, true, status);
        flashCommand(port, serialCommand(kOpBlockErase, offset + at), kSerialSendFour, status);
        if (!status.isFatal()) sleepMilliseconds(device.eraseMilliseconds);
    }
    autoIncrement(port, device, offset, region, device.regionBytes, status);
}

void programAutoIncrement(iRegisterPort &port, const tFlashChip &device, uint32_t address,
                          const uint8_t *bytes, uint32_t length, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashScope procedure(port, device.id, tFlashHold::writeProcedure, status);
    autoIncrement(port, device, address, bytes, length, status);
}

}  // namespace nZELSMBUS000
