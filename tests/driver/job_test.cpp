// Whole jobs, headless: clips made by ffmpeg go through the reader, the encoders or the direct
// writer, the multiplexer and the authoring engine into a DVD folder that libdvdread and lsdvd
// read back.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "core/file_utils.h"
#include "core/log.h"
#include "driver/main_frame.h"
#include "job_fixtures.h"
#include "read_faults.h"

namespace driver {
namespace {

using testing::DiscLayout;
using testing::RecordingBoxes;
using testing::RecordingView;
using testing::TempFolder;

constexpr double kClipSeconds = 1.5;

// Two clips made once per test program: NTSC-sized at 29.97 with 48 kHz stereo sound, and a
// smaller PAL-rate one with 44.1 kHz mono sound. Kept outside the output folder, like a user's.
class JobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sources_ = new TempFolder;
        ntscClip_ = testing::MakeClip(*sources_ / "ntsc.avi", "720x480", "30000/1001", 48000, 2,
                                      kClipSeconds);
        palClip_ = testing::MakeClip(*sources_ / "small.avi", "352x288", "25", 44100, 1,
                                     kClipSeconds);
    }
    static void TearDownTestSuite() {
        delete sources_;
        sources_ = nullptr;
    }

    void SetUp() override {
        core::InitLogAtPath(work_ / "Lumivane.log");
        output_ = work_ / "out";
        frame_.Settings().OutputFolder = output_;
        frame_.Settings().Standard = 0;
        frame_.Settings().UseDES = 0;  // the tests that read through the timeline say so
        // A user's own files in the output folder must come through a job unchanged.
        ASSERT_TRUE(core::CreateDirectoryTree(output_.c_str()));
        testing::WriteFile(output_ + "/notes.txt", "mine");
    }

    // Starts a job through the Start command and waits for it.
    void RunJob() {
        const int ended = view_.JobEndedCalls();
        ASSERT_TRUE(frame_.OnStartEncoding());
        frame_.WaitForJob();
        EXPECT_FALSE(frame_.IsJobRunning());
        EXPECT_EQ(view_.JobEndedCalls(), ended + 1);
    }

    void ExpectOnlyDiscAndUserFiles() {
        EXPECT_EQ(testing::ListFolder(output_), (std::vector<std::string>{"DVD", "notes.txt"}));
        EXPECT_EQ(testing::ReadFile(output_ + "/notes.txt"), "mine");
        EXPECT_EQ(testing::ListFolder(output_ + "/DVD/VIDEO_TS"),
                  (std::vector<std::string>{"VIDEO_TS.BUP", "VIDEO_TS.IFO", "VTS_01_0.BUP",
                                            "VTS_01_0.IFO", "VTS_01_1.VOB"}));
    }

    static TempFolder* sources_;
    static std::string ntscClip_;
    static std::string palClip_;

    TempFolder work_;
    std::string output_;
    RecordingView view_;
    RecordingBoxes boxes_;
    MainFrame frame_{&view_};
};

TempFolder* JobTest::sources_ = nullptr;
std::string JobTest::ntscClip_;
std::string JobTest::palClip_;

struct Road {
    const char* name;
    uint32_t directVob;
    uint32_t audioFormat;
    uint32_t standard;  // 0 NTSC, 1 PAL
    uint32_t useDes;    // 1: the editing-services timeline reads the clips
};

// The numbers that follow each `label` in the log, in order.
std::vector<int> LoggedCounts(const std::string& log, const std::string& label) {
    std::vector<int> counts;
    for (std::size_t at = log.find(label); at != std::string::npos; at = log.find(label, at + 1)) {
        counts.push_back(std::atoi(log.c_str() + at + label.size()));
    }
    return counts;
}

// "Encoded r / t frames ..." statuses whose count r runs past the total t announced.
std::vector<std::string> CountsPastTheirTotal(const std::vector<std::string>& statuses) {
    std::vector<std::string> past;
    for (const std::string& status : statuses) {
        int received = 0, total = 0;
        if (std::sscanf(status.c_str(), "Encoded %d / %d frames", &received, &total) == 2 &&
            received > total) {
            past.push_back(status);
        }
    }
    return past;
}

void PrintTo(const Road& road, std::ostream* out) { *out << road.name; }

class JobRoadTest : public JobTest, public ::testing::WithParamInterface<Road> {};

