// Clips that cannot be read, or not in full: whole jobs, headless, over ffmpeg-made clips that
// the test damages or cuts. A clip that gives no picture fails naming the clip; one whose file
// cannot be read says why; one that comes short or without its sound becomes a chapter, and the
// job names it at its end instead of reading as a clean finish.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/file_utils.h"
#include "core/log.h"
#include "driver/clip_warnings.h"
#include "driver/main_frame.h"
#include "job_fixtures.h"

namespace driver {
namespace {

using testing::RecordingBoxes;
using testing::RecordingView;
using testing::TempFolder;

const testing::ClipCodecs kMp4Codecs = testing::Mp4Codecs();

// Turns the bytes at `offset` (count of them) into garbage.
void Scramble(std::string* bytes, std::size_t offset, std::size_t count) {
    ASSERT_LE(offset + count, bytes->size());
    for (std::size_t i = offset; i < offset + count; ++i) (*bytes)[i] = char((*bytes)[i] ^ 0x5a);
}

// An MP4's H.264 parameter sets (SPS and PPS in its avcC box) damaged past their first byte.
void DamageH264ParameterSets(const std::string& path) {
    std::string bytes = testing::ReadFile(path);
    const std::size_t box = bytes.find("avcC");
    ASSERT_NE(box, std::string::npos);
    const std::size_t spsLength = box + 4 + 6;
    const std::size_t sps = (std::size_t(uint8_t(bytes[spsLength])) << 8) | uint8_t(bytes[spsLength + 1]);
    Scramble(&bytes, spsLength + 3, sps - 1);
    const std::size_t ppsLength = spsLength + 2 + sps + 1;
    const std::size_t pps = (std::size_t(uint8_t(bytes[ppsLength])) << 8) | uint8_t(bytes[ppsLength + 1]);
    Scramble(&bytes, ppsLength + 3, pps - 1);
    testing::WriteFile(path, bytes);
}

// An MP4's AAC configuration (the decoder-specific descriptor of its esds box) made invalid.
void DamageAacHeader(const std::string& path) {
    std::string bytes = testing::ReadFile(path);
    const std::size_t box = bytes.find("esds");
    ASSERT_NE(box, std::string::npos);
    const std::size_t descriptor = bytes.find(std::string("\x05\x80\x80\x80", 4), box);
    ASSERT_NE(descriptor, std::string::npos);
    bytes[descriptor + 5] = char(0xff);
    bytes[descriptor + 6] = char(0xff);
    testing::WriteFile(path, bytes);
}

class ClipReadingTest : public ::testing::Test {
protected:
    void SetUp() override {
        core::InitLogAtPath(work_ / "Lumivane.log");
        frame_.Settings().Standard = 0;
    }

    // Each job writes into a fresh output folder.
    void Use(uint32_t useDes, uint32_t directVob) {
        output_ = work_ / ("out" + std::to_string(++jobs_));
        frame_.Settings().OutputFolder = output_;
        frame_.Settings().UseDES = useDes;
        frame_.Settings().DirectVOB = directVob;
    }

    void RunJob() {
        ASSERT_TRUE(frame_.OnStartEncoding());
        frame_.WaitForJob();
    }

