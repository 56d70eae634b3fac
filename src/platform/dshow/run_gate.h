// Holds the source filter's delivery threads while the graph is paused or stopping, and paces
// them to the reference clock when the graph has one.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "platform/com/com.h"
#include "platform/dshow/interfaces.h"

namespace platform::dshow {

// A sample may go on while running, and with a clock not before the sample's time.
class RunGate {
public:
    void Run(REFERENCE_TIME start, com::ComPtr<IReferenceClock> clock) {
        std::lock_guard lock(mutex_);
        running_ = true;
        start_ = start;
        clock_ = std::move(clock);
        changed_.notify_all();
    }
    void Hold() {
        std::lock_guard lock(mutex_);
        running_ = false;
        changed_.notify_all();
    }
    void Open() {
        std::lock_guard lock(mutex_);
        aborted_ = false;
    }
    void Abort() {
        std::lock_guard lock(mutex_);
        aborted_ = true;
        changed_.notify_all();
    }

    // False once aborted.
    bool WaitToDeliver(std::optional<REFERENCE_TIME> sampleStart) {
        std::unique_lock lock(mutex_);
        while (!aborted_) {
            if (!running_) {
                changed_.wait(lock);
                continue;
            }
            REFERENCE_TIME now = 0;
            if (!sampleStart || !clock_ || com::FAILED(clock_->GetTime(&now))) return true;
            const REFERENCE_TIME due = start_ + *sampleStart;
            if (now >= due) return true;
            const auto wait = std::chrono::microseconds(std::min<REFERENCE_TIME>(due - now, 1'000'000) / 10);
            changed_.wait_for(lock, wait);
        }
        return false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;
    bool aborted_ = false;
    REFERENCE_TIME start_ = 0;
    com::ComPtr<IReferenceClock> clock_;
};

}  // namespace platform::dshow