TEST_P(JobRoadTest, TwoClipsBecomeOneTitleWithAChapterEach) {
    frame_.Settings().DirectVOB = GetParam().directVob;
    frame_.Settings().AudioFormat = GetParam().audioFormat;
    frame_.Settings().Standard = GetParam().standard;
    frame_.Settings().UseDES = GetParam().useDes;
    const reader::ClipRecord clips[] = {testing::ProbeClip(ntscClip_), testing::ProbeClip(palClip_)};
    for (const reader::ClipRecord& clip : clips) frame_.AddClip(clip);
    std::vector<uintptr_t> positions;  // only the worker and the graph's video thread post
    std::mutex positionsMutex;
    view_.onProgress = [&](unsigned message, uintptr_t wParam) {
        std::lock_guard<std::mutex> lock(positionsMutex);
        if (message == platform::PBM_SETPOS) positions.push_back(wParam);
    };
    RunJob();

    EXPECT_TRUE(boxes_.Shown().empty()) << boxes_.Shown().front().text;
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), 100u);
    EXPECT_LE(*std::max_element(positions.begin(), positions.end()), 100u);
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Finished);
    ExpectOnlyDiscAndUserFiles();
    const std::string log = testing::ReadFile(core::LogPath());
    EXPECT_EQ(log.find("Building DES Graph") != std::string::npos, GetParam().useDes == 1);
    if (GetParam().useDes == 1) {
        // The timeline delivers exactly the pictures announced, and the sink takes them all.
        const std::vector<int> totals = LoggedCounts(log, "total frames: ");
        EXPECT_EQ(totals.size(), 2u);
        EXPECT_EQ(totals, LoggedCounts(log, "received frames: "));
    }

    const DiscLayout disc = testing::ReadDisc(output_ + "/DVD");
    EXPECT_EQ(disc.titles, 1);
    EXPECT_EQ(disc.chapters, 2);
    EXPECT_EQ(disc.ntsc, GetParam().standard == 0);
    EXPECT_EQ(disc.width, 720);
    // Each chapter lasts its clip's range (the whole probed file: ffmpeg rounds the 25 fps
    // clip up to 38 pictures, 1.52 s).
    ASSERT_EQ(disc.cells.size(), 2u);
    double rangeSeconds = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        const double range = clips[i].RangeEnd - clips[i].RangeStart;
        EXPECT_NEAR(disc.cells[i], range, 1.0 / disc.framesPerSecond) << "chapter " << i + 1;
        rangeSeconds += range;
    }

    // The sound keeps up with the pictures on all roads, whatever the source's rate.
    const std::string titleVob = output_ + "/DVD/VIDEO_TS/VTS_01_1.VOB";
    const testing::StreamSeconds decoded = testing::DecodedSeconds(titleVob);
    EXPECT_NEAR(decoded.video, rangeSeconds, 2.0 / disc.framesPerSecond);
    EXPECT_NEAR(decoded.audio, rangeSeconds, 0.1);
    EXPECT_EQ(decoded.audioSampleRate, 48000);
    EXPECT_EQ(testing::DecodeErrors(titleVob), "");

    const std::string report = testing::RunLsdvd(output_ + "/DVD");
    EXPECT_NE(report.find("Chapters: 02"), std::string::npos) << report;

    EXPECT_EQ(view_.RangeMessages(), 2);  // one per clip
    const std::vector<std::string> statuses = view_.Statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), "Job finished. Output folder: " + output_);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Creating DVD structure..."),
              statuses.end());
    // The total counts the pictures the reader delivers, at the output rate on the timeline.
    EXPECT_EQ(CountsPastTheirTotal(statuses), std::vector<std::string>{});
    EXPECT_TRUE(view_.Commands()[ID_START]);
    EXPECT_FALSE(view_.Commands()[ID_STOP]);
}

