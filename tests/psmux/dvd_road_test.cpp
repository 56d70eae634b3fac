// The DVD road end to end: RunMultiplexer on ffmpeg-made elementary streams, checked with our
// sector reader and with ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "media_fixtures.h"
#include "platform/progress.h"
#include "psmux/multiplexer.h"
#include "vob_checker.h"

namespace psmux_test {
namespace {

enum class Audio { Mp2, Ac3 };

struct RoadCase {
    VideoSpec video;
    Audio audio;
    int kbps;
};

std::string Describe(const RoadCase& c) {
    std::ostringstream out;
    out << (c.video.pal ? "PAL" : "NTSC") << "_gop" << c.video.gop << "_b" << c.video.bFrames << "_"
        << (c.audio == Audio::Mp2 ? "mp2_" : "ac3_") << c.kbps;
    return out.str();
}

// (pts, dts) in 90 kHz units from ffprobe's "pts,dts" lines; missing values are -1.
std::vector<std::pair<int64_t, int64_t>> Times(const std::vector<std::string>& lines) {
    std::vector<std::pair<int64_t, int64_t>> times;
    for (const std::string& line : lines) {
        size_t comma = line.find(',');
        auto value = [](const std::string& s) { return s == "N/A" || s.empty() ? -1 : std::stoll(s); };
        times.push_back({value(line.substr(0, comma)), value(comma == std::string::npos ? "" : line.substr(comma + 1))});
    }
    return times;
}

class DvdRoad : public ::testing::TestWithParam<RoadCase> {};

TEST_P(DvdRoad, WritesACleanLosslessDvdProgramStream) {
    const RoadCase& c = GetParam();
    const std::string video = MpegVideo(c.video);
    // The audio runs a second longer than the video: the multiplex must keep it up to the
    // video's end and no further.
    const std::string audio = c.audio == Audio::Mp2 ? Mp2Audio(c.kbps, c.video.seconds + 1)
                                                    : Ac3Audio(c.kbps, c.video.seconds + 1);
    const std::string out = NewPath(".vob");
    platform::RecordingProgressTarget progress;
    ASSERT_EQ(0, psmux::RunMultiplexer(out.c_str(), video.c_str(), audio.c_str(), &progress, nullptr));

    const std::vector<uint8_t> es = ReadFile(video);
    const VobReport report = CheckDvdVob(ReadFile(out));
    EXPECT_TRUE(report.Ok()) << report.Summary();
    EXPECT_EQ(report.video, es) << "video payload differs from the input";
    EXPECT_EQ(report.navSectors, CountPictures(es, 1));
    ASSERT_GE(report.scrs.size(), 2u);
    EXPECT_EQ(report.scrs[0], 0);  // the first navigation placeholder
    EXPECT_EQ(report.scrs[1], 43885);  // one sector at 1,260,000 bytes/s later

    const std::string audioCodec = c.audio == Audio::Mp2 ? "mp2" : "ac3";
    EXPECT_EQ(ProbeStreams(out), (std::vector<std::string>{"mpeg2video", audioCodec + "@48000"}));
    EXPECT_TRUE(DecodesCleanly(out));
    EXPECT_EQ(Demux(out, "v", "mpeg2video"), es);

    // Audio: a prefix of the input that reaches the video's end within one frame.
    const std::vector<uint8_t> input = ReadFile(audio);
    const std::vector<uint8_t> demuxed = Demux(out, "a", audioCodec);
    ASSERT_LE(demuxed.size(), input.size());
    EXPECT_TRUE(std::equal(demuxed.begin(), demuxed.end(), input.begin()));
    const int samplesPerFrame = c.audio == Audio::Mp2 ? 1152 : 1536;
    const size_t frameBytes = static_cast<size_t>(c.kbps) * 1000 / 8 * samplesPerFrame / 48000;
    const double frameSeconds = c.video.pal ? 1.0 / 25 : 1001.0 / 30000;
    const double videoSeconds = (CountPictures(es, 1) + CountPictures(es, 2) + CountPictures(es, 3)) * frameSeconds;
    const double framesDue = std::ceil(videoSeconds * 48000 / samplesPerFrame);
    EXPECT_NEAR(static_cast<double>(demuxed.size() / frameBytes), framesDue, 1.0);
    // No frame header straddles two packets: parsers would time that frame by the later one.
    const size_t headerBytes = c.audio == Audio::Mp2 ? 4 : 6;
    for (const PesPacketInfo& p : report.packets) {
        if (p.streamId == 0xE0 || p.payloadSize == 0) continue;
        const size_t end = p.payloadOffset + p.payloadSize;
        const size_t lastStart = (end - 1) / frameBytes * frameBytes;
        if (lastStart >= p.payloadOffset) {
            EXPECT_GE(end - lastStart, headerBytes) << "audio packet in sector " << p.sector;
        }
    }

    // Timestamps: the video's decode times step by one frame, the audio's by one audio frame,
    // and both start together.
    const auto videoTimes = Times(ProbePacketTimes(out, "v"));
    const auto audioTimes = Times(ProbePacketTimes(out, "a"));
    ASSERT_GT(videoTimes.size(), 2u);
    ASSERT_GT(audioTimes.size(), 2u);
    const int64_t frameTicks = c.video.pal ? 3600 : 3003;
    int64_t firstVideoPts = INT64_MAX;
    for (size_t i = 0; i < videoTimes.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(videoTimes[i].second - videoTimes[i - 1].second, frameTicks) << "video packet " << i;
        }
        if (videoTimes[i].first >= 0) firstVideoPts = std::min(firstVideoPts, videoTimes[i].first);
    }
    const int64_t audioStep = samplesPerFrame * 90000 / 48000;
    for (size_t i = 1; i < audioTimes.size(); ++i)
        EXPECT_EQ(audioTimes[i].first - audioTimes[i - 1].first, audioStep) << "audio packet " << i;
    EXPECT_LE(std::llabs(audioTimes.front().first - firstVideoPts), 90);

