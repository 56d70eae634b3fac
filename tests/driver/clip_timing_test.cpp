// Whole jobs over clips whose timing is awkward: pictures that start after their sound, ranges
// that start between key frames, slide shows, mono sound and no sound. The finished title is
// read back with ffprobe and ffmpeg, picture by picture and audio frame by audio frame.
#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "driver/main_frame.h"
#include "job_fixtures.h"
#include "reader/media_fixtures.h"
#include "reader/ts_stamps.h"

namespace driver {
namespace {

using testing::TempFolder;

struct JobChoice {
    uint32_t directVob = 0;
    uint32_t audioFormat = 0;  // 0 MP2, 1 AC-3
    uint32_t standard = 0;     // 0 NTSC, 1 PAL
};

// Both readers: the plain graph (0) and the editing-services timeline (1).
class ClipTimingTest : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { core::InitLogAtPath(work_ / "Lumivane.log"); }

    // Runs a job over clips into a fresh output folder and returns the title's VOB.
    std::string RunJob(const std::vector<reader::ClipRecord>& clips, const JobChoice& choice = {}) {
        const std::string output = work_ / ("out" + std::to_string(jobs_++));
        const auto configure = [&](core::Settings& settings) {
            settings.UseDES = GetParam();
            settings.DirectVOB = choice.directVob;
            settings.AudioFormat = choice.audioFormat;
            settings.Standard = choice.standard;
            // Plenty of bits, so the numbered pictures' flat grey steps keep their levels even
            // in B-pictures: these tests read timing, not picture quality.
            settings.BitrateType = 0;
            settings.Bitrate = 8000;
        };
        return testing::RunJobInto(output, clips, configure, boxes_) + "/VIDEO_TS/VTS_01_1.VOB";
    }

    // A clip of 25 numbered pictures (1 s at 25 a second) whose picture starts `offset`
    // seconds after its sound.
    std::string LatePictureClip(const std::string& name, double offset) {
        const std::string base = testing::MakeMedia(
            testing::NumberedPictures("320x240", "25", 1) +
                "-f lavfi -i sine=sample_rate=48000:duration=1 -c:v mpeg2video -q:v 2 -c:a mp2",
            work_ / ("base-" + name));
        return testing::MakeMedia("-i '" + base + "' -itsoffset " + std::to_string(offset) + " -i '" +
                                      base + "' -map 1:v -map 0:a -c copy",
                                  work_ / name);
    }

    // 6 s of 24 numbered pictures (4 a second) with their sound, spliced from two 3 s pieces
    // whose clocks start at the two times given: a broadcast recording's jump.
    std::string JumpingClip(const std::string& name, double firstClock, double secondClock) {
        std::vector<reader_test::ClockPiece> pieces;
        for (const auto& [first, clock] : {std::pair{0, firstClock}, std::pair{12, secondClock}}) {
            pieces.push_back({testing::NumberedPictures("320x240", "4", 3, first) +
                                  "-f lavfi -i sine=sample_rate=48000:duration=3 -c:v mpeg2video "
                                  "-q:v 2 -c:a mp2",
                              clock});
        }
        const std::string path = work_ / name;
        EXPECT_TRUE(reader_test::MakeJumpingStream(pieces, path)) << name;
        return path;
    }

