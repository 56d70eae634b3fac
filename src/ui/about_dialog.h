// Help > About: icon, version, maker and a link to the maker's site. Where the windowing system
// composites windows the box fades in on opening and out on closing.
#pragma once

#include <QDialog>

class QPropertyAnimation;

namespace ui {

class AboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit AboutDlg(QWidget* parent);

    // True when the platform can fade a window (not on the offscreen or minimal platforms).
    static bool CanAnimate();

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPropertyAnimation* Fade(double to);
    bool closing_ = false;
};

}  // namespace ui