    for (const auto& message : progress.Messages()) {
        EXPECT_EQ(message.message, platform::PBM_SETPOS);
        EXPECT_EQ(message.lParam, 0);
    }
    const std::vector<int> positions = progress.Positions();
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_GE(positions.back(), 50);
    EXPECT_LE(positions.back(), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, DvdRoad,
    ::testing::Values(RoadCase{{false, 8, 2}, Audio::Mp2, 384}, RoadCase{{true, 1, 0}, Audio::Ac3, 448},
                      RoadCase{{false, 20, 6}, Audio::Ac3, 640}, RoadCase{{true, 20, 2}, Audio::Mp2, 384},
                      RoadCase{{false, 8, 0}, Audio::Ac3, 640}, RoadCase{{true, 8, 6}, Audio::Ac3, 448}),
    [](const ::testing::TestParamInfo<RoadCase>& info) { return Describe(info.param); });

// Every AC-3 packet's sub-stream header counts the frames that start in it and points at the
// first of them; at 640 kbit/s frames (2560 bytes) keep ending on packet boundaries.
TEST(DvdRoadAc3, SubstreamHeadersMatchTheFramesInEachPacket) {
    const std::string video = MpegVideo({false, 8, 2});
    const std::string audio = Ac3Audio(640, 3);
    const std::string out = NewPath(".vob");
    ASSERT_EQ(0, psmux::RunMultiplexer(out.c_str(), video.c_str(), audio.c_str(), nullptr, nullptr));
    const VobReport report = CheckDvdVob(ReadFile(out));
    ASSERT_TRUE(report.Ok()) << report.Summary();
    const size_t frame = 2560;
    int packets = 0;
    int endingWithAFrame = 0;
    for (const PesPacketInfo& p : report.packets) {
        if (p.streamId != 0xBD) continue;
        ++packets;
        if ((p.payloadOffset + p.payloadSize) % frame == 0) ++endingWithAFrame;
        EXPECT_EQ(p.substreamId, 0x80);
        const size_t firstStart = (p.payloadOffset + frame - 1) / frame * frame;
        const size_t end = p.payloadOffset + p.payloadSize;
        const int starting = firstStart < end ? static_cast<int>((end - 1 - firstStart) / frame + 1) : 0;
        EXPECT_EQ(p.frameCount, starting) << "packet in sector " << p.sector;
        if (starting > 0) {
            EXPECT_EQ(p.firstUnitPointer, static_cast<int>(firstStart - p.payloadOffset + 1)) << "sector " << p.sector;
        }
        EXPECT_TRUE(!p.hasPts || starting > 0) << "a timestamp belongs only on a packet where a frame starts";
    }
    EXPECT_GT(packets, 50);
    EXPECT_GT(endingWithAFrame, 0) << "the fixture no longer has a frame that ends with its packet";
}

}  // namespace
}  // namespace psmux_test
