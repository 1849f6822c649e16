// The 44 commands of the SMBus controller driver, in command-number order.
// Arguments: the port (where the command has one), the inputs in the order of
// the input buffer, the output destinations in the order of the output
// buffer, then the caller's status. Pads and status words are no arguments.
#pragma once

#include <cstdint>

#include "driver/iInterfaceProxy.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

class iInterfaceProxy_zelsmbus : public virtual nZELOSAL000::iInterfaceProxy {
public:
    using tBlock = uint8_t[32];  // SMBus block data, always moved whole
    using tI2C = uint8_t[256];   // I2C block and EEPROM data, always moved whole
    using tText = char[64];      // NUL-terminated text filled by the driver

    // 0x02 .. 0x06: identity and per-port descriptions
    virtual void getPciIds(uint16_t &vendorId, uint16_t &deviceId, uint16_t &subsystemVendorId,
                           uint16_t &subsystemId, tStatus &status) = 0;
    virtual void getPciLocation(uint16_t &bus, uint16_t &device, uint16_t &function,
                                tStatus &status) = 0;
    virtual void getPortFlags(uint16_t port, uint8_t &chassisEepromPort,
                              uint8_t &extendedProtection, tStatus &status) = 0;
    virtual void getPortString(uint16_t port, tText &text, tStatus &status) = 0;
    virtual void getProtectedAddresses(uint16_t port, uint8_t &count, tBlock &addresses,
                                       tStatus &status) = 0;
    // 0x07 .. 0x17: bus lock and transactions
    virtual void lock(uint16_t port, tStatus &status) = 0;
    virtual void unlock(uint16_t port, tStatus &status) = 0;
    virtual void quickWrite(uint16_t port, uint8_t address, tStatus &status) = 0;
    virtual void quickRead(uint16_t port, uint8_t address, tStatus &status) = 0;
    virtual void sendByte(uint16_t port, uint8_t address, uint8_t data, uint8_t pec,
                          tStatus &status) = 0;
    virtual void receiveByte(uint16_t port, uint8_t address, uint8_t pec, uint8_t &data,
                             tStatus &status) = 0;
    virtual void writeByte(uint16_t port, uint8_t address, uint8_t command, uint8_t data,
                           uint8_t pec, tStatus &status) = 0;
    virtual void readByte(uint16_t port, uint8_t address, uint8_t command, uint8_t pec,
                          uint8_t &data, tStatus &status) = 0;
    virtual void writeWord(uint16_t port, uint8_t address, uint8_t command, uint16_t data,
                           uint8_t pec, tStatus &status) = 0;
    virtual void readWord(uint16_t port, uint8_t address, uint8_t command, uint8_t pec,
                          uint16_t &data, tStatus &status) = 0;
    virtual void processCall(uint16_t port, uint8_t address, uint8_t command, uint16_t data,
                             uint8_t pec, uint16_t &reply, tStatus &status) = 0;
    virtual void writeBlock(uint16_t port, uint8_t address, uint8_t command, uint8_t count,
                            const tBlock &data, uint8_t pec, tStatus &status) = 0;
    virtual void readBlock(uint16_t port, uint8_t address, uint8_t command, uint8_t pec,
                           uint8_t &count, tBlock &data, tStatus &status) = 0;
    virtual void blockProcessCall(uint16_t port, uint8_t address, uint8_t command,
                                  uint8_t writeCount, const tBlock &writeData, uint8_t pec,
                                  uint8_t &readCount, tBlock &readData, tStatus &status) = 0;
    virtual void writeBlockI2C(uint16_t port, uint8_t address, uint8_t command, uint32_t length,
                               const tI2C &data, tStatus &status) = 0;
    virtual void readBlockI2C(uint16_t port, uint8_t address, uint8_t command, uint32_t length,
                              tI2C &data, tStatus &status) = 0;
    virtual void readI2CEEPROM(uint16_t port, uint8_t address, uint8_t startOffset, uint32_t length,
                               tI2C &data, tStatus &status) = 0;
    // 0x18, 0x19: controller registers
    virtual void readRegister(uint16_t port, uint32_t offset, uint32_t &value, tStatus &status) = 0;
    virtual void writeRegister(uint16_t port, uint32_t offset, uint32_t value, tStatus &status) = 0;
    // 0x1A .. 0x2E: attributes, named after their identifiers
    virtual void getAttribute10001(uint16_t port, uint16_t &value, tStatus &status) = 0;
    virtual void setAttribute10001(uint16_t port, uint16_t value, tStatus &status) = 0;
    virtual void getAttribute2001(uint16_t port, uint32_t &value, tStatus &status) = 0;
    virtual void setAttribute2001(uint16_t port, uint32_t value, tStatus &status) = 0;
    virtual void getAttribute10002(uint16_t port, uint16_t &value, tStatus &status) = 0;
    virtual void setAttribute10002(uint16_t port, uint16_t value, tStatus &status) = 0;
    virtual void getAttribute10003(uint16_t port, uint16_t &value, tStatus &status) = 0;
    virtual void setAttribute10003(uint16_t port, uint16_t value, tStatus &status) = 0;
    virtual void getAttribute10004(uint16_t port, uint16_t &value, tStatus &status) = 0;
    virtual void getAttribute10005(uint16_t port, uint16_t &value, tStatus &status) = 0;
    virtual void setAttribute10005(uint16_t port, uint16_t value, tStatus &status) = 0;
    virtual void getAttribute3001(uint16_t port, uint32_t &value, tStatus &status) = 0;
    virtual void setAttribute3001(uint16_t port, uint32_t value, tStatus &status) = 0;
    virtual void getAttribute1004(uint16_t port, uint8_t &value, tStatus &status) = 0;
    virtual void setAttribute1004(uint16_t port, uint8_t value, tStatus &status) = 0;
    virtual void getAttribute1005(uint16_t port, uint32_t &value, tStatus &status) = 0;
    virtual void setAttribute1005(uint16_t port, uint32_t value, tStatus &status) = 0;
    virtual void getAttribute3002(uint16_t port, uint32_t &value, tStatus &status) = 0;
    virtual void setAttribute3002(uint16_t port, uint32_t value, tStatus &status) = 0;
    // 0x2F: the device's text
    virtual void getDeviceString(tText &text, tStatus &status) = 0;
};

}  // namespace nZELSMBUS000
