#include "ui/add_clips_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QStringList>

namespace ui {

namespace {

// The containers people keep video in that the reader opens; anything else is still one
// "All Files" away.
constexpr const char* kVideoExtensions[] = {
    "mp4", "m4v", "mkv", "mov",  "webm", "ts",  "m2ts", "mts", "mpeg", "mpg", "m2p", "vob",
    "avi", "asf", "wmv", "flv", "f4v",  "3gp", "3g2",  "ogv", "dv",   "mxf", "divx",
};

// "Video files (*.mp4;*.m4v;...)" to read, then the blank-separated patterns the dialog
// matches by in a second pair of parentheses, which it hides (it reads only those, and "*.*"
// would leave out files without an extension).
QString VideoFilesFilter() {
    QStringList patterns;
    for (const char* extension : kVideoExtensions) patterns << QStringLiteral("*.") + extension;
    return "Video files (" + patterns.join(';') + ") (" + patterns.join(' ') + ")";
}

}  // namespace

void ConfigureAddClipsDialog(QFileDialog& dialog, const QString& folder) {
    dialog.setWindowTitle("Choose Source Video Files");
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters({VideoFilesFilter(), "All Files (*.*) (*)"});
    dialog.setDirectory(folder);
}

QString DefaultClipsFolder() {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return !videos.isEmpty() && QDir(videos).exists() ? videos : QDir::homePath();
}

}  // namespace ui
