// The main window: command states, adding and arranging clips, and a job started, stopped and
// finished through the window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QSlider>
#include <QTimer>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <fstream>

#include "platform/settings_store.h"
#include "ui/add_clips_dialog.h"
#include "ui/clip_list_form.h"
#include "ui/clip_range_dialog.h"
#include "ui/control_ids.h"
#include "ui/settings_dialog.h"
#include "ui/commands.h"
#include "ui/main_frame_window.h"
#include "ui/time_text.h"
#include "ui/ui_test_support.h"

namespace {

using namespace driver;
using ui_test::ScriptedMessageBoxes;

constexpr unsigned kSwitched[] = {ID_CLIP_ADD, ID_CLIP_DELETE, ID_OUTPUT_FOLDER, ID_EDIT_RANGE,
                                  ID_CLIP_UP, ID_CLIP_DOWN, ID_SETTING, ID_START, ID_STOP};

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        window.Frame().Settings().OutputFolder = temp.File("out");
        window.show();
    }

    // The states of the switched commands, as a string of E and D in kSwitched order.
    std::string States() {
        std::string states;
        for (unsigned id : kSwitched) states += window.Command(id)->isEnabled() ? 'E' : 'D';
        return states;
    }

    std::string Clip(const std::string& name, double seconds = 1.0, bool audio = true) {
        const std::string path = temp.File(name);
        EXPECT_TRUE(ui_test::MakeClip(path, seconds, "64x48", 25, audio)) << path;
        return path;
    }

    std::vector<std::string> ListedPaths() {
        std::vector<std::string> paths;
        for (int row = 0; row < Form()->RowCount(); ++row)
            paths.push_back(Form()->List()->item(row, 0)->text().toStdString());
        return paths;
    }
    std::vector<std::string> JobPaths() {
        std::vector<std::string> paths;
        for (std::size_t row = 0; row < window.Frame().ClipCount(); ++row)
            paths.push_back(window.Frame().ClipAt(row)->Path);
        return paths;
    }

    void ClickRow(int row) {
        QTableWidget* list = Form()->List();
        const QRect cell = list->visualRect(list->model()->index(row, 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    }
    void ClickEmptySpace() {
        QTableWidget* list = Form()->List();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(5, list->viewport()->height() - 5));
    }
    void Drop(const std::vector<std::string>& paths) {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
        data->setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&window, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&window, &drop);
        delete data;
    }

    bool WaitForJobEnd(int timeoutMs) {
        return ui_test::WaitUntil([&] { return window.Command(ID_CLIP_ADD)->isEnabled(); },
                                  timeoutMs);
    }

    ui::ClipListForm* Form() { return window.Form(); }

    ui_test::TempDir temp;
    ScriptedMessageBoxes boxes;
    ui::MainFrameWindow window;
};

TEST_F(MainWindowTest, StartsWithOnlyAddOutputFolderAndSettingEnabled) {
    EXPECT_EQ(window.windowTitle(), "Lumivane 2.11");
    EXPECT_TRUE(Form()->StatusText().startsWith("Output folder: /"));
    //                  Add Del Out Edit Up Down Set Start Stop
    EXPECT_EQ(States(), "EDEDDDEDD");
    for (unsigned id : {ui::ID_APP_EXIT, ui::ID_HELP_CONTENTS, ui::ID_APP_ABOUT,
                        ui::ID_VIEW_TOOLBAR, ui::ID_VIEW_STATUS_BAR})
        EXPECT_TRUE(window.Command(id)->isEnabled()) << id;
    EXPECT_EQ(window.Command(ID_START)->statusTip(), "Start encoding");
    EXPECT_EQ(window.Command(ID_START)->toolTip(), "Start Encoding");

    // Disabled commands ignore their keys: Start would complain about the empty list.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_TRUE(boxes.Boxes().empty());

    auto* toolbar = window.findChild<QToolBar*>("toolbar");
    ASSERT_NE(toolbar, nullptr);
    std::vector<unsigned> layout;
    for (QAction* action : toolbar->actions()) {
        unsigned id = 0;
        for (const ui::CommandSpec& spec : ui::Commands())
            if (window.Command(spec.id) == action) id = spec.id;
        layout.push_back(id);
    }
    EXPECT_EQ(layout, std::vector<unsigned>(ui::ToolbarLayout().begin(), ui::ToolbarLayout().end()));
}

