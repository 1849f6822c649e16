#include "api/controllerSet.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "controller/tProxySMBusController.h"
#include "driver/tDeviceInterfaceIterator.h"
#include "status/memory.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {

namespace {

constexpr const char *kInterfaceClass = "zelsmbus_zelsmbus";
constexpr uint16_t kRemoteVendors[] = {0x1E2D, 0x15BC};
constexpr uint32_t kPortLimit = 0x10000;  // port indexes are 16-bit

uint16_t vendorOf(iSMBusController &controller) {
    tStatus ignored;
    uint16_t vendor = 0, device = 0, subsystemVendor = 0, subsystem = 0;
    controller.getPciIds(vendor, device, subsystemVendor, subsystem, ignored);
    return vendor;
}

// A discovered controller with the keys it was placed by.
struct tPlacedController {
    tControllerKeys keys;
    iSMBusController *controller;
};
using tPlacedControllers = std::vector<tPlacedController>;

bool placedBefore(const tPlacedController &left, const tPlacedController &right) {
    return tControllerOrder{}(left.keys, right.keys);
}

// Reads the controller's keys once and keeps it with them. A key query that
// fails ends discovery with its error: the controller could otherwise be
// placed by unset values or taken for a duplicate and silently dropped.
void placeController(tPlacedControllers &placed, iSMBusController *controller,
                     tStatus &status) noexcept {
    tStatus queryStatus;
    const tPlacedController entry{readControllerKeys(*controller, queryStatus), controller};
    if (queryStatus.isFatal()) {
        status.merge(queryStatus);
        delete controller;
        return;
    }
    try {
        placed.push_back(entry);
    } catch (const std::bad_alloc &) {
        delete controller;
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
    }
}

// Sorts by the stored keys; of controllers with equal keys the first found
// stays and the others are destroyed. O(n log n) also at 65536 ports a node.
void orderPlaced(tPlacedControllers &placed) {
    std::stable_sort(placed.begin(), placed.end(), placedBefore);
    auto kept = placed.begin();
    for (auto it = placed.begin(); it != placed.end(); ++it) {
        if (kept != placed.begin() && !placedBefore(*(kept - 1), *it)) {
            delete it->controller;
            continue;
        }
        *kept++ = *it;
    }
    placed.erase(kept, placed.end());
}

void addPortsOfNode(nZELOSAL000::tDeviceInterfaceIterator &nodes, tPlacedControllers &placed,
                    tStatus &status) noexcept {
    uint32_t numPorts = 0;
    nodes.getProperty("numPorts", &numPorts, sizeof numPorts, nullptr, status);
    if (status.isFatal() || numPorts == 0) return;

    nZELOSAL000::tDeviceInterfacePath node;
    nodes.getInterfacePath(&node, status);
    // Ports are 16-bit numbers; a larger count must not wrap the index and
    // walk the same ports again forever.
    const uint32_t portCount = numPorts < kPortLimit ? numPorts : kPortLimit;
    for (uint32_t port = 0; port < portCount && !status.isFatal(); ++port) {
        tProxySMBusController *controller =
            tProxySMBusController::create(node, static_cast<uint16_t>(port), status);
        if (controller == nullptr) return;
        placeController(placed, controller, status);
    }
}

}  // namespace

bool tDeviceIdentity::operator==(const tDeviceIdentity &other) const {
    return std::memcmp(values, other.values, sizeof values) == 0;
}

uint64_t identityKey(iSMBusController &controller, tStatus &status) {
    uint16_t vendor = 0, device = 0, subsystemVendor = 0, subsystem = 0;
    controller.getPciIds(vendor, device, subsystemVendor, subsystem, status);
    return uint64_t{vendor} | uint64_t{device} << 16 | uint64_t{subsystemVendor} << 32 |
           uint64_t{subsystem} << 48;
}

uint64_t locationKey(iSMBusController &controller, tStatus &status) {
    uint16_t bus = 0, device = 0, function = 0, port = 0;
    controller.getPciLocation(bus, device, function, port, status);
    return uint64_t{bus} | uint64_t{device} << 16 | uint64_t{function} << 32 | uint64_t{port} << 48;
}

