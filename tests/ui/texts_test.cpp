// The texts the window writes: clip times, the clip list's columns and rows, and the settings
// dialog's rows.
#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTableWidget>
#include <cmath>
#include <limits>

#include "ui/clip_list_form.h"
#include "ui/path_text.h"
#include "ui/settings_choices.h"
#include "ui/time_text.h"

namespace {

TEST(ClipTimeText, TruncatesEachPartAndLeavesHoursUnbounded) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.0, "0:00:00"},
        {59.999, "0:00:59"},
        {3725.9, "1:02:05"},
        {360000.0, "100:00:00"},
        // Values no clip should have still give a readable text, never a negative part.
        {-5.0, "0:00:00"},
        {std::nan(""), "0:00:00"},
        {std::numeric_limits<double>::infinity(), "2562047788015215:30:07"},
    };
    for (const auto& c : cases) EXPECT_EQ(ui::FormatClipTime(c.seconds), c.text) << c.seconds;
}

TEST(ClipListTexts, ColumnsAndRowsShowTheClipRecord) {
    ui::ClipListForm form(nullptr);
    const QTableWidget* list = form.List();
    const struct {
        const char* header;
        int width;
    } columns[] = {{"File name", 180}, {"Resolution", 100}, {"Duration", 80},
                   {"Frames", 80},     {"Start", 80},      {"End", 80}};
    ASSERT_EQ(list->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(list->horizontalHeaderItem(c)->text(), columns[c].header);
        EXPECT_EQ(list->columnWidth(c), columns[c].width) << columns[c].header;
    }

    reader::ClipRecord measured;
    measured.Path = "/clips/long.avi";
    measured.Width = 720;
    measured.Height = 576;
    measured.VideoLength = 3725.9;
    measured.FrameCount = (int64_t(1) << 32) + 93147;  // shown by its low 32 bits
    measured.RangeStart = 61.5;
    measured.RangeEnd = 3725.9;
    reader::ClipRecord uncounted = measured;
    uncounted.Path = "/clips/stream.mpg";
    uncounted.FrameCount = 0;
    form.InsertClipRow(measured, -1);
    form.InsertClipRow(uncounted, 0);  // before the first row

    const QStringList rows[] = {
        {"/clips/stream.mpg", "720 x 576", "1:02:05", "NA", "0:01:01", "1:02:05"},
        {"/clips/long.avi", "720 x 576", "1:02:05", "93147", "0:01:01", "1:02:05"},
    };
    ASSERT_EQ(form.RowCount(), 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 6; ++c) EXPECT_EQ(list->item(r, c)->text(), rows[r][c]) << r << "," << c;
    EXPECT_EQ(form.SelectedRow(), -1);  // inserted rows are not selected
}

// A path too long for its room gives up its folder before its name, and the name only when it
// alone does not fit; what is shown always fits.
TEST(ClipListTexts, LongPathsGiveUpTheirFolderFirst) {
    const QFontMetrics metrics{QFont()};
    const QString name = "the drive along the coast.mp4";
    const QString path = "/home/someone/Videos/holidays/2026/" + name;
    const int nameWidth = metrics.horizontalAdvance(name);
    const QString ellipsis(QChar(0x2026));
    const struct {
        int width;
        const char* begins;  // what the shown text starts with
        bool wholeName;
    } cases[] = {
        {metrics.horizontalAdvance(path), "/home/someone/Videos/holidays/2026/", true},
        {nameWidth + metrics.horizontalAdvance("/home/…/2026/"), "/", true},
        {nameWidth + metrics.horizontalAdvance("…"), "…", true},
        {nameWidth / 2, "the", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        const QString shown = ui::ElideFolderFirst(path, metrics, c.width);
        EXPECT_LE(metrics.horizontalAdvance(shown), c.width);
        EXPECT_TRUE(shown.startsWith(c.begins)) << shown.toStdString();
        EXPECT_EQ(shown.endsWith("/" + name) || shown == ellipsis + name, c.wholeName)
            << shown.toStdString();
        if (!c.wholeName) {
            EXPECT_TRUE(shown.endsWith(".mp4")) << shown.toStdString();
        }
    }
}

// A full-HD size fits its column whole.
TEST(ClipListTexts, SizesFitTheirColumn) {
    ui::ClipListForm form(nullptr);
    const QTableWidget* list = form.List();
    reader::ClipRecord clip;
    clip.Path = "/home/someone/Videos/clip.mp4";
    clip.Width = 1920;
    clip.Height = 1080;
    form.InsertClipRow(clip, -1);
    EXPECT_EQ(list->item(0, 1)->text(), "1920 x 1080");
    // What the cell's text, margins included, asks for (public on the view's base only).
    const QAbstractItemView* view = list;
    EXPECT_LE(view->sizeHintForColumn(1), list->columnWidth(1));
}

TEST(SettingsChoices, OfferTheSettingsOwnTables) {
    EXPECT_EQ(ui::FrameSizeChoices(0), (std::vector<std::string>{"352 x 240", "352 x 480",
                                                                 "704 x 480", "720 x 480"}));
    EXPECT_EQ(ui::FrameSizeChoices(1), (std::vector<std::string>{"352 x 288", "352 x 576",
                                                                 "704 x 576", "720 x 576"}));
    const std::vector<uint32_t> mp2 = ui::AudioBitrateChoices(0);
    const std::vector<uint32_t> ac3 = ui::AudioBitrateChoices(1);
    ASSERT_EQ(mp2.size(), 14u);
    EXPECT_EQ(mp2.front(), 32u);
    EXPECT_EQ(mp2.back(), 384u);
    ASSERT_EQ(ac3.size(), 19u);
    EXPECT_EQ(ac3[1], 40u);
    EXPECT_EQ(ac3.back(), 640u);
    // GOPs past the standard's limit would be encoded at the limit: not offered.
    EXPECT_EQ(ui::GopSizeChoices(0).size(), 18u);
    EXPECT_EQ(ui::GopSizeChoices(1).size(), 15u);
    EXPECT_EQ(ui::GopSizeChoices(1).front(), 1);
    EXPECT_EQ(ui::GopSizeChoices(1).back(), 15);
}

}  // namespace
