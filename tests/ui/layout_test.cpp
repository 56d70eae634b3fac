// Where things sit in the windows. With LUMIVANE_SCREENSHOT_DIR set, each window is also saved
// there as a picture (run under xvfb-run with QT_QPA_PLATFORM=xcb for the real look).
#include <gtest/gtest.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QProxyStyle>
#include <QStyleOptionViewItem>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "ui/clip_list_form.h"
#include "ui/clip_range_dialog.h"
#include "ui/commands.h"
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

// What a list's style is asked to paint in the file's column.
class PaintedFileNames : public QProxyStyle {
public:
    struct Painted {
        QString text;
        int room;  // the width the style has for the text
    };
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option);
        if (element == CE_ItemViewItem && item != nullptr && item->index.column() == 0) {
            const QRect text = subElementRect(SE_ItemViewItemText, item, widget);
            const int margin = pixelMetric(PM_FocusFrameHMargin, nullptr, widget) + 1;
            painted.push_back({item->text, text.width() - 2 * margin});
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable std::vector<Painted> painted;
};

// The folder gives way before the name, and the column grows with the window.
TEST(Layout, FileNameColumnShowsTheNameAndTakesTheWindowsWidth) {
    PaintedFileNames style;
    ui_test::TempDir temp;
    ui_test::ScriptedMessageBoxes boxes;
    ui::MainFrameWindow window;
    const std::string folder = temp.File("Videos from the summer holidays at the seaside, uncut");
    std::filesystem::create_directory(folder);
    const std::string clip = folder + "/beach volleyball final.avi";
    ASSERT_TRUE(ui_test::MakeClip(clip, 1.0, "64x48", 25, false));
    window.AddClips({clip});
    window.show();
    window.WaitForAddedClips();
    QTableWidget* list = window.Form()->List();
    list->setStyle(&style);
    int fixedColumns = 0;
    for (int c = 1; c < list->columnCount(); ++c) fixedColumns += list->columnWidth(c);

    for (const QSize size : {QSize(640, 400), QSize(1000, 400)}) {
        SCOPED_TRACE(size.width());
        window.resize(size);
        style.painted.clear();
        ui_test::WaitUntil([] { return false; }, 100);
        EXPECT_EQ(list->columnWidth(0) + fixedColumns, list->viewport()->width());
        window.grab();
        ASSERT_FALSE(style.painted.empty());
        for (const PaintedFileNames::Painted& shown : style.painted) {
            EXPECT_TRUE(shown.text.endsWith("/beach volleyball final.avi")) << shown.text.toStdString();
            EXPECT_LE(list->fontMetrics().horizontalAdvance(shown.text), shown.room);
        }
    }
    list->setStyle(nullptr);
    window.resize(640, 400);
    SaveScreenshot(window, "file_name_column");
}

// At the default width the end of a job that kept its intermediates is readable whole: what it
// kept and the output folder.
TEST(Layout, EndStatusShowsWholeAtTheDefaultWidth) {
    ui_test::TempDir temp;
    ui_test::ScriptedMessageBoxes boxes;
    ui::MainFrameWindow window;
    // A path with no space in it, too long for one line of the window.
    const std::string output =
        temp.File("Discs_for_the_family_made_in_the_summer_of_the_year_at_the_seaside_and_in_the_hills");
    window.Frame().Settings().OutputFolder = output;
    window.Frame().Settings().DeleteTempFiles = 0;
    window.Frame().Settings().DirectVOB = 0;
    const std::string clip = temp.File("clip.avi");
    ASSERT_TRUE(ui_test::MakeClip(clip, 1.0, "64x48", 25, true));
    window.AddClips({clip});
    window.show();
    window.WaitForAddedClips();
    window.OnStartEncoding();
    ASSERT_TRUE(ui_test::WaitUntil([&] { return window.Command(driver::ID_CLIP_ADD)->isEnabled(); },
                                   120000));
    ui_test::WaitUntil([] { return false; }, 100);  // the layout follows the new text

    EXPECT_EQ(window.size(), QSize(640, 400));
    EXPECT_EQ(window.Form()->StatusText().toStdString(),
              "Job finished. Kept: Lumivane00.vob, Chapter00.m2v, Chapter00.mp2. Output folder: " +
                  output);
    auto* status = window.findChild<QLabel*>(ui::ids::Name(ui::ids::kStatusText));
    // No word of it is wider than the label, and the label is as tall as its lines.
    EXPECT_LE(status->minimumSizeHint().width(), status->width());
    EXPECT_GE(status->height(), status->heightForWidth(status->width()));
    EXPECT_LE(Place(status).right(), window.width());
    EXPECT_EQ(status->toolTip(), status->text());  // for a name no line holds
    SaveScreenshot(window, "end_status");
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
