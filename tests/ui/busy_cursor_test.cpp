// The busy cursor: shown only for work that outlasts a moment, until the last piece of it ends,
// and never left behind.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>

#include "ui/busy_cursor.h"
#include "ui/ui_test_support.h"

namespace {

constexpr int kDelayMs = 40;

Qt::CursorShape ShownCursor() {
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor == nullptr ? Qt::ArrowCursor : cursor->shape();
}

void Wait(int ms) { ui_test::WaitUntil([] { return false; }, ms); }

TEST(BusyCursor, ShowsForLongWorkUntilTheLastPieceEnds) {
    ui::BusyIndicator busy(nullptr, kDelayMs);
    busy.Begin();
    EXPECT_FALSE(busy.CursorShown()) << "not for a moment's work";
    Wait(4 * kDelayMs);
    EXPECT_TRUE(busy.CursorShown());
    EXPECT_EQ(ShownCursor(), Qt::BusyCursor);

    busy.Begin();  // a second batch while the first still runs
    busy.End();
    EXPECT_EQ(ShownCursor(), Qt::BusyCursor);
    busy.End();
    EXPECT_FALSE(busy.CursorShown());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    busy.End();  // an unpaired End changes nothing
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(BusyCursor, QuickWorkNeverShowsIt) {
    ui::BusyIndicator busy(nullptr, kDelayMs);
    busy.Begin();
    busy.End();
    Wait(4 * kDelayMs);
    EXPECT_FALSE(busy.CursorShown());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(BusyCursor, WaitAndAnswerCursorsNestAndUnwind) {
    {
        ui::ScopedAnswerCursor none;  // nothing busy: nothing to override
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    {
        ui::ScopedWaitCursor reading;
        EXPECT_EQ(ShownCursor(), Qt::WaitCursor);
        {
            ui::ScopedAnswerCursor question;
            EXPECT_EQ(ShownCursor(), Qt::ArrowCursor);
            EXPECT_NE(QApplication::overrideCursor(), nullptr);
        }
        EXPECT_EQ(ShownCursor(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
