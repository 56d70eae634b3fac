// A joinable worker thread with a result, standing in for a thread handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace platform {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { Join(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts body on a new thread; false when a thread is still attached.
    bool Start(std::function<uint32_t()> body);
    // Waits for the thread to end and returns its result (0 when none ran).
    uint32_t Join();
    bool Running() const { return running_.load(); }

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    uint32_t result_ = 0;
};

// Milliseconds since an arbitrary start, like the multimedia timer.
uint32_t TickCountMs();

}  // namespace platform
