#include "platform/event.h"

#include <chrono>

namespace platform {

void ManualResetEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    changed_.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

WaitResult ManualResetEvent::Wait(unsigned timeoutMs) const {
    std::unique_lock lock(mutex_);
    const bool signalled =
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
    return signalled ? WaitResult::Signalled : WaitResult::TimedOut;
}

}  // namespace platform
