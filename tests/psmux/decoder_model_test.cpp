// The decoder model replayed over the multiplexer's outputs: on the DVD road with every kind
// of sound, and in every format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "decoder_model_replay.h"
#include "media_fixtures.h"
#include "ps_fields.h"
#include "psmux/multiplexer.h"
#include "psmux/program_stream_writer.h"

namespace psmux_test {
namespace {

const std::string kPsmux = std::string(LUMIVANE_BIN_DIR) + "/psmux";

// Runs psmux, which must succeed; what it prints goes to `messages`, and without it the run
// must print nothing.
std::string MuxWith(const std::string& options, const std::vector<std::string>& inputs,
                    std::string* messages = nullptr) {
    const std::string out = NewPath(".mpg");
    std::string command = kPsmux + " " + options + " -o " + Quote(out);
    for (const std::string& input : inputs) command += " " + Quote(input);
    int status = 0;
    const std::string output = Run(command + " 2>&1", &status);
    EXPECT_EQ(status, 0) << command << "\n" << output;
    if (messages != nullptr)
        *messages = output;
    else
        EXPECT_EQ(output, "") << command;
    return out;
}

TEST(DecoderModel, HoldsOnTheDvdRoad) {
    struct Case {
        VideoSpec video;
        std::string audio;
    };
    const Case cases[] = {
        {{false, 8, 2}, Mp2Audio(384, 3)},      {{true, 1, 0}, Ac3Audio(448, 3)},
        {{false, 20, 6}, Ac3Audio(640, 3)},     {{true, 20, 2}, Mp2Audio(384, 3)},
        {{false, 8, 0}, Ac3Audio(640, 3)},      {{true, 8, 6}, Ac3Audio(448, 3)},
        {{false, 8, 2, 1}, DtsAudio(1.5)},      {{false, 8, 2, 1}, WavAudio(16, 2, 1.5)},
        {{true, 8, 2, 1}, WavAudio(24, 2, 1.5)}, {{false, 8, 2, 1}, WavAudio(16, 1, 1.5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(MpegVideo(c.video) + " + " + c.audio);
        const DecoderModelReport report = ReplayDecoderModel(MuxWith("-f 8", {MpegVideo(c.video), c.audio}));
        EXPECT_TRUE(report.Ok()) << report.Summary();
        EXPECT_GT(report.units, 50);
        std::printf("%s\n", report.Summary().c_str());
    }
}

TEST(DecoderModel, HoldsInEveryFormat) {
    struct Case {
        std::string options;
        std::vector<std::string> inputs;
    };
    const std::string video = MpegVideo({false, 8, 2, 1});
    const std::string audio = Mp2Audio(384, 1.5);
    const Case cases[] = {
        {"-f 0", {video, audio}},
        {"-f 0 -b 230", {video, Ac3Audio(448, 1.5)}},
        // Several packets to a pack: time may pass only between packs, and a system header
        // only follows a pack header.
        {"-f 0 -b 230 -p 4 -V", {video, audio}},
        {"-f 0 -p 3 -h", {video, audio}},
        {"-f 1", {VcdVideo(), VcdAudio()}},
        {"-f 2", {VcdVideo(), VcdAudio()}},
        {"-f 3", {video, Ac3Audio(448, 1.5)}},
        {"-f 4", {video, audio}},
        {"-f 5", {video, DtsAudio(1.5)}},
        {"-f 6", {VcdStandardStills(), VcdHighResolutionStills(), StillsSound()}},
        {"-f 7", {SvcdStills(), StillsSound()}},
        {"-f 8", {video, audio}},
        {"-f 9", {video, WavAudio(16, 2, 1.5)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const DecoderModelReport report = ReplayDecoderModel(MuxWith(c.options, c.inputs));
        EXPECT_TRUE(report.Ok()) << report.Summary();
        EXPECT_GT(report.units, 20);
        std::printf("%s\n", report.Summary().c_str());
    }
}

}  // namespace
}  // namespace psmux_test

namespace psmux_test {
namespace {

// The replay itself: a good VOB whose bytes are moved 200 ms later, or whose system headers
// announce a smaller video buffer, breaks the model.
TEST(DecoderModel, ReplayFindsLateAndOverfullBuffers) {
    const std::vector<uint8_t> good = ReadFile(MuxWith("-f 8", {MpegVideo({false, 8, 2}), Mp2Audio(384, 3)}));
    constexpr size_t kSector = 2048;
    constexpr int64_t kDelay = 200 * 27000;
    std::vector<uint8_t> late = good;
    std::vector<uint8_t> small = good;
    for (size_t s = 0; s + kSector <= good.size(); s += kSector) {
        core::WriteMpeg2Scr(late.data() + s + 4, ReadMpeg2Scr(good.data() + s + 4) + kDelay);
        // The video entry of the navigation sectors' system header: 232 KB becomes 32 KB.
        if (StartCode(good.data() + s + 14, 0xBB) && good[s + 26] == 0xB9) small[s + 28] = 32;
    }
    const std::string latePath = NewPath(".vob");
    const std::string smallPath = NewPath(".vob");
    WriteFile(latePath, late);
    WriteFile(smallPath, small);
    const DecoderModelReport lateReport = ReplayDecoderModel(latePath);
    EXPECT_FALSE(lateReport.Ok());
    EXPECT_GT(lateReport.lateUnits, 0);
    EXPECT_NEAR(lateReport.worstLateMs, 200, 60);
    const DecoderModelReport smallReport = ReplayDecoderModel(smallPath);
    ASSERT_EQ(smallReport.errors.size(), 1u) << smallReport.Summary();
    EXPECT_NE(smallReport.errors[0].find("buffer of stream 0xe0 holds"), std::string::npos) << smallReport.Summary();
}

}  // namespace
}  // namespace psmux_test

namespace psmux_test {
namespace {

// Video and LPCM above the DVD's 10.08 Mbit/s cannot reach the decoder in time: the run still
// succeeds, but says how many units are late and by how much, as the replay finds them.
TEST(DecoderModel, LateUnitsAreCountedAndReported) {
    const std::string video = Fixture("ntsc_9M_3.m2v", "-f lavfi -i testsrc=size=720x480:rate=30000/1001 -t 3 "
                                                       "-c:v mpeg2video -g 8 -bf 2 -b:v 9M -minrate 9M -maxrate 9M "
                                                       "-bufsize 1835k -f mpeg2video");
    std::string messages;
    const std::string out = MuxWith("-f 8", {video, WavAudio(24, 2, 3)}, &messages);
    const DecoderModelReport replay = ReplayDecoderModel(out);
    ASSERT_GT(replay.lateUnits, 100) << replay.Summary();
    unsigned counted = 0;
    double latestMs = 0;
    ASSERT_EQ(std::sscanf(messages.c_str(), "psmux: warning: %u access units reach the decoder after their decode "
                                            "time, the latest by %lf ms", &counted, &latestMs), 2)
        << messages;
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
    // The multiplexer counts a unit late when the sector with its last byte ends after its
    // decode time, the replay by that byte itself.
    EXPECT_NEAR(counted, replay.lateUnits, replay.lateUnits * 0.02);
    EXPECT_NEAR(latestMs, replay.worstLateMs, 2.0);
}

}  // namespace
}  // namespace psmux_test
