#include "driver/errnoTable.h"

#include <cerrno>

#include "zelsmbus.h"

namespace nZELSMBUS000::nZELOSAL000 {

// By name, so that the mapping holds whatever numbers the platform gives the
// errno values; an errno without a case of its own is ZELSMBUS_ERROR_OS.
int64_t statusCodeForErrno(int error) noexcept {
    switch (error) {
        case 0:
            return ZELSMBUS_SUCCESS;
        case EPERM:
        case EACCES:
        case EROFS:
            return ZELSMBUS_ERROR_ACCESS_DENIED;
        case ENOENT:
        case ESRCH:
        case ENXIO:
        case EBADF:
        case ENODEV:
            return ZELSMBUS_ERROR_NOT_FOUND;
        case EINTR:
        case ECONNRESET:
            return ZELSMBUS_ERROR_INTERRUPTED;
        case EIO:
        case EPIPE:
        case EBADMSG:
            return ZELSMBUS_ERROR_IO;
        case ENOMEM:
        case ENFILE:
        case EMFILE:
            return ZELSMBUS_ERROR_OUT_OF_MEMORY;
        case EBUSY:
            return ZELSMBUS_ERROR_BUSY;
        case EEXIST:
        case EADDRINUSE:
            return ZELSMBUS_ERROR_EXISTS;
        case EINVAL:
            return ZELSMBUS_ERROR_INVALID_PARAMETER;
        case ENOTTY:
        case ENOTSUP:
            return ZELSMBUS_ERROR_NOT_SUPPORTED;
        case ENOSPC:
        case EOVERFLOW:
            return ZELSMBUS_ERROR_NO_SPACE;
        case EDEADLOCK:
        case ENOLCK:
            return ZELSMBUS_ERROR_DEADLOCK;
        case EIDRM:
            return ZELSMBUS_ERROR_REMOVED;
        case ECONNABORTED:
            return ZELSMBUS_ERROR_CORRUPT_DATA;
        case ENOBUFS:
            return ZELSMBUS_ERROR_TOO_LARGE;
        case ETIMEDOUT:
            return ZELSMBUS_ERROR_TIMEOUT;
        case EALREADY:
        case EINPROGRESS:
            return ZELSMBUS_ERROR_IN_PROGRESS;
        case EOWNERDEAD:
            return ZELSMBUS_ERROR_OWNER_DEAD;
        default:
            return ZELSMBUS_ERROR_OS;
    }
}

}  // namespace nZELSMBUS000::nZELOSAL000
