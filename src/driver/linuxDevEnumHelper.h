// Readers of the files in one device-interface directory of the driver tree.
#pragma once

#include <cstddef>

#include "driver/tDeviceInterfaceIterator.h"
#include "status/tStatus.h"

namespace nZELSMBUS000::nZELOSAL000 {

// Opening is tried this many times in a row before giving up with ZELSMBUS_ERROR_NOT_FOUND.
inline constexpr int kOpenAttempts = 10;
// Size of the formatted file names and of the single read of a file.
inline constexpr size_t kFileBufferSize = 4096;

// <directory>/interfacePath into the record (at most 255 bytes, else ZELSMBUS_ERROR_TOO_LARGE).
void readInterfacePath(const char *directory, tDeviceInterfacePath *record, tStatus &status);
// <directory>/properties/<name> into destination (at most capacity bytes,
// else ZELSMBUS_ERROR_TOO_LARGE); sizeOut, when given, receives the file's byte count.
void readProperty(const char *directory, const char *name, void *destination, size_t capacity,
                  size_t *sizeOut, tStatus &status);

}  // namespace nZELSMBUS000::nZELOSAL000
