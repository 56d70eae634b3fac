// The MPEG-2 elementary stream as ffmpeg and ffprobe read it back.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "core/log.h"
#include "core/output_writer.h"
#include "core/video_encoder.h"
#include "encoder_test_support.h"

namespace {

using namespace encoder_test;

// Encodes `pictures` (each with its repeat count) into path; returns the encoder's error.
std::string EncodeFile(const core::FixedEncoderHost& host, const std::string& path,
                       const std::vector<std::pair<const TestPicture*, int>>& pictures,
                       int rowBytes = 0) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return "cannot create " + path;
    core::VideoEncoder encoder(&host);
    encoder.SetOutputFile(&file);
    if (encoder.Open(&host) == 1) {
        for (const auto& [picture, repeat] : pictures)
            if (encoder.EncodeFrame(picture->bottomUpBgr.data(), repeat, rowBytes) != 0) break;
        encoder.Finish();
    }
    std::fclose(file);
    return encoder.Error();
}

std::vector<std::pair<const TestPicture*, int>> Repeated(const TestPicture& picture, int count) {
    return std::vector<std::pair<const TestPicture*, int>>(count, {&picture, 1});
}

struct SizeCase {
    int standard, resolutionIndex;
    const char* sampleAspect;
};

class FrameSizes : public ::testing::TestWithParam<SizeCase> {};

// Every frame size of both standards: Main profile at Main level, the settings' size and rate,
// a 4:3 display, and every picture given comes out, repeats and B-reordered tail included.
TEST_P(FrameSizes, StreamIsDvdMpeg2AtFourByThree) {
    const SizeCase& c = GetParam();
    TempDir dir;
    auto host = MakeHost(c.standard, c.resolutionIndex);
    const TestPicture card = MakeTestCard(host.settings.OutputWidth, host.settings.OutputHeight);
    const std::string path = dir.File("v.m2v");
    // 4 + 3 + 1 + 2 = 10 pictures: the last ones are held back by B-picture reordering.
    ASSERT_EQ(EncodeFile(host, path, {{&card, 4}, {&card, 3}, {&card, 1}, {&card, 2}}), "");

    const VideoCheck check = CheckVideo(path);
    EXPECT_EQ(check.errors, "");
    EXPECT_EQ(check.pictures, 10);
    const std::string size = std::to_string(host.settings.OutputWidth) + "\n" +
                             std::to_string(host.settings.OutputHeight);
    // ffprobe prints the entries in its own order, whatever order they are asked in.
    EXPECT_EQ(Probe(path, "v",
                    "codec_name,profile,width,height,sample_aspect_ratio,display_aspect_ratio,"
                    "level,r_frame_rate"),
              "mpeg2video\nMain\n" + size + "\n" + c.sampleAspect + "\n4:3\n8\n" +
                  (c.standard == 0 ? "30000/1001" : "25/1"));
}

INSTANTIATE_TEST_SUITE_P(Encoder, FrameSizes,
                         ::testing::Values(SizeCase{0, 0, "10:11"}, SizeCase{0, 1, "20:11"},
                                           SizeCase{0, 2, "10:11"}, SizeCase{0, 3, "8:9"},
                                           SizeCase{1, 0, "12:11"}, SizeCase{1, 1, "24:11"},
                                           SizeCase{1, 2, "12:11"}, SizeCase{1, 3, "16:15"}));

// The picture types in display order, one letter each.
std::string PictureTypes(const std::string& path) {
    std::string types = Run("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type "
                            "-of default=noprint_wrappers=1:nokey=1 '" +
                            path + "'")
                            .output;
    types.erase(std::remove(types.begin(), types.end(), '\n'), types.end());
    return types;
}

// GOPs as the stream carries them: B-pictures shown just before an I-picture are coded after
// it, inside its GOP (open GOPs), so a GOP in display order starts at that run of B-pictures.
std::vector<size_t> GopLengths(const std::string& types) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < types.size(); ++i) {
        if (types[i] != 'I') continue;
        size_t start = i;
        while (start > 0 && types[start - 1] == 'B') --start;
        starts.push_back(start);
    }
    std::vector<size_t> lengths;
    for (size_t k = 0; k < starts.size(); ++k)
        lengths.push_back((k + 1 < starts.size() ? starts[k + 1] : types.size()) - starts[k]);
    return lengths;
}

