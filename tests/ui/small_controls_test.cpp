// The flat button's drawing and the about box.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include "ui/about_dialog.h"
#include "ui/control_ids.h"
#include "ui/flat_button.h"
#include "ui/ui_test_support.h"

namespace {

// A 16 x 16 icon: one red pixel in its top-left corner, the rest transparent.
QIcon MarkerIcon(QColor colour) {
    QPixmap pixmap(ui::kFlatButtonIconSize, ui::kFlatButtonIconSize);
    pixmap.fill(Qt::transparent);
    QPainter(&pixmap).fillRect(0, 0, 1, 1, colour);
    return QIcon(pixmap);
}

// Where the marker pixel ended up, or (-1, -1).
QPoint FindColour(const QImage& image, QColor colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour) return {x, y};
    return {-1, -1};
}

TEST(FlatButton, IconIsCentredMovesWhenPressedAndGreysWhenDisabled) {
    ui::FlatButton button(nullptr);
    button.SetIcon(MarkerIcon(Qt::red));
    button.SetFlat(false);
    button.resize(40, 30);
    const QPoint corner((40 - 16) / 2, (30 - 16) / 2);  // the icon's top left, centred

    EXPECT_EQ(FindColour(button.grab().toImage(), Qt::red), corner);
    button.setDown(true);
    EXPECT_EQ(FindColour(button.grab().toImage(), Qt::red), corner + QPoint(1, 1));
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(FindColour(button.grab().toImage(), Qt::red), QPoint(-1, -1));
}

TEST(FlatButton, OutIconShowsUntilHoveredAndAFlatBorderOnlyWhileHovered) {
    ui::FlatButton button(nullptr);
    button.SetIcon(MarkerIcon(Qt::red), MarkerIcon(Qt::blue));
    button.resize(40, 30);
    const QImage idle = button.grab().toImage();
    EXPECT_NE(FindColour(idle, Qt::blue), QPoint(-1, -1));

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&button, &enter);
    ASSERT_TRUE(button.Hovered());
    const QImage hovered = button.grab().toImage();
    EXPECT_NE(FindColour(hovered, Qt::red), QPoint(-1, -1));
    EXPECT_NE(hovered.pixelColor(0, 0), idle.pixelColor(0, 0));  // the border came

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.Hovered());
    EXPECT_EQ(button.grab().toImage(), idle);
}

TEST(FlatButton, ADoubleClickActsAsTwoPresses) {
    ui::FlatButton button(nullptr);
    button.resize(40, 30);
    button.show();
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    // What the windowing system sends for a double click: the second press arrives as a
    // double-click event.
    const QPointF at(10, 10);
    auto send = [&](QEvent::Type type, Qt::MouseButtons held) {
        QMouseEvent event(type, at, button.mapToGlobal(at), Qt::LeftButton, held, {});
        QCoreApplication::sendEvent(&button, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    EXPECT_EQ(clicks, 2);
}

TEST(AboutBox, ShowsTheVersionAndClosesAtOnceWithoutAnimation) {
    ASSERT_FALSE(ui::AboutDlg::CanAnimate());  // offscreen platform
    for (const bool escape : {false, true}) {
        ui::AboutDlg about(nullptr);
        EXPECT_EQ(about.windowTitle(), "About Lumivane");
        EXPECT_EQ(about.findChild<QLabel*>(ui::ids::Name(ui::ids::kVersionText))->text(),
                  "Lumivane Version 2.11");
        about.show();
        if (escape)
            QTest::keyClick(&about, Qt::Key_Escape);
        else
            about.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        EXPECT_FALSE(about.isVisible()) << escape;
        EXPECT_EQ(about.result(), escape ? QDialog::Rejected : QDialog::Accepted);
    }
}

}  // namespace
