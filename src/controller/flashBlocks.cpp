// Configuration blocks of device 0x1010 and whole firmware regions.
#include <cstring>

#include "controller/flashAccess.h"
#include "controller/flashBitOrder.h"
#include "controller/flashScope.h"

namespace nZELSMBUS000 {

namespace reg = nFlashRegister;

namespace {
constexpr uint32_t kConfigBlockCount = 4;

// -52002 unless the flash behind the controller is device 0x1010.
void requireConfigFlash(iSMBusController &controller, tStatus &status) {
    const uint16_t flashId = identifyFlash(controller, status);
    if (!status.isFatal() && flashId != kFlashId1010) ZELSMBUS_SET_CODE(status, -52002);
}
}  // namespace

void readConfigBlock(iSMBusController &controller, uint32_t block, uint32_t *words,
                     tStatus &status) {
    if (status.isFatal()) return;
    if (words == nullptr) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    requireConfigFlash(controller, status);
    if (status.isFatal()) return;
    if (block >= kConfigBlockCount) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    const tFlashScope transfer(controller, kFlashId1010, tFlashHold::serialTransfer, status);
    flashCommand(controller, block * kConfigBlockBytes + 0x03000000, 0x304, status);
    for (uint32_t index = 0; index < kConfigBlockWords && !status.isFatal(); ++index) {
        controller.writeRegister(reg::kSerialControl, 0x304, status);
        waitInterfaceReady(controller, status);
        uint32_t value = 0;
        controller.readRegister(reg::kSerialData, value, status);
        if (!status.isFatal()) words[index] = reverseBitsInBytes(value);
    }
    controller.writeRegister(reg::kSerialControl, 0x200, status);
}

void eraseConfigBlock(iSMBusController &controller, uint32_t block, tStatus &status) {
    if (status.isFatal()) return;
    if (block >= kConfigBlockCount) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    requireConfigFlash(controller, status);
    if (status.isFatal()) return;
    const tFlashScope erase(controller, kFlashId1010, tFlashHold::writeProcedure, status);
    setFlashWriteEnable(controller, kFlashId1010, true, status);
    flashCommand(controller, 0xD8000000 + block * kConfigBlockBytes, 0x204, status);
    waitFlashIdle(controller, status);
}

void writeConfigBlock(iSMBusController &controller, uint32_t block, const uint32_t *words,
                      tStatus &status) {
    if (status.isFatal()) return;
    if (words == nullptr || block >= kConfigBlockCount || words[0] == 0) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    requireConfigFlash(controller, status);
    if (status.isFatal()) return;
    const tFlashScope write(controller, kFlashId1010, tFlashHold::writeProcedure, status);
    constexpr uint32_t kWordsPerPage = kFlashPageBytes / 4;
    for (uint32_t page = 0; page < kConfigBlockBytes / kFlashPageBytes && !status.isFatal();
         ++page) {
        uint8_t bytes[kFlashPageBytes];
        for (uint32_t index = 0; index < kWordsPerPage; ++index)
            storeBigEndian(words[page * kWordsPerPage + index], bytes + index * 4);
        setFlashWriteEnable(controller, kFlashId1010, true, status);
        programFlashPage(controller, block * kConfigBlockBytes + page * kFlashPageBytes, bytes,
                         status);
    }
    if (status.isFatal()) return;
    setFlashWriteEnable(controller, kFlashId1010, false, status);
    controller.writeRegister(reg::kSerialControl, 0x200, status);
}

void readFlashRegion(iSMBusController &controller, uint16_t flashId, uint32_t offset,
                     uint32_t length, uint8_t *out, tStatus &status) {
    if (status.isFatal()) return;
    const uint32_t regionSize = firmwareRegionSize(flashId);
    if (regionSize == 0 || length != regionSize || out == nullptr) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    uint32_t signature = 0;
    controller.readRegister(reg::kSignature, signature, status);
    if (status.isFatal()) return;
    if (signature != kControllerSignature) {
        ZELSMBUS_SET_CODE(status, -52005);
        return;
    }
    if (flashId == kFlashId9D17) {
        // The indirect region always starts at its fixed base.
        const tFlashScope transfer(controller, flashId, tFlashHold::indirectTransfer, status);
        controller.writeRegister(reg::kIndirectControl, 1, status);
        controller.writeRegister(reg::kIndirectAddress, kIndirectRegionBase, status);
        controller.writeRegister(reg::kIndirectReadData, 0, status);
        waitIndirectIdle(controller, status);
        for (uint32_t index = 0; index < length / 2 && !status.isFatal(); ++index) {
            uint32_t value = 0;
            controller.readRegister(reg::kIndirectReadData, value, status);
            waitIndirectIdle(controller, status);
            out[2 * index] = uint8_t(value >> 8);
            out[2 * index + 1] = uint8_t(value);
        }
        controller.writeRegister(reg::kIndirectControl, 2, status);
        return;
    }
    const tFlashScope transfer(controller, flashId, tFlashHold::serialTransfer, status);
    flashCommand(controller, offset | 0x03000000, 0x304, status);
    for (uint32_t index = 0; index < length / 4 && !status.isFatal(); ++index) {
        controller.writeRegister(reg::kSerialControl, 0x304, status);
        waitInterfaceReady(controller, status);
        uint32_t value = 0;
        controller.readRegister(reg::kSerialData, value, status);
        storeLittleEndian(reverseWordBits(value), out + 4 * index);
    }
    controller.writeRegister(reg::kSerialControl, 0x200, status);
    waitInterfaceReady(controller, status);
}

}  // namespace nZELSMBUS000