tControllerKeys readControllerKeys(iSMBusController &controller, tStatus &status) {
    tControllerKeys keys{};
    keys.identity = identityKey(controller, status);
    keys.location = locationKey(controller, status);
    return keys;
}

bool isRemoteVendor(uint16_t vendor) {
    for (uint16_t remote : kRemoteVendors)
        if (vendor == remote) return true;
    return false;
}

bool isRemoteController(iSMBusController &controller) {
    return isRemoteVendor(vendorOf(controller));
}

bool isSystemController(iSMBusController &controller) { return !isRemoteController(controller); }

void discoverControllers(tControllerSet &set, tStatus &status) noexcept {
    if (status.isFatal()) return;
    tPlacedControllers placed;
    {
        nZELOSAL000::tDeviceInterfaceIterator nodes(kInterfaceClass, status);
        for (; !status.isFatal() && !nodes.atEnd(); nodes.next())
            addPortsOfNode(nodes, placed, status);
    }
    if (!status.isFatal()) {
        try {
            orderPlaced(placed);
            set.reserve(set.size() + placed.size());
            for (const tPlacedController &entry : placed) set.push_back(entry.controller);
            placed.clear();
        } catch (const std::bad_alloc &) {
            ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
        }
    }
    for (const tPlacedController &entry : placed) delete entry.controller;
    if (status.isFatal())
        destroyControllers(set);
    else if (set.empty())
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
}

void destroyControllers(tControllerSet &set) noexcept {
    for (iSMBusController *controller : set) delete controller;
    set.clear();
}

tSMBusHandle *makeHandle(iSMBusController *controller, tStatus &status) noexcept {
    auto *handle = static_cast<tSMBusHandle *>(allocate(sizeof(tSMBusHandle), status));
    if (handle == nullptr) return nullptr;
    handle->controller = controller;
    handle->unrestricted = 0;
    handle->protectedAddresses[0] = handle->protectedAddresses[1] = 0;

    tStatus listStatus;
    uint8_t count = 0;
    const uint8_t *list = nullptr;
    controller->getProtectedAddresses(count, list, listStatus);
    if (listStatus.isFatal()) {
        // Without the list nothing can be known safe: protect every address.
        handle->protectedAddresses[0] = handle->protectedAddresses[1] = ~uint64_t{0};
    } else {
        for (uint8_t i = 0; i < count && list != nullptr; ++i) {
            const uint8_t address = list[i];
            handle->protectedAddresses[address >> 7] |= uint64_t{1} << ((address >> 1) & 63);
        }
    }
    return handle;
}

void releaseHandleRecord(tSMBusHandle *handle) noexcept { release(handle); }

void destroyHandle(tSMBusHandle *handle) noexcept {
    if (handle == nullptr) return;
    delete handle->controller;
    release(handle);
}

void readDeviceIdentity(iSMBusController &controller, tDeviceIdentity &identity, uint16_t &port,
                        tStatus &status) {
    identity = {};
    port = 0;
    uint16_t *v = identity.values;
    controller.getPciIds(v[0], v[1], v[2], v[3], status);
    controller.getPciLocation(v[4], v[5], v[6], port, status);
}

int32_t tDeviceNumbering::advance(const tDeviceIdentity &identity) {
    if (index_ < 0 || identity != previous_) {
        ++index_;
        previous_ = identity;
    }
    return index_;
}

tSMBusHandle *selectNumberedController(tControllerSet &set, tControllerTest test, uint16_t device,
                                       uint16_t port, tStatus &status) noexcept {
    if (status.isFatal() || set.empty()) return nullptr;
    tDeviceNumbering numbering;
    for (auto it = set.begin(); it != set.end() && !status.isFatal(); ++it) {
        iSMBusController *controller = *it;
        if (!test(*controller)) continue;
        tDeviceIdentity identity;
        uint16_t controllerPort = 0;
        readDeviceIdentity(*controller, identity, controllerPort, status);
        if (numbering.advance(identity) != device || controllerPort != port) continue;
        tSMBusHandle *handle = makeHandle(controller, status);
        if (handle != nullptr) set.erase(it);
        return handle;
    }
    return nullptr;
}

}  // namespace nZELSMBUS000
