#include "driver/tDeviceInterfaceIterator.h"

#include <cstdio>
#include <cstring>

#include "driver/linuxDevEnumHelper.h"
#include "zelsmbus.h"

namespace nZELSMBUS000::nZELOSAL000 {

tDeviceInterfaceIterator::tDeviceInterfaceIterator(const char *interfaceClass, tStatus &status)
    : cursor_(nullptr) {
    std::memset(&matches_, 0, sizeof matches_);
    if (status.isFatal()) {
        return;
    }
    // Entries are named "<class>\<instance>"; the doubled backslash reaches
    // glob as an escaped backslash.
    char pattern[kFileBufferSize];
    std::snprintf(pattern, sizeof pattern, "/proc/driver/zel/*/deviceInterfaces/%s\\\\*",
                  interfaceClass);
    const int result = glob(pattern, GLOB_ONLYDIR, nullptr, &matches_);
    if (result == 0) {
        cursor_ = matches_.gl_pathv;
    } else if (result != GLOB_NOMATCH) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_SYSTEM);
    }
}

tDeviceInterfaceIterator::~tDeviceInterfaceIterator() { globfree(&matches_); }

bool tDeviceInterfaceIterator::atEnd() const { return cursor_ == nullptr || *cursor_ == nullptr; }

void tDeviceInterfaceIterator::next() { ++cursor_; }

void tDeviceInterfaceIterator::getInterfacePath(tDeviceInterfacePath *record, tStatus &status) {
    if (atEnd()) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return;
    }
    readInterfacePath(*cursor_, record, status);
}

void tDeviceInterfaceIterator::getProperty(const char *name, void *destination, size_t capacity,
                                           size_t *sizeOut, tStatus &status) {
    if (atEnd()) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return;
    }
    readProperty(*cursor_, name, destination, capacity, sizeOut, status);
}

}  // namespace nZELSMBUS000::nZELOSAL000
