#include "ui/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace ui {

namespace {

// A disc with a hub: readable at every size the frame and the about box use.
QPixmap DrawDisc(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outer(0.5, 0.5, size - 1.0, size - 1.0);
    QRadialGradient shine(outer.center(), size / 2.0, outer.topLeft() + QPointF(size / 3.0, size / 3.0));
    shine.setColorAt(0, QColor(235, 240, 255));
    shine.setColorAt(1, QColor(90, 110, 190));
    painter.setPen(QPen(QColor(40, 50, 110), 1));
    painter.setBrush(shine);
    painter.drawEllipse(outer);
    const double hub = size / 6.0;
    painter.setBrush(Qt::white);
    painter.drawEllipse(outer.center(), hub, hub);
    return pixmap;
}

}  // namespace

const QIcon& AppIcon() {
    static const QIcon icon = [] {
        QIcon made;
        for (int size : {16, 24, 32, 48}) made.addPixmap(DrawDisc(size));
        return made;
    }();
    return icon;
}

}  // namespace ui
