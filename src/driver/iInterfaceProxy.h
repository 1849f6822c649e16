// The interface of one open driver node: the system calls the library makes on it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "status/tStatus.h"

namespace nZELSMBUS000::nZELOSAL000 {

// A window of a node mapped into memory by mapMemory.
struct tMemoryMapping {
    void *address;    // null when nothing is mapped
    uint64_t length;  // length given to mmap
};

class iInterfaceProxy {
public:
    virtual ~iInterfaceProxy() = default;

    virtual void close() = 0;
    // One command exchange; returns the envelope's result word.
    virtual uint32_t ioctl(uint32_t requestCode, const void *input, uint32_t inputSize,
                           void *output, uint32_t outputSize, tStatus &status) = 0;
    virtual int64_t read(void *buffer, size_t count, tStatus &status) = 0;
    virtual int64_t write(const void *buffer, size_t count, tStatus &status) = 0;
    // Maps length bytes at page (pageIndex & 0xFFFF); mode 1 read-write, else read-only.
    virtual void *mapMemory(uint32_t pageIndex, size_t length, int mode, tMemoryMapping &mapping,
                            tStatus &status) = 0;
    virtual void unmapMemory(tMemoryMapping &mapping) = 0;

protected:
    iInterfaceProxy() = default;
    iInterfaceProxy(const iInterfaceProxy &) = default;
    iInterfaceProxy &operator=(const iInterfaceProxy &) = default;
};

}  // namespace nZELSMBUS000::nZELOSAL000
