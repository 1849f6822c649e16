// A copy of the host's SMBIOS table and the text that precedes it.
#pragma once

#include <cstdint>

#include "status/tStatus.h"

namespace nZELSMBUS000::nZELSMBIOS_1_1 {

class cZelSmBiosProvider {
public:
    static constexpr unsigned kHeaderTextSize = 256;

    cZelSmBiosProvider() noexcept;
    virtual ~cZelSmBiosProvider();

    cZelSmBiosProvider(const cZelSmBiosProvider &) = delete;
    cZelSmBiosProvider &operator=(const cZelSmBiosProvider &) = delete;

    virtual void load(tStatus &status) = 0;

    const uint8_t *table() const noexcept { return tableData; }
    uint32_t size() const noexcept { return tableSize; }
    const char *header() const noexcept { return headerText; }

protected:
    uint8_t *tableData;  // owned, from allocate(); null when nothing is loaded
    uint32_t tableSize;
    char headerText[kHeaderTextSize];  // NUL-terminated
};

}  // namespace nZELSMBUS000::nZELSMBIOS_1_1