INSTANTIATE_TEST_SUITE_P(Roads, JobRoadTest,
                         ::testing::Values(Road{"ElementaryStreamsMp2", 0, 0, 0, 0},
                                           Road{"DirectVobAc3", 1, 1, 0, 0},
                                           Road{"DirectVobPalMp2", 1, 0, 1, 0},
                                           Road{"TimelineElementaryStreamsMp2", 0, 0, 0, 1},
                                           Road{"TimelineDirectVobAc3", 1, 1, 0, 1},
                                           Road{"TimelinePalElementaryStreamsAc3", 0, 1, 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Both readers: the plain graph (0) and the editing-services timeline (1).
class JobReaderTest : public JobTest, public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override {
        JobTest::SetUp();
        frame_.Settings().UseDES = GetParam();
    }

    // Runs a job over clips once per writer (elementary streams, then direct), each into a
    // fresh output folder, and hands each finished DVD folder to check.
    void OnBothWriters(const std::vector<reader::ClipRecord>& clips,
                       const std::function<void(const std::string& dvdFolder)>& check) {
        for (uint32_t direct : {0u, 1u}) {
            SCOPED_TRACE(direct ? "direct" : "elementary streams");
            TempFolder work;
            check(testing::RunJobInto(work / "out", clips, [&](core::Settings& settings) {
                settings.DirectVOB = direct;
                settings.UseDES = GetParam();
            }, boxes_));
        }
    }
};

INSTANTIATE_TEST_SUITE_P(Readers, JobReaderTest, ::testing::Values(0u, 1u),
                         [](const auto& info) {
                             return std::string(info.param ? "Timeline" : "PlainGraph");
                         });

// Stop during the second of three clips: that clip is finished from what was encoded, the third
// never starts, and the disc holds the two.
TEST_P(JobReaderTest, StopDuringTheSecondClipAuthorsWhatWasMade) {
    frame_.Settings().DirectVOB = 0;
    for (const std::string& clip : {ntscClip_, ntscClip_, palClip_}) {
        frame_.AddClip(testing::ProbeClip(clip));
    }
    std::atomic<bool> stopped{false};
    view_.onProgress = [&](unsigned message, uintptr_t) {
        if (message == platform::PBM_SETPOS && view_.RangeMessages() == 2 && !stopped.exchange(true)) {
            EXPECT_TRUE(view_.Commands()[ID_STOP]);
            EXPECT_FALSE(view_.Commands()[ID_START]);
            EXPECT_FALSE(view_.Commands()[ID_CLIP_DELETE]);
            frame_.OnStopEncoding();
        }
    };
    RunJob();

    EXPECT_TRUE(stopped);
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Stopped);
    EXPECT_EQ(view_.Statuses().back(),
              "Job stopped: the disc holds the first 2 of 3 clips, the last one only up to where "
              "it was stopped. Output folder: " + output_);
    EXPECT_EQ(view_.RangeMessages(), 2);
    ExpectOnlyDiscAndUserFiles();
    const DiscLayout disc = testing::ReadDisc(output_ + "/DVD");
    EXPECT_EQ(disc.titles, 1);
    EXPECT_EQ(disc.chapters, 2);
    ASSERT_EQ(disc.cells.size(), 2u);
    EXPECT_NEAR(disc.cells[0], kClipSeconds, 1.0 / disc.framesPerSecond);
    // The stop came with the tenth picture; what the graph still delivered is not encoded.
    EXPECT_GT(disc.cells[1], 0.0);
    EXPECT_LT(disc.cells[1], 0.5);
    EXPECT_EQ(testing::DecodeErrors(output_ + "/DVD/VIDEO_TS/VTS_01_1.VOB"), "");
}

// The files people bring: an MP4 with H.264 pictures and AAC sound at 44.1 kHz, played from
// a range that starts between its key frames, and an AVI with 22.05 kHz mono sound. Both
// become chapters of their range's length with 48 kHz sound that decodes cleanly, on both
// writers.
TEST_P(JobReaderTest, Mp4AndLowRateAviBecomeChapters) {
    const std::string mp4 = testing::MakeClip(work_ / "phone.mp4", "640x360", "30", 44100, 2, 3.0,
                                              testing::Mp4Codecs());
    const std::string avi = testing::MakeClip(work_ / "old.avi", "352x288", "25", 22050, 1, 1.0);
    reader::ClipRecord phone = testing::ProbeClip(mp4);
    phone.RangeStart = 0.5;
    phone.RangeEnd = 2.2;
    const reader::ClipRecord old = testing::ProbeClip(avi);
    OnBothWriters({phone, old}, [&](const std::string& dvdFolder) {
        const DiscLayout disc = testing::ReadDisc(dvdFolder);
        EXPECT_EQ(disc.chapters, 2);
        ASSERT_EQ(disc.cells.size(), 2u);
        EXPECT_NEAR(disc.cells[0], 1.7, 1.0 / disc.framesPerSecond);
        EXPECT_NEAR(disc.cells[1], old.RangeEnd - old.RangeStart, 1.0 / disc.framesPerSecond);
        const std::string titleVob = dvdFolder + "/VIDEO_TS/VTS_01_1.VOB";
        const testing::StreamSeconds decoded = testing::DecodedSeconds(titleVob);
        const double seconds = 1.7 + old.RangeEnd - old.RangeStart;
        EXPECT_NEAR(decoded.video, seconds, 2.0 / disc.framesPerSecond);
        EXPECT_NEAR(decoded.audio, seconds, 0.1);
        EXPECT_EQ(decoded.audioSampleRate, 48000);
        EXPECT_EQ(testing::DecodeErrors(titleVob), "");
        const std::string report = testing::RunLsdvd(dvdFolder);
        EXPECT_NE(report.find("Chapters: 02"), std::string::npos) << report;
    });
}

// The disc is shown at 4:3 with pixels that are not square (8:9 at 720 x 480, 16:15 at
// 720 x 576): a light clip keeps its displayed proportions between black bands, whatever its
// own pixel shape, and a stretched one fills the frame. The writers take turns.
TEST_P(JobReaderTest, PicturesKeepTheirDisplayedProportions) {
    const struct {
        const char* name;
        const char* size;
        const char* sampleAspect;
        uint32_t standard, letterBox;
        int rows, columns;
    } cases[] = {
        {"16:9 square pixels on NTSC", "1920x1080", "1", 0, 0, 360, 720},
        {"16:9 square pixels on PAL", "1920x1080", "1", 1, 0, 432, 720},
        {"4:3 square pixels fill NTSC", "640x480", "1", 0, 0, 480, 720},
        {"wide DV on NTSC", "720x480", "32/27", 0, 0, 360, 720},
        {"stretched 16:9 fills NTSC", "1920x1080", "1", 0, 1, 480, 720},
    };
    uint32_t direct = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder work;
        testing::ClipCodecs codecs;
        codecs.picture = "color=c=white";
        codecs.pictureFilters = std::string(",setsar=") + c.sampleAspect;
        const std::string clip = testing::MakeClip(work / "clip.mkv", c.size,
                                                   c.standard == 0 ? "30000/1001" : "25", 48000, 2, 1.0, codecs);
        const std::string dvdFolder =
            testing::RunJobInto(work / "out", {testing::ProbeClip(clip)}, [&](core::Settings& settings) {
                settings.UseDES = GetParam();
                settings.Standard = c.standard;
                settings.LetterBox = c.letterBox;
                settings.DirectVOB = direct;
            }, boxes_);
        direct ^= 1;
        const testing::LitExtent lit =
            testing::LitPictureExtent(dvdFolder + "/VIDEO_TS/VTS_01_1.VOB", 0.5);
        EXPECT_NEAR(lit.rows, c.rows, 2);
        EXPECT_NEAR(lit.columns, c.columns, 2);
    }
}

