// A bounded first-in first-out queue between two threads that either side can abandon.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

namespace platform::dshow {

template <typename T>
class BlockingQueue {
public:
    explicit BlockingQueue(size_t capacity) : capacity_(capacity) {}

    // Waits while the queue is full; false once aborted (the item is dropped).
    bool Push(T item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return aborted_ || items_.size() < capacity_; });
        if (aborted_) return false;
        items_.push_back(std::move(item));
        changed_.notify_all();
        return true;
    }

    // Waits for an item; false once aborted.
    bool Pop(T* item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return aborted_ || !items_.empty(); });
        if (aborted_) return false;
        *item = std::move(items_.front());
        items_.pop_front();
        changed_.notify_all();
        return true;
    }

    // Wakes every waiter; from now on Push and Pop fail at once.
    void Abort() {
        std::lock_guard lock(mutex_);
        aborted_ = true;
        changed_.notify_all();
    }

private:
    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<T> items_;
    bool aborted_ = false;
};

}  // namespace platform::dshow