    TempFolder work_;
    std::string output_;
    int jobs_ = 0;
    RecordingView view_;
    MainFrame frame_{&view_};
};

struct Reader {
    const char* name;
    uint32_t useDes;
    uint32_t directVob;
};
const Reader kReaders[] = {
    {"plain graph, elementary streams", 0, 0},
    {"timeline, elementary streams", 1, 0},
    {"timeline, direct", 1, 1},
};

// The timeline fills its range with black when the file gives no picture; the job must still
// see that none came, as the plain graph does.
TEST_F(ClipReadingTest, DamagedPictureHeadersFailTheClipByName) {
    const std::string clip = testing::MakeClip(work_ / "phone.mp4", "320x240", "25", 44100, 2, 2.0,
                                               kMp4Codecs);
    DamageH264ParameterSets(clip);
    const reader::ClipRecord probed = testing::ProbeClip(clip);
    ASSERT_EQ(probed.HasVideo, 1);
    frame_.AddClip(probed);
    for (const Reader& reader : kReaders) {
        SCOPED_TRACE(reader.name);
        Use(reader.useDes, reader.directVob);
        RecordingBoxes boxes;
        RunJob();

        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text,
                  "Encoding " + clip + " failed:\nNo picture could be read from the clip.");
        EXPECT_EQ(boxes.Shown()[0].caption, "Error");
        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
        EXPECT_FALSE(core::IsDirectory((output_ + "/DVD").c_str()));
    }
}

// The clip becomes a silent chapter, as before, but the user hears of it by the clip's name.
TEST_F(ClipReadingTest, UndecodableSoundIsNamedAtTheEnd) {
    const std::string clip = testing::MakeClip(work_ / "phone.mp4", "320x240", "25", 44100, 2, 2.0,
                                               kMp4Codecs);
    DamageAacHeader(clip);
    frame_.AddClip(testing::ProbeClip(clip));
    for (const Reader& reader : kReaders) {
        SCOPED_TRACE(reader.name);
        Use(reader.useDes, reader.directVob);
        RecordingBoxes boxes;
        RunJob();

        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Finished);
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].caption, "Warning");
        EXPECT_NE(boxes.Shown()[0].text.find(clip + ": its sound could not be decoded"),
                  std::string::npos)
            << boxes.Shown()[0].text;
        ASSERT_EQ(frame_.LastClipWarnings().Items().size(), 1u);
        EXPECT_EQ(view_.Statuses().back(),
                  "Job finished, but some clips could not be read in full. Output folder: " + output_);
        EXPECT_EQ(testing::ReadDisc(output_ + "/DVD").chapters, 1);
    }
}

// The file is cut to half its bytes once its first pictures are encoded: the reader meets the
// new end of file long before the range's end, and the job says how much was read. The clip has
// no sound, so the reader cannot have read far ahead of the pictures by then.
TEST_F(ClipReadingTest, ClipCutWhileReadIsReported) {
    constexpr double kSeconds = 10.0;
    for (const Reader& reader : kReaders) {
        SCOPED_TRACE(reader.name);
        const std::string clip =
            testing::MakeClip(work_ / "long.avi", "160x120", "25", 0, 0, kSeconds);
        frame_.AddClip(testing::ProbeClip(clip));
        struct stat info {};
        ASSERT_EQ(::stat(clip.c_str(), &info), 0);
        std::atomic<bool> cut{false};
        view_.onProgress = [&](unsigned message, uintptr_t) {
            if (message == platform::PBM_SETPOS && !cut.exchange(true)) {
                EXPECT_EQ(::truncate(clip.c_str(), info.st_size / 2), 0);
            }
        };
        Use(reader.useDes, reader.directVob);
        RecordingBoxes boxes;
        RunJob();
        view_.onProgress = nullptr;

        EXPECT_TRUE(cut);
        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Finished);
        ASSERT_EQ(frame_.LastClipWarnings().Items().size(), 1u);
        const ClipWarning& warning = frame_.LastClipWarnings().Items()[0];
        EXPECT_EQ(warning.Path, clip);
        double read = 0, range = 0;
        ASSERT_EQ(std::sscanf(warning.Problem.c_str(), "only %lf of its %lf seconds", &read, &range), 2)
            << warning.Problem;
        EXPECT_EQ(range, kSeconds);
        EXPECT_GT(read, 2.0);
        EXPECT_LT(read, 6.0);
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_NE(boxes.Shown()[0].text.find(clip + ": " + warning.Problem), std::string::npos);
        EXPECT_NE(view_.Statuses().back().find("not be read in full"), std::string::npos);
        frame_.RemoveClip(0);
    }
}

