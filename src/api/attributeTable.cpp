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

const tAttribute kAttributes[] = {
    {101, 2, false, [](tHandle &h, tStatus &s) { return pciId(h, 0, s); }, nullptr},
    {102, 2, false, [](tHandle &h, tStatus &s) { return pciId(h, 1, s); }, nullptr},
    {103, 2, false, [](tHandle &h, tStatus &s) { return pciId(h, 2, s); }, nullptr},
    {104, 2, false, [](tHandle &h, tStatus &s) { return pciId(h, 3, s); }, nullptr},
    {105, 2, false, [](tHandle &h, tStatus &s) { return pciLocation(h, 0, s); }, nullptr},
    {106, 2, false, [](tHandle &h, tStatus &s) { return pciLocation(h, 1, s); }, nullptr},
    {107, 2, false, [](tHandle &h, tStatus &s) { return pciLocation(h, 2, s); }, nullptr},
    {108, 2, false, [](tHandle &h, tStatus &s) { return pciLocation(h, 3, s); }, nullptr},
    {301, 8, false,
     [](tHandle &h, tStatus &s) {
         const char *text = nullptr;
         h.controller->getPortString(text, s);
         return textAddress(text);
     },
     nullptr},
    {302, 8, false,
     [](tHandle &h, tStatus &s) {
         const char *text = nullptr;
         h.controller->getDeviceString(text, s);
         return textAddress(text);
     },
     nullptr},
    {303, 4, false,
     [](tHandle &h, tStatus &s) {
         uint32_t value = 0;
         h.controller->readRegister(4, value, s);
         return uint64_t(value);
     },
     nullptr},
    {401, 1, false,
     [](tHandle &h, tStatus &s) {
         uint8_t count = 0;
         const uint8_t *list = nullptr;
         h.controller->getProtectedAddresses(count, list, s);
         return uint64_t(count);
     },
     nullptr},
    {402, 8, false,
     [](tHandle &h, tStatus &s) {
         uint8_t count = 0;
         const uint8_t *list = nullptr;
         h.controller->getProtectedAddresses(count, list, s);
         return uint64_t(reinterpret_cast<uintptr_t>(list));
     },
     nullptr},
    {1001, 4, false, [](tHandle &h, tStatus &) { return uint64_t(h.unrestricted != 0); },
     [](tHandle &h, uint64_t value, tStatus &) { h.unrestricted = value != 0; }},
    {1002, 4, false, [](tHandle &h, tStatus &s) { return portFlag(h, 0, s); }, nullptr},
    {1003, 4, false, [](tHandle &h, tStatus &s) { return portFlag(h, 1, s); }, nullptr},
    {1004, 4, true, driverGet<uint8_t, &iSMBusController::getAttribute1004>,
     [](tHandle &h, uint64_t value, tStatus &s) {
         h.controller->setAttribute1004(value != 0 ? 1 : 0, s);
     }},
    {1005, 4, false, driverGet<uint32_t, &iSMBusController::getAttribute1005>,
     driverSet<uint32_t, &iSMBusController::setAttribute1005>},
    {1006, 4, false,
     [](tHandle &h, tStatus &s) {
         const tFlashLock reader(*h.controller, tFlashAccess::read, s);
         tControllerRegisterPort port(*h.controller);
         return uint64_t(readConfigFlag(port, s));
     },
     [](tHandle &h, uint64_t value, tStatus &s) {
         const tFlashLock writer(*h.controller, tFlashAccess::write, s);
         tControllerRegisterPort port(*h.controller);
         writeConfigFlag(port, value != 0, s);
     }},
    {2001, 4, false, driverGet<uint32_t, &iSMBusController::getAttribute2001>,
     driverSet<uint32_t, &iSMBusController::setAttribute2001>},
    {3001, 4, true, driverGet<uint32_t, &iSMBusController::getAttribute3001>,
     driverSet<uint32_t, &iSMBusController::setAttribute3001>},
    {3002, 4, true, driverGet<uint32_t, &iSMBusController::getAttribute3002>,
     driverSet<uint32_t, &iSMBusController::setAttribute3002>},
    {10001, 2, true, driverGet<uint16_t, &iSMBusController::getAttribute10001>,
     driverSet<uint16_t, &iSMBusController::setAttribute10001>},
    {10002, 2, true, driverGet<uint16_t, &iSMBusController::getAttribute10002>,
     driverSet<uint16_t, &iSMBusController::setAttribute10002>},
    {10003, 2, true, driverGet<uint16_t, &iSMBusController::getAttribute10003>,
     driverSet<uint16_t, &iSMBusController::setAttribute10003>},
    {10004, 2, true, driverGet<uint16_t, &iSMBusController::getAttribute10004>, nullptr},
    {10005, 2, true, driverGet<uint16_t, &iSMBusController::getAttribute10005>,
     driverSet<uint16_t, &iSMBusController::setAttribute10005>},
};

}  // namespace

const tAttribute *findAttribute(uint32_t identifier) {
    for (const tAttribute &attribute : kAttributes)
        if (attribute.identifier == identifier) return &attribute;
    return nullptr;
}

}  // namespace nZELSMBUS000
