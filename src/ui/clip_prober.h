// Probes files for the clip list off the user-interface thread. Each batch runs on its own
// thread with its own copy of the paths, so a second Add or drop never disturbs a first one
// still in progress.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "reader/clip_record.h"

namespace ui {

class ClipProber {
public:
    // Called on the probing thread, in path order, for each file that probed as a clip.
    using Found = std::function<void(const reader::ClipRecord&)>;

    ClipProber() = default;
    // Waits for every batch still probing.
    ~ClipProber();
    ClipProber(const ClipProber&) = delete;
    ClipProber& operator=(const ClipProber&) = delete;

    void Start(std::vector<std::string> paths, Found found);
    void WaitAll();

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

}  // namespace ui
