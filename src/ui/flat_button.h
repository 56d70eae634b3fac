// A push button that draws itself: an icon (a second one while hovered or pressed, if given),
// an optional caption to its right, and a 3-D border: raised, or sunken while pressed. In the
// flat look the border shows only while the mouse is over the button.
#pragma once

#include <QIcon>
#include <QPushButton>

namespace ui {

class FlatButton : public QPushButton {
    Q_OBJECT

public:
    explicit FlatButton(QWidget* parent);

    // in shows while hovered or pressed; out (when not null) the rest of the time.
    void SetIcon(const QIcon& in, const QIcon& out = QIcon());
    void SetFlat(bool flat);
    void SetTooltipText(const QString& text, bool activate);

    bool Hovered() const { return hover_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void DrawBorder(QPainter& painter, QRect& area, bool pressed) const;
    const QIcon& IconFor(bool pressed) const;
    void SetHover(bool hover);

    QIcon iconIn_;
    QIcon iconOut_;
    bool flat_ = true;
    bool hover_ = false;
};

// The icon's size on a button: 16 x 16, as the transport buttons use.
constexpr int kFlatButtonIconSize = 16;

}  // namespace ui
