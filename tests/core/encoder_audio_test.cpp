// MP2 and AC-3 elementary streams as ffmpeg decodes them.
#include <cstdio>

#include "core/audio_encoder.h"
#include "encoder_test_support.h"

namespace {

using namespace encoder_test;

struct AudioCase {
    const char* name;
    uint32_t audioFormat;  // 0 MP2, 1 AC-3
    int sampleRate;
    int channels;
    int frameSamples;  // per channel
};

class AudioStreams : public ::testing::TestWithParam<AudioCase> {};

// Whatever the source rate, the stream is 48 kHz with the source's channels, and no sound is
// lost at the end: the decoded length is within one codec frame of the input.
TEST_P(AudioStreams, StreamIs48kHzAndKeepsItsTail) {
    const AudioCase& c = GetParam();
    TempDir dir;
    auto host = MakeHost();
    host.settings.AudioFormat = c.audioFormat;
    host.settings.AudioKbps = c.channels == 1 ? 192 : 384;
    host.audio = {c.channels, c.sampleRate};
    const int inputSamples = c.sampleRate + c.sampleRate / 3;  // 1.33 s, no whole frame count
    const std::vector<int16_t> tone = MakeTone(c.sampleRate, c.channels, inputSamples);

    const std::string path = dir.File(c.audioFormat == 0 ? "a.mp2" : "a.ac3");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    core::JobAudioEncoder encoder(&host);
    encoder.SetOutputFile(&file);
    ASSERT_EQ(encoder.Open(), 0) << encoder.Error();
    // Blocks of an odd number of values: stereo samples split across calls.
    const int block = 1001;
    for (size_t at = 0; at < tone.size(); at += block)
        ASSERT_EQ(encoder.EncodeSamples(tone.data() + at, static_cast<int>(std::min<size_t>(
                                                              block, tone.size() - at))),
                  0)
            << encoder.Error();
    ASSERT_EQ(encoder.Finish(), 0) << encoder.Error();
    std::fclose(file);

    EXPECT_EQ(DecodeErrors(path), "");
    EXPECT_EQ(
        Probe(path, "a", "codec_name,sample_rate,channels"),
        std::string(c.audioFormat == 0 ? "mp2" : "ac3") + "\n48000\n" + std::to_string(c.channels));

    const std::string pcm = Decode(path, "-f s16le", "a");
    const int64_t decoded = static_cast<int64_t>(pcm.size()) / 2 / c.channels;
    const int64_t expected = int64_t{inputSamples} * 48000 / c.sampleRate;
    EXPECT_GE(decoded, expected);
    EXPECT_LE(decoded, expected + c.frameSamples) << "decoded " << decoded;

    // The tone is on the first channel only: a sample split across two blocks that came back
    // together the wrong way round would move it to the second.
    if (c.channels == 2) {
        const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
        double first = 0, second = 0;
        for (int64_t i = 0; i < decoded; ++i) {
            first += std::abs(s[2 * i]);
            second += std::abs(s[2 * i + 1]);
        }
        EXPECT_LT(second, first / 100);
    }
}

INSTANTIATE_TEST_SUITE_P(Encoder, AudioStreams,
                         ::testing::Values(AudioCase{"Mp2Stereo44100", 0, 44100, 2, 1152},
                                           AudioCase{"Mp2Mono48000", 0, 48000, 1, 1152},
                                           AudioCase{"Ac3Stereo44100", 1, 44100, 2, 1536},
                                           AudioCase{"Ac3Mono32000", 1, 32000, 1, 1536}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AudioEncoder, FailuresAreReported) {
    const std::vector<int16_t> tone = MakeTone(48000, 2, 48000);
    {
        auto host = MakeHost();
        std::FILE* full = std::fopen("/dev/full", "wb");
        ASSERT_NE(full, nullptr);
        core::JobAudioEncoder encoder(&host);
        encoder.SetOutputFile(&full);
        ASSERT_EQ(encoder.Open(), 0) << encoder.Error();
        const int failed =
            encoder.EncodeSamples(tone.data(), static_cast<int>(tone.size())) | encoder.Finish();
        EXPECT_EQ(failed, 1);
        EXPECT_NE(encoder.Error().find("No space"), std::string::npos) << encoder.Error();
        std::fclose(full);
    }
    for (const core::SourceAudio bad : {core::SourceAudio{6, 48000}, core::SourceAudio{2, 0}}) {
        auto host = MakeHost();
        host.audio = bad;
        core::JobAudioEncoder encoder(&host);
        EXPECT_EQ(encoder.Open(), 1);
        EXPECT_NE(encoder.Error().find("Unsupported"), std::string::npos) << encoder.Error();
    }
    {
        auto host = MakeHost();
        core::JobAudioEncoder encoder(&host);
        EXPECT_EQ(encoder.EncodeSamples(tone.data(), 100), 1);  // not opened
    }
}

}  // namespace
