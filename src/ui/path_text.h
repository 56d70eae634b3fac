// How the window shows a path that may not fit: the list's file column keeps the file's name in
// sight.
#pragma once

#include <QString>

class QFontMetrics;

namespace ui {

// path as it fits into width pixels: whole when it fits; else the folder part cut in its
// middle ("/home/us…/Videos/clip.avi"), and only when the name alone does not fit, the name
// cut in its middle.
QString ElideFolderFirst(const QString& path, const QFontMetrics& metrics, int width);

}  // namespace ui
