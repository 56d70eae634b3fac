// The one top-level window: menu, toolbar, status bar and the clip list form. It owns the
// job's MainFrame and shows what the job reports through FrameView; every such report is
// queued to this window's thread, so the job never waits for the window.
#pragma once

#include <QMainWindow>
#include <map>
#include <string>
#include <vector>

#include "driver/frame_view.h"
#include "driver/main_frame.h"
#include "platform/progress.h"
#include "ui/add_clips_dialog.h"
#include "ui/busy_cursor.h"
#include "ui/clip_prober.h"

class QAction;
class QProgressBar;
class QToolBar;

namespace ui {

class ClipListForm;

// The progress bar as the engines see it: messages are posted to the bar's thread.
class ProgressBarTarget : public platform::ProgressTarget {
public:
    // Set once, before any job can post.
    void Attach(QProgressBar* bar) { bar_ = bar; }
    void Post(unsigned message, uintptr_t wParam, intptr_t lParam) override;

private:
    QProgressBar* bar_ = nullptr;
};

class MainFrameWindow : public QMainWindow, public driver::FrameView {
    Q_OBJECT

public:
    MainFrameWindow();
    ~MainFrameWindow() override;

    driver::MainFrame& Frame() { return frame_; }
    ClipListForm* Form() const { return form_; }
    QAction* Command(unsigned id) const;

    // FrameView: any thread; each call is queued to the window.
    void SetStatusText(const std::string& text) override;
    platform::ProgressTarget* ProgressBar() override { return &progressTarget_; }
    void EnableCommand(unsigned id, bool enabled) override;
    void UpdateStartCommand() override;
    void JobEnded() override;

    // Queues paths for probing; the clips that probe are appended in this order.
    void AddClips(std::vector<std::string> paths);
    // Waits until every queued path is probed and its row is in the list (tests).
    void WaitForAddedClips();

    // Command handlers, public so tests can drive them as the menu does.
    void OnFileAdd();
    void OnFileExit();
    void OnFileDelete();
    void OnMoveUp();
    void OnMoveDown();
    void OnOutputFolder();
    void OnEditClipRange();
    void OnSetting();
    void OnStartEncoding();
    void OnStopEncoding();
    void OnViewToolBar();
    void OnViewStatusBar();
    void OnHelpContents();
    void OnAppAbout();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateCommands();
    void CreateToolbar();
    void ConnectHandlers();
    void MarkSelectionCommands();
    void OnClipProbed(const reader::ClipRecord& clip);
    void AppendClip(const reader::ClipRecord& clip);
    void MoveSelected(int step);
    // The row's texts from the clip the job holds at it.
    void ShowClipRow(int row);
    void ShowOutputFolder();
    void OnJobEnded();
    bool JobActive() const { return jobActive_; }

    ClipListForm* form_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    std::map<unsigned, QAction*> actions_;
    ProgressBarTarget progressTarget_;
    // From a successful Start until the worker reports its end: the rows stay as they are.
    bool jobActive_ = false;
    // Clips probed while a job ran, appended when it ends.
    std::vector<reader::ClipRecord> heldClips_;
    // Where the next Add dialog opens: the folder clips were last taken from.
    QString clipsFolder_ = DefaultClipsFolder();
    driver::MainFrame frame_{this};
    // Shown while batches of added files are read.
    BusyIndicator probing_{this};
    // Last: its threads post to the members above, so it stops first.
    ClipProber prober_;
};

}  // namespace ui
