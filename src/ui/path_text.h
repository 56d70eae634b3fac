// How the window shows paths that may not fit: the list's file column keeps the file's name in
// sight, and the status text may break a long path at its folders instead of losing its end.
#pragma once

#include <QString>

class QFontMetrics;

namespace ui {

// path as it fits into width pixels: whole when it fits; else the folder part cut in its
// middle ("/home/us…/Videos/clip.avi"), and only when the name alone does not fit, the name
// cut in its middle.
QString ElideFolderFirst(const QString& path, const QFontMetrics& metrics, int width);

// text with a break chance (a zero-width space) after every '/', so a word-wrapped label can
// wrap a path too long for one line at its folders.
QString WithBreaksAfterSlashes(const QString& text);

}  // namespace ui
