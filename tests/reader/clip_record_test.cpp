#include "reader/clip_record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "media_fixtures.h"
#include "ts_stamps.h"
#include "platform/com/class_table.h"
#include "reader/clip_diagnosis.h"

namespace {

using reader::ClipRecord;
using reader_test::MakeMedia;
using reader_test::Probe;
using reader_test::TempDir;

constexpr const char* kVideo = "-f lavfi -i testsrc2=size=320x240:rate=25 ";
constexpr const char* kSound = "-f lavfi -i sine=frequency=440:sample_rate=48000 ";

double Rate(const std::string& fraction) {
    const size_t slash = fraction.find('/');
    if (slash == std::string::npos) return std::atof(fraction.c_str());
    const double den = std::atof(fraction.c_str() + slash + 1);
    return den != 0 ? std::atof(fraction.substr(0, slash).c_str()) / den : 0.0;
}

double StreamDuration(const std::string& path, const std::string& stream) {
    const std::string value = Probe(path, stream, "stream=duration");
    if (!value.empty() && value != "N/A") return std::atof(value.c_str());
    return std::atof(Probe(path, "", "format=duration").c_str());
}

struct MatrixCase {
    const char* name;
    const char* file;
    std::string arguments;
    bool video;
    bool audio;
};

void PrintTo(const MatrixCase& c, std::ostream* out) { *out << c.name; }

class ClipRecordMatrix : public testing::TestWithParam<MatrixCase> {
protected:
    platform::com::ScopedComInit com_;
    TempDir dir_;
};

// Every field the job relies on against ffprobe's own reading of the same file.
TEST_P(ClipRecordMatrix, AgreesWithFfprobe) {
    const MatrixCase& c = GetParam();
    const std::string path = dir_.File(c.file);
    ASSERT_TRUE(MakeMedia(c.arguments, path)) << c.name;

    ClipRecord clip;
    ASSERT_EQ(clip.ReadMediaInfo(path), 0);
    EXPECT_EQ(clip.Path, path);
    EXPECT_EQ(clip.FileSize, std::filesystem::file_size(path));
    EXPECT_EQ(clip.HasVideo, c.video ? 1 : 0);
    EXPECT_EQ(clip.HasAudio, c.audio ? 1 : 0);
    if (c.video) {
        EXPECT_EQ(clip.FirstVideoStream, 0);
        EXPECT_EQ(clip.Width, std::atoi(Probe(path, "v:0", "stream=width").c_str()));
        EXPECT_EQ(clip.Height, std::atoi(Probe(path, "v:0", "stream=height").c_str()));
        const double rate = Rate(Probe(path, "v:0", "stream=avg_frame_rate"));
        EXPECT_NEAR(clip.FrameRate, rate, 1e-9);
        EXPECT_NEAR(clip.VideoLength, StreamDuration(path, "v:0"), 1.0 / rate);
        const long frames = std::atol(Probe(path, "v:0", "stream=nb_read_frames", true).c_str());
        EXPECT_NEAR(double(clip.FrameCount), double(frames), 1.0);
        EXPECT_EQ(clip.RangeEnd, clip.VideoLength);
    } else {
        EXPECT_EQ(clip.FirstVideoStream, -1);
        EXPECT_EQ(clip.FrameRate, 0.0);
        EXPECT_EQ(clip.FrameCount, 0);
        EXPECT_EQ(clip.RangeEnd, 0.0);
    }
    if (c.audio) {
        EXPECT_EQ(clip.AudioSampleRate, unsigned(std::atoi(Probe(path, "a:0", "stream=sample_rate").c_str())));
        EXPECT_EQ(clip.AudioChannels, unsigned(std::atoi(Probe(path, "a:0", "stream=channels").c_str())));
        EXPECT_NEAR(clip.AudioLength, StreamDuration(path, "a:0"), 0.05);
    }
    const double length = std::max(clip.VideoLength, clip.AudioLength);
    EXPECT_EQ(clip.BitRate, int32_t(int64_t(double(clip.FileSize) / length) * 8));
    EXPECT_EQ(clip.RangeStart, 0.0);
}

std::string Both(const char* video, const char* rest) { return std::string(video) + kSound + rest; }

INSTANTIATE_TEST_SUITE_P(
    GeneratedFiles, ClipRecordMatrix,
    testing::Values(
        MatrixCase{"Mp4H264Aac2997", "a.mp4",
                   "-f lavfi -i testsrc2=size=320x240:rate=30000/1001 "
                   "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -c:v libx264 -c:a aac",
                   true, true},
        MatrixCase{"Mpeg2ProgramStreamMp2", "b.mpg",
                   Both(kVideo, "-t 2 -c:v mpeg2video -c:a mp2 -f mpeg"), true, true},
        MatrixCase{"AviMjpegPcm", "c.avi", Both(kVideo, "-t 2 -c:v mjpeg -c:a pcm_s16le"), true, true},
        MatrixCase{"AviMpeg4Mp3", "d.avi", Both(kVideo, "-t 2 -c:v mpeg4 -c:a libmp3lame"), true, true},
        MatrixCase{"Wmv2", "e.wmv", Both(kVideo, "-t 2 -c:v wmv2 -c:a wmav2"), true, true},
        MatrixCase{"Size854x480", "f.mp4",
                   Both("-f lavfi -i testsrc2=size=854x480:rate=25 ", "-t 1 -c:v libx264 -c:a aac"), true, true},
        MatrixCase{"VideoOnly", "g.mp4", std::string(kVideo) + "-t 2 -c:v libx264", true, false},
        MatrixCase{"AudioOnly", "h.m4a", "-f lavfi -i sine=sample_rate=44100 -t 2 -c:a aac", false, true}),
    [](const testing::TestParamInfo<MatrixCase>& info) { return std::string(info.param.name); });

class ClipRecordRefusals : public testing::Test {
protected:
    // An empty file, a text file and a FIFO without a writer.
    bool MakeBadFiles() {
        std::ofstream(empty).close();
        std::ofstream(text) << "This is not a video at all, just a few words of text.\n";
        return ::mkfifo(fifo.c_str(), 0600) == 0;
    }