// Writes `count` pictures into a VOB through the direct writer; returns its error.
std::string WriteVob(const core::FixedEncoderHost& host, const std::string& path,
                     const TestPicture& picture, int count) {
    core::OutputWriter writer(&host);
    if (core::ConfigureVobWriter(writer, host, path.c_str()) == 0)
        for (int i = 0; i < count && writer.WriteVideo(picture.bottomUpBgr.data(), 1); ++i) {
        }
    writer.Close();
    return writer.Error();
}

// Every GOP but a clip's last is exactly as long as set, on both roads: the elementary stream's
// open GOPs (counted from the B-pictures shown before their I-picture) and the direct VOB's
// closed ones. A GOP is at most 18 pictures on NTSC and 15 on PAL, and a run of B-pictures
// shorter than the GOP (a closed GOP also ends on a P-picture, so its runs are two shorter).
TEST(VideoEncoder, GopsAreExactlyAsLongAsSetWithinTheDvdLimits) {
    const struct {
        uint32_t standard, gopIndex, bIndex;
        size_t gop, bRun;
        const char* logged;  // what the log says of the change, if anything
    } kCases[] = {
        {0, 7, 2, 8, 2, nullptr},
        {0, 5, 0, 6, 0, nullptr},
        {0, 11, 3, 12, 3, nullptr},
        {0, 17, 2, 18, 2, nullptr},
        {1, 14, 2, 15, 2, nullptr},
        {0, 19, 2, 18, 2, "GOP of 20 pictures lowered to the DVD limit of 18 for NTSC"},
        {1, 19, 3, 15, 3, "GOP of 20 pictures lowered to the DVD limit of 15 for PAL"},
        {0, 2, 6, 3, 2, "6 B-pictures in a row lowered to 2, so that a GOP of 3 pictures holds them"},
    };
    const int kPictures = 60;
    TempDir dir;
    core::InitLogAtPath(dir.File("Lumivane.log"));
    const TestPicture card = MakeTestCard(352, 240);
    for (const auto& c : kCases) {
        for (bool direct : {false, true}) {
            SCOPED_TRACE(testing::Message() << (direct ? "direct VOB" : "elementary stream")
                                            << ", standard " << c.standard << ", GOP index "
                                            << c.gopIndex << ", B index " << c.bIndex);
            auto host = MakeHost(c.standard, 0);
            host.settings.GOPSizeIndex = c.gopIndex;
            host.settings.BFramesIndex = c.bIndex;
            host.picture.SourceWidth = 352;
            host.picture.SourceHeight = 240;
            host.picture.NeedsScaling = c.standard != 0;
            host.audio = {0, 0};
            const std::string path = dir.File(direct ? "gop.vob" : "gop.m2v");
            ASSERT_EQ(direct ? WriteVob(host, path, card, kPictures)
                             : EncodeFile(host, path, Repeated(card, kPictures)),
                      "");
            const std::string types = PictureTypes(path);
            ASSERT_EQ(types.size(), size_t{kPictures}) << types;
            const std::vector<size_t> lengths = GopLengths(types);
            ASSERT_EQ(lengths.size(), (kPictures + c.gop - 1) / c.gop) << types;
            for (size_t k = 0; k + 1 < lengths.size(); ++k) EXPECT_EQ(lengths[k], c.gop) << types;
            size_t longestB = 0, run = 0;
            for (char t : types) longestB = std::max(longestB, run = t == 'B' ? run + 1 : 0);
            const size_t closedRun = c.gop >= 2 ? std::min(c.bRun, c.gop - 2) : 0;
            EXPECT_EQ(longestB, direct ? closedRun : c.bRun) << types;
            if (c.logged) {
                std::ifstream in(core::LogPath());
                const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                EXPECT_NE(log.find(c.logged), std::string::npos) << log;
            }
        }
    }
}

