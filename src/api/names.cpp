// Listing the resource names an application can open: one backplane name per
// chassis whose slot 1 names this library's controller, then one numbered
// name per controller port, in the order and numbering that opening uses.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "api/controllerSet.h"
#include "chassis/DynamicQPXILibrary.h"
#include "chassis/items.h"
#include "status/memory.h"
#include "zelsmbus.h"

using namespace nZELSMBUS000;

namespace {

// Every name is formatted into a buffer of this size; a numbered name is
// bounded to one byte less.
constexpr size_t kNameBufferSize = 32;
constexpr const char *kControllerMark = "ZELSMBUS";

// Backplane names of the chassis that carry a controller of ours in slot 1.
// Chassis-query failures arrive as zelerr::Exception.
void appendBackplaneNames(std::vector<std::string> &names) {
    using namespace zelqpxi;
    tJsonStatus bindingStatus;
    DynamicQPXILibrary binding(bindingStatus);
    bindingStatus.raiseIfFatal();
    Session session(1, &binding);
    std::vector<Chassis> chassisList = session.getChassis();
    for (Chassis &chassis : chassisList) {
        // A chassis whose identity cannot be read is left out.
        try {
            chassis.getStringAttribute(Chassis::kSerialNumber);
        } catch (const zelerr::Exception &) {
            continue;
        }
        Slot slot = chassis.openSlotByNumber(1);
        const char *text = slot.getStringAttribute(Slot::kControllerText);
        if (text != nullptr && std::strstr(text, kControllerMark) != nullptr) {
            char name[kNameBufferSize];
            std::snprintf(name, sizeof name, "PXI0::%u::BACKPLANE",
                          chassis.getU32Attribute(Chassis::kNumber));
            names.emplace_back(name);
        }
    }
}

void appendPortName(std::vector<std::string> &names, const char *form, int32_t device,
                    uint16_t port) {
    char name[kNameBufferSize];
    std::snprintf(name, kNameBufferSize - 1, form, kControllerMark, static_cast<uint16_t>(device),
                  port);
    names.emplace_back(name);
}

// Numbered names of every controller port; a failed discovery adds none. A
// port whose identity cannot be read fails the listing (status): numbering it
// from unset values would list names that open other ports or none.
void appendPortNames(std::vector<std::string> &names, tStatus &status) {
    tStatus discoveryStatus;
    tControllerSet set;
    discoverControllers(set, discoveryStatus);
    try {
        tDeviceNumbering systemDevices, remoteDevices;
        for (iSMBusController *controller : set) {
            tDeviceIdentity identity;
            uint16_t port = 0;
            readDeviceIdentity(*controller, identity, port, status);
            if (status.isFatal()) break;
            // The vendor just read decides, so one answer both numbers and sorts the port.
            if (isRemoteVendor(identity.values[0])) {
                appendPortName(names, "%s::REMOTE::%hu::%hu", remoteDevices.advance(identity),
                               port);
            } else {
                appendPortName(names, "%s::SYSTEM::%hu::%hu", systemDevices.advance(identity),
                               port);
            }
        }
    } catch (...) {
        destroyControllers(set);
        throw;
    }
    destroyControllers(set);
}

char *makeNameBlock(const std::vector<std::string> &names, tStatus &status) {
    size_t size = 1;
    for (const std::string &name : names) size += name.size() + 1;
    char *block = static_cast<char *>(allocate(size, status));
    if (block == nullptr) return nullptr;
    char *out = block;
    for (const std::string &name : names) {
        std::memcpy(out, name.c_str(), name.size() + 1);
        out += name.size() + 1;
    }
    *out = '\0';
    return block;
}

}  // namespace

extern "C" {

char *ZELSMBusGetResourceNameList(void) {
    tStatus status;
    std::vector<std::string> names;
    try {
        appendBackplaneNames(names);
    } catch (const zelerr::Exception &failure) {
        ZELSMBUS_SET_CODE(status, failure.code());
    } catch (...) {
        ZELSMBUS_SET_CODE(status,
                          ZELSMBUS_ERROR_OUT_OF_MEMORY);  // out of memory while collecting names
    }
    if (status.isFatal()) return nullptr;

    try {
        appendPortNames(names, status);
    } catch (...) {
        return nullptr;
    }
    if (status.isFatal()) return nullptr;
    return makeNameBlock(names, status);
}

void ZELSMBusPutResourceNameList(char *list) { release(list); }

}  // extern "C"