    platform::com::ScopedComInit com_;
    TempDir dir_;
    const std::string empty = dir_.File("empty.avi");
    const std::string text = dir_.File("text.avi");
    const std::string fifo = dir_.File("pipe.avi");
};

// Inputs that are not media files are refused, none of them hangs (a FIFO without a writer
// would block a plain open), and only Path is touched when the file cannot be opened.
TEST_F(ClipRecordRefusals, BadInputsAreRefused) {
    ASSERT_TRUE(MakeBadFiles());

    for (const std::string& path : {empty, text, dir_.Path(), fifo, std::string("/dev/null"), dir_.File("missing.avi")}) {
        ClipRecord clip;
        EXPECT_NE(clip.ReadMediaInfo(path), 0) << path;
        EXPECT_EQ(clip.Path, path);
    }
    ClipRecord directory;
    EXPECT_EQ(directory.ReadMediaInfo(dir_.Path()), 2);
    EXPECT_EQ(directory.FileSize, 0u);
    EXPECT_EQ(directory.FirstVideoStream, 0);
}

// One fault, one wording: the Add report (the probe's failure), Start (FileProblem) and the
// job (the reader that could not be built) say the same of the same file.
TEST_F(ClipRecordRefusals, EachFaultReadsTheSameWhereverItIsFound) {
    ASSERT_TRUE(MakeBadFiles());
    const std::string unknownFormat =
        "No video or sound can be read from it (an unknown format, or a damaged or incomplete "
        "file).";
    const struct {
        std::string path;
        std::string wording;
        bool fileAtFault;  // Start refuses it too
    } cases[] = {
        {dir_.File("missing.avi"), "The file cannot be opened: No such file or directory.", true},
        {dir_.Path(), "It is a folder, not a file.", true},
        {fifo, "It is not a regular file.", true},
        {empty, "The file is empty.", true},
        {text, unknownFormat, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(reader::FileProblem(c.path), c.fileAtFault ? c.wording : "");
        ClipRecord probed;
        EXPECT_EQ(reader::ProbeFailureText(c.path, probed.ReadMediaInfo(c.path)), c.wording);
        ClipRecord listed;  // as it was listed before the file changed
        listed.Path = c.path;
        listed.HasVideo = 1;
        listed.RangeEnd = 1.0;
        EXPECT_EQ(reader::ExplainUnreadableClip(listed, platform::com::E_FAIL), c.wording);
    }
}

// A cut file probes to what it really holds, not what its header promised. An MP4 keeps its
// index at the end, so its first half holds nothing playable and is refused.
TEST_F(ClipRecordRefusals, FileCutInHalfProbesWhatItHolds) {
    // An AVI without its index scales its length by the size it lost, which lands a frame or
    // two beyond its last whole picture.
    const struct {
        const char* name;
        std::string arguments;
        double seconds;
        bool probes;
    } cases[] = {{"cut.mpg", Both(kVideo, "-t 4 -c:v mpeg2video -c:a mp2"), 4, true},
                 {"cut.avi", Both(kVideo, "-t 4 -c:v mpeg2video -c:a mp2"), 4, true},
                 {"cut-mjpeg.avi",
                  Both("-f lavfi -i testsrc2=size=720x480:rate=25 ", "-t 10 -c:v mjpeg -c:a pcm_s16le"), 10,
                  true},
                 {"cut.mp4", Both(kVideo, "-t 4 -c:v libx264 -c:a aac"), 4, false}};
    for (const auto& [name, arguments, seconds, probes] : cases) {
        const std::string whole = dir_.File(std::string("whole-") + name);
        ASSERT_TRUE(MakeMedia(arguments, whole));
        const std::string cut = dir_.File(name);
        std::filesystem::copy_file(whole, cut);
        std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 2);

        ClipRecord clip;
        const int32_t result = clip.ReadMediaInfo(cut);
        ASSERT_EQ(result == 0, probes) << name;
        if (!probes) continue;
        const long frames = std::atol(Probe(cut, "v:0", "stream=nb_read_frames", true).c_str());
        EXPECT_NEAR(double(clip.FrameCount), double(frames), 1.0) << name;
        EXPECT_LT(clip.VideoLength, 0.75 * seconds) << name;
    }
}

// Ranges count from the file's start, so a picture that starts after its sound lasts, for the
// probe, from there to the end of its last picture: the default range then holds every
// picture. The program stream's last picture carries no presentation time of its own.
TEST_F(ClipRecordRefusals, PictureStartingAfterItsSoundCountsFromTheFileStart) {
    for (const char* name : {"late.mpg", "late.ts", "late.mkv"}) {
        const std::string base = dir_.File(std::string("base-") + name);
        ASSERT_TRUE(MakeMedia(Both(kVideo, "-t 2 -c:v mpeg2video -c:a mp2"), base));
        const std::string path = dir_.File(name);
        ASSERT_TRUE(MakeMedia("-i '" + base + "' -itsoffset 0.8 -i '" + base +
                                  "' -map 1:v -map 0:a -c copy",
                              path));
        ClipRecord clip;
        ASSERT_EQ(clip.ReadMediaInfo(path), 0) << name;
        const double lead = std::atof(Probe(path, "v:0", "stream=start_time").c_str()) -
                            std::atof(Probe(path, "", "format=start_time").c_str());
        const long frames = std::atol(Probe(path, "v:0", "stream=nb_read_frames", true).c_str());
        EXPECT_NEAR(lead, 0.8, 0.05) << name;
        EXPECT_NEAR(clip.VideoLength, lead + frames / 25.0, 0.01) << name;
        EXPECT_EQ(clip.RangeEnd, clip.VideoLength) << name;
    }
}

// A phone filming upright stores 1280 x 720 pictures with a quarter turn in their display
// matrix (here written by ffmpeg's own muxer, as a phone's is): the record gives the size
// every player shows, which the list's Resolution column and the probe tool print.
TEST_F(ClipRecordRefusals, TurnedClipGivesItsShownSize) {
    const std::string stored = dir_.File("stored.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=1280x720:rate=30 -t 0.5 -c:v libx264", stored));
    const struct {
        const char* rotate;
        const char* matrixRotation;  // as ffprobe reads the matrix: degrees anticlockwise
        int32_t width, height;
    } cases[] = {{"90", "90", 720, 1280}, {"180", "-180", 1280, 720}, {"270", "-90", 720, 1280}};
    for (const auto& c : cases) {
        const std::string path = dir_.File(std::string("phone-") + c.rotate + ".mp4");
        ASSERT_TRUE(MakeMedia("-i '" + stored + "' -c copy -metadata:s:v rotate=" + c.rotate, path));
        ASSERT_EQ(Probe(path, "v:0", "stream_side_data=rotation"), c.matrixRotation);
        ClipRecord clip;
        ASSERT_EQ(clip.ReadMediaInfo(path), 0);
        EXPECT_EQ(clip.Width, c.width) << c.rotate;
        EXPECT_EQ(clip.Height, c.height) << c.rotate;
    }
}

