#include "platform/event.h"

#include <chrono>

namespace platform {

void ManualResetEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        set_.store(true);
    }
    changed_.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(mutex_);
    set_.store(false);
}

WaitResult ManualResetEvent::Wait(unsigned timeoutMs) const {
    // Even an already expired timed wait goes to the kernel, whose timer slack makes it a sleep.
    if (timeoutMs == 0) return set_.load() ? WaitResult::Signalled : WaitResult::TimedOut;
    std::unique_lock lock(mutex_);
    blockingWaits_.fetch_add(1);
    const bool signalled = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                             [this] { return set_.load(); });
    return signalled ? WaitResult::Signalled : WaitResult::TimedOut;
}

}  // namespace platform
