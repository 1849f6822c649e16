#include "controller/tProxySMBusController.h"

#include <chrono>
#include <cstring>
#include <new>

#include "driver/sleep.h"
#include "flash/flashLock.h"
#include "status/memory.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace {

// Driver texts are 64 bytes ending at their first NUL, or all 64 without one.
void storeText(char (&destination)[tProxySMBusController::kTextSize + 1],
               const char (&reply)[tProxySMBusController::kTextSize]) {
    size_t length = 0;
    while (length < sizeof reply && reply[length] != '\0') ++length;
    std::memcpy(destination, reply, length);
    destination[length] = '\0';
}

}  // namespace

tProxySMBusController *tProxySMBusController::create(const nZELOSAL000::tDeviceInterfacePath &node,
                                                     uint16_t port, tStatus &status) noexcept {
    void *memory = allocate(sizeof(tProxySMBusController), status);
    if (memory == nullptr) return nullptr;
    auto *controller = ::new (memory) tProxySMBusController(node, port, status);
    if (status.isFatal()) {
        delete controller;
        return nullptr;
    }
    return controller;
}

void tProxySMBusController::operator delete(void *memory) noexcept { release(memory); }

tProxySMBusController::tProxySMBusController(const nZELOSAL000::tDeviceInterfacePath &node,
                                             uint16_t port, tStatus &status) noexcept
    : port_(port),
      deviceString_{},
      chassisEepromPort_(0),
      extendedProtection_(0),
      portString_{},
      protectedCount_(0),
      protectedList_(nullptr) {
    if (status.isFatal()) return;
    proxy_.open(node.path, status);
    if (status.isFatal()) return;

    // A driver without a device text must not make the port unusable: this
    // query runs under its own status and never reaches the caller's.
    {
        tStatus local;
        char text[kTextSize];
        proxy_.getDeviceString(text, local);
        if (!local.isFatal()) storeText(deviceString_, text);
    }

    proxy_.getPortFlags(port_, chassisEepromPort_, extendedProtection_, status);
    if (status.isFatal()) return;

    {
        char text[kTextSize];
        proxy_.getPortString(port_, text, status);
        if (status.isFatal()) return;
        storeText(portString_, text);
    }

    readProtectedAddresses(status);
}

void tProxySMBusController::readProtectedAddresses(tStatus &status) noexcept {
    uint8_t driverCount = 0;
    uint8_t addresses[32];
    proxy_.getProtectedAddresses(port_, driverCount, addresses, status);
    if (status.isFatal()) return;
    // The reply holds 32 addresses; a larger count from the driver cannot be trusted beyond them.
    if (driverCount > sizeof addresses) driverCount = sizeof addresses;

    const bool addFixed = chassisEepromPort_ != 0 && extendedProtection_ != 0;
    const uint8_t size =
        static_cast<uint8_t>(driverCount + (addFixed ? sizeof kFixedProtected : 0));
    if (size == 0) return;

    auto *list = static_cast<uint8_t *>(allocate(size, status));
    if (list == nullptr) return;
    std::memcpy(list, addresses, driverCount);
    if (addFixed)
        std::memcpy(list + size - sizeof kFixedProtected, kFixedProtected, sizeof kFixedProtected);

    release(protectedList_);
    protectedList_ = list;
    protectedCount_ = size;
}

tProxySMBusController::~tProxySMBusController() {
    if (proxy_.isOpen()) proxy_.close();
    release(protectedList_);
    protectedList_ = nullptr;
}

void tProxySMBusController::getPciIds(uint16_t &vendorId, uint16_t &deviceId,
                                      uint16_t &subsystemVendorId, uint16_t &subsystemId,
                                      tStatus &status) {
    if (status.isFatal()) return;
    uint16_t vendor = 0, device = 0, subsystemVendor = 0, subsystem = 0;
    proxy_.getPciIds(vendor, device, subsystemVendor, subsystem, status);
    if (status.isFatal()) return;
    vendorId = vendor;
    deviceId = device;
    subsystemVendorId = subsystemVendor;
    subsystemId = subsystem;
}

