// Direct VOBs as ffmpeg and ffprobe read them back.
#include "core/output_writer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/program_stream_clock.h"
#include "core/program_stream_fields.h"
#include "encoder_test_support.h"

namespace {

using namespace encoder_test;

struct Clip {
    std::vector<int> repeats;  // one picture per entry, encoded that many times
    double audioSeconds;       // sound handed over alongside, in time order
};

// Writes a clip the way the job's sink does: each picture, then the sound up to its end.
std::string WriteVob(const core::FixedEncoderHost& host, const std::string& path,
                     const Clip& clip, int64_t clockStart = 0) {
    const core::Settings& s = host.settings;
    const TestPicture card = MakeTestCard(host.picture.SourceWidth, host.picture.SourceHeight);
    const int rate = host.audio.SampleRate, channels = host.audio.Channels;
    const std::vector<int16_t> tone =
        MakeTone(rate, channels, static_cast<int>(clip.audioSeconds * rate));
    const int64_t totalSamples = static_cast<int64_t>(tone.size()) / channels;

    core::OutputWriter writer(&host);
    if (core::ConfigureVobWriter(writer, host, path.c_str(), clockStart) < 0) return writer.Error();
    int64_t pictures = 0, written = 0;
    for (int repeat : clip.repeats) {
        if (!writer.WriteVideo(card.bottomUpBgr.data(), repeat)) return writer.Error();
        pictures += repeat;
        const int64_t due =
            std::min(totalSamples, pictures * rate * int64_t{s.FrameRateDen} / s.FrameRateNum);
        if (due > written && !writer.WriteAudio(tone.data() + written * channels,
                                                static_cast<int>((due - written) * channels)))
            return writer.Error();
        written = std::max(written, due);
    }
    return writer.Close() ? "" : writer.Error();
}

// The time of each frame; NaN for a picture without a time stamp of its own, which the muxer
// leaves out for a picture that starts in the same pack as the one before (small pictures of a
// still test card), so that it is shown one frame after it.
std::vector<double> FrameTimes(const std::string& path, const char* stream) {
    std::istringstream lines(Run(std::string("ffprobe -v error -select_streams ") + stream +
                                 ":0 -show_entries frame=pts_time -of csv=p=0 '" + path + "'")
                                 .output);
    std::vector<double> times;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) times.push_back(line.rfind("N/A", 0) == 0 ? NAN : std::stod(line));
    return times;
}

struct VobCase {
    const char* name;
    int standard;
    int sourceWidth, sourceHeight, padTop, padBottom;
    uint32_t audioFormat;
    int sampleRate, channels;
};

class DirectVob : public ::testing::TestWithParam<VobCase> {};

// The VOB decodes clean; every picture given is in it (repeats and the B-reordered tail
// included) one frame period apart; sound and pictures start within one frame; the sound is
// 48 kHz whatever the source's rate.
TEST_P(DirectVob, DecodesCleanWithEveryPictureInTime) {
    const VobCase& c = GetParam();
    TempDir dir;
    auto host = MakeHost(c.standard, 3);
    host.settings.AudioFormat = c.audioFormat;
    host.settings.AudioKbps = 384;
    host.picture.SourceWidth = c.sourceWidth;
    host.picture.SourceHeight = c.sourceHeight;
    host.picture.PadTop = c.padTop;
    host.picture.PadBottom = c.padBottom;
    host.picture.NeedsScaling =
        c.sourceWidth != host.settings.OutputWidth || c.sourceHeight != host.settings.OutputHeight;
    host.audio = {c.channels, c.sampleRate};
    const std::string path = dir.File("clip.vob");
    // The first picture three times, then singles and a pair: 3 + 10 + 2 = 15 pictures.
    Clip clip{{3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2},
              15.0 * host.settings.FrameRateDen / host.settings.FrameRateNum};
    ASSERT_EQ(WriteVob(host, path, clip), "");

    EXPECT_EQ(DecodeErrors(path), "");
    EXPECT_EQ(Probe(path, "v", "codec_name,width,height,display_aspect_ratio"),
              "mpeg2video\n720\n" + std::to_string(host.settings.OutputHeight) + "\n4:3");
    EXPECT_EQ(
        Probe(path, "a", "codec_name,sample_rate,channels"),
        std::string(c.audioFormat == 0 ? "mp2" : "ac3") + "\n48000\n" + std::to_string(c.channels));

    const std::vector<double> video = FrameTimes(path, "v");
    const std::vector<double> audio = FrameTimes(path, "a");
    ASSERT_EQ(video.size(), 15u);
    ASSERT_FALSE(audio.empty());
    const double period = double(host.settings.FrameRateDen) / host.settings.FrameRateNum;
    for (size_t i = 1; i < video.size(); ++i) {
        if (std::isnan(video[i])) continue;
        size_t previous = i - 1;
        while (previous > 0 && std::isnan(video[previous])) --previous;
        EXPECT_NEAR(video[i] - video[previous], period * double(i - previous), 0.0001) << "picture " << i;
    }
    EXPECT_NEAR(audio.front(), video.front(), period);
}

