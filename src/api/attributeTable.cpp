#include "api/attributeTable.h"

#include "controller/tControllerRegisterPort.h"
#include "firmware/configFlag.h"

namespace nZELSMBUS000 {

namespace {

using tHandle = tSMBusHandle;

uint64_t pciId(tHandle &handle, int which, tStatus &status) {
    uint16_t values[4] = {};
    handle.controller->getPciIds(values[0], values[1], values[2], values[3], status);
    return values[which];
}

uint64_t pciLocation(tHandle &handle, int which, tStatus &status) {
    uint16_t values[4] = {};
    handle.controller->getPciLocation(values[0], values[1], values[2], values[3], status);
    return values[which];
}

uint64_t portFlag(tHandle &handle, int which, tStatus &status) {
    uint8_t flags[2] = {};
    handle.controller->getPortFlags(flags[0], flags[1], status);
    return flags[which];
}

template <typename T, void (iSMBusController::*kGet)(T &, tStatus &)>
uint64_t driverGet(tHandle &handle, tStatus &status) {
    T value{};
    (handle.controller->*kGet)(value, status);
    return value;
}

template <typename T, void (iSMBusController::*kSet)(T, tStatus &)>
void driverSet(tHandle &handle, uint64_t value, tStatus &status) {
    (handle.controller->*kSet)(static_cast<T>(value), status);
}

uint64_t textAddress(const char *text) { return reinterpret_cast<uintptr_t>(text); }

using tGet = uint64_t (*)(tHandle &, tStatus &);
using tSet = void (*)(tHandle &, uint64_t, tStatus &);

// A row reads its attribute, and sets it when it is given a setter.
constexpr tAttribute row(uint32_t identifier, tGet get) {
    return {findAttributeUse(identifier), get, nullptr, false};
}
constexpr tAttribute row(uint32_t identifier, tGet get, tSet set) {
    return {findAttributeUse(identifier), get, set, true};
}

constexpr tAttribute kAttributes[] = {
    row(ZELSMBUS_ATTR_VENDOR_ID, [](tHandle &h, tStatus &s) { return pciId(h, 0, s); }),
    row(ZELSMBUS_ATTR_DEVICE_ID, [](tHandle &h, tStatus &s) { return pciId(h, 1, s); }),
    row(ZELSMBUS_ATTR_SUBSYSTEM_VENDOR_ID, [](tHandle &h, tStatus &s) { return pciId(h, 2, s); }),
    row(ZELSMBUS_ATTR_SUBSYSTEM_ID, [](tHandle &h, tStatus &s) { return pciId(h, 3, s); }),
    row(ZELSMBUS_ATTR_PCI_BUS, [](tHandle &h, tStatus &s) { return pciLocation(h, 0, s); }),
    row(ZELSMBUS_ATTR_PCI_DEVICE, [](tHandle &h, tStatus &s) { return pciLocation(h, 1, s); }),
    row(ZELSMBUS_ATTR_PCI_FUNCTION, [](tHandle &h, tStatus &s) { return pciLocation(h, 2, s); }),
    row(ZELSMBUS_ATTR_PORT, [](tHandle &h, tStatus &s) { return pciLocation(h, 3, s); }),
    row(ZELSMBUS_ATTR_PORT_STRING,
        [](tHandle &h, tStatus &s) {
            const char *text = nullptr;
            h.controller->getPortString(text, s);
            return textAddress(text);
        }),
    row(ZELSMBUS_ATTR_DEVICE_STRING,
        [](tHandle &h, tStatus &s) {
            const char *text = nullptr;
            h.controller->getDeviceString(text, s);
            return textAddress(text);
        }),
    row(ZELSMBUS_ATTR_FIRMWARE_VERSION,
        [](tHandle &h, tStatus &s) {
            uint32_t value = 0;
            h.controller->readRegister(4, value, s);
            return uint64_t(value);
        }),
    row(ZELSMBUS_ATTR_PROTECTED_COUNT,
        [](tHandle &h, tStatus &s) {
            uint8_t count = 0;
            const uint8_t *list = nullptr;
            h.controller->getProtectedAddresses(count, list, s);
            return uint64_t(count);
        }),
    row(ZELSMBUS_ATTR_PROTECTED_LIST,
        [](tHandle &h, tStatus &s) {
            uint8_t count = 0;
            const uint8_t *list = nullptr;
            h.controller->getProtectedAddresses(count, list, s);
            return uint64_t(reinterpret_cast<uintptr_t>(list));
        }),
    row(
        ZELSMBUS_ATTR_UNRESTRICTED,
        [](tHandle &h, tStatus &) { return uint64_t(h.unrestricted != 0); },
        [](tHandle &h, uint64_t value, tStatus &) { h.unrestricted = value != 0; }),
    row(ZELSMBUS_ATTR_CHASSIS_EEPROM_PORT,
        [](tHandle &h, tStatus &s) { return portFlag(h, 0, s); }),
    row(ZELSMBUS_ATTR_EXTENDED_PROTECTION,
        [](tHandle &h, tStatus &s) { return portFlag(h, 1, s); }),
    row(ZELSMBUS_ATTR_1004, driverGet<uint8_t, &iSMBusController::getAttribute1004>,
        [](tHandle &h, uint64_t value, tStatus &s) {
            h.controller->setAttribute1004(value != 0 ? 1 : 0, s);
        }),
    row(ZELSMBUS_ATTR_1005, driverGet<uint32_t, &iSMBusController::getAttribute1005>,
        driverSet<uint32_t, &iSMBusController::setAttribute1005>),
    row(
        ZELSMBUS_ATTR_CONFIG_FLAG,
        [](tHandle &h, tStatus &s) {
            const tFlashLock reader(*h.controller, tFlashAccess::read, s);
            tControllerRegisterPort port(*h.controller);
            return uint64_t(readConfigFlag(port, s));
        },
        [](tHandle &h, uint64_t value, tStatus &s) {
            const tFlashLock writer(*h.controller, tFlashAccess::write, s);
            tControllerRegisterPort port(*h.controller);
            writeConfigFlag(port, value != 0, s);
        }),
    row(ZELSMBUS_ATTR_2001, driverGet<uint32_t, &iSMBusController::getAttribute2001>,
        driverSet<uint32_t, &iSMBusController::setAttribute2001>),
    row(ZELSMBUS_ATTR_3001, driverGet<uint32_t, &iSMBusController::getAttribute3001>,
        driverSet<uint32_t, &iSMBusController::setAttribute3001>),
    row(ZELSMBUS_ATTR_3002, driverGet<uint32_t, &iSMBusController::getAttribute3002>,
        driverSet<uint32_t, &iSMBusController::setAttribute3002>),
    row(ZELSMBUS_ATTR_10001, driverGet<uint16_t, &iSMBusController::getAttribute10001>,
        driverSet<uint16_t, &iSMBusController::setAttribute10001>),
    row(ZELSMBUS_ATTR_10002, driverGet<uint16_t, &iSMBusController::getAttribute10002>,
        driverSet<uint16_t, &iSMBusController::setAttribute10002>),
    row(ZELSMBUS_ATTR_10003, driverGet<uint16_t, &iSMBusController::getAttribute10003>,
        driverSet<uint16_t, &iSMBusController::setAttribute10003>),
    row(ZELSMBUS_ATTR_10004, driverGet<uint16_t, &iSMBusController::getAttribute10004>),
    row(ZELSMBUS_ATTR_10005, driverGet<uint16_t, &iSMBusController::getAttribute10005>,
        driverSet<uint16_t, &iSMBusController::setAttribute10005>),
};

// Every attribute of the public table has one row here, and a row can set
// its attribute exactly when the access table says it is read-write.
constexpr bool rowsFollowTheAccessTable() {
    if (sizeof kAttributes / sizeof kAttributes[0] !=
        sizeof kAttributeUses / sizeof kAttributeUses[0])
        return false;
    for (const tAttributeUse &use : kAttributeUses) {
        int rows = 0;
        for (const tAttribute &attribute : kAttributes) {
            if (attribute.use != &use) continue;
            ++rows;
            if (attribute.settable != (use.access == tAttributeAccess::readWrite)) return false;
        }
        if (rows != 1) return false;
    }
    return true;
}
static_assert(rowsFollowTheAccessTable(), "one row per attribute, settable when read-write");

}  // namespace

const tAttribute *findAttribute(uint32_t identifier) {
    for (const tAttribute &attribute : kAttributes)
        if (attribute.use->identifier == identifier) return &attribute;
    return nullptr;
}

}  // namespace nZELSMBUS000
