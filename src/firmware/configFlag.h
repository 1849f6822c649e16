// Attribute 1006: the configuration flag kept in flash block 2 of device 0x1010.
#pragma once

#include "flash/iRegisterPort.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

constexpr uint32_t kConfigFlagBlock = 2;
constexpr uint32_t kConfigFlagWord = 8179;
constexpr uint32_t kConfigFlagMask = 0x300003;
constexpr uint32_t kConfigFlagSet = 0x200003;
constexpr uint32_t kConfigFlagClear = 0x200000;

// Sends the flash nothing but identifications and reads.
bool readConfigFlag(iRegisterPort &port, tStatus &status);
// Rewrites block 2 only when the flag changes, from two readings of it that
// agree. After any failure once the erase has begun the old block must be
// shown back (read, and written back when it differs, under statuses of
// their own) and the first failure is reported; a block that merely did not
// read back as written is ZELSMBUS_ERROR_SYSTEM. A block that cannot be shown
// back is ZELSMBUS_ERROR_REGION_DAMAGED; otherwise block 2 holds the old
// contents or the new ones.
void writeConfigFlag(iRegisterPort &port, bool value, tStatus &status);

}  // namespace nZELSMBUS000
