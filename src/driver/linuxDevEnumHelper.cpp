#include "driver/linuxDevEnumHelper.h"

#include <cstdio>
#include <cstring>

#include "zelsmbus.h"

namespace nZELSMBUS000::nZELOSAL000 {

namespace {

// The driver may still be publishing a file, so opening is retried at once.
FILE *openWithRetries(const char *fileName) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        if (FILE *file = std::fopen(fileName, "re")) {
            return file;
        }
    }
    return nullptr;
}

}  // namespace

void readInterfacePath(const char *directory, tDeviceInterfacePath *record, tStatus &status) {
    char fileName[kFileBufferSize];
    std::snprintf(fileName, sizeof fileName, "%s/interfacePath", directory);
    if (status.isFatal()) {
        return;
    }
    FILE *file = openWithRetries(fileName);
    if (file == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return;
    }
    char contents[kFileBufferSize];
    const size_t count = std::fread(contents, 1, sizeof contents, file);
    if (std::ferror(file)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_IO);
        std::fclose(file);
        return;
    }
    if (count <= sizeof record->path - 1 && record != nullptr) {
        std::memcpy(record->path, contents, count);
        std::fclose(file);
        if (!status.isFatal()) {
            record->length = count + 1;
            record->path[count] = '\0';
        }
        return;
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TOO_LARGE);
    std::fclose(file);
}

void readProperty(const char *directory, const char *name, void *destination, size_t capacity,
                  size_t *sizeOut, tStatus &status) {
    char fileName[kFileBufferSize];
    std::snprintf(fileName, sizeof fileName, "%s/properties/%s", directory, name);
    if (status.isFatal()) {
        return;
    }
    FILE *file = openWithRetries(fileName);
    if (file == nullptr) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return;
    }
    char contents[kFileBufferSize];
    const size_t count = std::fread(contents, 1, sizeof contents, file);
    if (std::ferror(file)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_IO);
        std::fclose(file);
        return;
    }
    if (sizeOut != nullptr) {
        *sizeOut = count;
    }
    if (count <= capacity && destination != nullptr) {
        std::memcpy(destination, contents, count);
    } else {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_TOO_LARGE);
    }
    std::fclose(file);
}

}  // namespace nZELSMBUS000::nZELOSAL000
