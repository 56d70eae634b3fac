#include "platform/thread.h"

#include <chrono>

namespace platform {

bool WorkerThread::Start(std::function<uint32_t()> body) {
    if (thread_.joinable()) return false;
    running_ = true;
    thread_ = std::thread([this, body = std::move(body)] {
        result_ = body();
        running_ = false;
    });
    return true;
}

uint32_t WorkerThread::Join() {
    if (thread_.joinable()) thread_.join();
    return result_;
}

uint32_t TickCountMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace platform