TEST_F(MainWindowTest, MenusHoldTheCommandsInOrderAndViewTogglesTheBars) {
    QStringList menus;
    for (QAction* popup : window.menuBar()->actions()) {
        QString entry = popup->text() + ":";
        for (QAction* item : popup->menu()->actions())
            entry += " " + (item->isSeparator() ? QStringLiteral("|") : item->text().section('\t', 0, 0));
        menus << entry;
    }
    EXPECT_EQ(menus, (QStringList{
                         "&File: &Add Clip... &Delete Clip | &Output folder | E&xit",
                         "&Edit: Clip &Range Move up Move down",
                         "&View: &Toolbar &Status Bar",
                         "Encode: &Start Stop | Se&tting...",
                         "&Help: Contents... About...",
                     }));

    auto* toolbar = window.findChild<QToolBar*>("toolbar");
    for (unsigned id : {ui::ID_VIEW_TOOLBAR, ui::ID_VIEW_STATUS_BAR}) {
        QWidget* bar = id == ui::ID_VIEW_TOOLBAR ? static_cast<QWidget*>(toolbar) : window.statusBar();
        QAction* command = window.Command(id);
        ASSERT_TRUE(command->isChecked());
        ASSERT_TRUE(bar->isVisible());
        command->trigger();
        EXPECT_FALSE(command->isChecked());
        EXPECT_FALSE(bar->isVisible()) << id;
        command->trigger();
        EXPECT_TRUE(command->isChecked());
        EXPECT_TRUE(bar->isVisible()) << id;
    }
}

TEST_F(MainWindowTest, AddedClipsAppearInOrderAndUnreadableFilesAreReportedOncePerBatch) {
    const std::string first = Clip("first.avi", 1.0);
    const std::string second = Clip("second.avi", 2.0, false);
    const std::string bogus = temp.File("notes.avi");
    std::ofstream(bogus) << "not a clip";
    const std::string empty = temp.File("empty.mp4");
    std::ofstream{empty};
    const std::string truncated = temp.File("truncated.mp4");
    ASSERT_TRUE(ui_test::MakeClip(truncated, 1.0, "64x48", 25, false));
    std::filesystem::resize_file(truncated, 2000);
    const std::string folder = temp.File("folder.avi");
    std::filesystem::create_directory(folder);

    window.AddClips({first, bogus, empty, second, truncated, folder});
    window.WaitForAddedClips();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor ends with its batch";
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{first, second}));
    EXPECT_EQ(JobPaths(), ListedPaths());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "Files not added");
    EXPECT_EQ(boxes.Boxes()[0].style, platform::MB_ICONWARNING);
    const std::string unreadable =
        ": No video or sound can be read from it (an unknown format, or a damaged or incomplete "
        "file).";
    EXPECT_EQ(boxes.Boxes()[0].text, "These files were not added to the list:\n\n" + bogus +
                                         unreadable + "\n" + empty + ": The file is empty.\n" +
                                         truncated + unreadable + "\n" + folder +
                                         ": It is a folder, not a file.");

    QTableWidget* list = Form()->List();
    const reader::ClipRecord probed = *window.Frame().ClipAt(1);
    EXPECT_EQ(list->item(1, 1)->text(), "64 x 48");
    EXPECT_EQ(list->item(1, 2)->text().toStdString(), ui::FormatClipTime(probed.VideoLength));
    EXPECT_EQ(list->item(1, 3)->text(), QString::number(probed.FrameCount));
    EXPECT_EQ(list->item(1, 4)->text(), "0:00:00");
    EXPECT_EQ(list->item(1, 5)->text().toStdString(), ui::FormatClipTime(probed.RangeEnd));
    EXPECT_EQ(States(), "EDEDDDEDD");  // nothing selected yet

    // Dropped files come in the reverse of the drop order; a batch of clips only shows no box.
    Drop({first, second});
    window.WaitForAddedClips();
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{first, second, second, first}));
    EXPECT_EQ(JobPaths(), ListedPaths());
    EXPECT_EQ(boxes.Boxes().size(), 1u);

    const std::string gone = temp.File("gone.avi");
    Drop({gone});
    window.WaitForAddedClips();
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[1].text,
              "This file was not added to the list:\n\n" + gone +
                  ": The file cannot be opened: No such file or directory.");
}

