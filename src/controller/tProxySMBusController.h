// The controller of one port of a driver node: every operation is one driver
// command with the port filled in, except the four descriptive values read
// once when the controller is created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "controller/iSMBusController.h"
#include "driver/tDeviceInterfaceIterator.h"
#include "protocol/tInterfaceProxy_zelsmbus.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

class tProxySMBusController final : public iSMBusController {
public:
    // Opens the node and reads the caches. Null with the status set when the
    // status already holds an error, memory is short, or the node or one of
    // its queries fails.
    static tProxySMBusController *create(const nZELOSAL000::tDeviceInterfacePath &node,
                                         uint16_t port, tStatus &status) noexcept;

    ~tProxySMBusController() override;
    // Memory comes from allocate(); deleting through the interface gives it back.
    static void operator delete(void *memory) noexcept;

    tProxySMBusController(const tProxySMBusController &) = delete;
    tProxySMBusController &operator=(const tProxySMBusController &) = delete;

    // The fixed addresses added to the driver's list when both port flags are set.
    static constexpr uint8_t kFixedProtected[5] = {0x58, 0x5A, 0x5C, 0xC6, 0xC8};
    static constexpr size_t kTextSize = 64;

    void getPciIds(uint16_t &vendorId, uint16_t &deviceId, uint16_t &subsystemVendorId,
                   uint16_t &subsystemId, tStatus &status) override;
    void getPciLocation(uint16_t &bus, uint16_t &device, uint16_t &function, uint16_t &port,
                        tStatus &status) override;
    void getDeviceString(const char *&text, tStatus &status) override;
    void getPortFlags(uint8_t &chassisEepromPort, uint8_t &extendedProtection,
                      tStatus &status) override;
    void getPortString(const char *&text, tStatus &status) override;
    void getProtectedAddresses(uint8_t &count, const uint8_t *&list, tStatus &status) override;
    // The two block writes take their arguments in the interface's order and
    // pass them on in the command's.
    void writeBlock(uint8_t address, uint8_t command, uint8_t count, uint8_t pec,
                    const tBlockData &data, tStatus &status) override;
    void blockProcessCall(uint8_t address, uint8_t command, uint8_t writeCount, uint8_t pec,
                          uint8_t &readCount, const tBlockData &writeData, tBlockData &readData,
                          tStatus &status) override;
    // Every other operation passes its arguments through to its driver
    // command with the port in front.
#define ZELSMBUS_DECLARE_FORWARDER_(method, row, scope, controller, parameters, arguments) \
    ZELSMBUS_WHEN_FORWARDED(controller, void method parameters override;)
    ZELSMBUS_DRIVER_COMMANDS(ZELSMBUS_DECLARE_FORWARDER_)
#undef ZELSMBUS_DECLARE_FORWARDER_
    // Threads sharing this session are kept apart in-process; other sessions
    // and processes by flock() on the node. Readers of this session share
    // one shared flock: the first takes it, the last lets it go.
    void lockFlash(tFlashAccess access, tStatus &status) override;
    void unlockFlash(tFlashAccess access) noexcept override;

private:
    tProxySMBusController(const nZELOSAL000::tDeviceInterfacePath &node, uint16_t port,
                          tStatus &status) noexcept;
    void readProtectedAddresses(tStatus &status) noexcept;

    tInterfaceProxy_zelsmbus proxy_;
    uint16_t port_;
    // Texts are kept NUL-terminated; a 64-byte reply without a NUL keeps all 64 characters.
    char deviceString_[kTextSize + 1];
    uint8_t chassisEepromPort_;
    uint8_t extendedProtection_;
    char portString_[kTextSize + 1];
    uint8_t protectedCount_;
    uint8_t *protectedList_;  // owned; null when the count is 0
    std::shared_timed_mutex flashMutex_;
    std::timed_mutex flashReadersMutex_;  // guards flashReaders_ and the shared flock
    unsigned flashReaders_ = 0;
};

}  // namespace nZELSMBUS000
