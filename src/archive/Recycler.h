#pragma once
// Hands out objects again once they are given back. Batch buffers are a few hundred KiB: a
// fresh allocation for every batch made the allocator return the memory to the system and
// fault it in again each time. Used from one thread.

#include <memory>
#include <vector>

namespace corvane {

template <class T>
class Recycler {
public:
    // An object in T's empty state: a new one, or one given back, after T::Reset().
    T* Take() {
        if (spare_.empty()) return all_.emplace_back(std::make_unique<T>()).get();
        T* item = spare_.back();
        spare_.pop_back();
        item->Reset();
        return item;
    }
    void Give(T* item) { spare_.push_back(item); }

private:
    std::vector<std::unique_ptr<T>> all_;  // every object ever handed out, until the end
    std::vector<T*> spare_;
};

}  // namespace corvane