    TempFolder work_;
    testing::RecordingBoxes boxes_;
    int jobs_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Readers, ClipTimingTest, ::testing::Values(0u, 1u),
                         [](const auto& info) { return std::string(info.param ? "Timeline" : "PlainGraph"); });

std::set<int> Distinct(const std::vector<int>& numbers) { return {numbers.begin(), numbers.end()}; }

// Captures often start their picture after their sound; the picture then lasts to its own end
// on the file's clock, and every picture of it arrives, the last one too.
TEST_P(ClipTimingTest, PictureStartingAfterItsSoundKeepsItsEnd) {
    for (const auto& [name, offset] : {std::pair{"late.mpg", 0.51}, std::pair{"late.ts", 0.51},
                                       std::pair{"late.mkv", 1.02}}) {
        SCOPED_TRACE(name);
        const reader::ClipRecord clip = testing::ProbeClip(LatePictureClip(name, offset));
        const std::vector<int> shown = testing::PictureNumbers(RunJob({clip}, {0, 0, 1}));
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(Distinct(shown).size(), 25u) << ::testing::PrintToString(shown);
        EXPECT_EQ(shown.front(), 0);
        EXPECT_EQ(shown.back(), 24);
    }
}

// The numbered pictures' flat steps make every reference picture of an MPEG-4 AVI a key
// picture, decoded before the B-pictures that show before it: a range that starts on a
// B-picture still starts at its own picture.
TEST_P(ClipTimingTest, AviRangeStartsAtItsPictureAmongBPictures) {
    const std::string path = testing::MakeMedia(
        testing::NumberedPictures("320x240", "25", 1) +
            "-f lavfi -i sine=sample_rate=48000:duration=1 -c:a pcm_s16le -c:v mpeg4 -bf 2 -q:v 2",
        work_ / "b-pictures.avi");
    for (const int first : {5, 13}) {
        SCOPED_TRACE(first);
        reader::ClipRecord clip = testing::ProbeClip(path);
        clip.RangeStart = first / 25.0;
        clip.RangeEnd = 0.8;
        std::vector<int> range;
        for (int n = first; n < 20; ++n) range.push_back(n);
        EXPECT_EQ(testing::PictureNumbers(RunJob({clip}, {0, 0, 1})), range);
    }
}

// A range that starts inside the first group of pictures of an H.264 transport stream starts
// at its picture, not at the next key picture 5 s on.
TEST_P(ClipTimingTest, RangeStartsAtItsPictureInsideTheFirstGroup) {
    const std::string path = testing::MakeMedia(
        testing::NumberedPictures("320x240", "4", 6) +
            "-f lavfi -i sine=sample_rate=48000:duration=6 -c:v libx264 -g 20 -bf 2 -c:a mp2",
        work_ / "gop.ts");
    reader::ClipRecord clip = testing::ProbeClip(path);
    clip.RangeStart = 1.6;  // picture 6 of 4 a second
    clip.RangeEnd = 4.0;
    const std::vector<int> shown = testing::PictureNumbers(RunJob({clip}, {0, 0, 1}));
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 6) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown.back(), 15);
    EXPECT_EQ(Distinct(shown).size(), 10u);
}

// The numbers of a run of pictures, each once: what a viewer sees of held pictures.
std::vector<int> Shown(const std::vector<int>& numbers) {
    std::vector<int> shown;
    for (int n : numbers) {
        if (shown.empty() || shown.back() != n) shown.push_back(n);
    }
    return shown;
}

std::vector<int> Numbers(int first, int last) {
    std::vector<int> numbers;
    for (int n = first; n <= last; ++n) numbers.push_back(n);
    return numbers;
}

// The title's pictures show the numbers expected, in order, each for its quarter of a second
// (6 or 7 PAL frames) and no more, and its sound lasts as long as its `seconds` of pictures.
void ExpectPicturesInTime(const std::string& vob, const std::vector<int>& expected, double seconds) {
    const std::vector<int> pictures = testing::PictureNumbers(vob);
    EXPECT_EQ(Shown(pictures), expected) << ::testing::PrintToString(Shown(pictures));
    size_t longest = 0, held = 0;
    for (size_t i = 0, run = 0; i < pictures.size(); ++i) {
        run = i > 0 && pictures[i] == pictures[i - 1] ? run + 1 : 1;
        if (run > longest) std::tie(longest, held) = std::pair(run, i);
    }
    EXPECT_LE(longest, 7u) << "picture " << (pictures.empty() ? -1 : pictures[held]) << " up to frame "
                           << held;
    const testing::StreamSeconds decoded = testing::DecodedSeconds(vob);
    EXPECT_NEAR(decoded.video, seconds, 0.2);
    EXPECT_NEAR(decoded.audio, decoded.video, 0.1);
}

// Every picture of a 25 a second clip shows once at the output's 25. An AVI stamps its
// pictures in decoding order, so B-pictures (DivX and Xvid files, H.264 in AVI) come out of
// the decoder later than their stamps say. A transport stream starts its pictures a little
// after its sound (10 ms with ffmpeg's muxer), and an H.264 one stamps its first picture after
// its decoding time; such a clip lasts 10 ms into a 26th frame, which holds the last picture.
TEST_P(ClipTimingTest, EveryPictureShowsOnceAtItsTime) {
    const struct {
        const char* name;
        const char* codecs;
        bool lastHeld;  // the clip reaches into a 26th frame
    } clips[] = {
        {"b-pictures.avi", "-c:a pcm_s16le -c:v mpeg4 -bf 2 -q:v 2", false},
        {"b-pictures.avi", "-c:a pcm_s16le -c:v libx264 -bf 3 -crf 10", false},
        {"numbered.ts", "-c:a mp2 -c:v libx264 -bf 2", true},
        {"numbered.ts", "-c:a mp2 -c:v mpeg2video -q:v 2", true},
    };
    for (const auto& clip : clips) {
        SCOPED_TRACE(std::string(clip.name) + " " + clip.codecs);
        const std::string path = testing::MakeMedia(
            testing::NumberedPictures("320x240", "25", 1) +
                "-f lavfi -i sine=sample_rate=48000:duration=1 " + clip.codecs,
            work_ / clip.name);
        std::vector<int> shown = testing::PictureNumbers(RunJob({testing::ProbeClip(path)}, {0, 0, 1}));
        if (clip.lastHeld && shown.size() == 26 && shown[24] == 24) shown.pop_back();
        EXPECT_EQ(shown, Numbers(0, 24));
    }
}

