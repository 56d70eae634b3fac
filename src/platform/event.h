// Manual-reset event: the stand-in for the job's stop and cancel handles.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace platform {

enum class WaitResult { Signalled, TimedOut };

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    // Waits at most timeoutMs milliseconds; 0 only reads the state, so the callees' frequent
    // cancel tests never sleep.
    WaitResult Wait(unsigned timeoutMs) const;
    bool IsSet() const { return Wait(0) == WaitResult::Signalled; }
    // How many waits went to the condition variable: polls must never be among them.
    unsigned long BlockingWaits() const { return blockingWaits_.load(); }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    // Written under the mutex, so a timed waiter cannot miss a Set; read without it by polls.
    std::atomic<bool> set_;
    mutable std::atomic<unsigned long> blockingWaits_{0};
};

// The callee's cancel test: poll without waiting; anything but a time-out means stop.
// A null event never cancels.
inline bool IsCancelled(const ManualResetEvent* cancel) {
    return cancel != nullptr && cancel->Wait(0) != WaitResult::TimedOut;
}

}  // namespace platform
