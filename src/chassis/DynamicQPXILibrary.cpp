#include "chassis/DynamicQPXILibrary.h"

#include "chassis/zeldynlib.h"

namespace zelqpxi {
namespace {

template <typename Function>
void bind(Function &pointer, void *library, const char *name, tJsonStatus &status) {
    pointer = reinterpret_cast<Function>(zeldynlib_getSymbol(library, name, status));
}

}  // namespace

DynamicQPXILibrary::DynamicQPXILibrary(tJsonStatus &status) {
    library_ = nullptr;
    if (status.isFatal()) return;
    library_ = zeldynlib_load(kLibraryName, kLoadFlags, status);
    if (status.isFatal()) return;

    // No test between the lookups: after the first missing symbol every later
    // lookup sees the error and stays null without asking the loader.
    bind(openPXISession_, library_, "zelqpxi_openPXISession", status);
    bind(openChassisByNumber_, library_, "zelqpxi_openChassisByNumber", status);
    bind(openSlotByNumber_, library_, "zelqpxi_openSlotByNumber", status);
    bind(openDeviceByAddr_, library_, "zelqpxi_openDeviceByAddr", status);
    bind(openContainingItem_, library_, "zelqpxi_openContainingItem", status);
    bind(getU32Attribute_, library_, "zelqpxi_getU32Attribute", status);
    bind(getStringAttribute_, library_, "zelqpxi_getStringAttribute", status);
    bind(getItemContainer_, library_, "zelqpxi_getItemContainer", status);
    bind(duplicateItemContainer_, library_, "zelqpxi_duplicateItemContainer", status);
    bind(itemIteratorBegin_, library_, "zelqpxi_ItemIterator_begin", status);
    bind(itemIteratorNextItem_, library_, "zelqpxi_ItemIterator_nextItem", status);
    bind(itemIteratorEnd_, library_, "zelqpxi_ItemIterator_end", status);
    bind(destroyItemContainer_, library_, "zelqpxi_destroyItemContainer", status);
    bind(duplicate_, library_, "zelqpxi_duplicate", status);
    bind(close_, library_, "zelqpxi_close", status);
    bind(waitForSessionInvalidation_, library_, "zelqpxi_waitForSessionInvalidation", status);
    bind(cancelWaitForInvalidation_, library_, "zelqpxi_cancelWaitForInvalidation", status);
}

DynamicQPXILibrary::~DynamicQPXILibrary() {
    if (library_ != nullptr) {
        zeldynlib_unload(library_);
        library_ = nullptr;
    }
}

int DynamicQPXILibrary::boundEntryPoints() const {
    const void *rows[] = {
        reinterpret_cast<const void *>(openPXISession_),
        reinterpret_cast<const void *>(openChassisByNumber_),
        reinterpret_cast<const void *>(openSlotByNumber_),
        reinterpret_cast<const void *>(openDeviceByAddr_),
        reinterpret_cast<const void *>(openContainingItem_),
        reinterpret_cast<const void *>(getU32Attribute_),
        reinterpret_cast<const void *>(getStringAttribute_),
        reinterpret_cast<const void *>(getItemContainer_),
        reinterpret_cast<const void *>(duplicateItemContainer_),
        reinterpret_cast<const void *>(itemIteratorBegin_),
        reinterpret_cast<const void *>(itemIteratorNextItem_),
        reinterpret_cast<const void *>(itemIteratorEnd_),
        reinterpret_cast<const void *>(destroyItemContainer_),
        reinterpret_cast<const void *>(duplicate_),
        reinterpret_cast<const void *>(close_),
        reinterpret_cast<const void *>(waitForSessionInvalidation_),
        reinterpret_cast<const void *>(cancelWaitForInvalidation_),
    };
    int bound = 0;
    while (bound < 17 && rows[bound] != nullptr) ++bound;
    return bound;
}

tItemHandle DynamicQPXILibrary::openPXISession(uint32_t value, tJsonStatus *status) {
    return openPXISession_(value, status);
}
tItemHandle DynamicQPXILibrary::openChassisByNumber(tItemHandle session, uint32_t number,
                                                    tJsonStatus *status) {
    return openChassisByNumber_(session, number, status);
}
tItemHandle DynamicQPXILibrary::openSlotByNumber(tItemHandle chassis, uint32_t number,
                                                 tJsonStatus *status) {
    return openSlotByNumber_(chassis, number, status);
}
tItemHandle DynamicQPXILibrary::openDeviceByAddr(tItemHandle session, const DeviceAddress *address,
                                                 tJsonStatus *status) {
    return openDeviceByAddr_(session, address, status);
}
tItemHandle DynamicQPXILibrary::openContainingItem(tItemHandle item, uint32_t kind,
                                                   tJsonStatus *status) {
    return openContainingItem_(item, kind, status);
}
uint32_t DynamicQPXILibrary::getU32Attribute(tItemHandle item, uint32_t attribute,
                                             tJsonStatus *status) {
    return getU32Attribute_(item, attribute, status);
}
const char *DynamicQPXILibrary::getStringAttribute(tItemHandle item, uint32_t attribute,
                                                   tJsonStatus *status) {
    return getStringAttribute_(item, attribute, status);
}
tContainerHandle DynamicQPXILibrary::getItemContainer(tItemHandle item, uint32_t kind,
                                                      tJsonStatus *status) {
    return getItemContainer_(item, kind, status);
}
tContainerHandle DynamicQPXILibrary::duplicateItemContainer(tContainerHandle container,
                                                            tJsonStatus *status) {
    return duplicateItemContainer_(container, status);
}
tIterator DynamicQPXILibrary::ItemIterator_begin(tContainerHandle container, tJsonStatus *status) {
    return itemIteratorBegin_(container, status);
}
tItemHandle DynamicQPXILibrary::ItemIterator_nextItem(tContainerHandle container,
                                                      tIterator *iterator, tJsonStatus *status) {
    return itemIteratorNextItem_(container, iterator, status);
}
tIterator DynamicQPXILibrary::ItemIterator_end(tContainerHandle container, tJsonStatus *status) {
    return itemIteratorEnd_(container, status);
}
int32_t DynamicQPXILibrary::destroyItemContainer(tContainerHandle container) {
    return destroyItemContainer_(container);
}
tItemHandle DynamicQPXILibrary::duplicate(tItemHandle item, tJsonStatus *status) {
    return duplicate_(item, status);
}
int32_t DynamicQPXILibrary::close(tItemHandle item) { return close_(item); }
uint32_t DynamicQPXILibrary::waitForSessionInvalidation(tItemHandle session, uint32_t value,
                                                        tJsonStatus *status) {
    return waitForSessionInvalidation_(session, value, status);
}
int32_t DynamicQPXILibrary::cancelWaitForInvalidation(tItemHandle session) {
    return cancelWaitForInvalidation_(session);
}

}  // namespace zelqpxi