// Ctrl+X once quit at once; it must not close the window and lose the list, and Exit's label
// shows no shortcut that does nothing. Exit itself still closes it.
TEST_F(MainWindowTest, CtrlXKeepsTheWindowAndItsClips) {
    window.AddClips({Clip("kept.avi")});
    window.WaitForAddedClips();
    ASSERT_EQ(Form()->RowCount(), 1);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(Form()->List(), Qt::Key_X, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Form()->RowCount(), 1);
    EXPECT_EQ(window.Frame().ClipCount(), 1u);
    EXPECT_EQ(window.Command(ui::ID_APP_EXIT)->text(), "E&xit");
    EXPECT_TRUE(window.Command(ui::ID_APP_EXIT)->shortcut().isEmpty());

    window.Command(ui::ID_APP_EXIT)->trigger();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, SelectionDrivesTheRowCommandsAndMovesKeepListAndJobInStep) {
    const std::string a = Clip("a.avi"), b = Clip("b.avi"), c = Clip("c.avi");
    window.AddClips({a, b, c});
    window.WaitForAddedClips();

    ClickRow(0);
    EXPECT_EQ(States(), "EEEEEEEED");
    ClickEmptySpace();
    EXPECT_EQ(States(), "EDEDDDEDD");

    ClickRow(0);
    window.OnMoveUp();  // already first
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{a, b, c}));
    window.OnMoveDown();
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{b, a, c}));
    EXPECT_EQ(JobPaths(), ListedPaths());
    EXPECT_EQ(Form()->SelectedRow(), -1);
    EXPECT_EQ(States(), "EDEDDDEDD");

    ClickRow(2);
    window.OnMoveDown();  // already last
    window.OnMoveUp();
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{b, c, a}));

    ClickRow(0);
    window.OnFileDelete();
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{c, a}));
    EXPECT_EQ(JobPaths(), ListedPaths());
    EXPECT_EQ(States(), "EDEDDDEDD");
}

TEST_F(MainWindowTest, AJobRunsThroughTheWindowAndTheWindowWaitsForItToClose) {
    window.AddClips({Clip("short.avi", 1.0)});
    window.WaitForAddedClips();
    ClickRow(0);
    window.OnStartEncoding();
    EXPECT_EQ(States(), "DDDDDDDDE");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor ends with Start";

    window.close();  // refused while the job runs
    EXPECT_TRUE(window.isVisible());
    ASSERT_FALSE(boxes.Boxes().empty());
    EXPECT_EQ(boxes.Boxes().back().text,
              "You are in encoding process, please stop the encoding before exit.");
    EXPECT_EQ(boxes.Boxes().back().caption, "Warning");

    ASSERT_TRUE(WaitForJobEnd(120000));
    EXPECT_EQ(States(), "EEEEEEEED");  // the row is still selected
    EXPECT_TRUE(Form()->StatusText().startsWith("Job finished. Output folder: "))
        << Form()->StatusText().toStdString();
    EXPECT_EQ(Form()->ProgressBar()->value(), 100);
    EXPECT_TRUE(std::filesystem::is_regular_file(temp.File("out/DVD/VIDEO_TS/VIDEO_TS.IFO")));

    window.close();
    EXPECT_FALSE(window.isVisible());
    platform::SettingsStore stored(platform::DefaultSettingsPath());
    ASSERT_EQ(stored.Open(), 0);
    ASSERT_TRUE(stored.Query("OutputFolder"));
    EXPECT_EQ(stored.Query("OutputFolder")->text, temp.File("out"));
}

