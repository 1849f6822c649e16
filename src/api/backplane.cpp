#include "api/backplane.h"

namespace nZELSMBUS000 {

// Chassis lookup lands with the chassis-query binding; until then no name is a backplane name.
bool isBackplaneName(const char *, int32_t &) { return false; }

tSMBusHandle *openBackplaneController(int32_t, tControllerSet &, tStatus &status) {
    if (!status.isFatal()) ZELSMBUS_SET_CODE(status, -52006);
    return nullptr;
}

}  // namespace nZELSMBUS000
