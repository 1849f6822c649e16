// Configuration blocks of device 0x1010 and whole firmware regions.
#include <cstring>

#include "flash/flashAccess.h"
#include "flash/flashBitOrder.h"
#include "flash/flashScope.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace reg = nFlashRegister;

namespace {
constexpr uint32_t kConfigBlockCount = 4;

// The identifier of the flash behind the controller;
// ZELSMBUS_ERROR_NOT_SUPPORTED unless it keeps configuration blocks.
uint16_t requireConfigFlash(iRegisterPort &port, tStatus &status) {
    const uint16_t flashId = identifyFlash(port, status);
    const tFlashChip *chip = findFlashChip(flashId);
    if (!status.isFatal() && (chip == nullptr || !chip->configBlocks))
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
    return flashId;
}
}  // namespace

void readConfigBlock(iRegisterPort &port, uint32_t block, uint32_t *words,
                     tStatus &status) {
    if (status.isFatal()) return;
    if (words == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    const uint16_t flashId = requireConfigFlash(port, status);
    if (status.isFatal()) return;
    if (block >= kConfigBlockCount) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    const tFlashScope transfer(port, flashId, tFlashHold::serialTransfer, status);
    flashCommand(port, serialCommand(kOpRead, block * kConfigBlockBytes), kSerialKeepFour, status);
    for (uint32_t index = 0; index < kConfigBlockWords && !status.isFatal(); ++index) {
        port.writeRegister(reg::kSerialControl, kSerialKeepFour, status);
        waitInterfaceReady(port, status);
        uint32_t value = 0;
        port.readRegister(reg::kSerialData, value, status);
        if (!status.isFatal()) words[index] = reverseBitsInBytes(value);
    }
    port.writeRegister(reg::kSerialControl, kSerialEnd, status);
}

void eraseConfigBlock(iRegisterPort &port, uint32_t block, tStatus &status) {
    if (status.isFatal()) return;
    if (block >= kConfigBlockCount) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    const uint16_t flashId = requireConfigFlash(port, status);
    if (status.isFatal()) return;
    const tFlashScope erase(port, flashId, tFlashHold::writeProcedure, status);
    setFlashWriteEnable(port, flashId, true, status);
    flashCommand(port, serialCommand(kOpBlockErase, block * kConfigBlockBytes), kSerialSendFour,
                 status);
    waitFlashIdle(port, status);
}

void writeConfigBlock(iRegisterPort &port, uint32_t block, const uint32_t *words,
                      tStatus &status) {
    if (status.isFatal()) return;
    if (words == nullptr || block >= kConfigBlockCount || words[0] == 0) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    const uint16_t flashId = requireConfigFlash(port, status);
    if (status.isFatal()) return;
    const tFlashScope write(port, flashId, tFlashHold::writeProcedure, status);
    constexpr uint32_t kWordsPerPage = kFlashPageBytes / 4;
    for (uint32_t page = 0; page < kConfigBlockBytes / kFlashPageBytes && !status.isFatal();
         ++page) {
        uint8_t bytes[kFlashPageBytes];
        for (uint32_t index = 0; index < kWordsPerPage; ++index)
            storeBigEndian(words[page * kWordsPerPage + index], bytes + index * 4);
        setFlashWriteEnable(port, flashId, true, status);
        programFlashPage(port, block * kConfigBlockBytes + page * kFlashPageBytes, bytes,
                         status);
    }
    if (status.isFatal()) return;
    setFlashWriteEnable(port, flashId, false, status);
    port.writeRegister(reg::kSerialControl, kSerialEnd, status);
}

void readIndirectBytes(iRegisterPort &port, uint32_t address, uint32_t length, uint8_t *out,
                       tStatus &status) {
    if (status.isFatal()) return;
    if (out == nullptr || length % 2 != 0) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    const tFlashScope transfer(port, kFlashId9D17, tFlashHold::indirectTransfer, status);
    port.writeRegister(reg::kIndirectControl, kIndirectOpen, status);
    port.writeRegister(reg::kIndirectAddress, address, status);
    port.writeRegister(reg::kIndirectReadData, 0, status);
    waitIndirectIdle(port, status);
    for (uint32_t index = 0; index < length / 2 && !status.isFatal(); ++index) {
        uint32_t value = 0;
        port.readRegister(reg::kIndirectReadData, value, status);
        waitIndirectIdle(port, status);
        out[2 * index] = uint8_t(value >> 8);
        out[2 * index + 1] = uint8_t(value);
    }
    port.writeRegister(reg::kIndirectControl, kIndirectClose, status);
}

void readFlashRegion(iRegisterPort &port, uint16_t flashId, uint32_t offset,
                     uint32_t length, uint8_t *out, tStatus &status) {
    if (status.isFatal()) return;
    const tFlashChip *device = findFlashChip(flashId);
    if (device == nullptr || length != device->regionBytes || out == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    uint32_t signature = 0;
    port.readRegister(reg::kSignature, signature, status);
    if (status.isFatal()) return;
    if (signature != kControllerSignature) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return;
    }
    switch (device->port) {
        case tFlashPort::indirect:
            // The indirect region always starts at its fixed base.
            readIndirectBytes(port, device->regionBase, length, out, status);
            return;
        case tFlashPort::serial:
            break;
    }
    const tFlashScope transfer(port, flashId, tFlashHold::serialTransfer, status);
    flashCommand(port, serialCommand(kOpRead, offset), kSerialKeepFour, status);
    for (uint32_t index = 0; index < length / 4 && !status.isFatal(); ++index) {
        port.writeRegister(reg::kSerialControl, kSerialKeepFour, status);
        waitInterfaceReady(port, status);
        uint32_t value = 0;
        port.readRegister(reg::kSerialData, value, status);
        storeLittleEndian(reverseWordBits(value), out + 4 * index);
    }
    port.writeRegister(reg::kSerialControl, kSerialEnd, status);
    waitInterfaceReady(port, status);
}

}  // namespace nZELSMBUS000