// A clip whose file changed since it was added is read again at Start, and its row shows it.
TEST_F(MainWindowTest, StartShowsAClipReadAgainInItsRow) {
    const std::string clip = Clip("changing.avi", 1.0);
    window.AddClips({clip});
    window.WaitForAddedClips();
    EXPECT_EQ(Form()->List()->item(0, 3)->text(), "25");  // frames
    ASSERT_TRUE(ui_test::MakeClip(clip, 2.0, "64x48", 25, true));
    ClickRow(0);
    window.OnStartEncoding();
    EXPECT_EQ(Form()->List()->item(0, 3)->text(), "50");
    ASSERT_TRUE(WaitForJobEnd(120000));
}

TEST_F(MainWindowTest, StopAsksFirstAndOnYesEndsTheJob) {
    const std::string extra = Clip("extra.avi");
    window.AddClips({Clip("long.avi", 30.0, true)});
    window.WaitForAddedClips();
    ClickRow(0);
    window.OnStartEncoding();
    ASSERT_EQ(States(), "DDDDDDDDE");

    // The list stays as the job found it: drops are refused, and a clip probed meanwhile
    // joins once the job has ended.
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(extra))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&window, &enter);
    EXPECT_FALSE(enter.isAccepted());
    delete data;
    window.AddClips({extra});
    window.WaitForAddedClips();
    EXPECT_EQ(Form()->RowCount(), 1);
    EXPECT_EQ(window.Frame().ClipCount(), 1u);

    // Ctrl+C stops, also with the focus in the list.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    Form()->List()->setFocus();
    boxes.Answer(platform::IDNO);
    QTest::keyClick(Form()->List(), Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Do you want to stop encoding DVD?");
    EXPECT_EQ(boxes.Boxes()[0].caption, "Sop?");
    EXPECT_EQ(window.Command(ID_STOP)->isEnabled(), true);
    EXPECT_TRUE(window.Frame().IsJobRunning());

    boxes.Answer(platform::IDYES);
    window.OnStopEncoding();
    EXPECT_EQ(Form()->StatusText(), "Stop encoding...");
    ASSERT_TRUE(WaitForJobEnd(60000));
    // Whether a picture came before the Stop depends on timing; either way it says so.
    EXPECT_TRUE(Form()->StatusText().startsWith("Job stopped"))
        << Form()->StatusText().toStdString();
    EXPECT_EQ(States(), "EEEEEEEED");
    EXPECT_FALSE(window.Frame().IsJobRunning());
    EXPECT_EQ(ListedPaths().back(), extra);
    EXPECT_EQ(JobPaths(), ListedPaths());
}

// The stop question is still open when the job ends; answering Yes then leaves the finished
// job's status and states alone.
TEST_F(MainWindowTest, YesToStopAfterTheJobHasEndedChangesNothing) {
    window.AddClips({Clip("short.avi", 1.0)});
    window.WaitForAddedClips();
    ClickRow(0);
    window.OnStartEncoding();
    ASSERT_TRUE(window.Frame().IsJobRunning());
    struct YesOnceTheJobHasEnded : platform::MessageBoxService {
        std::function<bool()> jobEnded;
        int Show(const std::string&, const std::string&, unsigned) override {
            EXPECT_TRUE(ui_test::WaitUntil(jobEnded, 120000));
            return platform::IDYES;
        }
    } lateYes;
    lateYes.jobEnded = [&] { return window.Command(ID_CLIP_ADD)->isEnabled(); };
    platform::SetMessageBoxService(&lateYes);
    window.OnStopEncoding();
    platform::SetMessageBoxService(&boxes);

    EXPECT_TRUE(Form()->StatusText().startsWith("Job finished. Output folder: "))
        << Form()->StatusText().toStdString();
    EXPECT_EQ(window.Frame().LastJobResult(), MainFrame::JobResult::Finished);
    EXPECT_EQ(States(), "EEEEEEEED");
}

