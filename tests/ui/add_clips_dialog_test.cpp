// The file dialog of Add Clip: the filters it offers and the files each one lists.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
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
    for (const char* name : {"a.avi", "B.WMV", "c.mpg", "d.vob", "e.asf", "notes.txt", "README"})
        std::ofstream(temp.File(name)) << "x";

    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);  // the one whose parts can be looked at
    ui::ConfigureAddClipsDialog(dialog);
    EXPECT_EQ(dialog.windowTitle(), "Choose Source Video Files");
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
    const auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    EXPECT_EQ(Rows(types), (QStringList{"Video files (*.avi;*.asf;*.mpg;*.vob;*.wmv)",
                                        "All Files (*.*)"}));

    dialog.setDirectory(QString::fromStdString(temp.Path()));
    const QStringList videos{"B.WMV", "a.avi", "c.mpg", "d.vob", "e.asf"};
    EXPECT_TRUE(ui_test::WaitUntil([&] { return Listed(dialog) == videos; }, 5000))
        << Listed(dialog).join(", ").toStdString();

    dialog.selectNameFilter(dialog.nameFilters().at(1));
    QStringList everything = videos;
    everything << "README" << "notes.txt";
    std::sort(everything.begin(), everything.end());
    EXPECT_TRUE(ui_test::WaitUntil([&] { return Listed(dialog) == everything; }, 5000))
        << Listed(dialog).join(", ").toStdString();
}

}  // namespace