// A clip the reader cannot open ends the job with a box that names it and says why; the clips
// made before it stay, nothing is authored and the user's files are untouched.
TEST_P(JobReaderTest, UnreadableClipEndsTheJobWithoutAuthoring) {
    const std::string broken = work_ / "broken.avi";
    testing::WriteFile(broken, "this is not a video");
    frame_.Settings().DirectVOB = 1;
    frame_.AddClip(testing::ProbeClip(palClip_));
    reader::ClipRecord unreadable;
    unreadable.Path = broken;
    unreadable.HasVideo = 1;  // as probed before the file was damaged
    unreadable.RangeEnd = 1.0;  // a range the timeline would accept
    frame_.AddClip(unreadable);
    RunJob();

    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, "Encoding " + broken +
                                          " failed:\nNo video or sound can be read from it (an "
                                          "unknown format, or a damaged or incomplete file).");
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
    EXPECT_EQ(testing::ListFolder(output_),
              (std::vector<std::string>{"Lumivane00.vob", "notes.txt"}));
    EXPECT_EQ(testing::ReadFile(broken), "this is not a video");
    EXPECT_EQ(view_.Statuses().back(),
              "Job failed; no disc was made. Kept: Lumivane00.vob. Output folder: " + output_);
    EXPECT_TRUE(view_.Commands()[ID_START]);
}

// A range inside the clip: the chapter lasts as long as the range, on both roads. A range
// shorter than half a picture, in the middle of one or across two, still gives that picture.
TEST_P(JobReaderTest, ClipRangeSetsTheChapterLength) {
    const struct {
        double start, end;
        double chapterSeconds;
    } ranges[] = {
        {0.5, 1.2, 0.7},
        {0.5, 0.51, 1001.0 / 30000},
        {0.0, 0.01, 1001.0 / 30000},
        {1.0, 1.01, 1001.0 / 30000},  // 1.0 s lies just before the end of the 30th picture
    };
    for (const auto& range : ranges) {
        SCOPED_TRACE(std::to_string(range.start) + ".." + std::to_string(range.end));
        reader::ClipRecord clip = testing::ProbeClip(ntscClip_);
        clip.RangeStart = range.start;
        clip.RangeEnd = range.end;
        OnBothWriters({clip}, [&](const std::string& dvdFolder) {
            const DiscLayout disc = testing::ReadDisc(dvdFolder);
            ASSERT_EQ(disc.cells.size(), 1u);
            EXPECT_NEAR(disc.cells[0], range.chapterSeconds, 1.0 / disc.framesPerSecond);
        });
    }
}

// Stop while the first clip is multiplexed: its encoding is done, so its multiplex runs to the
// end rather than leaving a cut VOB on the disc; no further clip starts.
TEST_F(JobTest, StopDuringMultiplexingFinishesThatClipOnly) {
    frame_.Settings().DirectVOB = 0;
    frame_.AddClip(testing::ProbeClip(ntscClip_));
    frame_.AddClip(testing::ProbeClip(palClip_));
    view_.onStatus = [&](const std::string& status) {
        if (status == "Multiplexing audio and video...") frame_.OnStopEncoding();
    };
    RunJob();

    for (const auto& box : boxes_.Shown()) ADD_FAILURE() << box.text;
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Stopped);
    EXPECT_EQ(view_.Statuses().back(),
              "Job stopped: the disc holds the first of 2 clips. Output folder: " + output_);
    EXPECT_EQ(view_.RangeMessages(), 1);
    ExpectOnlyDiscAndUserFiles();
    const DiscLayout disc = testing::ReadDisc(output_ + "/DVD");
    EXPECT_EQ(disc.chapters, 1);
    ASSERT_EQ(disc.cells.size(), 1u);
    EXPECT_NEAR(disc.cells[0], kClipSeconds, 1.0 / disc.framesPerSecond);
    const std::string titleVob = output_ + "/DVD/VIDEO_TS/VTS_01_1.VOB";
    EXPECT_NEAR(testing::DecodedSeconds(titleVob).video, kClipSeconds, 0.05);
    EXPECT_EQ(testing::DecodeErrors(titleVob), "");
    testing::RunLsdvd(output_ + "/DVD");
}

// Stop while the disc is authored, with part of the title VOB written: everything that run
// wrote under the "DVD" folder goes (it would read as a disc that lacks clips), a folder that
// was there before stays, and the encoded VOBs are kept and named.
TEST_F(JobTest, StopDuringAuthoringKeepsTheVobsAndLeavesNoDisc) {
    frame_.Settings().DirectVOB = 0;
    frame_.AddClip(testing::ProbeClip(ntscClip_));
    frame_.AddClip(testing::ProbeClip(palClip_));
    ASSERT_TRUE(core::CreateDirectoryTree((output_ + "/DVD/empty").c_str()));  // reused unasked
    std::atomic<bool> authoring{false};
    std::atomic<int> authoringProgress{0};
    view_.onStatus = [&](const std::string& status) {
        if (status == "Creating DVD structure...") authoring = true;
    };
    view_.onProgress = [&](unsigned message, uintptr_t) {
        // The scanner reports at an input's first sector and tests for a stop 200 sectors on.
        if (authoring && message == platform::PBM_SETPOS && ++authoringProgress == 1) {
            frame_.OnStopEncoding();
        }
    };
    RunJob();

    EXPECT_GT(authoringProgress, 0);
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].caption, "Stopped");
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Stopped);
    EXPECT_EQ(testing::ListFolder(output_),
              (std::vector<std::string>{"DVD", "Lumivane00.vob", "Lumivane01.vob", "notes.txt"}));
    EXPECT_EQ(testing::ListFolder(output_ + "/DVD"), std::vector<std::string>{"empty"});
    EXPECT_EQ(testing::ListFolder(output_ + "/DVD/empty"), std::vector<std::string>{});
    for (const char* vob : {"/Lumivane00.vob", "/Lumivane01.vob"}) {
        EXPECT_NEAR(testing::DecodedSeconds(output_ + vob).video, kClipSeconds, 0.05) << vob;
    }
    EXPECT_EQ(view_.Statuses().back(),
              "Job stopped; no disc was made. Kept: Lumivane00.vob and Lumivane01.vob. Output "
              "folder: " + output_);
}

