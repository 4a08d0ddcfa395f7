// What a device model saw, kept for tests to read back. The simulated board also runs for days
// under the application, so the record is bounded: past its capacity the oldest entries go.
// A full record overwrites its oldest slot, so a busy bus costs no allocation and no shifting;
// the room is reserved at once (the pages are only taken as they fill), so a filling record
// never copies itself either.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace platform {

template <typename T>
class BoundedLog {
public:
    explicit BoundedLog(size_t capacity) : capacity_(capacity) { items_.reserve(capacity); }

    void push(T item)
    {
        if (capacity_ == 0)
            return;
        if (items_.size() < capacity_) {
            items_.push_back(std::move(item));
            return;
        }
        items_[oldest_] = std::move(item);
        oldest_ = (oldest_ + 1) % capacity_;
    }
    // Calls f on each entry, oldest first.
    template <typename F>
    void forEach(F f) const
    {
        for (size_t i = oldest_; i < items_.size(); ++i)
            f(items_[i]);
        for (size_t i = 0; i < oldest_; ++i)
            f(items_[i]);
    }
    // Oldest first.
    std::vector<T> entries() const
    {
        std::vector<T> out;
        out.reserve(items_.size());
        forEach([&](const T& item) { out.push_back(item); });
        return out;
    }
    void clear()
    {
        items_.clear();
        oldest_ = 0;
    }
    size_t size() const { return items_.size(); }

private:
    std::vector<T> items_;
    size_t oldest_ = 0;   // where the oldest entry is once the record is full
    size_t capacity_;
};

}  // namespace platform
