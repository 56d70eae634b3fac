#include "platform/progress.h"

namespace platform {

void SendProgress(ProgressTarget* target, int percent) {
    if (target) target->Post(PBM_SETPOS, static_cast<uintptr_t>(percent), 0);
}

void RecordingProgressTarget::Post(unsigned message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard lock(mutex_);
    messages_.push_back({message, wParam, lParam});
}

std::vector<RecordingProgressTarget::Message> RecordingProgressTarget::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<int> RecordingProgressTarget::Positions() const {
    std::vector<int> positions;
    for (const auto& m : Messages())
        if (m.message == PBM_SETPOS) positions.push_back(static_cast<int>(m.wParam));
    return positions;
}

}  // namespace platform
