// What the flash driver needs of a controller: read and write one of its
// 32-bit registers. The library adapts its controller to it
// (tControllerRegisterPort.h); a program on the public interface adapts the
// register attributes (tAttributeRegisterPort.h).
#pragma once

#include <cstdint>

#include "status/tStatus.h"

namespace nZELSMBUS000 {

// Both operations take the caller's status last and do nothing when it
// already holds an error.
class iRegisterPort {
public:
    virtual ~iRegisterPort() = default;
    virtual void readRegister(uint32_t offset, uint32_t &value, tStatus &status) = 0;
    virtual void writeRegister(uint32_t offset, uint32_t value, tStatus &status) = 0;
};

}  // namespace nZELSMBUS000
