// run-job [options] OUTPUT_FOLDER CLIP...: one encode job, headless, over the clips (whole
// files) into OUTPUT_FOLDER/DVD, with the default settings but for the options:
//   --timeline 0|1   read through the editing-services timeline (default 1)
//   --direct 0|1     write each VOB directly instead of multiplexing elementary streams (0)
//   --pal            PAL instead of NTSC
//   --ac3            AC-3 instead of MP2 sound
// Message boxes go to the standard error stream and are answered No, so an OUTPUT_FOLDER/DVD
// that holds files refuses the job. Exits 0 when the job finished.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/log.h"
#include "driver/main_frame.h"
#include "platform/com/class_table.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "reader/clip_record.h"

namespace {

// A view whose bar takes the engines' progress messages as the window's would, and drops them.
class DiscardingView : public driver::FrameView, public platform::ProgressTarget {
public:
    void SetStatusText(const std::string& text) override { last_ = text; }
    platform::ProgressTarget* ProgressBar() override { return this; }
    void EnableCommand(unsigned, bool) override {}
    void UpdateStartCommand() override {}
    void JobEnded() override {}
    void Post(unsigned, uintptr_t, intptr_t) override {}
    const std::string& LastStatus() const { return last_; }

private:
    std::string last_;  // written by the worker only; read after it ended
};

class PrintedBoxes : public platform::MessageBoxService {
public:
    int Show(const std::string& text, const std::string& caption, unsigned) override {
        std::fprintf(stderr, "run-job: [%s] %s\n", caption.c_str(), text.c_str());
        return platform::IDNO;
    }
};

int Usage() {
    std::fprintf(stderr, "usage: run-job [--timeline 0|1] [--direct 0|1] [--pal] [--ac3] OUTPUT_FOLDER CLIP...\n");
    return 2;
}

bool ReadFlag(const char* text, uint32_t& flag) {
    if (text == nullptr || (std::strcmp(text, "0") != 0 && std::strcmp(text, "1") != 0)) return false;
    flag = text[0] == '1';
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    DiscardingView view;
    driver::MainFrame frame(&view);
    core::Settings& settings = frame.Settings();
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        const std::string option = argv[at];
        if (option == "--pal") {
            settings.Standard = 1;
        } else if (option == "--ac3") {
            settings.AudioFormat = 1;
        } else if (option == "--timeline" || option == "--direct") {
            uint32_t& flag = option == "--timeline" ? settings.UseDES : settings.DirectVOB;
            if (!ReadFlag(at + 1 < argc ? argv[++at] : nullptr, flag)) return Usage();
        } else {
            return Usage();
        }
    }
    if (argc - at < 2) return Usage();
    // The job refuses a relative folder, which would depend on where it happens to stand.
    settings.OutputFolder = std::filesystem::absolute(argv[at++]).string();
    core::InitLogAtPath(settings.OutputFolder + "/run-job.log");

    PrintedBoxes boxes;
    platform::SetMessageBoxService(&boxes);
    {
        platform::com::ScopedComInit com;
        for (; at < argc; ++at) {
            reader::ClipRecord clip;
            if (clip.ReadMediaInfo(argv[at]) != 0) {
                std::fprintf(stderr, "run-job: %s: not a clip the reader can open\n", argv[at]);
                return 1;
            }
            frame.AddClip(clip);
        }
    }
    if (!frame.OnStartEncoding()) return 1;
    frame.WaitForJob();
    platform::SetMessageBoxService(nullptr);
    std::printf("%s\n", view.LastStatus().c_str());
    return frame.LastJobResult() == driver::MainFrame::JobResult::Finished ? 0 : 1;
}
