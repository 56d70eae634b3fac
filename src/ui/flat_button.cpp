#include "ui/flat_button.h"

#include <QEnterEvent>
#include <QPainter>

namespace ui {

namespace {

// Draws a one-pixel frame: light on the top and left, dark on the bottom and right.
void Frame(QPainter& painter, const QRect& rect, const QColor& light, const QColor& dark) {
    painter.setPen(light);
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(dark);
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
}

constexpr int kImageMargin = 3;

}  // namespace

FlatButton::FlatButton(QWidget* parent) : QPushButton(parent) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

void FlatButton::SetIcon(const QIcon& in, const QIcon& out) {
    iconIn_ = in;
    iconOut_ = out;
    repaint();
}

void FlatButton::SetFlat(bool flat) {
    flat_ = flat;
    update();
}

void FlatButton::SetTooltipText(const QString& text, bool activate) {
    setToolTip(activate ? text : QString());
}

void FlatButton::SetHover(bool hover) {
    if (hover_ == hover) return;
    hover_ = hover;
    update();
}

void FlatButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    if (flat_ && isEnabled()) SetHover(true);
}

void FlatButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    SetHover(false);
}

void FlatButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) SetHover(false);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) SetHover(false);
}

const QIcon& FlatButton::IconFor(bool pressed) const {
    const bool useOut = !hover_ && !pressed && !iconOut_.isNull();
    return useOut ? iconOut_ : iconIn_;
}

void FlatButton::DrawBorder(QPainter& painter, QRect& area, bool pressed) const {
    const QPalette& colours = palette();
    const QColor highlight = colours.color(QPalette::Light);
    const QColor light = colours.color(QPalette::Midlight);
    const QColor shadow = colours.color(QPalette::Mid);
    const QColor darkShadow = colours.color(QPalette::Dark);
    const QRect edge = area.adjusted(0, 0, -1, -1);
    if (!flat_) {
        if (pressed) {
            painter.setPen(shadow);
            painter.drawRect(edge);
        } else {
            Frame(painter, edge, highlight, darkShadow);
            Frame(painter, edge.adjusted(1, 1, -1, -1), light, shadow);
        }
    } else if (pressed) {
        Frame(painter, edge, shadow, highlight);
    } else if (hover_) {
        Frame(painter, edge, highlight, shadow);
    }
}

void FlatButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect area = rect();
    const bool pressed = isDown();

    if (!flat_ && isDefault()) {
        painter.setPen(Qt::black);
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        area.adjust(1, 1, -1, -1);
    }
    painter.fillRect(area, palette().color(QPalette::Button));
    DrawBorder(painter, area, pressed);

    // The pressed look moves the content one pixel down and to the right.
    const QPoint shift = pressed ? QPoint(1, 1) : QPoint(0, 0);
    const QString caption = text();
    const int side = kFlatButtonIconSize;
    QRect captionArea = area;
    const QIcon& icon = IconFor(pressed);
    if (!icon.isNull()) {
        QRect image(0, 0, side, side);
        image.moveCenter(area.center());
        if (!caption.isEmpty()) {
            image.moveLeft(area.left() + kImageMargin);
            captionArea.setLeft(image.right() + kImageMargin);
        }
        icon.paint(&painter, image.translated(shift), Qt::AlignCenter,
                   isEnabled() ? QIcon::Normal : QIcon::Disabled);
    }
    if (!caption.isEmpty()) {
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::ButtonText));
        painter.drawText(captionArea.translated(shift), Qt::AlignCenter | Qt::TextWordWrap, caption);
    }
}

}  // namespace ui
