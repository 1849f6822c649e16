// The SMBIOS provider that reads the platform service's dump file.
#pragma once

#include "smbios/cZelSmBiosProvider.h"

namespace nZELSMBUS000::nZELSMBIOS_1_1 {

// The dump: a NUL-terminated header text, a 16-bit table size in host order,
// then that many table bytes.
inline constexpr const char *kSmBiosDumpPath = "/run/zelplat/smbios/smbiosdmp";

class cZelSmBiosLinuxProvider : public cZelSmBiosProvider {
public:
    // -240050 when the file cannot be opened, -240053 when it ends early,
    // ZELSMBUS_ERROR_OUT_OF_MEMORY when memory runs out.
    void load(tStatus &status) override;
};

}  // namespace nZELSMBUS000::nZELSMBIOS_1_1

namespace nZELSMBUS000::nZELSMBIOS_1_1 {

// The library's provider (created at load, never loaded by the library itself; see globals.cpp).
extern cZelSmBiosLinuxProvider gSmBiosProvider;

}  // namespace nZELSMBUS000::nZELSMBIOS_1_1
