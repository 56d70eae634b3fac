#include "ui/clip_prober.h"

#include "core/file_utils.h"
#include "core/log.h"
#include "platform/com/class_table.h"
#include "platform/message_box.h"

namespace ui {

namespace {

void ProbeAll(const std::vector<std::string>& paths, const ClipProber::Found& found,
              const ClipProber::Finished& finished) {
    platform::com::ScopedComInit com;
    std::vector<ClipProber::Refused> refused;
    for (const std::string& path : paths) {
        reader::ClipRecord clip;
        const int32_t result = clip.ReadMediaInfo(path);
        if (result == 0) {
            found(clip);
            continue;
        }
        core::LogPrintf("Not added, cannot read media information (%d): %s\n", result,
                        path.c_str());
        refused.push_back({path, reader::ProbeFailureText(path, result)});
    }
    finished(refused);
}

}  // namespace

void ShowRefusedFiles(const std::vector<ClipProber::Refused>& refused) {
    std::vector<std::string> lines;
    for (const ClipProber::Refused& file : refused) lines.push_back(file.Path + ": " + file.Reason);
    const char* intro = refused.size() == 1 ? "This file was not added to the list:\n\n"
                                            : "These files were not added to the list:\n\n";
    platform::ShowMessageBox(intro + core::ListForMessage(lines),
                             "Files not added", platform::MB_ICONWARNING);
}

ClipProber::~ClipProber() { WaitAll(); }

void ClipProber::Start(std::vector<std::string> paths, Found found, Finished finished) {
    std::lock_guard lock(mutex_);
    threads_.emplace_back(
        [paths = std::move(paths), found = std::move(found), finished = std::move(finished)] {
            ProbeAll(paths, found, finished);
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
