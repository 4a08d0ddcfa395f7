// What a device model saw, kept for tests to read back. The simulated board also runs for days
// under the application, so the record is bounded: past its capacity the oldest entries go.
#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

namespace sim {

template <typename T>
class BoundedLog {
public:
    explicit BoundedLog(size_t capacity) : capacity_(capacity) {}

    void push(T item)
    {
        if (capacity_ == 0)
            return;
        if (items_.size() >= capacity_)
            items_.pop_front();
        items_.push_back(std::move(item));
    }
    std::vector<T> entries() const { return std::vector<T>(items_.begin(), items_.end()); }
    void clear() { items_.clear(); }
    size_t size() const { return items_.size(); }

private:
    std::deque<T> items_;
    size_t capacity_;
};

}  // namespace sim
