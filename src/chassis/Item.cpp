#include "chassis/Item.h"

namespace zelqpxi {

Item::Item(tItemHandle handle, QPXILibrary *library) noexcept
    : library_(library), handle_(handle) {}

tItemHandle Item::duplicateHandle() const {
    if (handle_ == nullptr) return nullptr;
    tCallStatus status;
    return library_->duplicate(handle_, status.get());
}

Item::Item(const Item &other) : library_(other.library_), handle_(other.duplicateHandle()) {}

Item::Item(Item &&other) noexcept : library_(other.library_), handle_(other.handle_) {
    other.handle_ = nullptr;
}

Item &Item::operator=(Item &&other) noexcept {
    if (this != &other) {
        library_->close(handle_);
        library_ = other.library_;
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

Item &Item::operator=(const Item &other) {
    // Duplicate before closing (the old handle goes back to the binding it came from): a failure
    // keeps the old handle, and self-assignment never closes the handle it is about to copy.
    QPXILibrary *previousLibrary = library_;
    tItemHandle replacement = other.duplicateHandle();
    previousLibrary->close(handle_);
    library_ = other.library_;
    handle_ = replacement;
    return *this;
}

Item::~Item() { library_->close(handle_); }

uint32_t Item::getU32Attribute(uint32_t attribute) {
    tCallStatus status;
    return library_->getU32Attribute(handle_, attribute, status.get());
}

const char *Item::getStringAttribute(uint32_t attribute) {
    tCallStatus status;
    return library_->getStringAttribute(handle_, attribute, status.get());
}

std::vector<Item> Item::getItems(uint32_t kind) { return enumerate<Item>(kind); }

}  // namespace zelqpxi
