// The register port of one of the library's own controllers.
#pragma once

#include "controller/iSMBusController.h"
#include "flash/iRegisterPort.h"

namespace nZELSMBUS000 {

class tControllerRegisterPort final : public iRegisterPort {
public:
    explicit tControllerRegisterPort(iSMBusController &controller) noexcept
        : controller_(controller) {}
    void readRegister(uint32_t offset, uint32_t &value, tStatus &status) override {
        controller_.readRegister(offset, value, status);
    }
    void writeRegister(uint32_t offset, uint32_t value, tStatus &status) override {
        controller_.writeRegister(offset, value, status);
    }

private:
    iSMBusController &controller_;
};

}  // namespace nZELSMBUS000
