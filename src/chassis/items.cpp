#include "chassis/items.h"

namespace zelqpxi {
namespace {

// Opens the item that contains `handle` and wraps it in an object of class T.
template <typename T>
T openContaining(QPXILibrary *library, tItemHandle handle, tContainingKind kind) {
    tItemHandle container;
    {
        tCallStatus status;
        container = library->openContainingItem(handle, kind, status.get());
    }
    return T(container, library);
}

}  // namespace

static tItemHandle openSession(QPXILibrary *library, uint32_t value) {
    tCallStatus status;
    return library->openPXISession(value, status.get());
}

Session::Session(uint32_t value, QPXILibrary *library)
    : Item(openSession(library, value), library) {}

Device Session::openDeviceByAddr(DeviceAddress address) {
    tItemHandle device;
    {
        tCallStatus status;
        device = library_->openDeviceByAddr(handle_, &address, status.get());
    }
    return Device(device, library_);
}

Chassis Session::openChassisByNumber(uint32_t number) {
    tItemHandle chassis;
    {
        tCallStatus status;
        chassis = library_->openChassisByNumber(handle_, number, status.get());
    }
    return Chassis(chassis, library_);
}

std::vector<Chassis> Session::getChassis() { return enumerate<Chassis>(kChassisOfSession); }

uint32_t Session::getU32Attribute(tU32Attribute attribute) {
    return Item::getU32Attribute(static_cast<uint32_t>(attribute));
}
const char *Session::getStringAttribute(tStringAttribute attribute) {
    return Item::getStringAttribute(static_cast<uint32_t>(attribute));
}

uint32_t Session::waitForSessionInvalidation(uint32_t value) {
    tCallStatus status;
    return library_->waitForSessionInvalidation(handle_, value, status.get());
}

int32_t Session::cancelWaitForInvalidation() {
    return library_->cancelWaitForInvalidation(handle_);
}

uint32_t Chassis::getU32Attribute(tU32Attribute attribute) {
    return Item::getU32Attribute(static_cast<uint32_t>(attribute));
}
const char *Chassis::getStringAttribute(tStringAttribute attribute) {
    return Item::getStringAttribute(static_cast<uint32_t>(attribute));
}
std::vector<Slot> Chassis::getSlots() { return enumerate<Slot>(kSlotsOfChassis); }
std::vector<TriggerBridge> Chassis::getTriggerBridges() {
    return enumerate<TriggerBridge>(kTriggerBridgesOfChassis);
}

Slot Chassis::openSlotByNumber(uint32_t number) {
    tItemHandle slot;
    {
        tCallStatus status;
        slot = library_->openSlotByNumber(handle_, number, status.get());
    }
    return Slot(slot, library_);
}

uint32_t Slot::getU32Attribute(tU32Attribute attribute) {
    return Item::getU32Attribute(static_cast<uint32_t>(attribute));
}
const char *Slot::getStringAttribute(tStringAttribute attribute) {
    return Item::getStringAttribute(static_cast<uint32_t>(attribute));
}
std::vector<Device> Slot::getDevices() { return enumerate<Device>(kDevicesInSlot); }
Chassis Slot::getChassis() {
    return openContaining<Chassis>(library_, handle_, kContainingChassis);
}

Slot Device::getSlot() { return openContaining<Slot>(library_, handle_, kContainingSlot); }
Chassis Device::getChassis() {
    return openContaining<Chassis>(library_, handle_, kContainingChassis);
}

DeviceAddress Device::getAddress() {
    // Read in this order: 12290, 12289, 12288.
    const uint32_t third = getU32Attribute(kAddressWord3);
    const uint32_t second = getU32Attribute(kAddressWord2);
    const uint32_t first = getU32Attribute(kAddressWord1);
    return DeviceAddress{{0, first, second, third}};
}

uint32_t Device::getU32Attribute(tU32Attribute attribute) {
    return Item::getU32Attribute(static_cast<uint32_t>(attribute));
}
const char *Device::getStringAttribute(tStringAttribute attribute) {
    return Item::getStringAttribute(static_cast<uint32_t>(attribute));
}

uint32_t TriggerBridge::getU32Attribute(tU32Attribute attribute) {
    return Item::getU32Attribute(static_cast<uint32_t>(attribute));
}
const char *TriggerBridge::getStringAttribute(tStringAttribute attribute) {
    return Item::getStringAttribute(static_cast<uint32_t>(attribute));
}
Chassis TriggerBridge::getChassis() {
    return openContaining<Chassis>(library_, handle_, kContainingChassis);
}

}  // namespace zelqpxi