// When no reader can be built for a clip, the box names the clip and what was found, and
// sends nobody to install DirectX. (A clip that is missing, a folder, empty or unreadable does
// not get this far: Start refuses it.)
TEST_F(ClipReadingTest, ClipWithoutReaderSaysWhy) {
    const std::string text = work_ / "notes.avi";
    testing::WriteFile(text, "this is not a video");
    const std::string real = testing::MakeClip(work_ / "real.avi", "160x120", "25", 48000, 2, 1.0);

    struct Case {
        std::string path;
        double start, end;
        std::string reason;
    };
    const Case cases[] = {
        {text, 0.0, 1.0,
         "No video or sound can be read from it (an unknown format, or a damaged or incomplete "
         "file)."},
    };
    for (const Case& c : cases) {
        for (const Reader& reader : kReaders) {
            SCOPED_TRACE(c.path + ", " + reader.name);
            reader::ClipRecord clip;
            clip.Path = c.path;
            clip.HasVideo = 1;
            clip.RangeStart = c.start;
            clip.RangeEnd = c.end;
            frame_.AddClip(clip);
            Use(reader.useDes, reader.directVob);
            RecordingBoxes boxes;
            RunJob();
            frame_.RemoveClip(0);

            ASSERT_EQ(boxes.Shown().size(), 1u);
            EXPECT_EQ(boxes.Shown()[0].text, "Encoding " + c.path + " failed:\n" + c.reason);
            EXPECT_EQ(boxes.Shown()[0].caption, "Error");
            EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
        }
    }

    // Only the timeline takes the range at its word when it is built.
    reader::ClipRecord reversed = testing::ProbeClip(real);
    reversed.RangeStart = 0.8;
    reversed.RangeEnd = 0.3;
    frame_.AddClip(reversed);
    Use(1, 0);
    RecordingBoxes boxes;
    RunJob();
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text,
              "Encoding " + real + " failed:\nIts range starts at 0.80 s, which is not before its end "
              "at 0.30 s.");
}

TEST(ClipWarningsTest, NotesPicturesThatEndWellBeforeTheRangeAndMissingSound) {
    const struct {
        const char* name;
        double rangeStart, rangeEnd;
        double audioLength;  // 0: the probe found no sound
        reader::SourceDelivery delivered;
        std::vector<std::string> problems;
    } cases[] = {
        {"read in full", 2.0, 12.0, 12.0, {250, 10.0, 10.0}, {}},
        {"last picture a little short", 2.0, 12.0, 12.0, {240, 9.1, 10.0}, {}},
        {"cut", 2.0, 12.0, 12.0, {200, 8.0, 10.0}, {"only 8.0 of its 10.0 seconds could be read."}},
        {"no range of its own", 0.0, 0.0, 0.0, {25, 1.0, 0.0}, {}},
        {"no sound in the file", 0.0, 1.0, 0.0, {25, 1.0, 0.0}, {}},
        {"sound ends before the range", 6.0, 9.0, 5.0, {75, 3.0, 0.0}, {}},
        {"sound not decoded", 0.0, 1.0, 1.0, {25, 1.0, 0.0},
         {"its sound could not be decoded; the chapter is silent."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reader::ClipRecord clip;
        clip.Path = "/nowhere/clip.mp4";
        clip.RangeStart = c.rangeStart;
        clip.RangeEnd = c.rangeEnd;
        clip.HasAudio = c.audioLength > 0.0;
        clip.AudioLength = c.audioLength;
        ClipWarnings warnings;
        warnings.Review(clip, c.delivered);
        std::vector<std::string> problems;
        for (const ClipWarning& warning : warnings.Items()) problems.push_back(warning.Problem);
        EXPECT_EQ(problems, c.problems);
        EXPECT_EQ(warnings.Message().empty(), c.problems.empty());
    }
}

}  // namespace
}  // namespace driver
