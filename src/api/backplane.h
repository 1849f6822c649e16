// Opening a chassis backplane by its PXIn::c::BACKPLANE resource name.
#pragma once

#include <cstdint>

#include "api/controllerSet.h"
#include "api/tSMBusHandle.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

// True when the name has the backplane form; chassisNumber then holds its chassis.
bool isBackplaneName(const char *name, int32_t &chassisNumber);

// Handle for the controller whose chassis EEPROM carries the identity of the
// chassis; the controller leaves the set. Null with the status set otherwise.
tSMBusHandle *openBackplaneController(int32_t chassisNumber, tControllerSet &set, tStatus &status);

}  // namespace nZELSMBUS000