TEST(VideoEncoder, BottomUpCardComesOutUpright) {
    TempDir dir;
    auto host = MakeHost();
    host.settings.Bitrate = 8000;
    const TestPicture card = MakeTestCard(720, 480);
    const std::string path = dir.File("card.m2v");
    ASSERT_EQ(EncodeFile(host, path, Repeated(card, 3)), "");
    const std::string rgb = Decode(path, "-frames:v 1 -f rawvideo -pix_fmt rgb24");
    ASSERT_EQ(rgb.size(), card.uprightRgb.size());
    EXPECT_GE(
        Psnr(reinterpret_cast<const uint8_t*>(rgb.data()), card.uprightRgb.data(), rgb.size()),
        30.0);
}

// Each picture reaches the stream as it was given, in order, although the encoder still holds
// earlier ones for B-picture reordering while later ones are converted.
TEST(VideoEncoder, HeldPicturesAreNotOverwrittenByLaterOnes) {
    TempDir dir;
    auto host = MakeHost(0, 0);
    host.settings.Bitrate = 4000;
    std::vector<TestPicture> pictures;
    for (int i = 0; i < 12; ++i)
        pictures.push_back(MakePicture(352, 240, [i](int x, int) {
            return x >= 20 + 24 * i && x < 36 + 24 * i ? Rgb{235, 235, 235} : Rgb{20, 20, 20};
        }));
    std::vector<std::pair<const TestPicture*, int>> sequence;
    for (const TestPicture& picture : pictures) sequence.push_back({&picture, 1});
    const std::string path = dir.File("order.m2v");
    ASSERT_EQ(EncodeFile(host, path, sequence), "");
    const std::string gray = Decode(path, "-f rawvideo -pix_fmt gray");
    ASSERT_EQ(gray.size(), 352u * 240 * 12);
    for (int i = 0; i < 12; ++i) {
        const auto* row = reinterpret_cast<const uint8_t*>(gray.data()) + (i * 240 + 120) * 352;
        int first = -1;
        for (int x = 0; x < 352 && first < 0; ++x)
            if (row[x] > 128) first = x;
        EXPECT_NEAR(first, 20 + 24 * i, 2) << "picture " << i;
    }
}

// Crop bands are cut from the upright picture: the top band is the first rows seen, although
// it is stored last.
TEST(VideoEncoder, CropBandsCutTheUprightPicture) {
    TempDir dir;
    auto host = MakeHost(0, 3);
    host.settings.Bitrate = 8000;
    core::PictureGeometry& g = host.picture;
    g.SourceWidth = 760;
    g.SourceHeight = 540;
    g.CropTop = 60;
    g.CropLeft = 40;
    // Red above and left of the part kept, which is the test card.
    const TestPicture card = MakeTestCard(720, 480);
    const TestPicture source = MakePicture(760, 540, [&](int x, int y) {
        if (x < 40 || y < 60) return Rgb{255, 0, 0};
        const uint8_t* p = card.uprightRgb.data() + ((y - 60) * 720 + (x - 40)) * 3;
        return Rgb{p[0], p[1], p[2]};
    });
    const std::string path = dir.File("crop.m2v");
    ASSERT_EQ(EncodeFile(host, path, Repeated(source, 3)), "");
    const std::string rgb = Decode(path, "-frames:v 1 -f rawvideo -pix_fmt rgb24");
    ASSERT_EQ(rgb.size(), card.uprightRgb.size());
    EXPECT_GE(
        Psnr(reinterpret_cast<const uint8_t*>(rgb.data()), card.uprightRgb.data(), rgb.size()),
        30.0);
}

