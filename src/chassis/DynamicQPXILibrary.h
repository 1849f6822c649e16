// The chassis-query library loaded at run time with its 17 entry points bound.
#pragma once

#include "chassis/QPXILibrary.h"

namespace zelqpxi {

extern "C" {
using tOpenPXISession = tItemHandle (*)(uint32_t, tJsonStatus *);
using tOpenChassisByNumber = tItemHandle (*)(tItemHandle, uint32_t, tJsonStatus *);
using tOpenSlotByNumber = tItemHandle (*)(tItemHandle, uint32_t, tJsonStatus *);
using tOpenDeviceByAddr = tItemHandle (*)(tItemHandle, const DeviceAddress *, tJsonStatus *);
using tOpenContainingItem = tItemHandle (*)(tItemHandle, uint32_t, tJsonStatus *);
using tGetU32Attribute = uint32_t (*)(tItemHandle, uint32_t, tJsonStatus *);
using tGetStringAttribute = const char *(*)(tItemHandle, uint32_t, tJsonStatus *);
using tGetItemContainer = tContainerHandle (*)(tItemHandle, uint32_t, tJsonStatus *);
using tDuplicateItemContainer = tContainerHandle (*)(tContainerHandle, tJsonStatus *);
using tItemIteratorBegin = tIterator (*)(tContainerHandle, tJsonStatus *);
using tItemIteratorNextItem = tItemHandle (*)(tContainerHandle, tIterator *, tJsonStatus *);
using tItemIteratorEnd = tIterator (*)(tContainerHandle, tJsonStatus *);
using tDestroyItemContainer = int32_t (*)(tContainerHandle);
using tDuplicate = tItemHandle (*)(tItemHandle, tJsonStatus *);
using tClose = int32_t (*)(tItemHandle);
using tWaitForSessionInvalidation = uint32_t (*)(tItemHandle, uint32_t, tJsonStatus *);
using tCancelWaitForInvalidation = int32_t (*)(tItemHandle);
}

class DynamicQPXILibrary : public QPXILibrary {
public:
    static constexpr const char *kLibraryName = "libzelqpxi.so.1";
    static constexpr int kLoadFlags = 0x102;  // RTLD_NOW | RTLD_GLOBAL

    // Loads and binds; the outcome is in `status`, which the caller must test
    // before using the binding.
    explicit DynamicQPXILibrary(tJsonStatus &status);
    DynamicQPXILibrary(const DynamicQPXILibrary &) = delete;
    DynamicQPXILibrary &operator=(const DynamicQPXILibrary &) = delete;
    ~DynamicQPXILibrary() override;

    tItemHandle openPXISession(uint32_t value, tJsonStatus *status) override;
    tItemHandle openChassisByNumber(tItemHandle session, uint32_t number,
                                    tJsonStatus *status) override;
    tItemHandle openSlotByNumber(tItemHandle chassis, uint32_t number,
                                 tJsonStatus *status) override;
    tItemHandle openDeviceByAddr(tItemHandle session, const DeviceAddress *address,
                                 tJsonStatus *status) override;
    tItemHandle openContainingItem(tItemHandle item, uint32_t kind, tJsonStatus *status) override;
    uint32_t getU32Attribute(tItemHandle item, uint32_t attribute, tJsonStatus *status) override;
    const char *getStringAttribute(tItemHandle item, uint32_t attribute,
                                   tJsonStatus *status) override;
    tContainerHandle getItemContainer(tItemHandle item, uint32_t kind,
                                      tJsonStatus *status) override;
    tContainerHandle duplicateItemContainer(tContainerHandle container,
                                            tJsonStatus *status) override;
    tIterator ItemIterator_begin(tContainerHandle container, tJsonStatus *status) override;
    tItemHandle ItemIterator_nextItem(tContainerHandle container, tIterator *iterator,
                                      tJsonStatus *status) override;
    tIterator ItemIterator_end(tContainerHandle container, tJsonStatus *status) override;
    int32_t destroyItemContainer(tContainerHandle container) override;
    tItemHandle duplicate(tItemHandle item, tJsonStatus *status) override;
    int32_t close(tItemHandle item) override;
    uint32_t waitForSessionInvalidation(tItemHandle session, uint32_t value,
                                        tJsonStatus *status) override;
    int32_t cancelWaitForInvalidation(tItemHandle session) override;

    bool isLoaded() const { return library_ != nullptr; }
    // Number of entry points bound, counted from the first row (for diagnostics).
    int boundEntryPoints() const;

private:
    void *library_ = nullptr;
    tOpenPXISession openPXISession_ = nullptr;
    tOpenChassisByNumber openChassisByNumber_ = nullptr;
    tOpenSlotByNumber openSlotByNumber_ = nullptr;
    tOpenDeviceByAddr openDeviceByAddr_ = nullptr;
    tOpenContainingItem openContainingItem_ = nullptr;
    tGetU32Attribute getU32Attribute_ = nullptr;
    tGetStringAttribute getStringAttribute_ = nullptr;
    tGetItemContainer getItemContainer_ = nullptr;
    tDuplicateItemContainer duplicateItemContainer_ = nullptr;
    tItemIteratorBegin itemIteratorBegin_ = nullptr;
    tItemIteratorNextItem itemIteratorNextItem_ = nullptr;
    tItemIteratorEnd itemIteratorEnd_ = nullptr;
    tDestroyItemContainer destroyItemContainer_ = nullptr;
    tDuplicate duplicate_ = nullptr;
    tClose close_ = nullptr;
    tWaitForSessionInvalidation waitForSessionInvalidation_ = nullptr;
    tCancelWaitForInvalidation cancelWaitForInvalidation_ = nullptr;
};

}  // namespace zelqpxi