// Broadcast recordings and camera files often jump in their clock: a transport or program
// stream spliced from 3 s pieces lasts, for the probe, what its pieces hold, whichever way and
// however far the clock jumps between them.
TEST_F(ClipRecordRefusals, ClockJumpsAreNotCountedInTheLength) {
    const struct {
        const char* name;
        const char* file;
        std::vector<double> clockStarts;
    } cases[] = {
        {"60 s forward", "forward.ts", {0, 63}},
        {"6 h forward", "hours.ts", {0, 21603}},
        {"backward", "backward.ts", {100, 10}},
        {"forward, then back", "twice.ts", {0, 63, 20}},
        {"program stream, 60 s forward", "forward.mpg", {0, 63}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<reader_test::ClockPiece> pieces;
        for (double start : c.clockStarts) {
            pieces.push_back({Both(kVideo, "-t 3 -c:v mpeg2video -c:a mp2"), start});
        }
        const std::string path = dir_.File(c.file);
        ASSERT_TRUE(reader_test::MakeJumpingStream(pieces, path));
        ClipRecord clip;
        ASSERT_EQ(clip.ReadMediaInfo(path), 0);
        const double content = 3.0 * double(pieces.size());
        EXPECT_NEAR(clip.VideoLength, content, 0.1);
        EXPECT_NEAR(clip.AudioLength, content, 0.1);
        EXPECT_NEAR(double(clip.FrameCount), content * 25, 3);
        EXPECT_EQ(clip.RangeEnd, clip.VideoLength);
    }
}

// Reception errors flip bits of time stamps: one damaged stamp of a 10 s transport stream,
// however far it throws its picture (a bit flipped up or down, seconds or hours), leaves the
// probe's lengths at what ffprobe reads of the undamaged file (ffprobe itself takes a late stamp
// among the last pictures for the end).
TEST_F(ClipRecordRefusals, DamagedStampDoesNotStretchTheLength) {
    using reader_test::DamagedStamp;
    const std::string clean = dir_.File("clean.ts");
    ASSERT_TRUE(MakeMedia(Both(kVideo, "-t 10 -c:v mpeg2video -bf 2 -q:v 4 -c:a mp2"), clean));
    const double videoLength = StreamDuration(clean, "v:0");
    const double audioLength = StreamDuration(clean, "a:0");
    const struct {
        const char* name;
        DamagedStamp which;
        int bit;
    } cases[] = {
        {"PTS, 11.6 s later", DamagedStamp::ReorderedPts, 20},
        {"PTS, 12 minutes later", DamagedStamp::ReorderedPts, 26},
        {"PTS, 13 hours later", DamagedStamp::ReorderedPts, 32},
        {"PTS, 0.36 s earlier", DamagedStamp::ReorderedPts, 15},
        {"DTS, 12 minutes later", DamagedStamp::Dts, 26},
        {"DTS, 1.5 s earlier", DamagedStamp::Dts, 17},
        {"B-picture, 3 s later", DamagedStamp::LonePts, 18},
        {"B-picture, 12 minutes later", DamagedStamp::LonePts, 26},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const int first : {100, 245}) {  // in the middle, and among the last pictures
            SCOPED_TRACE(first);
            const std::string path = dir_.File("damaged.ts");
            ASSERT_TRUE(reader_test::FlipStampBit(clean, path, first, c.bit, c.which));
            ClipRecord clip;
            ASSERT_EQ(clip.ReadMediaInfo(path), 0);
            EXPECT_NEAR(clip.VideoLength, videoLength, 0.1);
            EXPECT_NEAR(clip.AudioLength, audioLength, 0.1);
        }
    }
}

