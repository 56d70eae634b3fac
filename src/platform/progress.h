// Progress messages from the engines to the progress bar.
//
// A ProgressTarget stands in for the progress bar's window handle. Delivery is posted, never
// blocking: the user-interface thread may itself be waiting on the thread that reports.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace platform {

constexpr unsigned PBM_SETRANGE = 0x401;
constexpr unsigned PBM_SETPOS = 0x402;

class ProgressTarget {
public:
    virtual ~ProgressTarget() = default;
    // Queues the message for the target's owner; must return without waiting on it.
    virtual void Post(unsigned message, uintptr_t wParam, intptr_t lParam) = 0;
};

// Sends PBM_SETPOS with percent (0..100) and lParam 0; a null target receives nothing.
void SendProgress(ProgressTarget* target, int percent);

// A target that keeps every message it receives: for tests and for headless callers.
class RecordingProgressTarget : public ProgressTarget {
public:
    struct Message {
        unsigned message;
        uintptr_t wParam;
        intptr_t lParam;
    };
    void Post(unsigned message, uintptr_t wParam, intptr_t lParam) override;
    std::vector<Message> Messages() const;
    std::vector<int> Positions() const;  // wParam of every PBM_SETPOS, in order

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

}  // namespace platform
