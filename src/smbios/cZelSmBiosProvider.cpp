#include "smbios/cZelSmBiosProvider.h"

#include "status/memory.h"

namespace nZELSMBUS000::nZELSMBIOS_1_1 {

cZelSmBiosProvider::cZelSmBiosProvider() noexcept : tableData(nullptr), tableSize(0) {
    headerText[0] = '\0';
}

cZelSmBiosProvider::~cZelSmBiosProvider() {
    if (tableData != nullptr) {
        release(tableData);
        tableData = nullptr;
    }
}

}  // namespace nZELSMBUS000::nZELSMBIOS_1_1
