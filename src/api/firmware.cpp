// ZELSMBusWriteFirmware: the export in front of the update engine.
#include <new>

#include "api/tSMBusHandle.h"
#include "firmware/firmwareUpdate.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;

extern "C" int32_t ZELSMBusWriteFirmware(tSMBusHandle *handle, uint32_t length, const void *image,
                                         uint32_t flags) {
    tStatus status;
    if (handle == nullptr || image == nullptr || length == 0) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return status.result();
    }
    try {
        const tFlashLock writer(*handle->controller, tFlashAccess::write, status);
        writeFirmware(*handle->controller, length, static_cast<const char *>(image), flags, status);
    } catch (const std::bad_alloc &) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
    } catch (...) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OS);
    }
    return status.result();
}
