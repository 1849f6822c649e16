// Base of the chassis-query items: an object that owns one handle of the
// chassis-query library. Copying duplicates the handle, destruction closes it,
// and every failed call is thrown as a zelerr::Exception.
#pragma once

#include <cstdint>
#include <vector>

#include "chassis/QPXILibrary.h"
#include "status/zelerrException.h"

namespace zelqpxi {

// The status of one call: fresh on construction, and when it goes out of use
// an error is thrown (unless an exception is already on its way), otherwise
// its text is freed.
class tCallStatus {
public:
    tCallStatus() = default;
    tCallStatus(const tCallStatus &) = delete;
    tCallStatus &operator=(const tCallStatus &) = delete;
    ~tCallStatus() noexcept(false) { record_.raiseIfFatal(); }

    tJsonStatus *get() { return &record_; }

private:
    tJsonStatus record_;
};

class Item {
public:
    Item(tItemHandle handle, QPXILibrary *library) noexcept;
    Item(const Item &other);
    // Moving hands the handle over without a call; the source keeps 0.
    Item(Item &&other) noexcept;
    Item &operator=(const Item &other);
    Item &operator=(Item &&other) noexcept;
    virtual ~Item();

    virtual uint32_t getU32Attribute(uint32_t attribute);
    // The text belongs to the chassis-query library: copy or search it at once.
    virtual const char *getStringAttribute(uint32_t attribute);
    virtual std::vector<Item> getItems(uint32_t kind);

    tItemHandle handle() const noexcept { return handle_; }
    QPXILibrary *library() const noexcept { return library_; }

protected:
    // Every item of a container, in delivery order, as objects of class T.
    template <typename T>
    std::vector<T> enumerate(uint32_t kind);

    QPXILibrary *library_;
    tItemHandle handle_;

private:
    tItemHandle duplicateHandle() const;
};

namespace detail {

// Destroys a container on every path out of the enumeration.
class tContainerScope {
public:
    tContainerScope(QPXILibrary *library, tContainerHandle container)
        : library_(library), container_(container) {}
    tContainerScope(const tContainerScope &) = delete;
    tContainerScope &operator=(const tContainerScope &) = delete;
    ~tContainerScope() { library_->destroyItemContainer(container_); }

private:
    QPXILibrary *library_;
    tContainerHandle container_;
};

}  // namespace detail

template <typename T>
std::vector<T> Item::enumerate(uint32_t kind) {
    tContainerHandle container;
    {
        tCallStatus status;
        container = library_->getItemContainer(handle_, kind, status.get());
    }
    detail::tContainerScope containerScope(library_, container);

    // On any throw from here on, the elements collected so far are destroyed
    // with the vector, closing their handles.
    std::vector<T> items;
    tIterator iterator;
    {
        tCallStatus status;
        iterator = library_->ItemIterator_begin(container, status.get());
    }
    for (;;) {
        tIterator end;
        {
            tCallStatus status;
            end = library_->ItemIterator_end(container, status.get());
        }
        if (end == iterator) break;
        tCallStatus status;
        T item(library_->ItemIterator_nextItem(container, &iterator, status.get()), library_);
        items.push_back(item);
    }
    return items;
}

}  // namespace zelqpxi
