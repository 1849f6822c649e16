// The items of a PXI system as the chassis-query library describes them.
#pragma once

#include <cstdint>
#include <vector>

#include "chassis/Item.h"

namespace zelqpxi {

class Chassis;
class Slot;
class Device;
class TriggerBridge;

// Numbers of the chassis-query library used here.
enum tContainerKind : uint32_t {
    kChassisOfSession = 0,
    kSlotsOfChassis = 4096,
    kTriggerBridgesOfChassis = 4097,
    kDevicesInSlot = 8192,
};
enum tContainingKind : uint32_t { kContainingChassis = 1, kContainingSlot = 2 };

class Session : public Item {
public:
    enum tU32Attribute : uint32_t {};
    enum tStringAttribute : uint32_t {};

    using Item::Item;
    // Opens a session; this library always passes 1.
    Session(uint32_t value, QPXILibrary *library);

    virtual Device openDeviceByAddr(DeviceAddress address);
    virtual Chassis openChassisByNumber(uint32_t number);
    virtual std::vector<Chassis> getChassis();
    using Item::getStringAttribute;
    using Item::getU32Attribute;
    virtual uint32_t getU32Attribute(tU32Attribute attribute);
    virtual const char *getStringAttribute(tStringAttribute attribute);
    virtual uint32_t waitForSessionInvalidation(uint32_t value);
    virtual int32_t cancelWaitForInvalidation();
};

class Chassis : public Item {
public:
    enum tU32Attribute : uint32_t { kNumber = 4096 };
    enum tStringAttribute : uint32_t { kModel = 4096, kVendor = 4097, kSerialNumber = 4100 };

    using Item::getStringAttribute;
    using Item::getU32Attribute;
    using Item::Item;
    virtual uint32_t getU32Attribute(tU32Attribute attribute);
    virtual const char *getStringAttribute(tStringAttribute attribute);
    virtual std::vector<Slot> getSlots();
    virtual std::vector<TriggerBridge> getTriggerBridges();

    Slot openSlotByNumber(uint32_t number);
};

class Slot : public Item {
public:
    enum tU32Attribute : uint32_t {};
    enum tStringAttribute : uint32_t { kControllerText = 8201 };

    using Item::getStringAttribute;
    using Item::getU32Attribute;
    using Item::Item;
    virtual uint32_t getU32Attribute(tU32Attribute attribute);
    virtual const char *getStringAttribute(tStringAttribute attribute);
    virtual std::vector<Device> getDevices();
    virtual Chassis getChassis();
};

class Device : public Item {
public:
    enum tU32Attribute : uint32_t {
        kAddressWord1 = 12288,
        kAddressWord2 = 12289,
        kAddressWord3 = 12290
    };
    enum tStringAttribute : uint32_t {};

    using Item::Item;
    virtual Slot getSlot();
    virtual Chassis getChassis();
    virtual DeviceAddress getAddress();
    using Item::getStringAttribute;
    using Item::getU32Attribute;
    virtual uint32_t getU32Attribute(tU32Attribute attribute);
    virtual const char *getStringAttribute(tStringAttribute attribute);
};

class TriggerBridge : public Item {
public:
    enum tU32Attribute : uint32_t {};
    enum tStringAttribute : uint32_t {};

    using Item::getStringAttribute;
    using Item::getU32Attribute;
    using Item::Item;
    virtual uint32_t getU32Attribute(tU32Attribute attribute);
    virtual const char *getStringAttribute(tStringAttribute attribute);
    virtual Chassis getChassis();
};

}  // namespace zelqpxi