// A source of another shape fitted into the frame: the bands carry exactly the pad colour
// (every luma sample, and every chroma sample of a block that lies wholly in a band) and the
// picture between them is the source, upright.
TEST(VideoEncoder, PadBandsHoldThePadColour) {
    const struct {
        const char* name;
        int sourceWidth, sourceHeight, padTop, padBottom, padLeft, padRight;
    } kCases[] = {
        {"letterbox", 720, 384, 48, 48, 0, 0},
        {"pillarbox", 640, 480, 0, 0, 40, 40},
    };
    for (const auto& c : kCases) {
        TempDir dir;
        auto host = MakeHost();
        host.settings.Bitrate = 8000;
        core::PictureGeometry& g = host.picture;
        g.SourceWidth = c.sourceWidth;
        g.SourceHeight = c.sourceHeight;
        g.PadTop = c.padTop;
        g.PadBottom = c.padBottom;
        g.PadLeft = c.padLeft;
        g.PadRight = c.padRight;
        g.NeedsScaling = true;
        g.PadY = 80;
        g.PadU = 100;
        g.PadV = 170;
        const TestPicture card = MakeTestCard(c.sourceWidth, c.sourceHeight);
        const std::string path = dir.File("box.m2v");
        ASSERT_EQ(EncodeFile(host, path, Repeated(card, 3)), "") << c.name;

        const std::string yuv = Decode(path, "-frames:v 1 -f rawvideo -pix_fmt yuv420p");
        ASSERT_EQ(yuv.size(), 720u * 480 * 3 / 2) << c.name;
        const auto* y = reinterpret_cast<const uint8_t*>(yuv.data());
        const uint8_t* u = y + 720 * 480;
        const uint8_t* v = u + 360 * 240;
        const auto inBand = [&](int x, int row, int scale, int block) {
            const auto whole = [block](int band) { return band / block * block; };
            return row < whole(c.padTop / scale) ||
                   row >= 480 / scale - whole(c.padBottom / scale) ||
                   x < whole(c.padLeft / scale) || x >= 720 / scale - whole(c.padRight / scale);
        };
        int wrongLuma = 0, wrongChroma = 0;
        for (int row = 0; row < 480; ++row)
            for (int x = 0; x < 720; ++x)
                if (inBand(x, row, 1, 1)) wrongLuma += y[row * 720 + x] != 80;
        for (int row = 0; row < 240; ++row)
            for (int x = 0; x < 360; ++x)
                if (inBand(x, row, 2, 8))
                    wrongChroma += u[row * 360 + x] != 100 || v[row * 360 + x] != 170;
        EXPECT_EQ(wrongLuma, 0) << c.name;
        EXPECT_EQ(wrongChroma, 0) << c.name;

        const std::string crop = "crop=" + std::to_string(c.sourceWidth) + ":" +
                                 std::to_string(c.sourceHeight) + ":" + std::to_string(c.padLeft) +
                                 ":" + std::to_string(c.padTop);
        const std::string rgb =
            Decode(path, "-frames:v 1 -vf " + crop + " -f rawvideo -pix_fmt rgb24");
        ASSERT_EQ(rgb.size(), card.uprightRgb.size()) << c.name;
        EXPECT_GE(
            Psnr(reinterpret_cast<const uint8_t*>(rgb.data()), card.uprightRgb.data(), rgb.size()),
            30.0)
            << c.name;
    }
}

// 854 pixels make 2,562 bytes, stored as 2,564: reading rows 2,562 bytes apart would slant a
// vertical bar by hundreds of pixels over the picture.
TEST(VideoEncoder, PaddedRowsOfAWideSourceAreNotSheared) {
    TempDir dir;
    auto host = MakeHost();
    host.settings.Bitrate = 8000;
    core::PictureGeometry& g = host.picture;
    g.SourceWidth = 854;
    g.SourceHeight = 480;
    g.PadTop = 38;
    g.PadBottom = 36;
    g.NeedsScaling = true;
    const TestPicture bar = MakePicture(854, 480, [](int x, int) {
        return x >= 400 && x < 460 ? Rgb{235, 235, 235} : Rgb{20, 20, 20};
    });
    const std::string path = dir.File("wide.m2v");
    ASSERT_EQ(EncodeFile(host, path, Repeated(bar, 2)), "");
    const std::string gray = Decode(path, "-frames:v 1 -f rawvideo -pix_fmt gray");
    ASSERT_EQ(gray.size(), 720u * 480);
    // The bar spans 400..460 of 854, so 337..388 of 720 after scaling.
    for (int row = 50; row < 430; row += 20) {
        const auto* line = reinterpret_cast<const uint8_t*>(gray.data()) + row * 720;
        int first = -1, last = -1;
        for (int x = 0; x < 720; ++x)
            if (line[x] > 128) (first < 0 ? first : last) = x, last = x;
        EXPECT_NEAR(first, 337, 3) << "row " << row;
        EXPECT_NEAR(last, 387, 3) << "row " << row;
    }
}

