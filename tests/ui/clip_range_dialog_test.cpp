// The clip range dialog over a real preview graph: marks shown, marks turned into the range
// through the clip's own length, and clips the graph cannot play.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "platform/com/class_table.h"
#include "reader/display_turn.h"
#include "ui/clip_range_dialog.h"
#include "ui/control_ids.h"
#include "ui/ui_test_support.h"

namespace {

using ui::ids::Name;

class ClipRangeDialogTest : public ::testing::Test {
protected:
    reader::ClipRecord Probe(double seconds, int rate) {
        const std::string path = temp.File("clip.avi");
        EXPECT_TRUE(ui_test::MakeClip(path, seconds, "64x48", rate, false));
        reader::ClipRecord clip;
        EXPECT_EQ(clip.ReadMediaInfo(path), 0);
        return clip;
    }
    template <typename Control>
    static Control* Find(ui::ClipRangeDlg& dialog, int id) {
        auto* control = dialog.findChild<Control*>(Name(id));
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    // Moves the slider as a click on its groove does, and lets the seek happen.
    static void SlideTo(ui::ClipRangeDlg& dialog, int percent) {
        auto* slider = Find<ui::RangeSlider>(dialog, ui::ids::kPositionSlider);
        slider->setValue(percent - slider->pageStep());
        slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
        ui_test::WaitUntil([] { return false; }, 300);
    }
    static void Click(ui::ClipRangeDlg& dialog, int id) { Find<QPushButton>(dialog, id)->click(); }

    ui_test::TempDir temp;
    ui_test::ScriptedMessageBoxes boxes;
};

TEST_F(ClipRangeDialogTest, OpensOnTheWholeClipAndShowsItsPicture) {
    reader::ClipRecord clip = Probe(90.0, 25);
    ui::ClipRangeDlg dialog(clip, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Seleect source clip range");
    EXPECT_EQ(Find<QLineEdit>(dialog, ui::ids::kStartEdit)->text(), "0:00:00");
    EXPECT_EQ(Find<QLineEdit>(dialog, ui::ids::kEndEdit)->text(), "0:01:30");
    auto* slider = Find<ui::RangeSlider>(dialog, ui::ids::kPositionSlider);
    EXPECT_TRUE(slider->isEnabled());
    EXPECT_EQ(slider->SelectionStart(), 0);
    EXPECT_EQ(slider->SelectionEnd(), 100);
    auto* video = Find<ui::PreviewArea>(dialog, ui::ids::kVideoArea);
    ASSERT_TRUE(ui_test::WaitUntil([&] { return !video->Picture().isNull(); }, 5000));
    EXPECT_EQ(video->Picture().size(), QSize(64, 48));
    dialog.reject();
    EXPECT_EQ(clip.RangeStart, 0.0);
}

// A phone clip stored on its side with a quarter turn clockwise in its display matrix is
// previewed upright: taller than wide, the mark of the stored top left corner at the top right.
TEST_F(ClipRangeDialogTest, PreviewShowsATurnedClipUpright) {
    const std::string path = temp.File("phone.mp4");
    ASSERT_TRUE(ui_test::MakeClip(path, 1.0, "64x48", 25, false, "color=c=black",
                                  ",drawbox=x=0:y=0:w=16:h=8:color=white:t=fill"));
    ASSERT_TRUE(reader_test::SetDisplayTurn(path, {0, 1, -1, 0}));
    reader::ClipRecord clip;
    ASSERT_EQ(clip.ReadMediaInfo(path), 0);
    ui::ClipRangeDlg dialog(clip, nullptr);
    auto* video = Find<ui::PreviewArea>(dialog, ui::ids::kVideoArea);
    ASSERT_TRUE(ui_test::WaitUntil([&] { return !video->Picture().isNull(); }, 5000));
    const QImage& picture = video->Picture();
    ASSERT_EQ(picture.size(), QSize(48, 64));
    EXPECT_GT(qGray(picture.pixel(46, 1)), 128) << "top right";
    EXPECT_LT(qGray(picture.pixel(1, 1)), 128) << "top left";
    dialog.reject();
}

// A wide picture stored with non-square pixels (720 x 576 carrying 16:9, as broadcast TS does)
// is previewed at its shown proportions, not at its stored 5:4.
TEST_F(ClipRangeDialogTest, PreviewShowsNonSquarePixelsAtTheirShownProportions) {
    const std::string path = temp.File("wide.ts");
    ASSERT_TRUE(ui_test::MakeClip(path, 1.0, "180x144", 25, false, "color=c=gray", ",setsar=64/45"));
    reader::ClipRecord clip;
    ASSERT_EQ(clip.ReadMediaInfo(path), 0);
    ui::ClipRangeDlg dialog(clip, nullptr);
    dialog.resize(700, 500);
    auto* video = Find<ui::PreviewArea>(dialog, ui::ids::kVideoArea);
    ASSERT_TRUE(ui_test::WaitUntil([&] { return !video->Picture().isNull(); }, 5000));
    const QRect shown = video->PictureRect();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_NEAR(double(shown.width()) / shown.height(), 16.0 / 9.0, 0.02)
        << shown.width() << "x" << shown.height();
    dialog.reject();
}

// The slider ends at the last picture, which the preview then shows; the end marked there is
// the clip's end.
TEST_F(ClipRangeDialogTest, SliderEndsAtTheLastPicture) {
    const std::string path = temp.File("last.avi");
    ASSERT_TRUE(ui_test::MakeClip(path, 2.0, "64x48", 25, false, "color=c=black",
                                  ",drawbox=x=0:y=0:w=64:h=48:color=white:t=fill:enable='gte(n\\,49)'"));
    reader::ClipRecord clip;
    ASSERT_EQ(clip.ReadMediaInfo(path), 0);
    ASSERT_EQ(clip.FrameCount, 50);
    auto* shownIsWhite = +[](ui::ClipRangeDlg& dialog) {
        const QImage& picture = Find<ui::PreviewArea>(dialog, ui::ids::kVideoArea)->Picture();
        return !picture.isNull() && qGray(picture.pixel(32, 24)) > 128;
    };
    auto* position = +[](ui::ClipRangeDlg& dialog) {
        return Find<QLabel>(dialog, ui::ids::kPositionText)->text().toStdString();
    };
    for (const bool byButton : {false, true}) {
        ui::ClipRangeDlg dialog(clip, nullptr);
        auto* video = Find<ui::PreviewArea>(dialog, ui::ids::kVideoArea);
        ASSERT_TRUE(ui_test::WaitUntil([&] { return !video->Picture().isNull(); }, 5000));
        ASSERT_FALSE(shownIsWhite(dialog));
        if (byButton)
            Click(dialog, ui::ids::kGotoEndButton);
        else
            SlideTo(dialog, 100);
        EXPECT_TRUE(ui_test::WaitUntil([&] { return shownIsWhite(dialog); }, 5000)) << byButton;
        EXPECT_EQ(position(dialog), "Position: 00m:01s (49)") << byButton;
        Click(dialog, ui::ids::kSetEndButton);
        EXPECT_EQ(Find<QLineEdit>(dialog, ui::ids::kEndEdit)->text(), "0:00:02") << byButton;
        dialog.reject();
    }
}

TEST_F(ClipRangeDialogTest, MarksBecomeTheRangeThroughTheClipsOwnLength) {
    reader::ClipRecord clip = Probe(20.0, 25);
    // The record says twice the graph's length: the marks scale by the record.
    clip.VideoLength = 40.0;
    clip.RangeEnd = 40.0;
    ui::ClipRangeDlg dialog(clip, nullptr);

    SlideTo(dialog, 50);
    Click(dialog, ui::ids::kSetStartButton);
    EXPECT_EQ(Find<QLineEdit>(dialog, ui::ids::kStartEdit)->text(), "0:00:20");
    // The picture shown may run a frame or two past the seek before the preview pauses.
    EXPECT_NEAR(Find<ui::RangeSlider>(dialog, ui::ids::kPositionSlider)->SelectionStart(), 50, 1);

    // An end before the start is refused, and the dialog stays open.
    SlideTo(dialog, 20);
    Click(dialog, ui::ids::kSetEndButton);
    dialog.accept();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "The end of the range must lie after its start.");
    EXPECT_EQ(clip.RangeStart, 0.0);
    EXPECT_EQ(clip.RangeEnd, 40.0);

    SlideTo(dialog, 80);
    Click(dialog, ui::ids::kSetEndButton);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_NEAR(clip.RangeStart, 20.0, 0.5);
    EXPECT_NEAR(clip.RangeEnd, 32.0, 0.5);
}

TEST_F(ClipRangeDialogTest, PositionLineCountsWholeMinutesPastSevenMinutes) {
    reader::ClipRecord clip = Probe(600.0, 1);
    ui::ClipRangeDlg dialog(clip, nullptr);
    SlideTo(dialog, 80);
    const QString line = Find<QLabel>(dialog, ui::ids::kPositionText)->text();
    EXPECT_TRUE(line.startsWith("Position: 08m:00s (480)")) << line.toStdString();
    Click(dialog, ui::ids::kRangeDefaultButton);
    EXPECT_EQ(Find<QLineEdit>(dialog, ui::ids::kEndEdit)->text(), "0:10:00");
}

TEST_F(ClipRangeDialogTest, AClipTheGraphCannotPlayKeepsItsRange) {
    reader::ClipRecord clip;
    clip.Path = temp.File("gone.avi");
    clip.VideoLength = 10.0;
    clip.FrameCount = 250;
    clip.RangeStart = 2.0;
    clip.RangeEnd = 8.0;
    ui::ClipRangeDlg dialog(clip, nullptr);
    EXPECT_FALSE(Find<ui::RangeSlider>(dialog, ui::ids::kPositionSlider)->isEnabled());
    for (int id : {ui::ids::kPlayButton, ui::ids::kPauseButton, ui::ids::kStepButton,
                   ui::ids::kStepBackButton, ui::ids::kStopButton, ui::ids::kGotoEndButton,
                   ui::ids::kSetStartButton, ui::ids::kSetEndButton, ui::ids::kRangeDefaultButton})
        Click(dialog, id);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(clip.RangeStart, 2.0);
    EXPECT_EQ(clip.RangeEnd, 8.0);
}

}  // namespace