// A file named "DVD" that appears in the output folder while the clips are encoded (Start
// refuses one that is there before): the disc cannot be made there, so the job says why, with
// the engine's own reason, and keeps the encoded VOB instead of deleting it; the file stays.
TEST_F(JobTest, DiscFolderThatCannotBeMadeKeepsTheVobs) {
    frame_.Settings().DirectVOB = 0;
    frame_.AddClip(testing::ProbeClip(palClip_));
    view_.onStatus = [&](const std::string& status) {
        if (status == "Multiplexing audio and video...") {
            testing::WriteFile(output_ + "/DVD", "also mine");
        }
    };
    RunJob();

    const std::string reason = "Cannot create directory " + output_ + "/DVD/VIDEO_TS: Not a directory";
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, "Creating the DVD structure failed:\n\n" + reason +
                                          "\n\nThe clips' VOB files are kept in the output folder.");
    EXPECT_NE(testing::ReadFile(core::LogPath()).find(reason), std::string::npos);
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
    EXPECT_EQ(testing::ListFolder(output_),
              (std::vector<std::string>{"DVD", "Lumivane00.vob", "notes.txt"}));
    EXPECT_EQ(testing::ReadFile(output_ + "/DVD"), "also mine");
    EXPECT_NEAR(testing::DecodedSeconds(output_ + "/Lumivane00.vob").video, kClipSeconds, 0.05);
    EXPECT_EQ(view_.Statuses().back(),
              "Job failed; no disc was made. Kept: Lumivane00.vob. Output folder: " + output_);
    EXPECT_TRUE(view_.Commands()[ID_START]);
}

// Authoring that fails takes away only what its runs wrote: a file of the user's and another
// job's output folder that appeared in the "DVD" folder meanwhile stay, and so does a folder of
// the user's standing under the name of the file the titleset or the table of contents fails
// to write. What the titleset wrote goes also when only the table of contents failed.
TEST_F(JobTest, FailedAuthoringRemovesOnlyWhatItWrote) {
    const std::string dvd = output_ + "/DVD";
    const struct {
        const char* name;
        const char* blocked;  // a folder of the user's under this name in VIDEO_TS
    } cases[] = {
        {"the titleset fails", "VTS_01_0.BUP"},
        {"the table of contents fails", "VIDEO_TS.IFO"},
    };
    frame_.Settings().DirectVOB = 1;
    frame_.AddClip(testing::ProbeClip(palClip_));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingBoxes boxes;
        const std::string blocked = dvd + "/VIDEO_TS/" + c.blocked;
        view_.onStatus = [&](const std::string& status) {
            if (status != "Creating DVD structure...") return;
            ASSERT_TRUE(core::CreateDirectoryTree(blocked.c_str()));
            ASSERT_TRUE(core::CreateDirectoryTree((dvd + "/other-job").c_str()));
            testing::WriteFile(dvd + "/mine.txt", "the user's");
            testing::WriteFile(dvd + "/other-job/Lumivane00.vob", "another job's");
        };
        RunJob();

        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_NE(boxes.Shown()[0].text.find(blocked + ": Is a directory"), std::string::npos)
            << boxes.Shown()[0].text;
        EXPECT_EQ(testing::ListFolder(dvd), (std::vector<std::string>{"VIDEO_TS", "mine.txt", "other-job"}));
        EXPECT_EQ(testing::ListFolder(dvd + "/VIDEO_TS"), std::vector<std::string>{c.blocked});
        EXPECT_EQ(testing::ReadFile(dvd + "/mine.txt"), "the user's");
        EXPECT_EQ(testing::ReadFile(dvd + "/other-job/Lumivane00.vob"), "another job's");
        EXPECT_EQ(view_.Statuses().back(),
                  "Job failed; no disc was made. Kept: Lumivane00.vob. Output folder: " + output_);
        std::filesystem::remove_all(dvd);
        std::filesystem::remove(output_ + "/Lumivane00.vob");
    }
}

// The disk of the disc folder fills while the disc is written: the box and the log give the
// system's reason, the job fails, and the VOBs stay.
TEST_F(JobTest, DiskThatFillsDuringAuthoringNamesTheReason) {
    const std::string dvd = output_ + "/DVD";
    ASSERT_TRUE(core::CreateDirectoryTree(dvd.c_str()));
    testing::MountedTmpfs disk(dvd, "size=64k");
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    frame_.Settings().DirectVOB = 1;
    frame_.AddClip(testing::ProbeClip(palClip_));
    RunJob();

    ASSERT_EQ(boxes_.Shown().size(), 1u);
    const std::string text = boxes_.Shown()[0].text;
    EXPECT_EQ(text.rfind("Creating the DVD structure failed:\n\n", 0), 0u) << text;
    EXPECT_NE(text.find("VTS_01_1.VOB: No space left on device"), std::string::npos) << text;
    EXPECT_NE(testing::ReadFile(core::LogPath()).find("No space left on device"), std::string::npos);
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
    EXPECT_EQ(testing::ListFolder(output_),
              (std::vector<std::string>{"DVD", "Lumivane00.vob", "notes.txt"}));
    EXPECT_EQ(testing::ListFolder(dvd), std::vector<std::string>{});  // what it wrote went
}