// Rates that FFmpeg would refuse as written (fixed quantiser, average below the minimum or
// above the maximum, beyond the DVD ceiling), at both rate-control types, make streams that
// decode clean; the one rate that cannot be honoured is refused with a reason.
TEST(VideoEncoder, AwkwardRatesEncodeOrAreRefused) {
    TempDir dir;
    const TestPicture card = MakeTestCard(352, 240);
    const struct {
        uint32_t type, bitrate, maxBitrate, minBitrate;  // kbit/s
        const char* refusal;                             // null: must encode
    } kCases[] = {
        {0, 0, 8000, 1200, "constant video bit-rate of 0"},
        {1, 0, 8000, 1200, nullptr},
        {0, 1, 8000, 1200, nullptr},
        {1, 8, 8000, 1200, nullptr},
        {0, 31, 8000, 1200, nullptr},
        {1, 32, 8000, 1200, nullptr},
        {0, 1000, 8000, 1200, nullptr},
        {1, 1000, 8000, 1200, nullptr},
        {1, 9000, 8000, 1200, nullptr},
        {0, 15000, 20000, 1200, nullptr},
        {1, 15000, 20000, 1200, nullptr},
        {1, 4000, 2000, 6000, nullptr},
    };
    for (const auto& c : kCases) {
        auto host = MakeHost(0, 0);
        host.settings.BitrateType = c.type;
        host.settings.Bitrate = c.bitrate;
        host.settings.MaxBitrate = c.maxBitrate;
        host.settings.MinBitrate = c.minBitrate;
        const std::string path = dir.File("rate.m2v");
        const std::string what =
            std::to_string(c.bitrate) + " kbit/s, type " + std::to_string(c.type);
        const std::string error = EncodeFile(host, path, Repeated(card, 12));
        if (c.refusal) {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << what << ": " << error;
            continue;
        }
        ASSERT_EQ(error, "") << what;
        const VideoCheck check = CheckVideo(path);
        EXPECT_EQ(check.errors, "") << what;
        EXPECT_EQ(check.pictures, 12) << what;
    }
}

// Mean luma of the centre quarter of each decoded picture, in display order.
std::vector<double> CentreLevels(const std::string& path, int width, int height) {
    const std::string luma = Decode(path, "-vf crop=iw/2:ih/2 -f rawvideo -pix_fmt gray");
    const size_t area = static_cast<size_t>(width / 2) * (height / 2);
    std::vector<double> levels;
    for (size_t at = 0; at + area <= luma.size(); at += area) {
        double sum = 0;
        for (size_t i = 0; i < area; ++i) sum += static_cast<uint8_t>(luma[at + i]);
        levels.push_back(sum / area);
    }
    return levels;
}

// A fast fade (flat grey, 8 luma levels a picture) at the default variable rate, on PAL. The
// two B-pictures between anchors three pictures apart are 4 levels away from their anchors'
// mean, so a B-picture whose residual is quantised away shows a level 4 off; every picture
// keeps its level within 2 of what the finest quantiser makes of it, on both roads.
TEST(VideoEncoder, FastFadeKeepsTheLevelOfEveryPicture) {
    constexpr int kWidth = 720, kHeight = 576, kPictures = 25;
    std::vector<TestPicture> fade;
    for (int n = 0; n < kPictures; ++n) {
        const auto grey = static_cast<uint8_t>(std::lround(8 * n * 255.0 / 219));
        fade.push_back(MakePicture(kWidth, kHeight, [grey](int, int) { return Rgb{grey, grey, grey}; }));
    }
    TempDir dir;
    const auto encode = [&](uint32_t bitrate, bool direct) {
        auto host = MakeHost(1, 3);
        host.settings.Bitrate = bitrate;
        const std::string path = dir.File(direct ? "fade.vob" : "fade.m2v");
        if (direct) {
            core::OutputWriter writer(&host);
            if (core::ConfigureVobWriter(writer, host, path.c_str()) == 0)
                for (const TestPicture& picture : fade)
                    if (!writer.WriteVideo(picture.bottomUpBgr.data(), 1)) break;
            writer.Close();
            EXPECT_EQ(writer.Error(), "");
        } else {
            std::vector<std::pair<const TestPicture*, int>> pictures;
            for (const TestPicture& picture : fade) pictures.emplace_back(&picture, 1);
            EXPECT_EQ(EncodeFile(host, path, pictures), "");
        }
        return CentreLevels(path, kWidth, kHeight);
    };
    const std::vector<double> finest = encode(1, false);  // a fixed quantiser of 1
    ASSERT_EQ(finest.size(), static_cast<size_t>(kPictures));
    for (bool direct : {false, true}) {
        const std::vector<double> levels = encode(2400, direct);
        ASSERT_EQ(levels.size(), finest.size()) << (direct ? "direct VOB" : "elementary stream");
        for (size_t i = 0; i < levels.size(); ++i)
            EXPECT_NEAR(levels[i], finest[i], 2.0)
                << (direct ? "direct VOB" : "elementary stream") << ", picture " << i;
    }
}

