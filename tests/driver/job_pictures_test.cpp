// Whole jobs over the pictures people bring from phones and HD cameras: on both reading roads
// (the timeline and the plain graph) and both writers, the disc shows what every player shows
// of the clip, upright and in its own colours, as ffmpeg decodes the disc.
#include <array>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "job_fixtures.h"
#include "reader/display_turn.h"

namespace driver {
namespace {

using testing::RecordingBoxes;
using testing::TempFolder;

class JobPictures : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { core::InitLogAtPath(work_ / "Lumivane.log"); }

    // Runs one clip through a job on this test's reading road and the given writer, standard
    // (0 NTSC, 1 PAL); returns the title's VOB.
    std::string RunClip(const std::string& clip, uint32_t direct, uint32_t standard) {
        const std::string output = work_ / ("out" + std::to_string(jobs_++));
        const std::string dvdFolder =
            testing::RunJobInto(output, {testing::ProbeClip(clip)}, [&](core::Settings& settings) {
                settings.UseDES = GetParam();
                settings.DirectVOB = direct;
                settings.Standard = standard;
            }, boxes_);
        return dvdFolder + "/VIDEO_TS/VTS_01_1.VOB";
    }

    TempFolder work_;
    RecordingBoxes boxes_;
    int jobs_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Readers, JobPictures, ::testing::Values(0u, 1u), [](const auto& info) {
    return std::string(info.param ? "Timeline" : "PlainGraph");
});

// The corner of the lit picture that holds the dark mark, looked for a few pixels inside it.
std::string MarkedCorner(const testing::DecodedPicture& gray) {
    const testing::LitExtent lit = testing::LitPictureExtent(gray);
    constexpr int kInset = 6;
    const int left = lit.firstColumn + kInset, right = lit.firstColumn + lit.columns - 1 - kInset;
    const int top = lit.firstRow + kInset, bottom = lit.firstRow + lit.rows - 1 - kInset;
    if (lit.rows <= 2 * kInset || lit.columns <= 2 * kInset) return "no picture";
    const struct {
        const char* name;
        int x, y;
    } corners[] = {{"top left", left, top},
                   {"top right", right, top},
                   {"bottom left", left, bottom},
                   {"bottom right", right, bottom}};
    std::string found;
    for (const auto& corner : corners) {
        if (gray.At(corner.x, corner.y) >= 64) continue;
        found += found.empty() ? corner.name : std::string(" and ") + corner.name;
    }
    return found;
}

// A phone filming upright stores its 1280 x 720 pictures on their side with a turn in the
// display matrix. On the disc the picture stands as every player shows it: an upright 9:16
// picture about 304 columns wide at the full height, centred in the 4:3 frame. The dark mark
// sits in the stored picture's top left corner, so its place on the disc tells the turns
// apart (a quarter turn each way, a half turn, and a mirrored one).
TEST_P(JobPictures, TurnedPhoneClipsStandUpright) {
    testing::ClipCodecs codecs = testing::Mp4Codecs();
    codecs.picture = "color=c=white";
    codecs.pictureFilters = ",drawbox=x=0:y=0:w=320:h=90:color=black:t=fill";
    const std::string stored =
        testing::MakeClip(work_ / "stored.mp4", "1280x720", "30", 48000, 2, 1.0, codecs);
    const struct {
        const char* name;
        reader_test::DisplayTurn turn;
        uint32_t standard;
        int rows, columns;
        const char* mark;
    } cases[] = {
        {"quarter turn clockwise on NTSC", {0, 1, -1, 0}, 0, 480, 304, "top right"},
        {"quarter turn anticlockwise on PAL", {0, -1, 1, 0}, 1, 576, 304, "bottom left"},
        {"half turn on NTSC", {-1, 0, 0, -1}, 0, 360, 720, "bottom right"},
        {"mirrored quarter turn on PAL", {0, -1, -1, 0}, 1, 576, 304, "bottom right"},
    };
    uint32_t direct = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clip = work_ / (std::string("turned") + std::to_string(jobs_) + ".mp4");
        std::filesystem::copy_file(stored, clip);
        ASSERT_TRUE(reader_test::SetDisplayTurn(clip, c.turn));
        const std::string vob = RunClip(clip, direct, c.standard);
        direct ^= 1;
        const testing::DecodedPicture gray = testing::DecodePicture(vob, 0.5, "gray");
        const testing::LitExtent lit = testing::LitPictureExtent(gray);
        EXPECT_NEAR(lit.rows, c.rows, 2);
        EXPECT_NEAR(lit.columns, c.columns, 2);
        EXPECT_NEAR(lit.firstColumn, (720 - c.columns) / 2, 2) << "centred across";
        EXPECT_EQ(MarkedCorner(gray), c.mark);
    }
}

