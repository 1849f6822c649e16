// One open descriptor on a driver node; every operating-system failure is
// turned into a status code by one fixed errno table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/iInterfaceProxy.h"
#include "status/tStatus.h"

namespace nZELSMBUS000::nZELOSAL000 {

// The envelope whose address is the third argument of every driver ioctl.
struct tIoctlRequest {
    uint64_t input;   // address of the input buffer
    uint64_t output;  // address of the output buffer
    uint32_t inputSize;
    uint32_t outputSize;
    uint32_t result;    // driver result word, 0 before the call
    uint32_t reserved;  // 0
};

static_assert(sizeof(tIoctlRequest) == 32, "the driver expects a 32-byte envelope");
static_assert(offsetof(tIoctlRequest, input) == 0 && offsetof(tIoctlRequest, output) == 8);
static_assert(offsetof(tIoctlRequest, inputSize) == 16 &&
              offsetof(tIoctlRequest, outputSize) == 20);
static_assert(offsetof(tIoctlRequest, result) == 24 && offsetof(tIoctlRequest, reserved) == 28);

class tDeviceInterfaceProxy : public virtual iInterfaceProxy {
public:
    tDeviceInterfaceProxy() noexcept;
    ~tDeviceInterfaceProxy() override;

    // One descriptor, one owner.
    tDeviceInterfaceProxy(const tDeviceInterfaceProxy &) = delete;
    tDeviceInterfaceProxy &operator=(const tDeviceInterfaceProxy &) = delete;

    void close() override;
    uint32_t ioctl(uint32_t requestCode, const void *input, uint32_t inputSize, void *output,
                   uint32_t outputSize, tStatus &status) override;
    int64_t read(void *buffer, size_t count, tStatus &status) override;
    int64_t write(const void *buffer, size_t count, tStatus &status) override;
    void *mapMemory(uint32_t pageIndex, size_t length, int mode, tMemoryMapping &mapping,
                    tStatus &status) override;
    void unmapMemory(tMemoryMapping &mapping) override;

    virtual bool isOpen() const;
    // Same as open(); kept as its own entry of the interface.
    virtual void openNode(const char *path, tStatus &status);
    // Opens the node read-write, close-on-exec. Opening again does not close
    // the earlier descriptor.
    virtual void open(const char *path, tStatus &status);

    int descriptor() const noexcept { return descriptor_; }

private:
    int32_t descriptor_;
};

}  // namespace nZELSMBUS000::nZELOSAL000