void tProxySMBusController::getPciLocation(uint16_t &bus, uint16_t &device, uint16_t &function,
                                           uint16_t &port, tStatus &status) {
    if (status.isFatal()) return;
    uint16_t busNumber = 0, deviceNumber = 0, functionNumber = 0;
    proxy_.getPciLocation(busNumber, deviceNumber, functionNumber, status);
    if (status.isFatal()) return;
    bus = busNumber;
    device = deviceNumber;
    function = functionNumber;
    port = port_;
}

void tProxySMBusController::getDeviceString(const char *&text, tStatus &status) {
    if (status.isFatal()) return;
    if (deviceString_[0] == '\0') {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_SUPPORTED);
        return;
    }
    text = deviceString_;
}

void tProxySMBusController::getPortFlags(uint8_t &chassisEepromPort, uint8_t &extendedProtection,
                                         tStatus &status) {
    if (status.isFatal()) return;
    chassisEepromPort = chassisEepromPort_;
    extendedProtection = extendedProtection_;
}

void tProxySMBusController::getPortString(const char *&text, tStatus &status) {
    if (status.isFatal()) return;
    text = portString_;
}

void tProxySMBusController::getProtectedAddresses(uint8_t &count, const uint8_t *&list,
                                                  tStatus &status) {
    if (status.isFatal()) return;
    count = protectedCount_;
    list = protectedList_;
}

void tProxySMBusController::lockFlash(tFlashAccess access, tStatus &status) {
    if (status.isFatal()) return;
    // One deadline for every wait. The mutex waits are timed, not polls with
    // sleeps: sleeps may return at once (a signal, a simulated driver's
    // virtual clock).
    const auto deadline = std::chrono::steady_clock::now() + kFlashLockWait;
    const int descriptor = proxy_.descriptor();
    if (access == tFlashAccess::write) {
        if (!flashMutex_.try_lock_until(deadline)) {
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_BUSY);
            return;
        }
        lockFlashNode(descriptor, access, deadline, status);
        if (status.isFatal()) flashMutex_.unlock();
        return;
    }
    if (!flashMutex_.try_lock_shared_until(deadline)) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_BUSY);
        return;
    }
    if (!flashReadersMutex_.try_lock_until(deadline)) {
        flashMutex_.unlock_shared();
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_BUSY);
        return;
    }
    if (flashReaders_ == 0) lockFlashNode(descriptor, access, deadline, status);
    if (!status.isFatal()) ++flashReaders_;
    flashReadersMutex_.unlock();
    if (status.isFatal()) flashMutex_.unlock_shared();
}

void tProxySMBusController::unlockFlash(tFlashAccess access) noexcept {
    if (access == tFlashAccess::write) {
        unlockFlashNode(proxy_.descriptor());
        flashMutex_.unlock();
        return;
    }
    {
        const std::lock_guard<std::timed_mutex> readers(flashReadersMutex_);
        if (--flashReaders_ == 0) unlockFlashNode(proxy_.descriptor());
    }
    flashMutex_.unlock_shared();
}

// Every remaining operation is one driver command; the proxy does nothing when
// the status already holds an error.

void tProxySMBusController::writeBlock(uint8_t address, uint8_t command, uint8_t count, uint8_t pec,
                                       const tBlockData &data, tStatus &status) {
    proxy_.writeBlock(port_, address, command, count, data, pec, status);
}

void tProxySMBusController::blockProcessCall(uint8_t address, uint8_t command, uint8_t writeCount,
                                             uint8_t pec, uint8_t &readCount,
                                             const tBlockData &writeData, tBlockData &readData,
                                             tStatus &status) {
    proxy_.blockProcessCall(port_, address, command, writeCount, writeData, pec, readCount,
                            readData, status);
}

#define ZELSMBUS_DEFINE_FORWARDER_(method, row, scope, controller, parameters, arguments) \
    ZELSMBUS_WHEN_FORWARDED(                                                              \
        controller, void tProxySMBusController::method parameters {                       \
            proxy_.method(port_, ZELSMBUS_UNPARENTHESISED arguments);                     \
        })
ZELSMBUS_DRIVER_COMMANDS(ZELSMBUS_DEFINE_FORWARDER_)
#undef ZELSMBUS_DEFINE_FORWARDER_

}  // namespace nZELSMBUS000
