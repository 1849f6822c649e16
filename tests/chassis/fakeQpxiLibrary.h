// An in-memory chassis-query library for the item classes: every container
// holds a chosen number of items, every call is counted, handles are
// accounted for, and any call can be made to fail.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "chassis/QPXILibrary.h"

namespace zelqpxi {

class FakeQPXILibrary : public QPXILibrary {
public:
    // Items in every container the fake hands out.
    unsigned itemsPerContainer = 3;
    // U32 attribute values by identifier (any item).
    std::map<uint32_t, uint32_t> u32Attributes;

    // The nth call from now of `operation` fails with `code`.
    void failCall(const std::string &operation, int32_t code, unsigned nth = 1) {
        faults_[operation] = {code, nth};
    }
    unsigned calls(const std::string &operation) const {
        auto it = calls_.find(operation);
        return it != calls_.end() ? it->second : 0;
    }
    size_t openItems() const { return openItems_.size(); }
    size_t openContainers() const { return openContainers_.size(); }
    // Handles closed that were not open (twice, or never handed out).
    unsigned badCloses() const { return badCloses_; }
    unsigned closesOfZero() const { return closesOfZero_; }
    bool isOpen(tItemHandle handle) const { return openItems_.count(handle) != 0; }

    tItemHandle openPXISession(uint32_t, tJsonStatus *status) override {
        return newItem("openPXISession", status);
    }
    tItemHandle openChassisByNumber(tItemHandle, uint32_t, tJsonStatus *status) override {
        return newItem("openChassisByNumber", status);
    }
    tItemHandle openSlotByNumber(tItemHandle, uint32_t, tJsonStatus *status) override {
        return newItem("openSlotByNumber", status);
    }
    tItemHandle openDeviceByAddr(tItemHandle, const DeviceAddress *address,
                                 tJsonStatus *status) override {
        lastAddress = *address;
        return newItem("openDeviceByAddr", status);
    }
    tItemHandle openContainingItem(tItemHandle, uint32_t kind, tJsonStatus *status) override {
        lastKind = kind;
        return newItem("openContainingItem", status);
    }
    uint32_t getU32Attribute(tItemHandle, uint32_t attribute, tJsonStatus *status) override {
        attributeOrder += std::to_string(attribute) + " ";
        if (failed("getU32Attribute", status)) return 0;
        return u32Attributes[attribute];
    }
    const char *getStringAttribute(tItemHandle, uint32_t, tJsonStatus *status) override {
        if (failed("getStringAttribute", status)) return nullptr;
        return "text";
    }
    tContainerHandle getItemContainer(tItemHandle, uint32_t kind, tJsonStatus *status) override {
        lastKind = kind;
        if (failed("getItemContainer", status)) return nullptr;
        tContainerHandle container = reinterpret_cast<tContainerHandle>(nextHandle_++);
        openContainers_.insert(container);
        return container;
    }
    tContainerHandle duplicateItemContainer(tContainerHandle, tJsonStatus *status) override {
        failed("duplicateItemContainer", status);
        return nullptr;
    }
    tIterator ItemIterator_begin(tContainerHandle, tJsonStatus *status) override {
        failed("ItemIterator_begin", status);
        return nullptr;
    }
    tItemHandle ItemIterator_nextItem(tContainerHandle, tIterator *iterator,
                                      tJsonStatus *status) override {
        *iterator = static_cast<char *>(*iterator) + 1;
        return newItem("ItemIterator_nextItem", status);
    }
    tIterator ItemIterator_end(tContainerHandle, tJsonStatus *status) override {
        failed("ItemIterator_end", status);
        return static_cast<char *>(nullptr) + itemsPerContainer;
    }
    int32_t destroyItemContainer(tContainerHandle container) override {
        ++calls_["destroyItemContainer"];
        if (openContainers_.erase(container) == 0) ++badCloses_;
        return 0;
    }
    tItemHandle duplicate(tItemHandle, tJsonStatus *status) override {
        return newItem("duplicate", status);
    }
    int32_t close(tItemHandle item) override {
        ++calls_["close"];
        if (item == nullptr) {
            ++closesOfZero_;
        } else if (openItems_.erase(item) == 0) {
            ++badCloses_;
        }
        return 0;
    }
    uint32_t waitForSessionInvalidation(tItemHandle, uint32_t value, tJsonStatus *status) override {
        failed("waitForSessionInvalidation", status);
        return value + 1;
    }
    int32_t cancelWaitForInvalidation(tItemHandle) override {
        ++calls_["cancelWaitForInvalidation"];
        return 77;
    }

    DeviceAddress lastAddress{};
    uint32_t lastKind = 0xFFFFFFFF;
    std::string attributeOrder;

private:
    struct tFault {
        int32_t code;
        unsigned remaining;
    };

    bool failed(const std::string &operation, tJsonStatus *status) {
        ++calls_[operation];
        auto it = faults_.find(operation);
        if (it == faults_.end() || --it->second.remaining != 0) return false;
        status->setCode(it->second.code);
        status->setText(R"({"fake":"failure"})");
        const bool error = it->second.code < 0;
        faults_.erase(it);
        return error;
    }

    tItemHandle newItem(const std::string &operation, tJsonStatus *status) {
        if (failed(operation, status)) return nullptr;
        tItemHandle item = reinterpret_cast<tItemHandle>(nextHandle_++);
        openItems_.insert(item);
        return item;
    }

    uintptr_t nextHandle_ = 0x100;
    std::map<std::string, unsigned> calls_;
    std::map<std::string, tFault> faults_;
    std::set<tItemHandle> openItems_;
    std::set<tContainerHandle> openContainers_;
    unsigned badCloses_ = 0;
    unsigned closesOfZero_ = 0;
};

}  // namespace zelqpxi
