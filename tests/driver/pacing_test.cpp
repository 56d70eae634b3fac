#include "driver/pacing.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace driver {
namespace {

struct BandCase {
    const char* name;
    int sw, sh;
    platform::dshow::PixelAspect sourcePixel;
    int tw, th;
    bool stretch;
    PadBands expected;
};

// Into the 4:3 frames of the disc, whose pixels are 8:9 at 720 x 480 and 16:15 at 720 x 576:
// the bands make the picture show in its own displayed proportions.
TEST(PadBands, FitTheSourceIntoTheOutputFrame) {
    constexpr platform::dshow::PixelAspect kSquare{1, 1};
    const BandCase cases[] = {
        {"16:9 into NTSC is letterboxed to 360 rows", 1920, 1080, kSquare, 720, 480, false, {60, 60, 0, 0, true}},
        {"16:9 into PAL is letterboxed to 432 rows", 1920, 1080, kSquare, 720, 576, false, {72, 72, 0, 0, true}},
        {"4:3 square pixels fill the frame", 640, 480, kSquare, 720, 480, false, {0, 0, 0, 0, true}},
        {"wide DV of the frame's size is letterboxed", 720, 480, {32, 27}, 720, 480, false, {60, 60, 0, 0, true}},
        {"square picture is pillarboxed", 480, 480, kSquare, 720, 480, false, {0, 0, 90, 90, true}},
        {"odd band: first takes the odd pixel", 1280, 536, kSquare, 720, 576, false, {128, 126, 0, 0, true}},
        {"unstated pixel shape counts as square", 1920, 1080, {0, 0}, 720, 480, false, {60, 60, 0, 0, true}},
        {"4:3 DV of the frame's size never scales", 720, 480, {8, 9}, 720, 480, false, {0, 0, 0, 0, false}},
        {"same size with stretch", 720, 480, {32, 27}, 720, 480, true, {0, 0, 0, 0, false}},
        {"stretch fills the frame", 1920, 1080, kSquare, 720, 480, true, {0, 0, 0, 0, true}},
        {"a sizeless source gets no bands", 0, 0, kSquare, 720, 480, false, {0, 0, 0, 0, true}},
    };
    for (const BandCase& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::dshow::PixelAspect framePixel =
            c.th == 480 ? platform::dshow::PixelAspect{8, 9} : platform::dshow::PixelAspect{16, 15};
        const PadBands bands =
            ComputePadBands(c.sw, c.sh, c.sourcePixel, c.tw, c.th, framePixel, c.stretch);
        EXPECT_EQ(bands.Top, c.expected.Top);
        EXPECT_EQ(bands.Bottom, c.expected.Bottom);
        EXPECT_EQ(bands.Left, c.expected.Left);
        EXPECT_EQ(bands.Right, c.expected.Right);
        EXPECT_EQ(bands.NeedsScaling, c.expected.NeedsScaling);
        EXPECT_EQ((bands.Top | bands.Bottom | bands.Left | bands.Right) % 2, 0);
    }
}

// Feeds `count` pictures stamped at sourceRate into pacing for an output of num/den and returns
// the state.
PacingState Pace(double sourceRate, int count, uint32_t num, uint32_t den, double offset = 0) {
    PacingState state;
    for (int i = 0; i < count; ++i) PacePicture(state, offset + i / sourceRate, num, den, 0.0);
    return state;
}

TEST(Pacing, HoldsTheOutputRate) {
    // 25 into 29.97: about one picture in five is encoded twice.
    PacingState ntsc = Pace(25.0, 250, 30000, 1001);
    EXPECT_NEAR(ntsc.FramesDelivered, 250 * 30000.0 / 1001 / 25, 2);
    EXPECT_EQ(ntsc.FramesDropped, 0);
    EXPECT_NEAR(ntsc.FramesRepeated, 50, 2);

    // 50 into 25: every other picture goes once the first 13 are through.
    PacingState pal = Pace(50.0, 200, 25, 1);
    EXPECT_NEAR(pal.FramesDelivered, 100, 2);
    EXPECT_NEAR(pal.FramesDropped, 100, 2);

    // Same rate: nothing changes.
    PacingState same = Pace(25.0, 100, 25, 1);
    EXPECT_EQ(same.FramesDelivered, 100);
    EXPECT_EQ(same.FramesDropped + same.FramesRepeated, 0);
}

TEST(Pacing, FirstThirteenPicturesAreNeverDropped) {
    // 50 pictures a second into 25: ahead from the fourth picture on, dropped from the 14th.
    PacingState state;
    for (int i = 0; i < 13; ++i) EXPECT_EQ(PacePicture(state, i / 50.0, 25, 1, 0.0), 1) << i;
    EXPECT_EQ(PacePicture(state, 13 / 50.0, 25, 1, 0.0), 0);
    EXPECT_EQ(state.FramesDropped, 1);
}

TEST(Pacing, GapsAreFilledAndBoundsAreStrict) {
    // A 3 s jump ahead in NTSC: the picture fills the whole gap at once, up to and with the
    // frame at 3 s.
    PacingState jump;
    EXPECT_EQ(PacePicture(jump, 3.0, 30000, 1001, 0.0), 91);
    EXPECT_EQ(jump.FramesRepeated, 90);
    EXPECT_EQ(jump.FramesDelivered, 91);

    // Slide shows paced as the sink paces them: 4 and 1 pictures a second fill their 10 s to
    // the end, and so does a range that ends inside the last slide.
    const struct {
        double rate, range;
    } shows[] = {{4.0, 10.0}, {1.0, 10.0}, {1.0, 9.6}};
    for (const auto& show : shows) {
        PacingState slides;
        for (int i = 0; i / show.rate < show.range; ++i) {
            PacePicture(slides, PacingTime(i / show.rate, 1 / show.rate, show.range, 25, 1), 25, 1,
                        show.range);
        }
        EXPECT_EQ(slides.FramesDelivered, show.range * 25) << show.rate << " " << show.range;
    }

    // Exactly 1.1 pictures behind is left alone (11/10 pictures a second, 1 s in).
    PacingState behind;
    EXPECT_EQ(PacePicture(behind, 1.0, 11, 10, 0.0), 1);
    // Just under 1.1 ahead is left alone; just over it drops.
    PacingState ahead;
    ahead.FramesDelivered = 13;
    EXPECT_EQ(PacePicture(ahead, 11.9, 1, 1, 0.0), 1);
    ahead.FramesDelivered = 13;
    EXPECT_EQ(PacePicture(ahead, 11.8, 1, 1, 0.0), 0);

    // Far ahead of the stamps (a jump backwards): no correction.
    PacingState back;
    back.FramesDelivered = 100;
    EXPECT_EQ(PacePicture(back, 0.0, 25, 1, 0.0), 1);
    EXPECT_EQ(back.FramesDropped, 0);
}

// A gap in the stamps holds a picture up to the range's end at most, and where the length is
// unknown for 5 s; only a hold over 3 s is logged.
TEST(Pacing, HoldsAreBoundedAndLongOnesNoted) {
    const struct {
        double seconds, range;
        int expected;
    } holds[] = {
        {60.0, 6.0, 150},   // 60 s ahead in a 6 s range: to the range's end
        {60.0, 0.0, 125},   // unknown length: 5 s
        {2.0, 6.0, 51},     // a gap within bounds is filled
        {60.0, 0.01, 1},    // a range already over still shows the picture once
    };
    for (const auto& hold : holds) {
        SCOPED_TRACE(::testing::Message() << hold.seconds << " s into a range of " << hold.range);
        PacingState state;
        EXPECT_EQ(PacePicture(state, hold.seconds, 25, 1, hold.range), hold.expected);
        EXPECT_EQ(state.FramesDelivered, hold.expected);
        EXPECT_EQ(state.FramesRepeated, hold.expected - 1);
    }
    PacingState late;
    late.FramesDelivered = 100;  // 4 s of a 6 s range gone: 2 s are left
    EXPECT_EQ(PacePicture(late, 60.0, 25, 1, 6.0), 50);

    EXPECT_EQ(LongHoldNote(7, 60.0, 150, 25, 1),
              "Picture 7 at 60.000 s held for 150 frames (6.0 s): its clip's time stamps leave a gap\n");
    EXPECT_EQ(LongHoldNote(7, 3.0, 75, 25, 1), "");  // 3 s: a slow slide show
    EXPECT_EQ(LongHoldNote(7, 3.0, 75, 0, 1), "");
}

TEST(Pacing, AbsurdStampsDoNotOverflow) {
    PacingState state;
    EXPECT_EQ(PacePicture(state, 1e15, 30000, 1001, 0.0), 149);  // the 5 s an unknown length allows
    EXPECT_EQ(PacePicture(state, 1e15, 30000, 1001, 1e15), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(state.FramesDelivered, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(PacePicture(state, std::nan(""), 30000, 1001, 0.0), 1);
    EXPECT_EQ(PacePicture(state, 1.0, 25, 0, 0.0), 1);  // no rate: no pacing
}

TEST(ClipArithmetic, FramesPercentAndStatusText) {
    EXPECT_EQ(ExpectedFrames(0.0, 10.5, 29.97), 314);
    EXPECT_EQ(ExpectedFrames(5.0, 2.0, 25.0), 0);

    // The timeline counts output frames that start inside the range, whatever the source's rate.
    EXPECT_EQ(TimelineFrames(0.0, 1.52, 30000, 1001), 46);
    EXPECT_EQ(TimelineFrames(0.0, 1.5015, 30000, 1001), 45);  // exactly 45 frame periods
    EXPECT_EQ(TimelineFrames(0.5, 1.2, 25, 1), 18);
    EXPECT_EQ(TimelineFrames(2.0, 2.0, 25, 1), 0);
    EXPECT_EQ(TimelineFrames(0.0, 1.0, 25, 0), 0);
    EXPECT_EQ(TimelineFrames(0.0, 1e300, 25, 1), 0);

    EXPECT_EQ(ClipPercent(5.0, 10.0), 50);
    EXPECT_EQ(ClipPercent(12.0, 10.0), 100);
    EXPECT_EQ(ClipPercent(-1.0, 10.0), 0);
    EXPECT_EQ(ClipPercent(3.0, 0.0), 0);

    EXPECT_EQ(ProgressStatusText(20, 314, 20, 2000),
              "Encoded 20 / 314 frames - 10 FPS - Total time : 0:00:02");
    EXPECT_EQ(ProgressStatusText(10, 0, 12, 3723000),
              "Encoded 10 frames - 0 FPS - Total time : 1:02:03");
    // The first update can come before a millisecond has passed.
    EXPECT_EQ(ProgressStatusText(10, 100, 10, 0),
              "Encoded 10 / 100 frames - 0 FPS - Total time : 0:00:00");
}

}  // namespace
}  // namespace driver
