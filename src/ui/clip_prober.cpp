#include "ui/clip_prober.h"

#include "core/log.h"
#include "platform/com/class_table.h"

namespace ui {

namespace {

void ProbeAll(const std::vector<std::string>& paths, const ClipProber::Found& found) {
    platform::com::ScopedComInit com;
    for (const std::string& path : paths) {
        reader::ClipRecord clip;
        // A file that is no clip is left out without a message; the log says why.
        const int32_t result = clip.ReadMediaInfo(path);
        if (result == 0)
            found(clip);
        else
            core::LogPrintf("Not added, cannot read media information (%d): %s\n", result,
                            path.c_str());
    }
}

}  // namespace

ClipProber::~ClipProber() { WaitAll(); }

void ClipProber::Start(std::vector<std::string> paths, Found found) {
    std::lock_guard lock(mutex_);
    threads_.emplace_back([paths = std::move(paths), found = std::move(found)] {
        ProbeAll(paths, found);
    });
}

void ClipProber::WaitAll() {
    std::vector<std::thread> running;
    {
        std::lock_guard lock(mutex_);
        running.swap(threads_);
    }
    for (std::thread& thread : running) thread.join();
}

}  // namespace ui
