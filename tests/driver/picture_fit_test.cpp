#include "driver/picture_fit.h"

#include <gtest/gtest.h>

namespace driver {
namespace {

using platform::dshow::BITMAPINFOHEADER;
using platform::dshow::PixelAspect;

constexpr PixelAspect kNtscPixel{8, 9};
constexpr OutputFrame kNtscLetterbox{720, 480, kNtscPixel, false};

BITMAPINFOHEADER Picture(int width, int height, PixelAspect pixel = {1, 1}) {
    BITMAPINFOHEADER header{};
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = 24;
    SetPixelAspect(header, pixel);
    return header;
}

struct AskCase {
    const char* name;
    BITMAPINFOHEADER offered;
    OutputFrame frame;
    int askedWidth, askedHeight;
    int top, bottom, left, right;
};

// The source is asked for the part of the frame inside the bands, and the picture it delivers
// at that size keeps the bands worked out for the offered one: worked out again from the
// scaled picture, a turned phone clip's would come out 208 and 206 and the picture would be
// scaled once more by two pixels.
TEST(PictureFitRequest, AsksForThePictureInsideTheBands) {
    const AskCase cases[] = {
        {"16:9 letterboxed", Picture(1920, 1080), kNtscLetterbox, 720, 360, 60, 60, 0, 0},
        {"turned phone clip pillarboxed", Picture(1080, 1920), kNtscLetterbox, 304, 480, 0, 0, 208, 208},
        {"anamorphic DV letterboxed", Picture(720, 480, {32, 27}), kNtscLetterbox, 720, 360, 60, 60, 0, 0},
        {"stretch fills the frame", Picture(1920, 1080), {720, 480, kNtscPixel, true}, 720, 480, 0, 0, 0, 0},
        {"PAL letterboxed", Picture(1920, 1080), {720, 576, {16, 15}, false}, 720, 432, 72, 72, 0, 0},
    };
    for (const AskCase& c : cases) {
        SCOPED_TRACE(c.name);
        PictureFitRequest request;
        const BITMAPINFOHEADER asked = request.Ask(c.offered, c.frame);
        EXPECT_EQ(asked.biWidth, c.askedWidth);
        EXPECT_EQ(asked.biHeight, c.askedHeight);
        EXPECT_EQ(PixelAspectOf(asked).width, c.frame.Pixel.width);
        EXPECT_EQ(PixelAspectOf(asked).height, c.frame.Pixel.height);

        const core::PictureGeometry g = request.Settle(asked, c.frame);
        EXPECT_EQ(g.SourceWidth, c.askedWidth);
        EXPECT_EQ(g.SourceHeight, c.askedHeight);
        EXPECT_EQ(g.PadTop, c.top);
        EXPECT_EQ(g.PadBottom, c.bottom);
        EXPECT_EQ(g.PadLeft, c.left);
        EXPECT_EQ(g.PadRight, c.right);
        EXPECT_EQ(g.SourceWidth + g.PadLeft + g.PadRight, c.frame.Width);
        EXPECT_EQ(g.SourceHeight + g.PadTop + g.PadBottom, c.frame.Height);
    }
}

// A picture of the frame's own size and shape is taken as it is offered.
TEST(PictureFitRequest, AsksNothingOfAPictureThatFits) {
    PictureFitRequest request;
    const BITMAPINFOHEADER offered = Picture(720, 480, kNtscPixel);
    const BITMAPINFOHEADER asked = request.Ask(offered, kNtscLetterbox);
    EXPECT_EQ(asked.biWidth, 720);
    EXPECT_EQ(asked.biHeight, 480);
    const core::PictureGeometry g = request.Settle(asked, kNtscLetterbox);
    EXPECT_FALSE(g.NeedsScaling);
    EXPECT_EQ(g.PadTop + g.PadBottom + g.PadLeft + g.PadRight, 0);
}

// A source that could not serve the asked size delivers the offered picture, which gets its
// own fit; so does the next clip's picture when nobody asked for it.
TEST(PictureFitRequest, APictureOfAnotherSizeGetsItsOwnFit) {
    PictureFitRequest request;
    const BITMAPINFOHEADER offered = Picture(1920, 1080);
    request.Ask(offered, kNtscLetterbox);
    core::PictureGeometry g = request.Settle(offered, kNtscLetterbox);
    EXPECT_EQ(g.SourceWidth, 1920);
    EXPECT_EQ(g.SourceHeight, 1080);
    EXPECT_EQ(g.PadTop, 60);
    EXPECT_EQ(g.PadBottom, 60);
    EXPECT_TRUE(g.NeedsScaling);

    // The request was used up: a native 720 x 360 square-pixel picture is 2:1, not 16:9.
    g = request.Settle(Picture(720, 360), kNtscLetterbox);
    EXPECT_EQ(g.SourceHeight, 360);
    EXPECT_EQ(g.PadTop, 80);
    EXPECT_EQ(g.PadBottom, 80);
}

}  // namespace
}  // namespace driver
