// The file dialog of Add Clip: the filters it offers and the files each one lists.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <algorithm>
#include <fstream>

#include "ui/add_clips_dialog.h"
#include "ui/ui_test_support.h"

namespace {

QStringList Rows(const QComboBox* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i) rows << list->itemText(i);
    return rows;
}

// The names the dialog lists in its folder, sorted.
QStringList Listed(const QFileDialog& dialog) {
    const auto* view = dialog.findChild<QAbstractItemView*>("listView");
    QStringList names;
    if (view == nullptr) return names;
    const QModelIndex folder = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(folder); ++row)
        names << view->model()->index(row, 0, folder).data().toString();
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AddClipsDialog, OffersTheVideoTypesAndThenEveryFile) {
    ui_test::TempDir temp;
    const QStringList videos{"B.WMV", "a.avi", "c.mpg", "clip.mkv", "d.vob", "e.asf",
                             "film.mov", "phone.mp4", "stream.m2ts", "tv.ts", "web.webm"};
    for (const QString& name : videos) std::ofstream(temp.File(name.toStdString())) << "x";
    for (const char* name : {"notes.txt", "README", "song.mp3"}) std::ofstream(temp.File(name)) << "x";

    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);  // the one whose parts can be looked at
    ui::ConfigureAddClipsDialog(dialog, QString::fromStdString(temp.Path()));
    EXPECT_EQ(dialog.windowTitle(), "Choose Source Video Files");
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(dialog.directory().absolutePath().toStdString(), temp.Path());
    const auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(types->count(), 2);
    EXPECT_TRUE(types->itemText(0).startsWith("Video files (*.mp4;*.m4v;*.mkv;*.mov;"))
        << types->itemText(0).toStdString();
    EXPECT_EQ(types->itemText(1), "All Files (*.*)");

    EXPECT_TRUE(ui_test::WaitUntil([&] { return Listed(dialog) == videos; }, 5000))
        << Listed(dialog).join(", ").toStdString();

    dialog.selectNameFilter(dialog.nameFilters().at(1));
    QStringList everything = videos;
    everything << "README" << "notes.txt" << "song.mp3";
    std::sort(everything.begin(), everything.end());
    EXPECT_TRUE(ui_test::WaitUntil([&] { return Listed(dialog) == everything; }, 5000))
        << Listed(dialog).join(", ").toStdString();
}

// Every extension a user's clips commonly carry is in the default filter.
TEST(AddClipsDialog, DefaultFilterNamesTheCommonVideoExtensions) {
    QFileDialog dialog;
    ui::ConfigureAddClipsDialog(dialog, ui::DefaultClipsFolder());
    // The patterns the dialog matches by: the last parenthesis, blank-separated.
    const QStringList patterns = dialog.nameFilters().at(0).section('(', -1).chopped(1).split(' ');
    for (const char* extension : {"mp4", "m4v", "mkv", "mov", "webm", "ts", "m2ts", "mts", "mpeg",
                                  "mpg", "vob", "avi", "asf", "wmv", "flv", "3gp", "ogv", "dv"})
        EXPECT_TRUE(patterns.contains(QStringLiteral("*.") + extension)) << extension;
    EXPECT_TRUE(QDir(ui::DefaultClipsFolder()).exists());
}

}  // namespace
