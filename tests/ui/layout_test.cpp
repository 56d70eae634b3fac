// Where things sit in the windows. With LUMIVANE_SCREENSHOT_DIR set, each window is also saved
// there as a picture (run under xvfb-run with QT_QPA_PLATFORM=xcb for the real look).
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <cstdlib>

#include "ui/clip_list_form.h"
#include "ui/clip_range_dialog.h"
#include "ui/control_ids.h"
#include "ui/main_frame_window.h"
#include "ui/settings_dialog.h"
#include "ui/ui_test_support.h"

namespace {

void SaveScreenshot(QWidget& window, const char* name) {
    const char* folder = std::getenv("LUMIVANE_SCREENSHOT_DIR");
    if (folder == nullptr) return;
    ui_test::WaitUntil([] { return false; }, 300);  // let the window paint
    EXPECT_TRUE(window.grab().save(QString(folder) + "/" + name + ".png"));
}

// The widget's rectangle in window coordinates.
QRect Place(QWidget* widget) {
    return QRect(widget->mapTo(widget->window(), QPoint()), widget->size());
}

TEST(Layout, MainWindowStacksMenuToolbarListStatusTextProgressAndStatusBar) {
    ui_test::TempDir temp;
    ui_test::ScriptedMessageBoxes boxes;
    ui::MainFrameWindow window;
    window.Frame().Settings().OutputFolder = temp.Path();
    const std::string clip = temp.File("clip.avi");
    ASSERT_TRUE(ui_test::MakeClip(clip, 2.0, "64x48", 25, true));
    window.AddClips({clip, clip});
    window.show();
    window.WaitForAddedClips();
    ui_test::WaitUntil([] { return false; }, 100);

    EXPECT_EQ(window.size(), QSize(640, 400));
    const ui::ClipListForm* form = window.Form();
    const QRect menu = Place(window.menuBar());
    const QRect toolbar = Place(window.findChild<QToolBar*>("toolbar"));
    const QRect list = Place(form->List());
    const QRect status = Place(window.findChild<QWidget*>(ui::ids::Name(ui::ids::kStatusText)));
    const QRect progress = Place(form->ProgressBar());
    const QRect statusBar = Place(window.statusBar());
    EXPECT_LE(menu.bottom(), toolbar.top());
    EXPECT_LE(toolbar.bottom(), list.top());
    EXPECT_LE(list.bottom(), status.top());
    EXPECT_LE(status.bottom(), progress.top());
    EXPECT_LE(progress.bottom(), statusBar.top());
    // The list takes the room the others leave, across the whole width.
    EXPECT_GT(list.height(), 400 / 2);
    EXPECT_GT(list.width(), 600);
    EXPECT_EQ(form->List()->rowCount(), 2);
    SaveScreenshot(window, "main_window");
}

TEST(Layout, DialogsKeepTheirButtonsUnderTheContent) {
    ui_test::TempDir temp;
    core::Settings settings;
    settings.SetDefaults();
    ui::SettingsDlg settingsDialog(settings, nullptr);
    settingsDialog.show();
    const QRect tabs = Place(settingsDialog.findChild<QTabWidget*>(ui::ids::Name(ui::ids::kSettingsTabs)));
    const QRect buttons = Place(settingsDialog.findChild<QDialogButtonBox*>());
    EXPECT_LE(tabs.bottom(), buttons.top());
    SaveScreenshot(settingsDialog, "settings_dialog");

    const std::string path = temp.File("clip.avi");
    ASSERT_TRUE(ui_test::MakeClip(path, 5.0, "320x240", 25, false));
    reader::ClipRecord clip;
    ASSERT_EQ(clip.ReadMediaInfo(path), 0);
    ui::ClipRangeDlg rangeDialog(clip, nullptr);
    rangeDialog.show();
    const QRect video = Place(rangeDialog.findChild<QWidget*>(ui::ids::Name(ui::ids::kVideoArea)));
    const QRect slider = Place(rangeDialog.findChild<QWidget*>(ui::ids::Name(ui::ids::kPositionSlider)));
    const QRect play = Place(rangeDialog.findChild<QWidget*>(ui::ids::Name(ui::ids::kPlayButton)));
    EXPECT_LE(video.bottom(), slider.top());
    EXPECT_LE(slider.bottom(), play.top());
    SaveScreenshot(rangeDialog, "clip_range_dialog");
    rangeDialog.reject();
}

}  // namespace
