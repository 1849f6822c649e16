// The driver commands of the SMBus controller node: each method packs its
// arguments into the command's input buffer, makes one ioctl on the node and
// unpacks the output buffer, folding the driver's status word into the
// caller's status. The layouts come from one table of command descriptors.
#pragma once

#include <cstdint>

#include "driver/tDeviceInterfaceProxy.h"
#include "protocol/iInterfaceProxy_zelsmbus.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

class tInterfaceProxy_zelsmbus final : public nZELOSAL000::tDeviceInterfaceProxy,
                                       public iInterfaceProxy_zelsmbus {
public:
    tInterfaceProxy_zelsmbus() noexcept = default;
    ~tInterfaceProxy_zelsmbus() override = default;

    void getPciIds(uint16_t &vendorId, uint16_t &deviceId, uint16_t &subsystemVendorId,
                   uint16_t &subsystemId, tStatus &status) override;
    void getPciLocation(uint16_t &bus, uint16_t &device, uint16_t &function,
                        tStatus &status) override;
    void getPortFlags(uint16_t port, uint8_t &chassisEepromPort, uint8_t &extendedProtection,
                      tStatus &status) override;
    void getPortString(uint16_t port, tText &text, tStatus &status) override;
    void getProtectedAddresses(uint16_t port, uint8_t &count, tBlock &addresses,
                               tStatus &status) override;
    void lock(uint16_t port, tStatus &status) override;
    void unlock(uint16_t port, tStatus &status) override;
    void quickWrite(uint16_t port, uint8_t address, tStatus &status) override;
    void quickRead(uint16_t port, uint8_t address, tStatus &status) override;
    void sendByte(uint16_t port, uint8_t address, uint8_t data, uint8_t pec,
                  tStatus &status) override;
    void receiveByte(uint16_t port, uint8_t address, uint8_t pec, uint8_t &data,
                     tStatus &status) override;
    void writeByte(uint16_t port, uint8_t address, uint8_t command, uint8_t data, uint8_t pec,
                   tStatus &status) override;
    void readByte(uint16_t port, uint8_t address, uint8_t command, uint8_t pec, uint8_t &data,
                  tStatus &status) override;
    void writeWord(uint16_t port, uint8_t address, uint8_t command, uint16_t data, uint8_t pec,
                   tStatus &status) override;
    void readWord(uint16_t port, uint8_t address, uint8_t command, uint8_t pec, uint16_t &data,
                  tStatus &status) override;
    void processCall(uint16_t port, uint8_t address, uint8_t command, uint16_t data, uint8_t pec,
                     uint16_t &reply, tStatus &status) override;
    void writeBlock(uint16_t port, uint8_t address, uint8_t command, uint8_t count,
                    const tBlock &data, uint8_t pec, tStatus &status) override;
    void readBlock(uint16_t port, uint8_t address, uint8_t command, uint8_t pec, uint8_t &count,
                   tBlock &data, tStatus &status) override;
    void blockProcessCall(uint16_t port, uint8_t address, uint8_t command, uint8_t writeCount,
                          const tBlock &writeData, uint8_t pec, uint8_t &readCount,
                          tBlock &readData, tStatus &status) override;
    void writeBlockI2C(uint16_t port, uint8_t address, uint8_t command, uint32_t length,
                       const tI2C &data, tStatus &status) override;
    void readBlockI2C(uint16_t port, uint8_t address, uint8_t command, uint32_t length, tI2C &data,
                      tStatus &status) override;
    void readI2CEEPROM(uint16_t port, uint8_t address, uint8_t startOffset, uint32_t length,
                       tI2C &data, tStatus &status) override;
    void readRegister(uint16_t port, uint32_t offset, uint32_t &value, tStatus &status) override;
    void writeRegister(uint16_t port, uint32_t offset, uint32_t value, tStatus &status) override;
    void getAttribute10001(uint16_t port, uint16_t &value, tStatus &status) override;
    void setAttribute10001(uint16_t port, uint16_t value, tStatus &status) override;
    void getAttribute2001(uint16_t port, uint32_t &value, tStatus &status) override;
    void setAttribute2001(uint16_t port, uint32_t value, tStatus &status) override;
    void getAttribute10002(uint16_t port, uint16_t &value, tStatus &status) override;
    void setAttribute10002(uint16_t port, uint16_t value, tStatus &status) override;
    void getAttribute10003(uint16_t port, uint16_t &value, tStatus &status) override;
    void setAttribute10003(uint16_t port, uint16_t value, tStatus &status) override;
    void getAttribute10004(uint16_t port, uint16_t &value, tStatus &status) override;
    void getAttribute10005(uint16_t port, uint16_t &value, tStatus &status) override;
    void setAttribute10005(uint16_t port, uint16_t value, tStatus &status) override;
    void getAttribute3001(uint16_t port, uint32_t &value, tStatus &status) override;
    void setAttribute3001(uint16_t port, uint32_t value, tStatus &status) override;
    void getAttribute1004(uint16_t port, uint8_t &value, tStatus &status) override;
    void setAttribute1004(uint16_t port, uint8_t value, tStatus &status) override;
    void getAttribute1005(uint16_t port, uint32_t &value, tStatus &status) override;
    void setAttribute1005(uint16_t port, uint32_t value, tStatus &status) override;
    void getAttribute3002(uint16_t port, uint32_t &value, tStatus &status) override;
    void setAttribute3002(uint16_t port, uint32_t value, tStatus &status) override;
    void getDeviceString(tText &text, tStatus &status) override;
};

}  // namespace nZELSMBUS000
