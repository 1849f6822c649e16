// EEPROM reads: any I2C EEPROM on the bus, and the chassis EEPROM at 0xA4.
#include <cstdint>
#include <cstring>

#include "api/tSMBusHandle.h"
#include "controller/iSMBusController.h"
#include "status/tStatus.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;

namespace {

constexpr uint8_t kChassisEepromAddress = 0xA4;

// Handle, then length 1..256 with a buffer to hold it.
bool admitRead(tSMBusHandle *handle, uint32_t length, const uint8_t *buffer, tStatus &status) {
    if (handle == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return false;
    }
    if (length == 0 || length > sizeof(tI2CData) || buffer == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

void readInto(iSMBusController &controller, uint8_t address, uint8_t offset, uint32_t length,
              uint8_t *buffer, tStatus &status) {
    tI2CData data;
    controller.readI2CEEPROM(address, offset, length, data, status);
    if (!status.isFatal()) std::memcpy(buffer, data, length);
}

}  // namespace

extern "C" {

int32_t ZELSMBusReadI2CEEPROM(tSMBusHandle *handle, uint32_t address, uint32_t offset,
                              uint32_t length, uint8_t *buffer) {
    tStatus status;
    if (!admitRead(handle, length, buffer, status)) return status.result();
    const auto busAddress = static_cast<uint8_t>(address);
    if (handle->unrestricted == 0 && handle->isProtected(busAddress)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_PROTECTED);
        return status.result();
    }
    readInto(*handle->controller, busAddress, static_cast<uint8_t>(offset), length, buffer, status);
    return status.result();
}

int32_t ZELSMBusGetChassisEEPROM(tSMBusHandle *handle, uint32_t offset, uint32_t length,
                                 uint8_t *buffer) {
    tStatus status;
    if (!admitRead(handle, length, buffer, status)) return status.result();
    uint8_t chassisEepromPort = 0, extendedProtection = 0;
    handle->controller->getPortFlags(chassisEepromPort, extendedProtection, status);
    if (status.isFatal()) return status.result();
    // Any session may read the chassis EEPROM, but only on a port that reaches it.
    if (chassisEepromPort == 0) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_PROTECTED);
        return status.result();
    }
    readInto(*handle->controller, kChassisEepromAddress, static_cast<uint8_t>(offset), length,
             buffer, status);
    return status.result();
}

}  // extern "C"