// Colour stripes across a clip, as RGB: green, red and blue as the issue measured them, a
// yellow, mid-grey and white.
struct Stripe {
    const char* name;
    int red, green, blue;
};
constexpr Stripe kStripes[] = {{"green", 42, 188, 44},  {"red", 187, 44, 42},
                               {"blue", 42, 44, 187},   {"yellow", 200, 190, 40},
                               {"mid-grey", 128, 128, 128}, {"white", 230, 230, 230}};
constexpr int kStripeCount = int(std::size(kStripes));

// The lavfi source of a picture of size w x h made of the stripes, side by side.
std::string StripesSource(int width, int height) {
    std::string source = "color=c=black:size=" + std::to_string(width) + "x" + std::to_string(height) +
                         ":rate=30:duration=1,format=rgb24";
    const int stripe = width / kStripeCount;
    for (int k = 0; k < kStripeCount; ++k) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "0x%02x%02x%02x", kStripes[k].red, kStripes[k].green,
                      kStripes[k].blue);
        source += ",drawbox=x=" + std::to_string(k * stripe) + ":y=0:w=" + std::to_string(stripe) +
                  ":h=" + std::to_string(height) + ":color=" + colour + ":t=fill";
    }
    return source;
}

// The RGB of each stripe's middle in a picture decoded from a file with the YUV matrix and
// range given as the scale filter names them.
std::vector<std::array<int, 3>> StripeColours(const std::string& file, const std::string& matrix,
                                              const std::string& range) {
    const testing::DecodedPicture rgb = testing::DecodePicture(
        file, 0.5, "rgb24", "scale=in_color_matrix=" + matrix + ":in_range=" + range);
    std::vector<std::array<int, 3>> colours;
    if (rgb.pixels.empty()) return colours;
    for (int k = 0; k < kStripeCount; ++k) {
        const int x = rgb.width * (2 * k + 1) / (2 * kStripeCount);
        colours.push_back({rgb.At(x, rgb.height / 2, 0), rgb.At(x, rgb.height / 2, 1),
                           rgb.At(x, rgb.height / 2, 2)});
    }
    return colours;
}

