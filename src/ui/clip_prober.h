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
    // A file of the batch that did not probe, and why, in words for the user.
    struct Refused {
        std::string Path;
        std::string Reason;
    };
    // Called on the probing thread once the whole batch is probed, with the files refused.
    using Finished = std::function<void(const std::vector<Refused>&)>;

    ClipProber() = default;
    // Waits for every batch still probing.
    ~ClipProber();
    ClipProber(const ClipProber&) = delete;
    ClipProber& operator=(const ClipProber&) = delete;

    void Start(std::vector<std::string> paths, Found found, Finished finished);
    void WaitAll();

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

// Tells the user which files of a batch were not added and why (user-interface thread).
void ShowRefusedFiles(const std::vector<ClipProber::Refused>& refused);

}  // namespace ui
