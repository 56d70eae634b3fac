#include "driver/title_clock.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "driver/start_refusals.h"

namespace driver {
namespace {

TEST(PicturesClockLength, CountsThePicturesOnTheNinetyKilohertzClock) {
    const struct {
        int64_t frames, rateNum, rateDen, ticks;
    } cases[] = {
        {0, 30000, 1001, 0},
        {1, 30000, 1001, 3003},
        {45, 30000, 1001, 135135},
        {25, 25, 1, 90000},
        {100, 0, 1, 0},  // no rate yet: nothing to measure by
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PicturesClockLength(c.frames, c.rateNum, c.rateDen), c.ticks) << c.frames;
    }
}

// The next clip's pictures follow the last picture of the one before, however far the packs
// that carried them ran ahead.
TEST(TitleClock, EachClipStartsWhereTheClipsMadeBeforeItEnded) {
    TitleClock clock;
    EXPECT_EQ(clock.BeginClip(1.5), 0);
    clock.SetClipLength(135135);
    clock.ClipMade();
    EXPECT_EQ(clock.BeginClip(2.0), 135135);
    // A clip that failed or was skipped adds nothing: the next one starts at the same place.
    clock.SetClipLength(180000);
    EXPECT_EQ(clock.BeginClip(0.0), 135135);
    clock.SetClipLength(3003);
    clock.ClipMade();
    EXPECT_EQ(clock.ClipStart(), 138138);
    clock.Reset();
    EXPECT_EQ(clock.BeginClip(1.0), 0);
}

TEST(TitleClock, ClipThatWouldRunPastTheEnginesRangeStartsTheClockAgain) {
    TitleClock clock;
    clock.BeginClip(0.0);
    const int64_t ranEarlier = 90000;
    clock.SetClipLength(ranEarlier);
    clock.ClipMade();
    const double roomLeft = double(kTitleClockLimit - ranEarlier) / kTitleClockRate;
    EXPECT_EQ(clock.BeginClip(roomLeft), ranEarlier);  // ends right at the limit
    EXPECT_EQ(clock.BeginClip(roomLeft + 1.0), 0);
    // Whatever the range says, the clock stays an integer of ticks.
    clock.SetClipLength(ranEarlier);
    clock.ClipMade();
    EXPECT_EQ(clock.BeginClip(std::numeric_limits<double>::infinity()), 0);
    clock.SetClipLength(ranEarlier);
    clock.ClipMade();
    EXPECT_EQ(clock.BeginClip(std::nan("")), ranEarlier);  // no length to tell: no restart
}

// Start and the clock count a list alike: its clips' pictures run up to a picture past their
// ranges, and a list that Start accepts right up to the limit still plays on one clock. A clip
// that gave less than its range counts what it gave.
TEST(TitleClock, ListThatStartAcceptsNeverRestartsTheClock) {
    const double limitSeconds = double(kTitleClockLimit) / kTitleClockRate;
    const double third = std::floor(limitSeconds / 3);
    const double ranges[] = {third + 0.3, third - 0.7, limitSeconds - 2 * third + 0.4};
    std::vector<reader::ClipRecord> clips;
    for (double range : ranges) {
        reader::ClipRecord clip;
        clip.RangeEnd = range;
        clips.push_back(clip);
    }
    ASSERT_EQ(ListLengthProblem(clips), "");

    TitleClock clock;
    int64_t expectedStart = 0;
    for (double range : ranges) {
        ASSERT_EQ(clock.BeginClip(range), expectedStart) << range;
        const int64_t length = RangeClockTicks(range) + 3003;  // one NTSC picture more
        clock.SetClipLength(length);
        clock.ClipMade();
        expectedStart += length;
    }
    EXPECT_LT(expectedStart, kEngineClockTicks);

    // One picture's time more, and Start refuses the list that the clock would restart.
    clips.back().RangeEnd += 1001.0 / 30000;
    EXPECT_NE(ListLengthProblem(clips), "");

    clock.Reset();
    clock.BeginClip(limitSeconds);
    clock.SetClipLength(3 * kTitleClockRate);  // the file gave 3 s of it
    clock.ClipMade();
    EXPECT_EQ(clock.BeginClip(limitSeconds - 3.0), 3 * kTitleClockRate);
}

}  // namespace
}  // namespace driver
