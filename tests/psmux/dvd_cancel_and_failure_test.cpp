// Cancel, progress and the failures the entry must report rather than hide.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <functional>
#include <random>

#include "media_fixtures.h"
#include "platform/event.h"
#include "platform/progress.h"
#include "psmux/multiplexer.h"
#include "psmux/mux_job.h"
#include "vob_checker.h"

namespace psmux_test {
namespace {

int Mux(const std::string& out, const std::string& a, const std::string& b,
        platform::ProgressTarget* progress = nullptr, const platform::ManualResetEvent* cancel = nullptr) {
    return psmux::RunMultiplexer(out.c_str(), a.c_str(), b.c_str(), progress, cancel);
}

// Sets the cancel event at the first progress message (sent once per refill of pictures) for
// which `when` (count of messages so far, percentage) holds.
class CancelWhen : public platform::ProgressTarget {
public:
    CancelWhen(platform::ManualResetEvent& event, std::function<bool(int, int)> when)
        : event_(event), when_(std::move(when)) {}
    void Post(unsigned, uintptr_t percent, intptr_t) override {
        if (when_(++count_, static_cast<int>(percent))) event_.Set();
    }

private:
    platform::ManualResetEvent& event_;
    std::function<bool(int, int)> when_;
    int count_ = 0;
};

TEST(DvdCancel, EveryCancelPointLeavesAWellFormedPrefix) {
    const std::string video = MpegVideo({false, 8, 2, 6});
    const std::string audio = Mp2Audio(384, 6);
    const std::vector<uint8_t> es = ReadFile(video);

    platform::RecordingProgressTarget counter;
    ASSERT_EQ(0, Mux(NewPath(".vob"), video, audio, &counter));
    const int refills = static_cast<int>(counter.Positions().size());
    ASSERT_GT(refills, 4);

    std::mt19937 random(12345);
    const int randomPoint = std::uniform_int_distribution<int>(2, refills - 1)(random);
    // A hundred rounds have passed once about a hundred sectors of video are written.
    const double roundHundredPercent = 100.0 * 2025 * 100 / static_cast<double>(es.size());
    ASSERT_LT(roundHundredPercent, 50);
    struct Point {
        std::string what;
        bool setBefore;
        std::function<bool(int, int)> when;
        int minimumSectors;
        int maximumSectors;
    };
    const Point points[] = {
        {"before the first round", true, [](int, int) { return false; }, 1, 1},
        {"during the first refill", false, [](int count, int) { return count == 1; }, 1, INT_MAX},
        {"at round 100", false, [&](int, int percent) { return percent >= roundHundredPercent; }, 100, 150},
        {"at refill " + std::to_string(randomPoint), false,
         [&](int count, int) { return count == randomPoint; }, 2, INT_MAX},
    };
    for (const Point& point : points) {
        SCOPED_TRACE("cancel " + point.what);
        platform::ManualResetEvent cancel(point.setBefore);
        CancelWhen progress(cancel, point.when);
        const std::string out = NewPath(".vob");
        EXPECT_EQ(0, Mux(out, video, audio, &progress, &cancel));
        const VobReport report = CheckDvdVob(ReadFile(out));
        EXPECT_TRUE(report.Ok()) << report.Summary();
        EXPECT_GE(report.sectors, point.minimumSectors);
        EXPECT_LE(report.sectors, point.maximumSectors);
        ASSERT_LE(report.video.size(), es.size());
        EXPECT_TRUE(std::equal(report.video.begin(), report.video.end(), es.begin()));
        EXPECT_LT(report.video.size(), es.size());
        if (point.minimumSectors > 1) {
            EXPECT_GT(report.navSectors, 0);
            EXPECT_TRUE(DecodesCleanly(out));
        }
    }
}

TEST(DvdFailures, UnusableOutputsAndInputsGiveANonZeroResult) {
    const std::string video = MpegVideo({false, 8, 2});
    const std::string audio = Mp2Audio(384, 2);
    const std::string folder = NewPath("_dir");
    std::filesystem::create_directory(folder);
    const std::string text = NewPath(".txt");
    WriteFile(text, std::vector<uint8_t>(5000, 'x'));
    const std::string headerOnly = NewPath(".m2v");
    const std::vector<uint8_t> es = ReadFile(video);
    WriteFile(headerOnly, std::vector<uint8_t>(es.begin(), es.begin() + 30));
    // An output that is one of the inputs would cut that input short while it is read.
    const std::string videoAsOutput = NewPath(".m2v");
    WriteFile(videoAsOutput, es);
    const std::vector<uint8_t> audioBytes = ReadFile(audio);
    const std::string audioLink = NewPath(".mp2");
    std::filesystem::create_symlink(audio, audioLink);

    struct Case {
        const char* what;
        std::string out, a, b;
    };
    const Case cases[] = {
        {"a device", "/dev/full", video, audio},
        {"missing folder named like a format", TempDir() + "/%s%n/out.vob", video, audio},
        {"missing input", NewPath(".vob"), TempDir() + "/missing.m2v", audio},
        {"input that cannot be read", NewPath(".vob"), folder, audio},
        {"input that is no stream", NewPath(".vob"), video, text},
        {"video without a complete picture", NewPath(".vob"), headerOnly, audio},
        {"no video at all", NewPath(".vob"), audio, audio},
        {"output that is the video input", videoAsOutput, videoAsOutput, audio},
        {"output that is the audio input under another name", audioLink, video, audio},
    };
    for (const Case& c : cases) EXPECT_NE(0, Mux(c.out, c.a, c.b)) << c.what;
    // The job shows the reason. Its outputs are created anew: a device is not written into,
    // and a link not followed, so the file it leads to keeps its bytes.
    const std::string precious = NewPath(".bin");
    WriteFile(precious, std::vector<uint8_t>(100, 'p'));
    const std::string link = NewPath(".vob");
    std::filesystem::create_symlink(precious, link);
    const struct {
        std::string out, reason;
    } refused[] = {{"/dev/full", "File exists"}, {link, "Too many levels of symbolic links"}};
    for (const auto& r : refused) {
        std::string failure;
        EXPECT_NE(0, psmux::RunMultiplexer(r.out.c_str(), video.c_str(), audio.c_str(), nullptr, nullptr, 0, &failure));
        EXPECT_EQ(failure, "cannot create or write output: " + r.out + ": " + r.reason);
    }
    EXPECT_EQ(ReadFile(precious), std::vector<uint8_t>(100, 'p'));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_EQ(ReadFile(videoAsOutput), es);
    EXPECT_EQ(ReadFile(audio), audioBytes);
    EXPECT_NE(0, psmux::RunMultiplexer(nullptr, video.c_str(), audio.c_str(), nullptr, nullptr));
}

TEST(DvdFailures, OutputNameIsUsedLiterally) {
    const std::string folder = TempDir() + "/%s%n%d";
    std::filesystem::create_directory(folder);
    const std::string out = folder + "/clip%02d.vob";
    ASSERT_EQ(0, Mux(out, MpegVideo({false, 8, 2}), Mp2Audio(384, 2)));
    EXPECT_TRUE(CheckDvdVob(ReadFile(out)).Ok());
}

TEST(DvdFailures, EmptyAudioFileGivesAVideoOnlyProgramStream) {
    const std::string video = MpegVideo({false, 8, 2});
    const std::string empty = NewPath(".mp2");
    WriteFile(empty, {});
    const std::string out = NewPath(".vob");
    ASSERT_EQ(0, Mux(out, video, empty));
    const VobReport report = CheckDvdVob(ReadFile(out));
    EXPECT_TRUE(report.Ok()) << report.Summary();
    EXPECT_EQ(report.video, ReadFile(video));
    EXPECT_EQ(ProbeStreams(out), std::vector<std::string>{"mpeg2video"});
}

// The last picture ends at the end of the file whether or not a sequence end code closes it,
// and inputs given as (audio, video) multiplex the same elementary bytes.
TEST(DvdVideoEnd, LastPictureIsKeptWithAndWithoutSequenceEnd) {
    const std::vector<uint8_t> es = ReadFile(MpegVideo({true, 8, 2}));
    std::vector<uint8_t> ended = es;
    for (uint8_t b : {0x00, 0x00, 0x01, 0xB7}) ended.push_back(b);
    for (const auto& input : {es, ended}) {
        const std::string video = NewPath(".m2v");
        WriteFile(video, input);
        const std::string out = NewPath(".vob");
        ASSERT_EQ(0, Mux(out, Mp2Audio(384, 2), video));
        const VobReport report = CheckDvdVob(ReadFile(out));
        EXPECT_TRUE(report.Ok()) << report.Summary();
        EXPECT_EQ(report.video, input);
        EXPECT_TRUE(DecodesCleanly(out));
    }
}

// A frame cut short by the end of the file is left out; every whole frame goes in.
TEST(DvdAudioEnd, TruncatedLastFrameIsDropped) {
    const std::vector<uint8_t> mp2 = ReadFile(Mp2Audio(384, 2));
    const size_t frame = 1152;
    ASSERT_EQ(mp2.size() % frame, 0u);
    const std::string cut = NewPath(".mp2");
    WriteFile(cut, {mp2.begin(), mp2.end() - 100});
    const std::string out = NewPath(".vob");
    ASSERT_EQ(0, Mux(out, MpegVideo({false, 8, 2, 3}), cut));
    EXPECT_EQ(Demux(out, "a", "mp2"), std::vector<uint8_t>(mp2.begin(), mp2.end() - frame));
    EXPECT_TRUE(DecodesCleanly(out));
}

// A frame the last audio packet has begun is finished even when it is due after the video's
// end, so the stream never ends on a cut frame. These short clips make the last packet begin
// such a frame.
TEST(DvdAudioEnd, FrameBegunBeforeTheVideoEndsIsWrittenWhole) {
    for (double videoSeconds : {0.567, 0.6}) {
        for (int kbps : {128, 192}) {
            SCOPED_TRACE(std::to_string(videoSeconds) + " s video, AC-3 " + std::to_string(kbps));
            const std::vector<uint8_t> ac3 = ReadFile(Ac3Audio(kbps, 2));
            const std::string out = NewPath(".vob");
            ASSERT_EQ(0, Mux(out, MpegVideo({false, 12, 2, videoSeconds}), Ac3Audio(kbps, 2)));
            const std::vector<uint8_t> audio = Demux(out, "a", "ac3");
            const size_t frame = static_cast<size_t>(kbps) * 4;  // bytes of a 48 kHz AC-3 frame
            EXPECT_EQ(audio.size() % frame, 0u);
            EXPECT_EQ(audio, std::vector<uint8_t>(ac3.begin(), ac3.begin() + audio.size()));
            EXPECT_TRUE(DecodesCleanly(out));
        }
    }
}

// Two seconds of video, a sequence end, and the same two seconds once more.
std::vector<uint8_t> VideoWithSequenceEndInside() {
    const std::vector<uint8_t> es = ReadFile(MpegVideo({false, 8, 2}));
    std::vector<uint8_t> twice = es;
    for (uint8_t b : {0x00, 0x00, 0x01, 0xB7}) twice.push_back(b);
    twice.insert(twice.end(), es.begin(), es.end());
    return twice;
}

// The output file that a split at a sequence end starts after `out`.
std::string SecondSegment(const std::string& out) { return out.substr(0, out.size() - 4) + "_02.vob"; }

// A sequence end with more pictures after it starts a new output file; with a plain output
// name the second one is numbered rather than overwriting the first.
TEST(DvdVideoEnd, SequenceEndSplitsIntoNumberedSegments) {
    const std::vector<uint8_t> twice = VideoWithSequenceEndInside();
    const std::string video = NewPath(".m2v");
    WriteFile(video, twice);
    const std::string out = NewPath(".vob");
    ASSERT_EQ(0, Mux(out, video, Ac3Audio(448, 5)));
    const std::string second = SecondSegment(out);
    ASSERT_TRUE(std::filesystem::exists(second));
    const VobReport first = CheckDvdVob(ReadFile(out));
    const VobReport next = CheckDvdVob(ReadFile(second));
    EXPECT_TRUE(first.Ok()) << first.Summary();
    EXPECT_TRUE(next.Ok()) << next.Summary();
    std::vector<uint8_t> joined = first.video;
    joined.insert(joined.end(), next.video.begin(), next.video.end());
    EXPECT_EQ(joined, twice);
    EXPECT_TRUE(DecodesCleanly(out));
    EXPECT_TRUE(DecodesCleanly(second));
}

// At a sequence end inside the stream the first segment keeps every audio frame that begins
// before the next sequence's first picture, and the next segment's sound begins with that
// picture rather than a frame before it. Only at the stream's end is a frame left out because
// it would still be heard after the last picture: there nothing follows to carry it.
TEST(DvdVideoEnd, RunOutAtASequenceEndSplitsTheSoundAtItsFirstPicture) {
    const std::string video = NewPath(".m2v");
    WriteFile(video, VideoWithSequenceEndInside());
    const std::string ac3 = Ac3Audio(448, 5);
    const std::string out = NewPath(".vob");
    ASSERT_EQ(0, Mux(out, video, ac3));
    const std::string second = SecondSegment(out);
    ASSERT_TRUE(std::filesystem::exists(second));

    auto ptsOf = [](const std::vector<std::string>& packets) {
        std::vector<int64_t> times;
        for (const std::string& packet : packets)
            if (!packet.empty() && std::isdigit(static_cast<unsigned char>(packet[0]))) times.push_back(std::stoll(packet));
        return times;
    };
    const std::vector<int64_t> pictures = ptsOf(ProbePacketTimes(second, "v"));
    const std::vector<int64_t> sound = ptsOf(ProbePacketTimes(second, "a"));
    ASSERT_FALSE(pictures.empty());
    ASSERT_FALSE(sound.empty());
    const int64_t firstPicture = *std::min_element(pictures.begin(), pictures.end());
    constexpr int64_t kAc3Frame = 2880;  // 1536 samples at 48 kHz, in 90 kHz ticks
    EXPECT_GE(sound.front(), firstPicture);
    EXPECT_LT(sound.front(), firstPicture + kAc3Frame);

    // Each frame goes into one segment, once, in order.
    std::vector<uint8_t> joined = Demux(out, "a", "ac3");
    const std::vector<uint8_t> rest = Demux(second, "a", "ac3");
    joined.insert(joined.end(), rest.begin(), rest.end());
    const std::vector<uint8_t> input = ReadFile(ac3);
    ASSERT_LE(joined.size(), input.size());
    EXPECT_EQ(joined, std::vector<uint8_t>(input.begin(), input.begin() + joined.size()));
}

}  // namespace
}  // namespace psmux_test