TEST_F(MainWindowTest, AWindowDestroyedUnderARunningJobStopsItFirst) {
    const std::string clip = Clip("long.avi", 30.0);
    {
        ui::MainFrameWindow doomed;
        doomed.Frame().Settings().OutputFolder = temp.File("doomed");
        doomed.AddClips({clip});
        doomed.WaitForAddedClips();
        doomed.Form()->List()->selectRow(0);
        doomed.OnStartEncoding();
        ASSERT_TRUE(doomed.Frame().IsJobRunning());
    }  // a hang here is the fault: the destructor must stop the job and wait it out
}

// Runs act on the next modal dialog of type Dialog once it is open.
template <typename Dialog>
void OnNextDialog(std::function<void(Dialog&)> act) {
    QTimer::singleShot(0, [act] {
        ui_test::WaitUntil([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(*dialog);
    });
}

// Files chosen together in the Add Clip dialog are listed in the dialog's order.
TEST_F(MainWindowTest, FilesChosenInTheAddDialogAreListedInItsOrderAndItsFolderIsKept) {
    const std::string c = Clip("c.avi"), a = Clip("a.avi"), b = Clip("b.avi");
    OnNextDialog<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Choose Source Video Files");
        EXPECT_EQ(dialog.directory(), QDir(ui::DefaultClipsFolder()));  // not the working folder
        dialog.setDirectory(QString::fromStdString(temp.Path()));
        dialog.selectFile("\"c.avi\" \"a.avi\" \"b.avi\"");
        QMetaObject::invokeMethod(&dialog, "accept");  // as its Open button does
    });
    window.OnFileAdd();
    window.WaitForAddedClips();
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{c, a, b}));
    EXPECT_EQ(JobPaths(), ListedPaths());

    // The next dialog opens where the clips were taken from.
    OnNextDialog<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.directory().absolutePath().toStdString(), temp.Path());
        dialog.reject();
    });
    window.OnFileAdd();
    window.WaitForAddedClips();
    EXPECT_EQ(Form()->RowCount(), 3);
}

TEST_F(MainWindowTest, EditedRangeAndSettingsReachTheJobOnlyThroughOk) {
    window.AddClips({Clip("range.avi", 4.0)});
    window.WaitForAddedClips();
    ClickRow(0);

    OnNextDialog<ui::ClipRangeDlg>([](ui::ClipRangeDlg& dialog) {
        dialog.OnGotoEnd();
        ui_test::WaitUntil([] { return false; }, 200);
        dialog.OnSetStart();
        dialog.reject();
    });
    window.OnEditClipRange();
    EXPECT_EQ(window.Frame().ClipAt(0)->RangeStart, 0.0);

    OnNextDialog<ui::ClipRangeDlg>([](ui::ClipRangeDlg& dialog) {
        auto* slider = dialog.findChild<QSlider*>(ui::ids::Name(ui::ids::kPositionSlider));
        slider->setValue(40);
        slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
        ui_test::WaitUntil([] { return false; }, 300);
        dialog.OnSetStart();
        dialog.accept();
    });
    window.OnEditClipRange();
    const double start = window.Frame().ClipAt(0)->RangeStart;
    EXPECT_NEAR(start, 2.0, 0.3);
    EXPECT_EQ(Form()->List()->item(0, 4)->text().toStdString(), ui::FormatClipTime(start));
    EXPECT_EQ(States(), "EEEEEEEED");

    OnNextDialog<ui::SettingsDlg>([](ui::SettingsDlg& dialog) {
        auto* standard = dialog.findChild<QComboBox*>(ui::ids::Name(ui::ids::kStandardList));
        standard->setCurrentIndex(1);
        emit standard->activated(1);
        dialog.accept();
    });
    window.OnSetting();
    const core::Settings& settings = window.Frame().Settings();
    EXPECT_EQ(settings.Standard, 1u);
    EXPECT_EQ(settings.OutputHeight, 576);  // derived again after OK
    EXPECT_EQ(settings.FrameRateNum, 25u);
}

}  // namespace
