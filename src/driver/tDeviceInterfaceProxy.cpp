#include "driver/tDeviceInterfaceProxy.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "driver/errnoTable.h"

namespace nZELSMBUS000::nZELOSAL000 {

// Each operation sets its code on its own line, so the status tells which call failed.
#define ZELSMBUS_SET_ERRNO(status, error) ZELSMBUS_SET_CODE(status, statusCodeForErrno(error))

tDeviceInterfaceProxy::tDeviceInterfaceProxy() noexcept : descriptor_(-1) {}

tDeviceInterfaceProxy::~tDeviceInterfaceProxy() { tDeviceInterfaceProxy::close(); }

bool tDeviceInterfaceProxy::isOpen() const { return descriptor_ != -1; }

void tDeviceInterfaceProxy::openNode(const char *path, tStatus &status) { open(path, status); }

void tDeviceInterfaceProxy::open(const char *path, tStatus &status) {
    if (status.isFatal()) {
        return;
    }
    descriptor_ = ::open(path, O_RDWR | O_CLOEXEC);
    if (descriptor_ == -1) {
        ZELSMBUS_SET_ERRNO(status, errno);
    }
}

void tDeviceInterfaceProxy::close() {
    if (isOpen()) {
        // Nothing useful can be done about a failing close; the descriptor is gone either way.
        (void)::close(descriptor_);
        descriptor_ = -1;
    }
}

uint32_t tDeviceInterfaceProxy::ioctl(uint32_t requestCode, const void *input, uint32_t inputSize,
                                      void *output, uint32_t outputSize, tStatus &status) {
    if (status.isFatal()) {
        return 0;
    }
    tIoctlRequest request;
    request.input = reinterpret_cast<uintptr_t>(input);
    request.output = reinterpret_cast<uintptr_t>(output);
    request.inputSize = inputSize;
    request.outputSize = outputSize;
    request.result = 0;
    request.reserved = 0;
    if (::ioctl(descriptor_, static_cast<unsigned long>(requestCode), &request) == -1) {
        ZELSMBUS_SET_ERRNO(status, errno);
    }
    return request.result;
}

int64_t tDeviceInterfaceProxy::read(void *buffer, size_t count, tStatus &status) {
    if (status.isFatal()) {
        return 0;
    }
    const int32_t result = static_cast<int32_t>(::read(descriptor_, buffer, count));
    if (result == -1) {
        ZELSMBUS_SET_ERRNO(status, errno);
    }
    return result;
}

int64_t tDeviceInterfaceProxy::write(const void *buffer, size_t count, tStatus &status) {
    if (status.isFatal()) {
        return 0;
    }
    const int32_t result = static_cast<int32_t>(::write(descriptor_, buffer, count));
    if (result == -1) {
        ZELSMBUS_SET_ERRNO(status, errno);
    }
    return result;
}

void *tDeviceInterfaceProxy::mapMemory(uint32_t pageIndex, size_t length, int mode,
                                       tMemoryMapping &mapping, tStatus &status) {
    if (status.isFatal()) {
        return nullptr;
    }
    // Only the low 16 bits of the page index address the node's window.
    const off_t offset = static_cast<off_t>(pageIndex & 0xFFFFu) * sysconf(_SC_PAGESIZE);
    const int protection = mode == 1 ? PROT_READ | PROT_WRITE : PROT_READ;
    void *address = ::mmap(nullptr, length, protection, MAP_SHARED, descriptor_, offset);
    if (address == MAP_FAILED) {
        ZELSMBUS_SET_ERRNO(status, errno);
        mapping.address = nullptr;
        return nullptr;
    }
    mapping.address = address;
    mapping.length = length;
    return address;
}

void tDeviceInterfaceProxy::unmapMemory(tMemoryMapping &mapping) {
    if (mapping.address != nullptr) {
        ::munmap(mapping.address, mapping.length);
        mapping.address = nullptr;
    }
}

}  // namespace nZELSMBUS000::nZELOSAL000