// A fault in the middle of a VOB of several MB, after the engine has written its progress
// lines: the box and the log still give the system's reason, the job fails and keeps the VOB.
// The fault comes once the clip is encoded, as authoring begins.
TEST_F(JobTest, AuthoringFaultAfterProgressLinesNamesTheReason) {
    constexpr double kLongClipSeconds = 20.0;  // past the engine's first progress line at 16 VOBUs
    const std::string clip =
        testing::MakeClip(work_ / "long.avi", "352x288", "25", 0, 0, kLongClipSeconds);
    const std::string dvd = output_ + "/DVD";
    const std::string vob = output_ + "/Lumivane00.vob";
    std::unique_ptr<testing::MountedTmpfs> disk;
    std::unique_ptr<testing::FailingReads> failingReads;
    const auto vobSize = [&] { return off_t(std::filesystem::file_size(vob)); };
    const struct {
        const char* name;
        std::function<bool()> makeFault;  // false: this machine cannot make it
        std::string reason;
    } cases[] = {
        {"read error on the clip's VOB",
         [&] {
             failingReads = std::make_unique<testing::FailingReads>(vob, vobSize() * 3 / 5, vobSize() * 4 / 5);
             return true;
         },
         "Error reading " + vob + ": Input/output error"},
        {"disk full while the title VOB is written",
         [&] {
             disk = std::make_unique<testing::MountedTmpfs>(
                 dvd, "size=" + std::to_string(vobSize() * 3 / 4 / 1024) + "k");
             return disk->Mounted();
         },
         "Error writing data to " + dvd + "/VIDEO_TS/VTS_01_1.VOB: No space left on device"},
    };
    frame_.Settings().DirectVOB = 1;
    frame_.AddClip(testing::ProbeClip(clip));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(core::CreateDirectoryTree(dvd.c_str()));
        bool faultMade = false;
        view_.onStatus = [&](const std::string& status) {
            if (status == "Creating DVD structure...") faultMade = c.makeFault();
        };
        RecordingBoxes boxes;
        core::InitLogAtPath(work_ / "Lumivane.log");
        RunJob();
        failingReads.reset();
        disk.reset();
        if (!faultMade) {
            GTEST_SKIP() << "cannot mount a small file system here (needs root)";
        }

        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, "Creating the DVD structure failed:\n\n" + c.reason +
                                             "\n\nThe clips' VOB files are kept in the output folder.");
        EXPECT_NE(testing::ReadFile(core::LogPath()).find("discforge: " + c.reason + "\n"),
                  std::string::npos)
            << testing::ReadFile(core::LogPath());
        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
        EXPECT_EQ(testing::ListFolder(output_),
                  (std::vector<std::string>{"DVD", "Lumivane00.vob", "notes.txt"}));
        EXPECT_EQ(testing::ListFolder(dvd), std::vector<std::string>{});
        std::filesystem::remove(vob);
    }
    view_.onStatus = nullptr;
}

// A Stop that comes once the engine has read every VOB (here with the last progress of
// authoring) finds nothing left to stop: the whole disc stays and the job finished.
TEST_F(JobTest, StopAfterTheDiscIsCompleteKeepsIt) {
    frame_.Settings().DirectVOB = 1;
    frame_.AddClip(testing::ProbeClip(palClip_));
    std::atomic<bool> authoring{false};
    view_.onStatus = [&](const std::string& status) {
        if (status == "Creating DVD structure...") authoring = true;
    };
    view_.onProgress = [&](unsigned message, uintptr_t percent) {
        if (authoring && message == platform::PBM_SETPOS && percent == 100) frame_.OnStopEncoding();
    };
    RunJob();

    for (const auto& box : boxes_.Shown()) ADD_FAILURE() << box.text;
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Finished);
    EXPECT_EQ(view_.Statuses().back(), "Job finished. Output folder: " + output_);
    ExpectOnlyDiscAndUserFiles();
    EXPECT_EQ(testing::ReadDisc(output_ + "/DVD").chapters, 1);
}

// The disk fails while a clip is read (EIO over the middle of the file): the clip fails with
// the system's reason, nothing is authored, and the job ends failed; on both roads.
TEST_P(JobReaderTest, ReadErrorFailsTheClipWithTheSystemsReason) {
    const std::string clip =
        testing::MakeClip(work_ / "failing.avi", "352x288", "25", 44100, 2, 2.0);
    frame_.Settings().DirectVOB = 1;
    frame_.AddClip(testing::ProbeClip(clip));
    {
        const off_t size = off_t(std::filesystem::file_size(clip));
        testing::FailingReads failing(clip, size * 2 / 5, size * 3 / 5);
        RunJob();
        EXPECT_GT(testing::FailingReads::Failures(), 0);
    }
    const std::string reason = "Reading " + clip + " failed: Input/output error";
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, "Encoding " + clip + " failed:\n" + reason);
    EXPECT_NE(testing::ReadFile(core::LogPath()).find(reason), std::string::npos);
    EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
    EXPECT_EQ(testing::ListFolder(output_), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(view_.Statuses().back().rfind("Job failed", 0), 0u) << view_.Statuses().back();
}