// A transport stream whose clock jumps 60 s or 6 h ahead, or back, between its pieces makes a
// chapter of its 6 s, every picture shown for its own time with its sound; a range that starts
// in the second piece counts in the clip's own time and starts at its picture.
TEST_P(ClipTimingTest, ClockJumpsAreClosedUp) {
    reader::ClipRecord clips[] = {
        testing::ProbeClip(JumpingClip("forward.ts", 0, 63)),
        testing::ProbeClip(JumpingClip("hours.ts", 0, 21603)),
        testing::ProbeClip(JumpingClip("backward.ts", 100, 10)),
        {},
    };
    for (const reader::ClipRecord& clip : {clips[0], clips[1], clips[2]}) {
        EXPECT_NEAR(clip.VideoLength, 6.0, 0.05) << clip.Path;
        EXPECT_NEAR(clip.AudioLength, 6.0, 0.05) << clip.Path;
    }
    clips[3] = clips[0];
    // Picture 16, a second into the piece after the jump, to picture 21 (the pictures start
    // 10 ms after the sound, and so after time zero).
    clips[3].RangeStart = 4.1;
    clips[3].RangeEnd = 5.4;
    // The writers take turns with the readers: the plain graph writes elementary streams, the
    // timeline a direct VOB.
    const std::string vob = RunJob({std::begin(clips), std::end(clips)}, {GetParam(), 0, 1});

    const std::string dvd = vob.substr(0, vob.rfind("/VIDEO_TS/"));
    const testing::DiscLayout disc = testing::ReadDisc(dvd);
    ASSERT_EQ(disc.cells.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(disc.cells[size_t(i)], 6.0, 0.1) << "chapter " << i + 1;
    EXPECT_NEAR(disc.cells[3], 1.3, 0.1);

    std::vector<int> expected;
    for (int i = 0; i < 3; ++i) {
        const std::vector<int> whole = Numbers(0, 23);
        expected.insert(expected.end(), whole.begin(), whole.end());
    }
    const std::vector<int> range = Numbers(16, 21);
    expected.insert(expected.end(), range.begin(), range.end());
    ExpectPicturesInTime(vob, expected, 19.3);
}

// Stamps damaged in reception (one bit of one picture's, seconds or hours off) and a clock that
// jumps 60 s inside a group of pictures: each clip is a chapter of its own 6 s on either
// writer, every picture in order for its own time, with its sound; a range after the jump
// starts at its own picture.
TEST_P(ClipTimingTest, DamagedStampsAndJumpsInsideAGroupKeepTheClipInOrder) {
    using reader_test::DamagedStamp;
    const std::string clean = testing::MakeMedia(
        testing::NumberedPictures("320x240", "4", 6) +
            "-f lavfi -i sine=sample_rate=48000:duration=6 -c:v mpeg2video -q:v 2 -bf 2 -g 12 -c:a mp2",
        work_ / "clean.ts");
    const double start = std::atof(reader_test::Probe(clean, "v:0", "stream=start_time").c_str());
    const std::string hours = work_ / "hours.ts", seconds = work_ / "seconds.ts", jump = work_ / "jump.ts";
    ASSERT_TRUE(reader_test::FlipStampBit(clean, hours, 10, 32, DamagedStamp::ReorderedPts));
    ASSERT_TRUE(reader_test::FlipStampBit(clean, seconds, 10, 20, DamagedStamp::LonePts));
    // Between the two B-pictures shown before picture 12, which opens the second group: it is
    // decoded before the jump and shown after it.
    ASSERT_TRUE(reader_test::StepClockAt(clean, jump, start + 2.6, 60.0));
    std::vector<reader::ClipRecord> clips = {testing::ProbeClip(hours), testing::ProbeClip(seconds),
                                             testing::ProbeClip(jump)};
    for (const reader::ClipRecord& clip : clips) EXPECT_NEAR(clip.VideoLength, 6.0, 0.05) << clip.Path;
    // A range after the jump counts in the clip's own time: pictures 16 to 20 (the pictures
    // start 10 ms after the sound, and so after time zero).
    clips.push_back(clips.back());
    clips.back().RangeStart = 4.1;
    clips.back().RangeEnd = 5.2;

    std::vector<int> expected;
    for (int i = 0; i < 3; ++i) {
        const std::vector<int> whole = Numbers(0, 23);
        expected.insert(expected.end(), whole.begin(), whole.end());
    }
    const std::vector<int> range = Numbers(16, 20);
    expected.insert(expected.end(), range.begin(), range.end());
    for (const uint32_t direct : {0u, 1u}) {
        SCOPED_TRACE(direct ? "direct VOB" : "multiplexer");
        const std::string vob = RunJob(clips, {direct, 0, 1});
        const testing::DiscLayout disc = testing::ReadDisc(vob.substr(0, vob.rfind("/VIDEO_TS/")));
        ASSERT_EQ(disc.cells.size(), clips.size());
        for (size_t i = 0; i < clips.size(); ++i) {
            EXPECT_NEAR(disc.cells[i], i < 3 ? 6.0 : 1.1, 0.1) << "chapter " << i + 1;
        }
        ExpectPicturesInTime(vob, expected, 19.1);
    }
}

// Clips of few pictures a second: each picture stays as long as its time requires, so the
// chapter lasts the clip with all its sound.
TEST_P(ClipTimingTest, SlowClipsLastTheirWholeLength) {
    for (const auto& [rate, seconds] : {std::pair{"4", 10.0}, std::pair{"1", 5.0}}) {
        SCOPED_TRACE(std::string(rate) + " pictures a second");
        const std::string path = testing::MakeClip(work_ / (std::string("slides") + rate + ".avi"),
                                                   "320x240", rate, 48000, 2, seconds);
        const testing::StreamSeconds decoded =
            testing::DecodedSeconds(RunJob({testing::ProbeClip(path)}, {0, 0, 1}));
        EXPECT_NEAR(decoded.video, seconds, 0.04);
        EXPECT_NEAR(decoded.audio, seconds, 0.05);
    }
}

// The title announces two channels, so every chapter carries two: a mono clip plays on both,
// whatever the writer and the sound format.
TEST_P(ClipTimingTest, MonoClipGivesAStereoChapter) {
    const reader::ClipRecord stereo = testing::ProbeClip(
        testing::MakeClip(work_ / "stereo.avi", "320x240", "25", 48000, 2, 1.0));
    const reader::ClipRecord mono = testing::ProbeClip(
        testing::MakeClip(work_ / "mono.avi", "320x240", "25", 44100, 1, 1.0));
    for (const JobChoice& choice : {JobChoice{0, 0, 0}, JobChoice{0, 1, 1}, JobChoice{1, 0, 1},
                                    JobChoice{1, 1, 0}}) {
        SCOPED_TRACE(::testing::Message() << "direct " << choice.directVob << ", AC-3 "
                                          << choice.audioFormat);
        const std::string vob = RunJob({stereo, mono}, choice);
        const std::vector<int> channels = testing::AudioFrameChannels(vob);
        ASSERT_FALSE(channels.empty());
        EXPECT_EQ(std::set<int>(channels.begin(), channels.end()), std::set<int>{2});
        EXPECT_NEAR(testing::DecodedSeconds(vob).audio, 2.0, 0.1);
    }
}

// Every chapter carries the title's sound, as long as its pictures within one audio frame:
// a clip without sound gets silence, and sound that ends before the pictures is made up.
TEST_P(ClipTimingTest, EveryChapterSoundLastsAsLongAsItsPictures) {
    const struct {
        const char* name;
        reader::ClipRecord clip;
    } clips[] = {
        {"without sound", testing::ProbeClip(testing::MakeClip(work_ / "silent.avi", "352x240",
                                                               "30000/1001", 0, 0, 1.0))},
        {"sound ends early", testing::ProbeClip(LatePictureClip("late.mpg", 0.51))},
        {"29.97 pictures", testing::ProbeClip(testing::MakeClip(work_ / "ntsc.avi", "352x240",
                                                                "30000/1001", 48000, 2, 1.5))},
    };
    for (const auto& [name, clip] : clips) {
        for (const JobChoice& choice : {JobChoice{0, 1, 1}, JobChoice{1, 1, 1}, JobChoice{0, 0, 0},
                                        JobChoice{1, 0, 0}}) {
            SCOPED_TRACE(::testing::Message() << name << ", direct " << choice.directVob
                                              << ", AC-3 " << choice.audioFormat);
            const std::string vob = RunJob({clip}, choice);
            const testing::StreamSeconds decoded = testing::DecodedSeconds(vob);
            const double audioFrame = (choice.audioFormat ? 1536.0 : 1152.0) / 48000;
            EXPECT_GT(decoded.video, 0.9);
            EXPECT_NEAR(decoded.audio, decoded.video, audioFrame);
            const std::vector<int> channels = testing::AudioFrameChannels(vob);
            EXPECT_EQ(std::set<int>(channels.begin(), channels.end()), std::set<int>{2});
        }
    }
}

}  // namespace
}  // namespace driver
