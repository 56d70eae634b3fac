#include "ui/main_frame_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QToolBar>
#include <QUrl>
#include <algorithm>

#include "core/file_utils.h"
#include "core/log.h"
#include "platform/message_box.h"
#include "ui/about_dialog.h"
#include "ui/add_clips_dialog.h"
#include "ui/app_icon.h"
#include "ui/clip_list_form.h"
#include "ui/clip_range_dialog.h"
#include "ui/commands.h"
#include "ui/settings_dialog.h"
#include "ui/version.h"

namespace ui {

using namespace driver;

namespace {

constexpr QSize kInitialSize(640, 400);
constexpr int kToolbarIconSize = 32;

QString Text(const std::string& text) { return QString::fromStdString(text); }

const char* MenuTitle(Menu menu) {
    switch (menu) {
        case Menu::File: return "&File";
        case Menu::Edit: return "&Edit";
        case Menu::View: return "&View";
        case Menu::Encode: return "Encode";
        case Menu::Help: return "&Help";
    }
    return "";
}

QIcon ToolbarIcon(unsigned id) {
    const QStyle* style = QApplication::style();
    switch (id) {
        case ID_CLIP_ADD: return style->standardIcon(QStyle::SP_FileDialogNewFolder);
        case ID_CLIP_DELETE: return style->standardIcon(QStyle::SP_TrashIcon);
        case ID_EDIT_RANGE: return style->standardIcon(QStyle::SP_FileDialogDetailedView);
        case ID_CLIP_UP: return style->standardIcon(QStyle::SP_ArrowUp);
        case ID_CLIP_DOWN: return style->standardIcon(QStyle::SP_ArrowDown);
        case ID_OUTPUT_FOLDER: return style->standardIcon(QStyle::SP_DirOpenIcon);
        case ID_SETTING: return style->standardIcon(QStyle::SP_FileDialogInfoView);
        case ID_START: return style->standardIcon(QStyle::SP_MediaPlay);
        case ID_STOP: return style->standardIcon(QStyle::SP_MediaStop);
        default: return {};
    }
}

// Help is this program's README: beside the program, or at the top of the tree it was built in.
QString FindHelpFile() {
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {programDir.filePath("README.md"),
                                     programDir.filePath("../../README.md")}) {
        if (QFileInfo(candidate).isFile()) return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

}  // namespace

void ProgressBarTarget::Post(unsigned message, uintptr_t wParam, intptr_t lParam) {
    if (bar_ == nullptr) return;
    QProgressBar* bar = bar_;
    if (message == platform::PBM_SETPOS) {
        const int position = static_cast<int>(std::min<uintptr_t>(wParam, 100));
        QMetaObject::invokeMethod(bar, [bar, position] { bar->setValue(position); },
                                  Qt::QueuedConnection);
    } else if (message == platform::PBM_SETRANGE) {
        const int low = static_cast<int>(lParam & 0xFFFF);
        const int high = static_cast<int>((lParam >> 16) & 0xFFFF);
        QMetaObject::invokeMethod(bar, [bar, low, high] { bar->setRange(low, high); },
                                  Qt::QueuedConnection);
    }
}

MainFrameWindow::MainFrameWindow() {
    setWindowTitle(QStringLiteral("Lumivane ") + kVersion);
    setWindowIcon(AppIcon());
    driver::TheMainFrame = &frame_;

    resize(kInitialSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect placed(QPoint(), kInitialSize);
        placed.moveCenter(screen->availableGeometry().center());
        move(placed.topLeft());
    }

    form_ = new ClipListForm(this);
    setCentralWidget(form_);
    progressTarget_.Attach(form_->ProgressBar());
    statusBar()->setSizeGripEnabled(true);

    CreateCommands();
    CreateToolbar();
    ConnectHandlers();
    connect(form_, &ClipListForm::SelectionChanged, this, [this] {
        if (!JobActive()) MarkSelectionCommands();
    });

    // Start-up states: only Add, Output folder and Setting among the switched commands.
    for (unsigned id : kSelectionCommands) Command(id)->setEnabled(false);
    Command(ID_STOP)->setEnabled(false);

    core::Settings& settings = frame_.Settings();
    settings.OutputFolder = core::DefaultOutputFolder();  // a stored folder replaces it
    settings.SetDefaults();
    settings.Load();
    ShowOutputFolder();
    settings.ApplyVideoStandard();

    setAcceptDrops(true);
}

MainFrameWindow::~MainFrameWindow() {
    // Only a session ending under a running job gets here with one (closing is refused then).
    // The job may be waiting for a message box on this thread, so the events keep flowing
    // until its worker has left.
    if (frame_.IsJobRunning()) {
        frame_.OnStopEncoding();
        while (frame_.IsJobRunning()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    prober_.WaitAll();
    if (driver::TheMainFrame == &frame_) driver::TheMainFrame = nullptr;
}

QAction* MainFrameWindow::Command(unsigned id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void MainFrameWindow::CreateCommands() {
    std::map<Menu, QMenu*> menus;
    for (Menu menu : {Menu::File, Menu::Edit, Menu::View, Menu::Encode, Menu::Help})
        menus[menu] = menuBar()->addMenu(MenuTitle(menu));
    for (const CommandSpec& spec : Commands()) {
        QAction* action = menus[spec.menu]->addAction(spec.text);
        const QStringList prompt = QString(spec.prompt).split('\n');
        action->setStatusTip(prompt.value(0));
        action->setToolTip(prompt.value(1));
        action->setIcon(ToolbarIcon(spec.id));
        action->setIconVisibleInMenu(false);
        if (!spec.key.isEmpty()) {
            action->setShortcut(spec.key);
            // Shortcuts work wherever the focus is in the window, the list included.
            action->setShortcutContext(Qt::WindowShortcut);
        }
        if (spec.separatorAfter) menus[spec.menu]->addSeparator();
        actions_[spec.id] = action;
    }
    for (unsigned id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) {
        Command(id)->setCheckable(true);
        Command(id)->setChecked(true);
    }
}

void MainFrameWindow::CreateToolbar() {
    toolbar_ = addToolBar("Toolbar");
    toolbar_->setObjectName("toolbar");
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(kToolbarIconSize, kToolbarIconSize));
    toolbar_->toggleViewAction()->setVisible(false);
    for (unsigned id : ToolbarLayout()) {
        if (id == 0)
            toolbar_->addSeparator();
        else
            toolbar_->addAction(Command(id));
    }
}

void MainFrameWindow::ConnectHandlers() {
    const std::pair<unsigned, void (MainFrameWindow::*)()> handlers[] = {
        {ID_CLIP_ADD, &MainFrameWindow::OnFileAdd},
        {ID_CLIP_DELETE, &MainFrameWindow::OnFileDelete},
        {ID_OUTPUT_FOLDER, &MainFrameWindow::OnOutputFolder},
        {ID_APP_EXIT, &MainFrameWindow::OnFileExit},
        {ID_EDIT_RANGE, &MainFrameWindow::OnEditClipRange},
        {ID_CLIP_UP, &MainFrameWindow::OnMoveUp},
        {ID_CLIP_DOWN, &MainFrameWindow::OnMoveDown},
        {ID_VIEW_TOOLBAR, &MainFrameWindow::OnViewToolBar},
        {ID_VIEW_STATUS_BAR, &MainFrameWindow::OnViewStatusBar},
        {ID_START, &MainFrameWindow::OnStartEncoding},
        {ID_STOP, &MainFrameWindow::OnStopEncoding},
        {ID_SETTING, &MainFrameWindow::OnSetting},
        {ID_HELP_CONTENTS, &MainFrameWindow::OnHelpContents},
        {ID_APP_ABOUT, &MainFrameWindow::OnAppAbout},
    };
    for (const auto& [id, handler] : handlers)
        connect(Command(id), &QAction::triggered, this, [this, handler] { (this->*handler)(); });
}

// ---- FrameView ------------------------------------------------------------------------------

void MainFrameWindow::SetStatusText(const std::string& text) {
    QMetaObject::invokeMethod(this, [this, text] { form_->SetStatusText(Text(text)); },
                              Qt::QueuedConnection);
}

void MainFrameWindow::EnableCommand(unsigned id, bool enabled) {
    QMetaObject::invokeMethod(
        this,
        [this, id, enabled] {
            if (QAction* action = Command(id)) action->setEnabled(enabled);
        },
        Qt::QueuedConnection);
}

void MainFrameWindow::UpdateStartCommand() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!JobActive()) MarkSelectionCommands();
        },
        Qt::QueuedConnection);
}

