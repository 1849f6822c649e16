// Discovery of every controller port, the per-call ordered set that holds the
// discovered controllers, and the numbering that turns set order into the
// device index of a ZELSMBUS::SYSTEM/REMOTE::n::p name.
#pragma once

#include <cstdint>
#include <vector>

#include "api/tSMBusHandle.h"
#include "controller/iSMBusController.h"
#include "status/tStatus.h"

namespace nZELSMBUS000 {

// Orders controllers by identity key (subsystem most significant, vendor least),
// then by location key (port most significant, bus least). Both controllers are
// queried afresh on every comparison. A failed query is recorded in `failures`
// when given: a comparison built on it cannot be trusted.
struct tControllerOrder {
    tStatus *failures = nullptr;
    bool operator()(iSMBusController *left, iSMBusController *right) const;
};

// Owns its controllers while a call runs, kept sorted under tControllerOrder; a
// caller that hands one to a handle erases it first. destroyControllers()
// empties it on every path. A sorted vector rather than a tree: the order asks
// the driver afresh on every comparison, and a query failing half-way through
// an insertion would make a tree's comparisons contradict each other and
// corrupt it, losing controllers. In a vector a contradiction can only
// misplace one.
using tControllerSet = std::vector<iSMBusController *>;

uint64_t identityKey(iSMBusController &controller, tStatus &status);
uint64_t locationKey(iSMBusController &controller, tStatus &status);

// Remote controllers carry vendor 0x1E2D or 0x15BC; every other one is a system controller.
bool isRemoteVendor(uint16_t vendor);
bool isRemoteController(iSMBusController &controller);
bool isSystemController(iSMBusController &controller);
using tControllerTest = bool (*)(iSMBusController &controller);

// Fills an empty set with one controller per port of every "zelsmbus_zelsmbus"
// node. On error the set is left empty; no controller found is -52006.
void discoverControllers(tControllerSet &set, tStatus &status) noexcept;
// Destroys every controller still in the set and empties it.
void destroyControllers(tControllerSet &set) noexcept;

// A new restricted handle owning the controller, with the controller's protected
// addresses (all 128 when they cannot be read). On failure the controller stays
// with the caller.
tSMBusHandle *makeHandle(iSMBusController *controller, tStatus &status) noexcept;
// Frees a handle record without touching its controller.
void releaseHandleRecord(tSMBusHandle *handle) noexcept;
// Destroys the handle's controller and frees the record (null accepted).
void destroyHandle(tSMBusHandle *handle) noexcept;

// The seven values that tell one device from another: vendor, device, subsystem
// vendor, subsystem, bus, device number, function.
struct tDeviceIdentity {
    uint16_t values[7];
    bool operator==(const tDeviceIdentity &other) const;
    bool operator!=(const tDeviceIdentity &other) const { return !(*this == other); }
};

// Reads identity and port with the caller's status (outputs stay 0 on failure).
void readDeviceIdentity(iSMBusController &controller, tDeviceIdentity &identity, uint16_t &port,
                        tStatus &status);

// Counts distinct consecutive identities walked in set order: the first device
// gets index 0.
class tDeviceNumbering {
public:
    // Returns the index of the device this identity belongs to.
    int32_t advance(const tDeviceIdentity &identity);

private:
    int32_t index_ = -1;
    tDeviceIdentity previous_ = {};
};

// Prefix compare without regard to ASCII case, then "" or "::n" or "::n::p"
// read as "::%u%n::%u%n" (numbers truncated to 16 bits).
bool matchNumberedName(const char *name, const char *prefix, uint16_t &device, uint16_t &port);

// Handle for port `port` of the `device`-th device accepted by `test`; the
// controller leaves the set. Null when there is none or on error.
tSMBusHandle *selectNumberedController(tControllerSet &set, tControllerTest test, uint16_t device,
                                       uint16_t port, tStatus &status) noexcept;

}  // namespace nZELSMBUS000