INSTANTIATE_TEST_SUITE_P(
    Writer, DirectVob,
    ::testing::Values(VobCase{"NtscMp2", 0, 720, 480, 0, 0, 0, 48000, 2},
                      VobCase{"PalAc3From44100", 1, 720, 576, 0, 0, 1, 44100, 2},
                      // Larger than the frame: converted at its own size, scaled down into the
                      // letterboxed frame.
                      VobCase{"Ntsc1280x720Letterboxed", 0, 1280, 720, 38, 36, 0, 44100, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OutputWriter, ClipWithoutSoundMakesAPicturesOnlyVob) {
    TempDir dir;
    auto host = MakeHost();
    host.audio = {0, 0};
    const TestPicture card = MakeTestCard(720, 480);
    const std::string path = dir.File("silent.vob");
    core::OutputWriter writer(&host);
    ASSERT_EQ(core::ConfigureVobWriter(writer, host, path.c_str()), 0) << writer.Error();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(writer.WriteVideo(card.bottomUpBgr.data(), 1));
    ASSERT_TRUE(writer.Close()) << writer.Error();
    EXPECT_EQ(DecodeErrors(path), "");
    EXPECT_EQ(FrameTimes(path, "v").size(), 5u);
    EXPECT_EQ(Probe(path, "a", "codec_name"), "");
}

// The "dvd" format: 2048-byte packs at a mux rate of 10,080,000 bit/s (25,200 units of
// 50 bytes/s in the pack header).
TEST(OutputWriter, PacksAreDvdSectors) {
    TempDir dir;
    const auto host = MakeHost();
    const std::string path = dir.File("packs.vob");
    ASSERT_EQ(WriteVob(host, path, {{1, 1, 1, 1, 1, 1}, 0.2}), "");
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 0u);
    ASSERT_EQ(bytes.size() % 2048, 0u);
    for (size_t at = 0; at < bytes.size(); at += 2048) {
        const auto* pack = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
        ASSERT_EQ(pack[0] << 24 | pack[1] << 16 | pack[2] << 8 | pack[3], 0x000001BA) << at;
        const int muxRate = pack[10] << 14 | pack[11] << 6 | pack[12] >> 2;
        ASSERT_EQ(muxRate, 25200) << at;
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The SCR base of every pack, 90 kHz.
std::vector<int64_t> PackClocks(const std::string& bytes) {
    std::vector<int64_t> clocks;
    for (size_t at = 0; at + 2048 <= bytes.size(); at += 2048) {
        clocks.push_back(core::ReadMpeg2ScrBase(reinterpret_cast<const uint8_t*>(bytes.data()) + at + 4));
    }
    return clocks;
}

// Every packet's "pts,dts" in 90 kHz as ffprobe reads them, one stream type.
std::vector<std::pair<int64_t, int64_t>> PacketTimes(const std::string& path, const char* stream) {
    std::istringstream lines(Run(std::string("ffprobe -v error -select_streams ") + stream +
                                 " -show_entries packet=pts,dts -of csv=p=0 '" + path + "'")
                                 .output);
    std::vector<std::pair<int64_t, int64_t>> times;
    for (std::string line; std::getline(lines, line);) {
        long long pts = -1, dts = -1;
        if (std::sscanf(line.c_str(), "%lld,%lld", &pts, &dts) >= 1) times.push_back({pts, dts});
    }
    return times;
}

// A clock start moves every SCR, PTS and DTS of the VOB by the same amount; the muxer itself
// always starts at 0.
TEST(OutputWriter, ClockStartMovesEveryTimestamp) {
    TempDir dir;
    const int64_t start = 90 * 3003;  // 3.003 s
    for (int standard : {0, 1}) {
        SCOPED_TRACE(standard);
        auto host = MakeHost(standard, 3);
        host.settings.AudioFormat = uint32_t(standard);  // MP2 on NTSC, AC-3 on PAL
        const Clip clip{std::vector<int>(12, 1), 12.0 * host.settings.FrameRateDen / host.settings.FrameRateNum};
        const std::string plain = dir.File("plain.vob"), shifted = dir.File("shifted.vob");
        ASSERT_EQ(WriteVob(host, plain, clip), "");
        ASSERT_EQ(WriteVob(host, shifted, clip, start), "");

        EXPECT_EQ(DecodeErrors(shifted), "");
        const std::vector<int64_t> before = PackClocks(ReadAll(plain)), after = PackClocks(ReadAll(shifted));
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(after[i], before[i] + start) << "pack " << i;
        for (const char* stream : {"v", "a"}) {
            const auto plainTimes = PacketTimes(plain, stream), shiftedTimes = PacketTimes(shifted, stream);
            ASSERT_FALSE(plainTimes.empty()) << stream;
            ASSERT_EQ(shiftedTimes.size(), plainTimes.size()) << stream;
            for (size_t i = 0; i < plainTimes.size(); ++i) {
                ASSERT_EQ(shiftedTimes[i].first, plainTimes[i].first + start) << stream << i;
                ASSERT_EQ(shiftedTimes[i].second, plainTimes[i].second + start) << stream << i;
            }
        }
    }
}

// The next clip's pictures and sound follow this clip's last picture, so the audio frame that
// would still play after it is left out (not padded with silence): the sound ends less than one
// frame before the pictures, on both standards and with both codecs.
TEST(OutputWriter, SoundEndsWithinThePictures) {
    TempDir dir;
    const struct {
        int standard;
        uint32_t audioFormat;
        int frameSamples;
    } cases[] = {{0, 0, 1152}, {0, 1, 1536}, {1, 0, 1152}, {1, 1, 1536}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.standard * 2 + int(c.audioFormat));
        auto host = MakeHost(c.standard, 3);
        host.settings.AudioFormat = c.audioFormat;
        const double picturesSeconds = 15.0 * host.settings.FrameRateDen / host.settings.FrameRateNum;
        const std::string path = dir.File("clip.vob");
        ASSERT_EQ(WriteVob(host, path, {std::vector<int>(15, 1), picturesSeconds}), "");
        ASSERT_EQ(FrameTimes(path, "v").size(), 15u);
        const double soundSeconds = double(FrameTimes(path, "a").size()) * c.frameSamples / 48000;
        EXPECT_LE(soundSeconds, picturesSeconds);
        EXPECT_GT(soundSeconds, picturesSeconds - double(c.frameSamples) / 48000);
    }
}

// A file that is not a program stream of whole packs is refused and left as it was.
TEST(ProgramStreamClock, RefusesWhatIsNoProgramStreamOfWholePacks) {
    TempDir dir;
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"zeros.vob", std::string(4096, '\0'), "no MPEG-2 pack"},
        {"short.vob", std::string("\0\0\1\xBA", 4) + std::string(100, '\x44'), "whole pack"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.File(c.name);
        std::ofstream(path, std::ios::binary) << c.bytes;
        std::string error;
        EXPECT_FALSE(core::ShiftProgramStreamClock(path, 90000, &error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(ReadAll(path), c.bytes) << c.name;
    }
    std::string error;
    EXPECT_FALSE(core::ShiftProgramStreamClock(dir.File("missing.vob"), 90000, &error));
    EXPECT_NE(error.find("Cannot open"), std::string::npos) << error;
}

// Neither the writer nor the clock shift after it writes through a link under the VOB's name:
// the file the link leads to keeps its bytes, and the failure names the VOB and the reason.
TEST(OutputWriter, NeverWritesThroughALink) {
    TempDir dir;
    const std::string precious = dir.File("precious.bin"), link = dir.File("link.vob");
    std::ofstream(precious, std::ios::binary) << "not a VOB";
    std::filesystem::create_symlink(precious, link);
    const auto host = MakeHost();
    {
        core::OutputWriter writer(&host);
        EXPECT_LT(core::ConfigureVobWriter(writer, host, link.c_str()), 0);
        EXPECT_EQ(writer.Error(), "Cannot create " + link + ": Too many levels of symbolic links");
        EXPECT_FALSE(writer.CreatedFile());
    }
    EXPECT_EQ(ReadAll(precious), "not a VOB");

    const std::string vob = dir.File("made.vob"), vobLink = dir.File("made-link.vob");
    ASSERT_EQ(WriteVob(host, vob, Clip{std::vector<int>(6, 1), 0.2}), "");
    const std::string made = ReadAll(vob);
    std::filesystem::create_symlink(vob, vobLink);
    std::string error;
    EXPECT_FALSE(core::ShiftProgramStreamClock(vobLink, 90000, &error));
    EXPECT_NE(error.find("Too many levels of symbolic links"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(vob), made);
}

// Lets files grow to `bytes` only, for the life of the object: a write past that fails with
// EFBIG, as one on a full disk fails, and no signal ends the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*savedSignal_)(int) = SIG_DFL;
};

TEST(OutputWriter, FailuresAreReported) {
    TempDir dir;
    const TestPicture card = MakeTestCard(720, 480);
    {
        // The disk fills: some step from the header on fails, and Close says so.
        const auto host = MakeHost();
        core::OutputWriter writer(&host);
        const FileSizeLimit limit(16 * 1024);
        bool ok = core::ConfigureVobWriter(writer, host, dir.File("full.vob").c_str()) == 0;
        for (int i = 0; ok && i < 30; ++i) ok = writer.WriteVideo(card.bottomUpBgr.data(), 1);
        EXPECT_FALSE(writer.Close());
        EXPECT_NE(writer.Error().find("File too large"), std::string::npos) << writer.Error();
    }
    {
        // A rate code outside the table leaves the rate unset: the codecs refuse to open, the
        // library's reason reaches our error text, and nothing reaches the standard error.
        const auto host = MakeHost();
        core::OutputWriter writer(&host);
        ASSERT_TRUE(writer.Open("dvd", dir.File("rate.vob").c_str()));
        ASSERT_EQ(writer.AddVideoStream(AV_CODEC_ID_MPEG2VIDEO, 720, 480, 720, 480, 30), 1);
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(writer.OpenCodecs());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_NE(writer.Error().find("timebase"), std::string::npos) << writer.Error();
        EXPECT_LT(writer.WriteHeader(), 0);  // and nothing later pretends to work
        EXPECT_FALSE(writer.WriteVideo(card.bottomUpBgr.data(), 1));
    }
    {
        const auto host = MakeHost();
        core::OutputWriter writer(&host);
        EXPECT_FALSE(writer.Open("mp4", dir.File("x.vob").c_str()));
        EXPECT_NE(writer.Error().find("mp4"), std::string::npos) << writer.Error();
    }
    {
        const auto host = MakeHost();
        core::OutputWriter writer(&host);
        EXPECT_LT(core::ConfigureVobWriter(writer, host, dir.File("no/such/dir/x.vob").c_str()), 0);
        EXPECT_NE(writer.Error().find("Cannot create"), std::string::npos) << writer.Error();
    }
    {
        const auto host = MakeHost();
        core::OutputWriter writer(&host);
        EXPECT_FALSE(writer.WriteAudio(nullptr, 0));  // before the header
        EXPECT_FALSE(writer.Close());
    }
}

}  // namespace