void MainFrameWindow::JobEnded() {
    QMetaObject::invokeMethod(this, [this] { OnJobEnded(); }, Qt::QueuedConnection);
}

void MainFrameWindow::MarkSelectionCommands() {
    const bool selected = form_->SelectedRow() >= 0;
    for (unsigned id : kSelectionCommands) Command(id)->setEnabled(selected);
}

void MainFrameWindow::OnJobEnded() {
    frame_.WaitForJob();
    jobActive_ = false;
    for (const reader::ClipRecord& clip : heldClips_) AppendClip(clip);
    heldClips_.clear();
    // After a crash the job's state is unknown: the commands stay as they were, so no new
    // job starts in this run; the window can still close.
    if (frame_.LastJobResult() == driver::MainFrame::JobResult::Crashed) return;
    // A job's end leaves the same states whatever the job said last.
    for (unsigned id : {ID_CLIP_ADD, ID_OUTPUT_FOLDER, ID_SETTING}) Command(id)->setEnabled(true);
    Command(ID_STOP)->setEnabled(false);
    MarkSelectionCommands();
}

// ---- Clips ----------------------------------------------------------------------------------

void MainFrameWindow::AddClips(std::vector<std::string> paths) {
    if (paths.empty()) return;
    probing_.Begin();
    prober_.Start(
        std::move(paths),
        [this](const reader::ClipRecord& clip) {
            QMetaObject::invokeMethod(this, [this, clip] { OnClipProbed(clip); },
                                      Qt::QueuedConnection);
        },
        [this](const std::vector<ClipProber::Refused>& refused) {
            QMetaObject::invokeMethod(
                this,
                [this, refused] {
                    probing_.End();
                    if (!refused.empty()) ShowRefusedFiles(refused);
                },
                Qt::QueuedConnection);
        });
}

