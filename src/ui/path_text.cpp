#include "ui/path_text.h"

#include <QFontMetrics>

namespace ui {

namespace {

bool Fits(const QString& text, const QFontMetrics& metrics, int width) {
    return metrics.horizontalAdvance(text) <= width;
}

}  // namespace

QString ElideFolderFirst(const QString& path, const QFontMetrics& metrics, int width) {
    if (Fits(path, metrics, width)) return path;
    const qsizetype slash = path.lastIndexOf('/');
    const QString name = path.mid(slash + 1);
    if (slash >= 0) {
        const QString folder = path.left(slash + 1);
        const int room = width - metrics.horizontalAdvance(name);
        const QString shortFolder = metrics.elidedText(folder, Qt::ElideMiddle, room);
        // Kerning can make the joined text a pixel wider than its two parts.
        if (!shortFolder.isEmpty() && Fits(shortFolder + name, metrics, width)) {
            return shortFolder + name;
        }
    }
    return metrics.elidedText(name, Qt::ElideMiddle, width);
}

}  // namespace ui
