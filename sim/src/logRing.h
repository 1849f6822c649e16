// The command log: the most recent records up to a fixed capacity, oldest
// first. A ring over one array reserved up front, so that recording a command
// allocates nothing (a deque of records this size allocated a block for every
// record).
#pragma once

#include <cstddef>
#include <vector>

namespace zelsim {

template <typename Record>
class LogRing {
public:
    // The whole array is reserved at once (address space only, until used),
    // so that no command ever allocates: a driver call made by a signal
    // handler must not enter malloc.
    explicit LogRing(size_t capacity) : capacity_(capacity) { records_.reserve(capacity); }

    size_t size() const { return records_.size(); }

    // Index 0 is the oldest record kept.
    const Record &operator[](size_t index) const {
        return records_[(oldest_ + index) % records_.size()];
    }

    void push_back(const Record &record) {
        if (records_.size() < capacity_) {
            records_.push_back(record);
            return;
        }
        records_[oldest_] = record;
        oldest_ = (oldest_ + 1) % capacity_;
    }

    void clear() {
        records_.clear();
        oldest_ = 0;
    }

private:
    size_t capacity_;
    size_t oldest_ = 0;  // where the oldest record is, once the array is full
    std::vector<Record> records_;
};

}  // namespace zelsim