// Stop before the first picture: nothing was made, so nothing is authored, and the files the
// clip had begun are removed even when temporary files are kept.
TEST_P(JobReaderTest, StopBeforeTheFirstPictureLeavesNothing) {
    const struct {
        const char* name;
        uint32_t directVob, deleteTempFiles;
    } cases[] = {{"elementary streams", 0, 1}, {"elementary streams, kept", 0, 0}, {"direct", 1, 1}};
    frame_.AddClip(testing::ProbeClip(palClip_));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        frame_.Settings().DirectVOB = c.directVob;
        frame_.Settings().DeleteTempFiles = c.deleteTempFiles;
        view_.onStatus = [&](const std::string& status) {
            if (status == "Start encoding...") frame_.OnStopEncoding();
        };
        RunJob();

        for (const auto& box : boxes_.Shown()) ADD_FAILURE() << box.text;
        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Stopped);
        EXPECT_EQ(view_.Statuses().back(), "Job stopped; no disc was made. Output folder: " + output_);
        EXPECT_EQ(testing::ListFolder(output_), std::vector<std::string>{"notes.txt"});
    }
}

// A clip without sound gives a chapter of its pictures with silence, on both roads.
TEST_P(JobReaderTest, ClipWithoutSound) {
    const std::string silent =
        testing::MakeClip(work_ / "silent.avi", "352x240", "30000/1001", 0, 0, 1.0);
    OnBothWriters({testing::ProbeClip(silent)}, [](const std::string& dvdFolder) {
        const DiscLayout disc = testing::ReadDisc(dvdFolder);
        ASSERT_EQ(disc.cells.size(), 1u);
        EXPECT_NEAR(disc.cells[0], 1.0, 1.0 / disc.framesPerSecond);
    });
}

// An elementary-stream file that cannot be created ends the job with the system's reason under
// the name of that file; nothing is authored and nothing of the user's is touched.
TEST_F(JobTest, StreamFileThatCannotBeCreatedEndsTheJob) {
    frame_.Settings().DirectVOB = 0;
    frame_.AddClip(testing::ProbeClip(palClip_));
    for (const char* blocked : {"Chapter00.m2v", "Chapter00.mp2"}) {
        SCOPED_TRACE(blocked);
        RecordingBoxes boxes;
        const std::string folder = output_ + "/" + blocked;
        ASSERT_TRUE(core::CreateDirectoryTree(folder.c_str()));
        RunJob();

        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].caption, folder);
        EXPECT_EQ(boxes.Shown()[0].text, "Is a directory");
        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
        EXPECT_EQ(testing::ListFolder(output_), (std::vector<std::string>{blocked, "notes.txt"}));
        EXPECT_TRUE(core::IsDirectory(folder.c_str()));
        EXPECT_TRUE(view_.Commands()[ID_START]);
        ::rmdir(folder.c_str());
    }
}

// A link under one of the job's names that Start did not see, in a row added while the job
// runs or made after Start under a listed row's name, is never written through, on either
// road: the file it leads to keeps its bytes, the link stays, and the job fails with a box
// that names the file and the system's reason.
TEST_F(JobTest, LinksUnderTheJobsNamesAfterStartAreNeverWrittenThrough) {
    const std::string precious = work_ / "precious.bin";
    const struct {
        const char* name;
        uint32_t directVob;
        bool lateRow;            // the links come with a second row, added as the first clip starts
        const char* when;        // else: the status at which they are made
        std::vector<std::string> links;
        const char* failing;     // the file the box names
    } cases[] = {
        {"late row, elementary streams", 0, true, "",
         {"Chapter01.m2v", "Chapter01.mp2", "Lumivane01.vob"}, "Chapter01.m2v"},
        {"late row, direct", 1, true, "", {"Lumivane01.vob"}, "Lumivane01.vob"},
        {"after Start, direct", 1, false, "Start encoding...", {"Lumivane00.vob"}, "Lumivane00.vob"},
        {"after Start, multiplexed VOB", 0, false, "Multiplexing audio and video...",
         {"Lumivane00.vob"}, "Lumivane00.vob"},
    };
    const reader::ClipRecord clip = testing::ProbeClip(palClip_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingBoxes boxes;
        testing::WriteFile(precious, "precious bytes");
        frame_.Settings().DirectVOB = c.directVob;
        while (frame_.ClipCount() > 0) frame_.RemoveClip(0);
        frame_.AddClip(clip);
        const auto makeLinks = [&] {
            for (const std::string& name : c.links) {
                std::filesystem::create_symlink("../precious.bin", output_ + "/" + name);
            }
        };
        view_.onStatus = [&](const std::string& status) {
            if (!c.lateRow && status == c.when) makeLinks();
        };
        const int rangesBefore = view_.RangeMessages();
        view_.onProgress = [&](unsigned message, uintptr_t) {
            if (c.lateRow && message == platform::PBM_SETRANGE && view_.RangeMessages() == rangesBefore + 1) {
                makeLinks();
                frame_.AddClip(clip);
            }
        };
        RunJob();

        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
        EXPECT_EQ(testing::ReadFile(precious), "precious bytes");
        for (const std::string& name : c.links) {
            EXPECT_TRUE(std::filesystem::is_symlink(output_ + "/" + name)) << name;
        }
        ASSERT_EQ(boxes.Shown().size(), 1u);
        const std::string shown = boxes.Shown()[0].caption + "\n" + boxes.Shown()[0].text;
        EXPECT_NE(shown.find(output_ + "/" + c.failing), std::string::npos) << shown;
        EXPECT_NE(shown.find("Too many levels of symbolic links"), std::string::npos) << shown;
        view_.onStatus = nullptr;
        view_.onProgress = nullptr;
        for (const std::string& name : testing::ListFolder(output_)) {
            if (name != "notes.txt") std::filesystem::remove(output_ + "/" + name);
        }
    }
}

