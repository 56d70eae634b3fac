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
    clock.SetClipEnd(135135, 100000);
    clock.ClipMade();
    EXPECT_EQ(clock.BeginClip(2.0), 135135);
    // A clip that failed or was skipped adds nothing: the next one starts at the same place.
    clock.SetClipEnd(180000, 300000);
    EXPECT_EQ(clock.BeginClip(0.0), 135135);
    clock.SetClipEnd(3003, 130000);
    clock.ClipMade();
    EXPECT_EQ(clock.ClipStart(), 138138);
    clock.Reset();
    EXPECT_EQ(clock.BeginClip(1.0), 0);
}

// The multiplexers send a clip's last packs ahead of their pictures: the next clip's first pack
// then waits until the last one has been read, so the system clock never steps back.
TEST(TitleClock, NextClipStartsOnceTheLastPackHasBeenRead) {
    const struct {
        int64_t length, lastPackScr, nextStart;
    } cases[] = {
        {135135, 143000, 143000 + kPackReadTicks},  // the multiplexer's start-up delay
        {135135, 135135 - kPackReadTicks, 135135},  // the last pack read as the pictures end
        {135135, 90000, 135135},
    };
    for (const auto& c : cases) {
        TitleClock clock;
        clock.BeginClip(1.5);
        clock.SetClipEnd(c.length, c.lastPackScr);
        clock.ClipMade();
        EXPECT_EQ(clock.BeginClip(1.5), c.nextStart) << c.lastPackScr;
    }
}

TEST(TitleClock, ClipThatWouldRunPastTheEnginesRangeStartsTheClockAgain) {
    TitleClock clock;
    clock.BeginClip(0.0);
    const int64_t ranEarlier = 90000;
    clock.SetClipEnd(ranEarlier, 0);
    clock.ClipMade();
    const double roomLeft = double(kTitleClockLimit - ranEarlier) / kTitleClockRate;
    EXPECT_EQ(clock.BeginClip(roomLeft), ranEarlier);  // ends right at the limit
    EXPECT_EQ(clock.BeginClip(roomLeft + 1.0), 0);
    // Whatever the range says, the clock stays an integer of ticks.
    clock.SetClipEnd(ranEarlier, 0);
    clock.ClipMade();
    EXPECT_EQ(clock.BeginClip(std::numeric_limits<double>::infinity()), 0);
    clock.SetClipEnd(ranEarlier, 0);
    clock.ClipMade();
    EXPECT_EQ(clock.BeginClip(std::nan("")), ranEarlier);  // no length to tell: no restart
}

}  // namespace
}  // namespace driver
