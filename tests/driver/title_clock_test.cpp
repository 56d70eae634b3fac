#include "driver/title_clock.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

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
    const double roomLeft = double(kTitleClockLimit - ranEarlier) / kVobClockRate;
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

}  // namespace
}  // namespace driver