// "Delete temp files after encoding": set, each clip's streams go as soon as its VOB is made
// (so at most one clip's streams and the VOBs share the disk) and the VOBs once the disc holds
// them; clear, every intermediate file stays.
TEST_F(JobTest, DeleteTempFilesDecidesWhichIntermediatesStay) {
    const struct {
        const char* name;
        uint32_t directVob, deleteTempFiles;
        std::vector<std::string> atSecondClip, atEnd;
        std::string status;  // before the output folder
    } cases[] = {
        {"elementary streams, deleted", 0, 1, {"Lumivane00.vob", "notes.txt"}, {"DVD", "notes.txt"},
         "Job finished."},
        {"elementary streams, kept", 0, 0,
         {"Chapter00.m2v", "Chapter00.mp2", "Lumivane00.vob", "notes.txt"},
         {"Chapter00.m2v", "Chapter00.mp2", "Chapter01.m2v", "Chapter01.mp2", "DVD",
          "Lumivane00.vob", "Lumivane01.vob", "notes.txt"},
         "Job finished. Kept: Lumivane00.vob and Lumivane01.vob, Chapter00.m2v and Chapter01.m2v, "
         "Chapter00.mp2 and Chapter01.mp2."},
        {"direct, kept", 1, 0, {"Lumivane00.vob", "notes.txt"},
         {"DVD", "Lumivane00.vob", "Lumivane01.vob", "notes.txt"},
         "Job finished. Kept: Lumivane00.vob and Lumivane01.vob."},
    };
    frame_.AddClip(testing::ProbeClip(palClip_));
    frame_.AddClip(testing::ProbeClip(palClip_));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        frame_.Settings().DirectVOB = c.directVob;
        frame_.Settings().DeleteTempFiles = c.deleteTempFiles;
        std::vector<std::string> atSecondClip;
        const int rangesBefore = view_.RangeMessages();
        view_.onProgress = [&](unsigned message, uintptr_t) {
            if (message == platform::PBM_SETRANGE && view_.RangeMessages() == rangesBefore + 2) {
                atSecondClip = testing::ListFolder(output_);
                // The running job's lock is no intermediate of its clips.
                std::erase(atSecondClip, std::string(OutputLock::kFileName));
            }
        };
        RunJob();

        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Finished);
        const std::string status = c.status + " Output folder: " + output_;
        EXPECT_EQ(view_.Statuses().back(), status);
        // The log keeps the whole line, however much of it the window shows.
        EXPECT_NE(testing::ReadFile(core::LogPath()).find(status + "\n"), std::string::npos);
        EXPECT_EQ(atSecondClip, c.atSecondClip);
        EXPECT_EQ(testing::ListFolder(output_), c.atEnd);
        if (c.deleteTempFiles == 0) {
            EXPECT_NEAR(testing::DecodedSeconds(output_ + "/Lumivane01.vob").video,
                        kClipSeconds, 0.05);
        }
        EXPECT_EQ(testing::ReadDisc(output_ + "/DVD").chapters, 2);
        std::filesystem::remove_all(output_ + "/DVD");
        for (const std::string& name : testing::ListFolder(output_)) {
            if (name != "notes.txt") std::remove((output_ + "/" + name).c_str());
        }
    }
    view_.onStatus = nullptr;
}

// A clip that fails after its streams were begun (its file was damaged after it was added):
// the files it was writing are removed, and the status names what the job keeps.
TEST_F(JobTest, FailedClipRemovesItsFilesAndTheStatusNamesWhatStays) {
    const std::string damaged = work_ / "damaged.avi";
    testing::MakeClip(damaged, "352x288", "25", 44100, 1, kClipSeconds);
    frame_.Settings().DirectVOB = 0;
    frame_.AddClip(testing::ProbeClip(palClip_));
    frame_.AddClip(testing::ProbeClip(damaged));
    // Once the job runs: Start would refuse a clip damaged before it.
    view_.onStatus = [&](const std::string& status) {
        if (status == "Start encoding...") testing::WriteFile(damaged, "this is not a video any more");
    };
    const struct {
        uint32_t deleteTempFiles;
        std::vector<std::string> left;
        std::string kept;
    } cases[] = {
        {1, {"Lumivane00.vob", "notes.txt"}, "Lumivane00.vob"},
        {0, {"Chapter00.m2v", "Chapter00.mp2", "Lumivane00.vob", "notes.txt"},
         "Lumivane00.vob, Chapter00.m2v, Chapter00.mp2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deleteTempFiles);
        frame_.Settings().DeleteTempFiles = c.deleteTempFiles;
        testing::MakeClip(damaged, "352x288", "25", 44100, 1, kClipSeconds);  // whole again
        RunJob();

        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Failed);
        EXPECT_EQ(testing::ListFolder(output_), c.left);
        EXPECT_EQ(view_.Statuses().back(),
                  "Job failed; no disc was made. Kept: " + c.kept + ". Output folder: " + output_);
        // What was kept would make the next Start ask before overwriting it.
        for (const std::string& name : testing::ListFolder(output_)) {
            if (name != "notes.txt") std::remove((output_ + "/" + name).c_str());
        }
    }
    view_.onStatus = nullptr;
}

}  // namespace
}  // namespace driver
