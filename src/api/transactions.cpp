// The bus transactions, bus lock and reset. Each transaction is one driver
// command behind the checks of admit().
#include <cstdint>
#include <cstring>

#include "api/tSMBusHandle.h"
#include "controller/iSMBusController.h"
#include "status/tStatus.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;

// A transaction's whole path, down to its one ioctl, is inlined into its
// export: where the library is optimised as a whole (see src/CMakeLists.txt)
// the controller and protocol layers then cost no calls of their own. Setting
// a code stays a call (tStatus::setCode is never inlined).
#define ZELSMBUS_TRANSACTION [[gnu::flatten]]

namespace {

constexpr uint8_t kChassisEepromAddress = 0xA4;

// The checks every transaction makes before its one controller call, in this
// order: the handle, the caller's pointers and sizes, then the address
// protection of a restricted session. True when the controller may be called.
inline bool admit(tSMBusHandle *handle, bool argumentsValid, uint8_t address, tStatus &status) {
    if (handle == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return false;
    }
    if (!argumentsValid) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (handle->unrestricted == 0 && handle->isProtected(address)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_PROTECTED);
        return false;
    }
    return true;
}

// Data to write: at most `limit` bytes, and a pointer whenever there is any.
inline bool validInput(const void *data, uint32_t count, uint32_t limit) {
    return count <= limit && (data != nullptr || count == 0);
}

inline uint8_t pecFlag(int32_t pec) { return pec != 0 ? 1 : 0; }

// The I2C transfers and the block process call report success as a warning.
inline int32_t transferDone(tStatus &status) {
    ZELSMBUS_SET_CODE(status, ZELSMBUS_WARNING_TRANSFER_DONE);
    return status.result();
}

// A driver count beyond the 32 bytes it sent is never copied past them.
inline void copyBlockOut(uint8_t *destination, const tBlockData &received, uint8_t count) {
    std::memcpy(destination, received, count < ZELSMBUS_BLOCK_MAX ? count : ZELSMBUS_BLOCK_MAX);
}

bool portReachesChassisEeprom(iSMBusController &controller) {
    tStatus flagsStatus;
    uint8_t chassisEepromPort = 0, extendedProtection = 0;
    controller.getPortFlags(chassisEepromPort, extendedProtection, flagsStatus);
    return !flagsStatus.isFatal() && chassisEepromPort != 0;
}

}  // namespace

