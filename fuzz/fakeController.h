// An in-process controller for fuzz targets that drive exports without the
// simulated driver: it answers the registers the flash code reads as an idle,
// ready controller with a chosen flash device, and refuses the first flash
// write or erase, so a run stops where the image would reach the flash.
#pragma once

#include <cstdint>

#include "../tests/controllerSupport/nullController.h"
#include "zelsmbus.h"

namespace zelfuzz {

class tFakeController : public controllertest::tNullController {
public:
    using tStatus = nZELSMBUS000::tStatus;

    static constexpr uint16_t kSubsystemId = 0x7A3B;
    static constexpr uint32_t kInstalledVersion = 5;
    // The status word the fake answers to a flash write.
    static constexpr int64_t kRefusedWrite = ZELSMBUS_ERROR_IO;

    explicit tFakeController(uint16_t flashId) : flashId_(flashId) {}

    unsigned long operations() const { return operations_; }
    bool writeRefused() const { return writeRefused_; }

    void getPciIds(uint16_t &vendorId, uint16_t &deviceId, uint16_t &subsystemVendorId,
                   uint16_t &subsystemId, tStatus &status) override {
        if (!enter(status)) return;
        vendorId = 0x1093;
        deviceId = 0x7001;
        subsystemVendorId = 0x1093;
        subsystemId = kSubsystemId;
    }
    void getPciLocation(uint16_t &bus, uint16_t &device, uint16_t &function, uint16_t &port,
                        tStatus &status) override {
        if (!enter(status)) return;
        bus = 3;
        device = 0;
        function = 0;
        port = 0;
    }
    void getDeviceString(const char *&text, tStatus &status) override {
        if (enter(status)) text = "fake controller";
    }
    void getPortFlags(uint8_t &chassisEepromPort, uint8_t &extendedProtection,
                      tStatus &status) override {
        if (!enter(status)) return;
        chassisEepromPort = 0;
        extendedProtection = 0;
    }
    void getPortString(const char *&text, tStatus &status) override {
        if (enter(status)) text = "FAKE::0";
    }
    void getProtectedAddresses(uint8_t &count, const uint8_t *&list, tStatus &status) override {
        if (!enter(status)) return;
        count = 0;
        list = nullptr;
    }
    void readRegister(uint32_t offset, uint32_t &value, tStatus &status) override {
        if (!enter(status)) return;
        switch (offset) {
            case 0: value = 0x727EBABE; break;
            case 4: value = kInstalledVersion; break;
            case 72: value = 1; break;  // serial interface ready
            case 76: value = lastSerialCommand_ == 0xAB000000u ? flashId_ : 0; break;
            case 0x2000: value = 4; break;  // indirect port idle, reset granted
            default: value = 0; break;  // idle, no status bits
        }
    }
    void writeRegister(uint32_t offset, uint32_t value, tStatus &status) override {
        if (!enter(status)) return;
        const uint32_t opcode = value >> 24;
        // Erasing and programming are refused; enabling writes is not, since the
        // library also enables them to put the device's protection back at rest.
        const bool serialWrite = offset == 64 && (opcode == 0xD8 || opcode == 0x02 || opcode == 0xAD);
        if (serialWrite || offset == 0x2004 || offset == 0x2010) {
            writeRefused_ = true;
            status.setCode(kRefusedWrite, "zelsmbus", "fakeController.h", __LINE__);
            return;
        }
        if (offset == 64) lastSerialCommand_ = value;
    }

    // Bus traffic and the attributes have no part in the firmware path: all
    // of it fails.
    void unanswered(const char *, tStatus &status) override { refuse(status); }

private:
    // The status guard every controller operation keeps, plus a bound on the
    // work one input may cause.
    bool enter(tStatus &status) {
        if (status.isFatal()) return false;
        if (++operations_ > kOperationLimit) {
            status.setCode(ZELSMBUS_ERROR_TIMEOUT, "zelsmbus", "fakeController.h", __LINE__);
            return false;
        }
        return true;
    }
    void refuse(tStatus &status) {
        if (enter(status)) status.setCode(ZELSMBUS_ERROR_NOT_SUPPORTED, "zelsmbus", "fakeController.h", __LINE__);
    }

    static constexpr unsigned long kOperationLimit = 400000;
    uint16_t flashId_;
    uint32_t lastSerialCommand_ = 0;
    unsigned long operations_ = 0;
    bool writeRefused_ = false;
};

}  // namespace zelfuzz
