// What the encode job shows in the main window, without knowing the window.
//
// The job and the sample sink call these from the worker thread and from the graph's streaming
// threads. An implementation must only queue the change for the user-interface thread and
// return: nothing here may wait for that thread, which may itself be waiting for the job.
#pragma once

#include <string>

namespace platform {
class ProgressTarget;
}

namespace driver {

// The window's command ids; they keep their resource values so menus, toolbar and accelerators
// built from the stored resources match.
constexpr unsigned ID_CLIP_ADD = 32771;
constexpr unsigned ID_CLIP_DELETE = 32772;
constexpr unsigned ID_OUTPUT_FOLDER = 32773;
constexpr unsigned ID_EDIT_RANGE = 32779;
constexpr unsigned ID_CLIP_UP = 32799;
constexpr unsigned ID_CLIP_DOWN = 32800;
constexpr unsigned ID_SETTING = 32813;
constexpr unsigned ID_START = 32814;
constexpr unsigned ID_STOP = 32815;

class FrameView {
public:
    virtual ~FrameView() = default;

    // The status text under the clip list.
    virtual void SetStatusText(const std::string& text) = 0;
    // The progress bar: the job posts PBM_SETRANGE (wParam 0, lParam 100 << 16: low word the
    // minimum, high word the maximum) at each clip start and PBM_SETPOS (wParam the percentage)
    // during it, and hands the bar to the multiplexer and the authoring engine, which post
    // PBM_SETPOS too. Null means no bar. Must outlive the job.
    virtual platform::ProgressTarget* ProgressBar() = 0;
    // Marks one command enabled or disabled (menu, toolbar and accelerator alike).
    virtual void EnableCommand(unsigned id, bool enabled) = 0;
    // Re-marks Delete, Edit clip range, Up, Down and Start by the clip list's rows and selection.
    virtual void UpdateStartCommand() = 0;
    // The worker thread has left the job (normally or after a crash): the window may close
    // again. Called last, from the worker thread.
    virtual void JobEnded() = 0;
};

// Shows nothing: for headless jobs and tests that only look at the files.
class NullFrameView : public FrameView {
public:
    void SetStatusText(const std::string&) override {}
    platform::ProgressTarget* ProgressBar() override { return nullptr; }
    void EnableCommand(unsigned, bool) override {}
    void UpdateStartCommand() override {}
    void JobEnded() override {}
};

}  // namespace driver