// An HD clip's YUV means BT.709 colours (by its own word, or by convention above 576 lines),
// a phone's full-range YUV spans 0 to 255; the disc is standard definition, which players
// decode as BT.601 in video range. Decoded each by its own matrix, the disc's colours match
// the clip's within a few levels, and mid-grey within one.
TEST_P(JobPictures, ColoursSurviveTheTripToStandardDefinition) {
    const struct {
        const char* name;
        const char* size;
        const char* toYuv;     // the filter that makes the clip's YUV from the RGB stripes
        const char* declares;  // what the clip says of its colours
        const char* matrix;    // how the clip is decoded by its own word
        const char* range;
    } cases[] = {
        {"declared BT.709 at 1080 lines", "1920x1080",
         "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p",
         "-colorspace bt709 -color_primaries bt709 -color_trc bt709", "bt709", "tv"},
        {"undeclared at 1080 lines: BT.709", "1920x1080",
         "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p", "", "bt709", "tv"},
        {"full-range BT.601 phone clip", "640x480",
         "scale=out_color_matrix=bt601:out_range=pc,format=yuvj420p",
         "-colorspace smpte170m -color_range pc", "bt601", "pc"},
    };
    uint32_t direct = GetParam();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int width = 0, height = 0;
        ASSERT_EQ(std::sscanf(c.size, "%dx%d", &width, &height), 2);
        const std::string clip = testing::MakeMedia(
            "-f lavfi -i '" + StripesSource(width, height) + "' -vf " + c.toYuv + " " +
                c.declares + " -c:v libx264 -qp 0",
            work_ / (std::string("stripes") + std::to_string(jobs_) + ".mp4"));
        const auto source = StripeColours(clip, c.matrix, c.range);
        const auto disc = StripeColours(RunClip(clip, direct, 0), "bt601", "tv");
        direct ^= 1;
        ASSERT_EQ(source.size(), std::size_t(kStripeCount));
        ASSERT_EQ(disc.size(), std::size_t(kStripeCount));
        for (int k = 0; k < kStripeCount; ++k) {
            const int tolerance = std::string(kStripes[k].name) == "mid-grey" ? 1 : 3;
            for (int channel = 0; channel < 3; ++channel) {
                EXPECT_NEAR(disc[k][channel], source[k][channel], tolerance)
                    << kStripes[k].name << " channel " << "RGB"[channel];
            }
        }
    }
}

// The luma of a file's first video stream as stored, across the middle row at the middle of
// each of the grey stripes.
std::vector<int> StripeLuma(const std::string& file) {
    const testing::DecodedPicture luma = testing::DecodePicture(file, 0.5, "gray", "extractplanes=y");
    std::vector<int> levels;
    if (luma.pixels.empty()) return levels;
    for (int k = 0; k < 3; ++k) levels.push_back(luma.At(luma.width * (2 * k + 1) / 6, luma.height / 2));
    return levels;
}

// Grey-only clips (what a scanner or a monochrome camera writes) mean their levels by their
// range as colour clips do: video-range luma stays on the disc as it is, full-range luma is
// brought into the disc's video range. The clip has the disc frame's size and shape, so that
// its pictures need no scaling on either road.
TEST_P(JobPictures, GreyClipsKeepTheirLevels) {
    constexpr int kLevels[] = {32, 126, 219};
    const std::string stripes = "color=c=black:size=720x480:rate=30:duration=1,format=gray,setsar=8/9,"
                                "geq=lum='if(lt(X,W/3)," + std::to_string(kLevels[0]) + ",if(lt(X,2*W/3)," +
                                std::to_string(kLevels[1]) + "," + std::to_string(kLevels[2]) + "))'";
    uint32_t direct = GetParam();
    for (const bool fullRange : {false, true}) {
        SCOPED_TRACE(fullRange ? "full range" : "video range");
        const std::string clip = testing::MakeMedia(
            "-f lavfi -i \"" + stripes + "\" -c:v ffv1 -pix_fmt gray -color_range " + (fullRange ? "pc" : "tv"),
            work_ / (std::string("grey") + std::to_string(jobs_) + ".mkv"));
        ASSERT_EQ(StripeLuma(clip), std::vector<int>(std::begin(kLevels), std::end(kLevels)));
        const std::vector<int> disc = StripeLuma(RunClip(clip, direct, 0));
        direct ^= 1;
        ASSERT_EQ(disc.size(), std::size(kLevels));
        for (int k = 0; k < 3; ++k) {
            const double expected = fullRange ? 16 + kLevels[k] * 219.0 / 255.0 : kLevels[k];
            EXPECT_NEAR(disc[k], expected, 3) << "stripe of level " << kLevels[k];
        }
    }
}

}  // namespace
}  // namespace driver