void MainFrameWindow::WaitForAddedClips() {
    prober_.WaitAll();
    QCoreApplication::sendPostedEvents(this);
}

void MainFrameWindow::OnClipProbed(const reader::ClipRecord& clip) {
    // The job walks the clip list while it runs; a clip probed meanwhile joins after it.
    if (JobActive()) {
        heldClips_.push_back(clip);
        return;
    }
    AppendClip(clip);
}

void MainFrameWindow::AppendClip(const reader::ClipRecord& clip) {
    frame_.AddClip(clip);
    form_->InsertClipRow(clip, -1);
    MarkSelectionCommands();
}

void MainFrameWindow::OnFileAdd() {
    QFileDialog dialog(this);
    ConfigureAddClipsDialog(dialog, clipsFolder_);
    if (dialog.exec() != QDialog::Accepted) return;
    clipsFolder_ = dialog.directory().absolutePath();
    std::vector<std::string> paths;
    for (const QString& path : dialog.selectedFiles()) paths.push_back(path.toStdString());
    AddClips(std::move(paths));
}

void MainFrameWindow::dragEnterEvent(QDragEnterEvent* event) {
    // The list stays as it is while a job runs, so a drop is refused then.
    if (!JobActive() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainFrameWindow::dropEvent(QDropEvent* event) {
    if (JobActive()) return;
    std::vector<std::string> paths;
    const QList<QUrl> urls = event->mimeData()->urls();
    // The last file dropped comes first, as the list has always taken drops.
    for (auto url = urls.rbegin(); url != urls.rend(); ++url)
        if (url->isLocalFile()) paths.push_back(url->toLocalFile().toStdString());
    AddClips(std::move(paths));
    event->acceptProposedAction();
}

void MainFrameWindow::OnFileDelete() {
    const int row = form_->SelectedRow();
    if (row < 0 || JobActive()) return;
    frame_.RemoveClip(std::size_t(row));
    form_->RemoveRow(row);
    form_->ClearSelection();
    MarkSelectionCommands();
}

void MainFrameWindow::MoveSelected(int step) {
    const int row = form_->SelectedRow();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= form_->RowCount() || JobActive()) return;
    frame_.SwapClips(std::size_t(row), std::size_t(target));
    const std::optional<reader::ClipRecord> clip = frame_.ClipAt(std::size_t(target));
    if (!clip) return;
    form_->RemoveRow(row);
    form_->InsertClipRow(*clip, target);
    form_->ClearSelection();
    MarkSelectionCommands();
}

void MainFrameWindow::OnMoveUp() { MoveSelected(-1); }

void MainFrameWindow::OnMoveDown() { MoveSelected(+1); }

void MainFrameWindow::OnOutputFolder() {
    core::Settings& settings = frame_.Settings();
    const QString folder = QFileDialog::getExistingDirectory(
        this, "Select a folder to save the DVD into:", Text(settings.OutputFolder));
    if (folder.isEmpty()) return;
    settings.OutputFolder = folder.toStdString();
    ShowOutputFolder();
}

void MainFrameWindow::ShowOutputFolder() {
    form_->SetStatusText("Output folder: " + Text(frame_.Settings().OutputFolder));
}

void MainFrameWindow::OnEditClipRange() {
    const int row = form_->SelectedRow();
    if (row < 0 || JobActive()) return;
    std::optional<reader::ClipRecord> clip = frame_.ClipAt(std::size_t(row));
    if (!clip) return;
    ClipRangeDlg dialog(*clip, this);
    if (dialog.exec() == QDialog::Accepted)
        frame_.SetClipRange(std::size_t(row), clip->RangeStart, clip->RangeEnd);
    ShowClipRow(row);
    MarkSelectionCommands();
}

void MainFrameWindow::ShowClipRow(int row) {
    if (const std::optional<reader::ClipRecord> clip = frame_.ClipAt(std::size_t(row)))
        form_->SetRowTexts(row, *clip);
}

void MainFrameWindow::OnSetting() {
    if (JobActive()) return;
    SettingsDlg dialog(frame_.Settings(), this);
    if (dialog.exec() == QDialog::Accepted) frame_.Settings().ApplyVideoStandard();
}

// ---- Job ------------------------------------------------------------------------------------

void MainFrameWindow::OnStartEncoding() {
    if (JobActive()) return;
    {
        // Reading a changed clip again may take as long as reading a recording through.
        ScopedWaitCursor reading;
        jobActive_ = frame_.OnStartEncoding();
    }
    // A row whose clip Start read again shows the new file, whether the job started or not.
    for (int row = 0; row < form_->RowCount(); ++row) ShowClipRow(row);
    if (!jobActive_) return;
    // The job marks the same states through the queue; setting them here as well means no
    // command of the idle window can slip in before the queue is served.
    for (unsigned id : kSelectionCommands) Command(id)->setEnabled(false);
    for (unsigned id : {ID_CLIP_ADD, ID_OUTPUT_FOLDER, ID_SETTING}) Command(id)->setEnabled(false);
    Command(ID_STOP)->setEnabled(true);
}

void MainFrameWindow::OnStopEncoding() {
    if (!JobActive()) return;
    const int answer = platform::ShowMessageBox("Do you want to stop encoding DVD?", "Sop?",
                                                platform::MB_YESNO | platform::MB_ICONQUESTION);
    // The job may have ended while the question was open: its end status then stays.
    if (answer != platform::IDYES || !frame_.OnStopEncoding()) return;
    form_->SetStatusText("Stop encoding...");
}

void MainFrameWindow::closeEvent(QCloseEvent* event) {
    if (JobActive() || frame_.IsJobRunning()) {
        platform::ShowMessageBox("You are in encoding process, please stop the encoding before exit.",
                                 "Warning", platform::MB_OK);
        event->ignore();
        return;
    }
    if (const int error = frame_.Settings().Save(); error != 0) {
        core::LogPrintf("Can not save the settings (error %d).\n", error);
        platform::ShowMessageBox("The settings could not be saved.", "Warning",
                                 platform::MB_OK | platform::MB_ICONWARNING);
    }
    event->accept();
}

void MainFrameWindow::OnFileExit() {
    close();  // the close rule applies: refused while a job runs
}

// ---- View and help --------------------------------------------------------------------------

void MainFrameWindow::OnViewToolBar() {
    toolbar_->setVisible(Command(ID_VIEW_TOOLBAR)->isChecked());
}

void MainFrameWindow::OnViewStatusBar() {
    statusBar()->setVisible(Command(ID_VIEW_STATUS_BAR)->isChecked());
}

void MainFrameWindow::OnHelpContents() {
    const QString help = FindHelpFile();
    if (help.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(help)))
        platform::ShowMessageBox("Help is not available.", "Help",
                                 platform::MB_OK | platform::MB_ICONINFORMATION);
}

void MainFrameWindow::OnAppAbout() {
    AboutDlg dialog(this);
    dialog.exec();
}

}  // namespace ui
