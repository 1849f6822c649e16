// What the public interface sees of one SMBus controller port.
#pragma once

#include <cstdint>

#include "flash/flashLock.h"
#include "protocol/driverCommands.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

// Every operation takes the caller's status last and does nothing when it
// already holds an error. The declaration order is the slot order and must
// not change. Most operations are a driver command with the port filled in
// and take that command's arguments in its order (protocol/driverCommands.h);
// the block writes keep the order of this interface.
class iSMBusController {
public:
    virtual ~iSMBusController() = default;

    virtual void getPciIds(uint16_t &vendorId, uint16_t &deviceId, uint16_t &subsystemVendorId,
                           uint16_t &subsystemId, tStatus &status) = 0;
    virtual void getPciLocation(uint16_t &bus, uint16_t &device, uint16_t &function,
                                uint16_t &port, tStatus &status) = 0;
    virtual void getDeviceString(const char *&text, tStatus &status) = 0;
    virtual void getPortFlags(uint8_t &chassisEepromPort, uint8_t &extendedProtection,
                              tStatus &status) = 0;
    virtual void getPortString(const char *&text, tStatus &status) = 0;
    virtual void getProtectedAddresses(uint8_t &count, const uint8_t *&list, tStatus &status) = 0;
    virtual void lock(tStatus &status) = 0;
    virtual void unlock(tStatus &status) = 0;
    virtual void quickWrite(uint8_t address, tStatus &status) = 0;
    virtual void quickRead(uint8_t address, tStatus &status) = 0;
    virtual void sendByte(uint8_t address, uint8_t data, uint8_t pec, tStatus &status) = 0;
    virtual void receiveByte(uint8_t address, uint8_t pec, uint8_t &data, tStatus &status) = 0;
    virtual void writeByte(uint8_t address, uint8_t command, uint8_t data, uint8_t pec,
                           tStatus &status) = 0;
    virtual void readByte(uint8_t address, uint8_t command, uint8_t pec, uint8_t &data,
                          tStatus &status) = 0;
    virtual void writeWord(uint8_t address, uint8_t command, uint16_t data, uint8_t pec,
                           tStatus &status) = 0;
    virtual void readWord(uint8_t address, uint8_t command, uint8_t pec, uint16_t &data,
                          tStatus &status) = 0;
    virtual void processCall(uint8_t address, uint8_t command, uint16_t data, uint8_t pec,
                             uint16_t &reply, tStatus &status) = 0;
    virtual void writeBlock(uint8_t address, uint8_t command, uint8_t count, uint8_t pec,
                            const tBlockData &data, tStatus &status) = 0;
    virtual void readBlock(uint8_t address, uint8_t command, uint8_t pec, uint8_t &count,
                           tBlockData &data, tStatus &status) = 0;
    virtual void blockProcessCall(uint8_t address, uint8_t command, uint8_t writeCount,
                                  uint8_t pec, uint8_t &readCount, const tBlockData &writeData,
                                  tBlockData &readData, tStatus &status) = 0;
    virtual void writeBlockI2C(uint8_t address, uint8_t command, uint32_t length,
                               const tI2CData &data, tStatus &status) = 0;
    virtual void readBlockI2C(uint8_t address, uint8_t command, uint32_t length, tI2CData &data,
                              tStatus &status) = 0;
    virtual void readI2CEEPROM(uint8_t address, uint8_t startOffset, uint32_t length,
                               tI2CData &data, tStatus &status) = 0;
    virtual void readRegister(uint32_t offset, uint32_t &value, tStatus &status) = 0;
    virtual void writeRegister(uint32_t offset, uint32_t value, tStatus &status) = 0;
    virtual void getAttribute10001(uint16_t &value, tStatus &status) = 0;
    virtual void setAttribute10001(uint16_t value, tStatus &status) = 0;
    virtual void getAttribute2001(uint32_t &value, tStatus &status) = 0;
    virtual void setAttribute2001(uint32_t value, tStatus &status) = 0;
    virtual void getAttribute10002(uint16_t &value, tStatus &status) = 0;
    virtual void setAttribute10002(uint16_t value, tStatus &status) = 0;
    virtual void getAttribute10003(uint16_t &value, tStatus &status) = 0;
    virtual void setAttribute10003(uint16_t value, tStatus &status) = 0;
    virtual void getAttribute10004(uint16_t &value, tStatus &status) = 0;
    virtual void getAttribute10005(uint16_t &value, tStatus &status) = 0;
    virtual void setAttribute10005(uint16_t value, tStatus &status) = 0;
    virtual void getAttribute3001(uint32_t &value, tStatus &status) = 0;
    virtual void setAttribute3001(uint32_t value, tStatus &status) = 0;
    virtual void getAttribute3002(uint32_t &value, tStatus &status) = 0;
    virtual void setAttribute3002(uint32_t value, tStatus &status) = 0;
    virtual void getAttribute1004(uint8_t &value, tStatus &status) = 0;
    virtual void setAttribute1004(uint8_t value, tStatus &status) = 0;
    virtual void getAttribute1005(uint32_t &value, tStatus &status) = 0;
    virtual void setAttribute1005(uint32_t value, tStatus &status) = 0;
    // The flash lock of this controller (flash/flashLock.h): held
    // exclusively by every procedure that erases or programs its flash, and
    // shared by procedures that only read it. A controller without a driver
    // node has nothing to lock.
    virtual void lockFlash(tFlashAccess access, tStatus &status) {
        (void)access;
        (void)status;
    }
    virtual void unlockFlash(tFlashAccess access) noexcept { (void)access; }
};

// Holds a controller's flash lock for a scope; takes nothing when the status
// already holds an error.
class tFlashLock {
public:
    tFlashLock(iSMBusController &controller, tFlashAccess access, tStatus &status)
        : controller_(controller), access_(access) {
        if (status.isFatal()) return;
        controller_.lockFlash(access, status);
        held_ = !status.isFatal();
    }
    ~tFlashLock() {
        if (held_) controller_.unlockFlash(access_);
    }
    tFlashLock(const tFlashLock &) = delete;
    tFlashLock &operator=(const tFlashLock &) = delete;

private:
    iSMBusController &controller_;
    tFlashAccess access_;
    bool held_ = false;
};

}  // namespace nZELSMBUS000
