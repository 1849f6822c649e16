#include "flashWriterLock.h"

#include <cstdint>

#include "driver/tDeviceInterfaceIterator.h"
#include "failure.h"
#include "flash/flashLock.h"
#include "protocol/tInterfaceProxy_zelsmbus.h"

namespace zelsmbus_tool {
namespace {

using nZELSMBUS000::tInterfaceProxy_zelsmbus;
using nZELSMBUS000::tStatus;

// The seven numbers that name a controller's PCI device: the library orders
// and tells controllers apart by them, so one node carries them.
struct PciDevice {
    uint16_t values[7] = {};
    bool operator==(const PciDevice &other) const {
        for (int i = 0; i < 7; ++i)
            if (values[i] != other.values[i]) return false;
        return true;
    }
};

PciDevice sessionDevice(tSMBusHandle *handle, const std::string &resource) {
    static const uint32_t kAttributes[7] = {
        ZELSMBUS_ATTR_VENDOR_ID, ZELSMBUS_ATTR_DEVICE_ID,  ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID,
        ZELSMBUS_ATTR_SUBSYSTEM_ID, ZELSMBUS_ATTR_PCI_BUS, ZELSMBUS_ATTR_PCI_DEVICE,
        ZELSMBUS_ATTR_PCI_FUNCTION};
    PciDevice device;
    for (int i = 0; i < 7; ++i)
        check(ZELSMBusGetAttribute(handle, kAttributes[i], &device.values[i]),
              "cannot read the PCI identity of " + resource);
    return device;
}

PciDevice nodeDevice(tInterfaceProxy_zelsmbus &node, tStatus &status) {
    PciDevice device;
    uint16_t *v = device.values;
    node.getPciIds(v[0], v[1], v[2], v[3], status);
    node.getPciLocation(v[4], v[5], v[6], status);
    return device;
}

}  // namespace

struct FlashWriterLock::Node {
    tInterfaceProxy_zelsmbus proxy;
};

FlashWriterLock::FlashWriterLock(tSMBusHandle *handle, const std::string &resource)
    : node_(std::make_unique<Node>()) {
    const PciDevice wanted = sessionDevice(handle, resource);
    const std::string what = "cannot reach the flash of " + resource;
    // The walk the library's discovery makes: of nodes naming the same device
    // the first found is the one a session opens.
    tStatus status;
    bool found = false;
    {
        nZELSMBUS000::nZELOSAL000::tDeviceInterfaceIterator nodes("zelsmbus_zelsmbus", status);
        for (; !found && !status.isFatal() && !nodes.atEnd(); nodes.next()) {
            tStatus own;
            nZELSMBUS000::nZELOSAL000::tDeviceInterfacePath path;
            nodes.getInterfacePath(&path, own);
            node_->proxy.open(path.path, own);
            const PciDevice device = nodeDevice(node_->proxy, own);
            found = !own.isFatal() && device == wanted;
            if (!found) node_->proxy.close();
        }
    }
    if (status.isFatal()) throw ToolError(what, status.code, "check the driver and try again");
    if (!found)
        throw ToolError(what + ": no driver node names its PCI device", std::nullopt,
                        "check that the driver still lists it (zelsmbus list)");
    nZELSMBUS000::lockFlashNode(node_->proxy.descriptor(), nZELSMBUS000::tFlashAccess::write,
                                status);
    if (status.code == ZELSMBUS_ERROR_BUSY) {
        throw ToolError(what + ": another program is writing the controller's flash", status.code,
                        "wait until it is done (a firmware update takes minutes), then run the "
                        "command again");
    }
    if (status.isFatal()) throw ToolError(what, status.code, "run the command again");
}

FlashWriterLock::~FlashWriterLock() { nZELSMBUS000::unlockFlashNode(node_->proxy.descriptor()); }

}  // namespace zelsmbus_tool
