// The table of the chassis-query library's 17 entry points. Every item call
// goes through it, so a test can stand a fake library in its place.
#pragma once

#include <cstdint>

#include "status/tJsonStatus.h"

namespace zelqpxi {

using nZELSMBUS000::tJsonStatus;

// Opaque handles of the chassis-query library; null means no item.
using tItemHandle = void *;
using tContainerHandle = void *;
using tIterator = void *;

// Address of a device: word 0 is always 0 here, then the device's U32
// attributes 12288, 12289 and 12290. Passed by pointer, so laid out exactly.
struct DeviceAddress {
    uint32_t words[4];
};
static_assert(sizeof(DeviceAddress) == 16, "DeviceAddress is 16 bytes");

class QPXILibrary {
public:
    virtual ~QPXILibrary() = default;

    virtual tItemHandle openPXISession(uint32_t value, tJsonStatus *status) = 0;
    virtual tItemHandle openChassisByNumber(tItemHandle session, uint32_t number,
                                            tJsonStatus *status) = 0;
    virtual tItemHandle openSlotByNumber(tItemHandle chassis, uint32_t number,
                                         tJsonStatus *status) = 0;
    virtual tItemHandle openDeviceByAddr(tItemHandle session, const DeviceAddress *address,
                                         tJsonStatus *status) = 0;
    virtual tItemHandle openContainingItem(tItemHandle item, uint32_t kind,
                                           tJsonStatus *status) = 0;
    virtual uint32_t getU32Attribute(tItemHandle item, uint32_t attribute, tJsonStatus *status) = 0;
    virtual const char *getStringAttribute(tItemHandle item, uint32_t attribute,
                                           tJsonStatus *status) = 0;
    virtual tContainerHandle getItemContainer(tItemHandle item, uint32_t kind,
                                              tJsonStatus *status) = 0;
    virtual tContainerHandle duplicateItemContainer(tContainerHandle container,
                                                    tJsonStatus *status) = 0;
    virtual tIterator ItemIterator_begin(tContainerHandle container, tJsonStatus *status) = 0;
    virtual tItemHandle ItemIterator_nextItem(tContainerHandle container, tIterator *iterator,
                                              tJsonStatus *status) = 0;
    virtual tIterator ItemIterator_end(tContainerHandle container, tJsonStatus *status) = 0;
    virtual int32_t destroyItemContainer(tContainerHandle container) = 0;
    virtual tItemHandle duplicate(tItemHandle item, tJsonStatus *status) = 0;
    virtual int32_t close(tItemHandle item) = 0;
    virtual uint32_t waitForSessionInvalidation(tItemHandle session, uint32_t value,
                                                tJsonStatus *status) = 0;
    virtual int32_t cancelWaitForInvalidation(tItemHandle session) = 0;
};

}  // namespace zelqpxi
