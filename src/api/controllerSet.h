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

// The two keys that order a controller in the set, read once when it is placed.
struct tControllerKeys {
    uint64_t identity;  // subsystem most significant, vendor least
    uint64_t location;  // port most significant, bus least
};

// Identity key first, then location key. Compares stored values only, so it is
// a strict weak order whatever the driver answers later.
struct tControllerOrder {
    bool operator()(const tControllerKeys &left, const tControllerKeys &right) const {
        if (left.identity != right.identity) return left.identity < right.identity;
        return left.location < right.location;
    }
};

// Owns its controllers while a call runs, in ascending tControllerOrder of
// their keys, without two of equal keys; a caller that hands one to a handle
// erases it first. destroyControllers() empties it on every path.
using tControllerSet = std::vector<iSMBusController *>;

uint64_t identityKey(iSMBusController &controller, tStatus &status);
uint64_t locationKey(iSMBusController &controller, tStatus &status);
// Both keys with one driver query each; a failed query is left in the status.
tControllerKeys readControllerKeys(iSMBusController &controller, tStatus &status);

// Remote controllers carry vendor 0x1E2D or 0x15BC; every other one is a system controller.
bool isRemoteVendor(uint16_t vendor);
bool isRemoteController(iSMBusController &controller);
bool isSystemController(iSMBusController &controller);
using tControllerTest = bool (*)(iSMBusController &controller);

// Fills an empty set with one controller per port of every "zelsmbus_zelsmbus"
// node, each placed by keys read once; of controllers with equal keys the first
// found stays and the others are destroyed. A key that cannot be read fails
// discovery with the query's error. On error the set is left empty; no
// controller found is ZELSMBUS_ERROR_NOT_FOUND.
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

// Counts distinct consecutive identities walked in set order: the first
// identity always starts device 0, whatever its values (all zeros included).
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