// A continuous encode whose clock jumps 60 s ahead inside a group of pictures (a picture
// decoded before the jump is shown after it) lasts its 6 s, as the same jump between groups.
TEST_F(ClipRecordRefusals, ClockJumpInsideAGroupIsNotCountedInTheLength) {
    const std::string clean = dir_.File("clean.ts");
    ASSERT_TRUE(MakeMedia(Both(kVideo, "-t 6 -c:v mpeg2video -bf 2 -g 12 -q:v 4 -c:a mp2"), clean));
    const double start = std::atof(Probe(clean, "v:0", "stream=start_time").c_str());
    // 3.06 s in: between the two B-pictures of the 7th group's first anchor; 3.16 s: before a
    // group's I-picture.
    for (const double at : {3.06, 3.17}) {
        SCOPED_TRACE(at);
        const std::string path = dir_.File("jump.ts");
        ASSERT_TRUE(reader_test::StepClockAt(clean, path, start + at, 60.0));
        ClipRecord clip;
        ASSERT_EQ(clip.ReadMediaInfo(path), 0);
        EXPECT_NEAR(clip.VideoLength, 6.0, 0.1);
        EXPECT_NEAR(clip.AudioLength, 6.0, 0.1);
    }
}

TEST(ClipRecordArithmetic, TruncationNeverOverflowsOrTakesNaN) {
    EXPECT_EQ(reader::TruncateToInt64(std::nan("")), 0);
    EXPECT_EQ(reader::TruncateToInt64(-2.9), -2);
    EXPECT_EQ(reader::TruncateToInt64(1e300), INT64_MAX);
    EXPECT_EQ(reader::TruncateToInt64(-HUGE_VAL), INT64_MIN);
    EXPECT_EQ(reader::TruncateToInt32(1e12), INT32_MAX);
    EXPECT_EQ(reader::TruncateToInt32(299.9999), 299);
}

}  // namespace