// The quantiser of every macroblock, as the decoder's debug output prints it (two digits per
// macroblock: the quantiser scale, twice the code on MPEG-2's linear scale).
std::set<std::string> MacroblockQuantisers(const std::string& path) {
    std::istringstream lines(
        Run("ffmpeg -nostdin -v debug -debug qp -i '" + path + "' -f null - 2>&1").output);
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        const size_t text = line.find("] ");
        if (line.rfind("[mpeg2video", 0) != 0 || text == std::string::npos) continue;
        const std::string row = line.substr(text + 2);
        if (row.empty() || row.size() % 2 ||
            row.find_first_not_of("0123456789 ") != std::string::npos)
            continue;
        for (size_t i = 0; i < row.size(); i += 2) seen.insert(row.substr(i, 2));
    }
    return seen;
}

TEST(VideoEncoder, TinyRatesCodeEveryMacroblockWithThatQuantiser) {
    TempDir dir;
    const TestPicture card = MakeTestCard(720, 480);
    for (uint32_t q : {8u, 31u}) {
        auto host = MakeHost();
        host.settings.Bitrate = q;
        const std::string path = dir.File("q.m2v");
        ASSERT_EQ(EncodeFile(host, path, Repeated(card, 6)), "");
        EXPECT_EQ(MacroblockQuantisers(path), std::set<std::string>{std::to_string(2 * q)});
    }
}

TEST(VideoEncoder, FailuresAreReported) {
    TempDir dir;
    const TestPicture card = MakeTestCard(720, 480);
    {
        // A full disk: the write fails, the encoder says so and refuses further work.
        auto host = MakeHost();
        std::FILE* full = std::fopen("/dev/full", "wb");
        ASSERT_NE(full, nullptr);
        core::VideoEncoder encoder(&host);
        encoder.SetOutputFile(&full);
        ASSERT_EQ(encoder.Open(&host), 1) << encoder.Error();
        int failures = 0;
        for (int i = 0; i < 10; ++i) failures += encoder.EncodeFrame(card.bottomUpBgr.data(), 1);
        failures += encoder.Finish();
        EXPECT_GT(failures, 0);
        EXPECT_NE(encoder.Error().find("No space"), std::string::npos) << encoder.Error();
        std::fclose(full);
    }
    {
        auto host = MakeHost();
        core::VideoEncoder encoder(&host);
        EXPECT_EQ(encoder.EncodeFrame(card.bottomUpBgr.data(), 1), 1);  // not opened
        EXPECT_FALSE(encoder.Error().empty());
    }
    {
        auto host = MakeHost();
        host.picture.PadTop = host.picture.PadBottom = 240;  // nothing left to show
        core::VideoEncoder encoder(&host);
        EXPECT_EQ(encoder.Open(&host), 0);
        EXPECT_NE(encoder.Error().find("pad"), std::string::npos) << encoder.Error();
    }
    {
        auto host = MakeHost();
        host.settings.FrameRateNum = 0;
        core::VideoEncoder encoder(&host);
        EXPECT_EQ(encoder.Open(&host), 0);
        EXPECT_FALSE(encoder.Error().empty());
    }
    {
        auto host = MakeHost();
        std::FILE* file = std::fopen(dir.File("short.m2v").c_str(), "wb");
        core::VideoEncoder encoder(&host);
        encoder.SetOutputFile(&file);
        ASSERT_EQ(encoder.Open(&host), 1);
        EXPECT_EQ(encoder.EncodeFrame(card.bottomUpBgr.data(), 1, 720 * 3 - 1), 1);  // short rows
        std::fclose(file);
    }
}

}  // namespace
