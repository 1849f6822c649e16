// Opening a chassis backplane by name: the chassis-query library tells the
// identity of the chassis, and the controller whose chassis EEPROM carries the
// same texts is the backplane's.
#include "api/backplane.h"

#include <cstring>
#include <new>
#include <string>

#include "api/resourceNameParts.h"
#include "chassis/DynamicQPXILibrary.h"
#include "chassis/items.h"
#include "zelsmbus.h"

namespace nZELSMBUS000 {
namespace {

// The first 123 bytes of the chassis EEPROM hold the three identity fields.
constexpr uint32_t kChassisImageLength = 123;
struct tIdentityField {
    size_t offset;
    size_t length;
};
constexpr tIdentityField kModelField{5, 60};
constexpr tIdentityField kVendorField{65, 40};
constexpr tIdentityField kSerialField{106, 13};

struct tChassisIdentity {
    std::string model;   // string attribute 4096
    std::string vendor;  // string attribute 4097
    std::string serial;  // string attribute 4100
};

std::string copyText(const char *text) {
    return text != nullptr ? std::string(text) : std::string();
}

// Reads the identity texts of chassis `number`; items and binding are gone
// again when it returns. Failures arrive as zelerr::Exception.
tChassisIdentity readChassisIdentity(uint32_t number) {
    using namespace zelqpxi;
    tJsonStatus bindingStatus;
    DynamicQPXILibrary binding(bindingStatus);
    bindingStatus.raiseIfFatal();
    Session session(1, &binding);
    Chassis chassis = session.openChassisByNumber(number);
    tChassisIdentity identity;
    identity.model = copyText(chassis.getStringAttribute(Chassis::kModel));
    identity.vendor = copyText(chassis.getStringAttribute(Chassis::kVendor));
    identity.serial = copyText(chassis.getStringAttribute(Chassis::kSerialNumber));
    return identity;
}

bool fieldMatches(const uint8_t *image, tIdentityField field, const std::string &text) {
    return std::strncmp(text.c_str(), reinterpret_cast<const char *>(image + field.offset),
                        field.length) == 0;
}

bool carriesIdentity(tSMBusHandle *handle, const tChassisIdentity &identity) {
    uint8_t image[kChassisImageLength];
    if (ZELSMBusGetChassisEEPROM(handle, 0, kChassisImageLength, image) < 0) return false;
    return fieldMatches(image, kModelField, identity.model) &&
           fieldMatches(image, kVendorField, identity.vendor) &&
           fieldMatches(image, kSerialField, identity.serial);
}

}  // namespace

bool isBackplaneName(const char *name, int32_t &chassisNumber) {
    if (name == nullptr) return false;
    try {
        const std::vector<std::string> parts = splitResourceName(name, "::");
        if (parts.size() != 3) return false;
        const std::string &interface = parts[0];
        if (interface.size() < 3 || !equalsIgnoreCase(interface.substr(0, 3), "pxi")) return false;
        // The interface number must be well formed; its value plays no part.
        int32_t interfaceNumber = 0;
        if (interface.size() > 3 && !readWholeInteger(interface.substr(3), interfaceNumber)) {
            return false;
        }
        int32_t number = 0;
        if (!readWholeInteger(parts[1], number)) return false;
        if (!equalsIgnoreCase(parts[2], "backplane")) return false;
        chassisNumber = number;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

tSMBusHandle *openBackplaneController(int32_t chassisNumber, tControllerSet &set, tStatus &status) {
    if (status.isFatal()) return nullptr;

    tChassisIdentity identity;
    try {
        identity = readChassisIdentity(static_cast<uint32_t>(chassisNumber));
    } catch (const zelerr::Exception &failure) {
        ZELSMBUS_SET_CODE(status, failure.code());
        return nullptr;
    } catch (const std::bad_alloc &) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_OUT_OF_MEMORY);
        return nullptr;
    }

    if (set.empty()) {
        ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
        return nullptr;
    }
    // Controllers that cannot be made a handle or whose chassis EEPROM cannot
    // be read are skipped; their errors are not the caller's.
    for (auto it = set.begin(); it != set.end(); ++it) {
        tStatus controllerStatus;
        tSMBusHandle *handle = makeHandle(*it, controllerStatus);
        if (handle == nullptr) continue;
        if (carriesIdentity(handle, identity)) {
            set.erase(it);
            return handle;
        }
        releaseHandleRecord(handle);
    }
    ZELSMBUS_SET_CODE(status, ZELSMBUS_ERROR_NOT_FOUND);
    return nullptr;
}

}  // namespace nZELSMBUS000