extern "C" {

ZELSMBUS_TRANSACTION int32_t ZELSMBusQuickRead(tSMBusHandle *handle, uint8_t address) {
    tStatus status;
    if (admit(handle, true, address, status)) handle->controller->quickRead(address, status);
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusQuickWrite(tSMBusHandle *handle, uint8_t address) {
    tStatus status;
    if (admit(handle, true, address, status))
        handle->controller->quickWrite(address, status);
    else if (status.code == ZELSMBUS_ERROR_PROTECTED)
        return 0;  // a quick write to a protected address is dropped silently
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusSendByte(tSMBusHandle *handle, uint8_t address, uint8_t data,
                                              int32_t pec) {
    tStatus status;
    if (admit(handle, true, address, status))
        handle->controller->sendByte(address, data, pecFlag(pec), status);
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusReceiveByte(tSMBusHandle *handle, uint8_t address, int32_t pec,
                                                 uint8_t *data) {
    tStatus status;
    if (admit(handle, data != nullptr, address, status))
        handle->controller->receiveByte(address, pecFlag(pec), *data, status);
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusWriteByte(tSMBusHandle *handle, uint8_t address,
                                               uint8_t command, uint8_t data, int32_t pec) {
    tStatus status;
    if (admit(handle, true, address, status))
        handle->controller->writeByte(address, command, data, pecFlag(pec), status);
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusReadByte(tSMBusHandle *handle, uint8_t address,
                                              uint8_t command, int32_t pec, uint8_t *data) {
    tStatus status;
    if (admit(handle, data != nullptr, address, status))
        handle->controller->readByte(address, command, pecFlag(pec), *data, status);
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusWriteWord(tSMBusHandle *handle, uint8_t address,
                                               uint8_t command, uint16_t data, int32_t pec) {
    tStatus status;
    if (admit(handle, true, address, status))
        handle->controller->writeWord(address, command, data, pecFlag(pec), status);
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusReadWord(tSMBusHandle *handle, uint8_t address,
                                              uint8_t command, int32_t pec, uint16_t *data) {
    tStatus status;
    if (admit(handle, data != nullptr, address, status))
        handle->controller->readWord(address, command, pecFlag(pec), *data, status);
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusProcessCall(tSMBusHandle *handle, uint8_t address,
                                                 uint8_t command, uint16_t data, int32_t pec,
                                                 uint16_t *result) {
    tStatus status;
    if (admit(handle, result != nullptr, address, status))
        handle->controller->processCall(address, command, data, pecFlag(pec), *result, status);
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusWriteBlock(tSMBusHandle *handle, uint8_t address,
                                                uint8_t command, uint8_t count, const uint8_t *data,
                                                int32_t pec) {
    tStatus status;
    if (admit(handle, validInput(data, count, ZELSMBUS_BLOCK_MAX), address, status)) {
        tBlockData block;
        if (count != 0) std::memcpy(block, data, count);
        handle->controller->writeBlock(address, command, count, pecFlag(pec), block, status);
    }
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusReadBlock(tSMBusHandle *handle, uint8_t address,
                                               uint8_t command, int32_t pec, uint8_t *count,
                                               uint8_t *data) {
    tStatus status;
    // The count is only known after the read, so the data pointer is always needed.
    if (admit(handle, count != nullptr && data != nullptr, address, status)) {
        tBlockData block;
        handle->controller->readBlock(address, command, pecFlag(pec), *count, block, status);
        if (!status.isFatal()) copyBlockOut(data, block, *count);
    }
    return status.result();
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusBlockProcessCall(tSMBusHandle *handle, uint8_t address,
                                                      uint8_t command, uint8_t writeCount,
                                                      const uint8_t *writeData, int32_t pec,
                                                      uint8_t *readCount, uint8_t *readData) {
    tStatus status;
    const bool valid = validInput(writeData, writeCount, ZELSMBUS_BLOCK_MAX) &&
                       readCount != nullptr && readData != nullptr;
    if (admit(handle, valid, address, status)) {
        tBlockData written, read;
        if (writeCount != 0) std::memcpy(written, writeData, writeCount);
        handle->controller->blockProcessCall(address, command, writeCount, pecFlag(pec), *readCount,
                                             written, read, status);
        if (!status.isFatal()) copyBlockOut(readData, read, *readCount);
    }
    return transferDone(status);
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusWriteBlockI2C(tSMBusHandle *handle, uint8_t address,
                                                   uint8_t command, uint32_t length,
                                                   const uint8_t *data) {
    tStatus status;
    if (admit(handle, validInput(data, length, ZELSMBUS_I2C_MAX), address, status)) {
        tI2CData block;
        if (length != 0) std::memcpy(block, data, length);
        handle->controller->writeBlockI2C(address, command, length, block, status);
    }
    return transferDone(status);
}

ZELSMBUS_TRANSACTION int32_t ZELSMBusReadBlockI2C(tSMBusHandle *handle, uint8_t address,
                                                  uint8_t command, uint32_t length, uint8_t *data) {
    tStatus status;
    bool go = admit(handle, validInput(data, length, ZELSMBUS_I2C_MAX), address, status);
    // A restricted session may still read the chassis EEPROM of a port that reaches it.
    if (!go && status.code == ZELSMBUS_ERROR_PROTECTED && address == kChassisEepromAddress &&
        portReachesChassisEeprom(*handle->controller)) {
        status.clear();
        go = true;
    }
    if (go) {
        tI2CData block;
        handle->controller->readBlockI2C(address, command, length, block, status);
        if (!status.isFatal() && length != 0) std::memcpy(data, block, length);
    }
    return transferDone(status);
}

int32_t ZELSMBusLock(tSMBusHandle *handle) {
    tStatus status;
    if (handle == nullptr)
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
    else
        handle->controller->lock(status);
    return status.result();
}

int32_t ZELSMBusUnlock(tSMBusHandle *handle) {
    tStatus status;
    if (handle == nullptr)
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
    else
        handle->controller->unlock(status);
    return status.result();
}

int32_t ZELSMBusResetBus(tSMBusHandle *) {
    tStatus status;
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
    return status.result();
}

}  // extern "C"
