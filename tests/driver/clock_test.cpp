// A job's chapters run on one clock: each clip's VOB continues the timestamps where the pictures
// of the clips before it ended, and its system clock where the packs of the VOB before it
// ended, on all four roads. Read back with libdvdread's NAV-pack reader, ffprobe and the
// multiplexer tests' pack reader.
#include <dvdread/nav_read.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/file_utils.h"
#include "core/log.h"
#include "driver/main_frame.h"
#include "job_fixtures.h"
#include "psmux/vob_checker.h"

namespace driver {
namespace {

using testing::RecordingBoxes;
using testing::TempFolder;

constexpr int kSector = 2048;
constexpr int kPciAt = 0x2d;  // after the PCI packet's header and sub-stream id

struct NavTimes {
    uint32_t start;
    uint32_t end;
};

// VOB-unit start and end times of every NAV pack of the title, in file order.
std::vector<NavTimes> TitleNavTimes(const std::string& vob) {
    std::ifstream in(vob, std::ios::binary);
    std::vector<NavTimes> units;
    std::vector<uint8_t> block(kSector);
    const uint8_t systemHeader[] = {0, 0, 1, 0xbb};
    while (in.read(reinterpret_cast<char*>(block.data()), kSector)) {
        if (std::memcmp(block.data() + 14, systemHeader, sizeof systemHeader) != 0) continue;
        pci_t pci;
        navRead_PCI(&pci, block.data() + kPciAt);
        units.push_back({pci.pci_gi.vobu_s_ptm, pci.pci_gi.vobu_e_ptm});
    }
    return units;
}

// ffprobe's timestamps of one stream type in file order: the DTS, else the PTS.
std::vector<long long> ProbedTimes(const std::string& vob, const char* type) {
    const std::string command = std::string("ffprobe -v error -select_streams ") + type +
                                " -show_entries packet=pts,dts -of csv=p=0 '" + vob + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<long long> times;
    char line[128];
    while (pipe && std::fgets(line, sizeof line, pipe.get())) {
        long long pts = -1, dts = -1;
        if (std::sscanf(line, "%lld", &pts) != 1) pts = -1;
        const char* comma = std::strchr(line, ',');
        if (comma == nullptr || std::sscanf(comma + 1, "%lld", &dts) != 1) dts = -1;
        if (dts >= 0 || pts >= 0) times.push_back(dts >= 0 ? dts : pts);
    }
    return times;
}

// The system clock of every pack of the title, in file order (27 MHz).
std::vector<int64_t> TitlePackClocks(const std::string& vob) {
    const std::string bytes = testing::ReadFile(vob);
    return psmux_test::CheckDvdVob(std::vector<uint8_t>(bytes.begin(), bytes.end())).scrs;
}

// Where the packets of one stream type start and end (90 kHz): ffprobe splits the streams into
// pictures and audio frames, each with its duration, which follow each other from the first
// time stamp (not every picture carries one).
struct StreamSpan {
    long long first = -1;
    long long end = -1;
};
StreamSpan ProbedSpan(const std::string& vob, const char* type) {
    const std::string command = std::string("ffprobe -v error -select_streams ") + type +
                                " -show_entries packet=pts,duration -of csv=p=0 '" + vob + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    StreamSpan span;
    long long lasting = 0;
    char line[128];
    while (pipe && std::fgets(line, sizeof line, pipe.get())) {
        long long pts = -1, duration = 0;
        if (std::sscanf(line, "%lld,%lld", &pts, &duration) != 2) {
            const char* comma = std::strchr(line, ',');
            if (comma == nullptr || std::sscanf(comma + 1, "%lld", &duration) != 1) continue;
            pts = -1;  // unstamped
        }
        lasting += duration;
        if (pts >= 0 && (span.first < 0 || pts < span.first)) span.first = pts;
    }
    if (span.first >= 0) span.end = span.first + lasting;
    return span;
}

struct ClockRoad {
    const char* name;
    uint32_t useDes;
    uint32_t directVob;
    // A clip's first pack follows the last pack of the one before it, and its first picture
    // comes the writer's start-up delay after that: the multiplexer's is under 0.2 s, the
    // direct writer's half a second. The last packs of the clip before went out a little
    // ahead of its last pictures, so the pause between the chapters' pictures is shorter.
    uint32_t largestJoinPause;
};

void PrintTo(const ClockRoad& road, std::ostream* out) { *out << road.name; }

class JobClockTest : public ::testing::TestWithParam<ClockRoad> {
protected:
    void SetUp() override {
        core::InitLogAtPath(work_ / "Lumivane.log");
        frame_.Settings().OutputFolder = work_ / "out";
    }

    // Runs the job over the clips added and answers the title's NAV-pack times; the boxes
    // shown are expected to be `expectedBoxes`, the warnings of clips that came short.
    std::vector<NavTimes> RunJobForTitleTimes(std::size_t expectedBoxes = 0) {
        EXPECT_TRUE(frame_.OnStartEncoding());
        frame_.WaitForJob();
        if (boxes_.Shown().size() != expectedBoxes) {
            for (const auto& box : boxes_.Shown()) ADD_FAILURE() << box.text;
        }
        EXPECT_EQ(frame_.LastJobResult(), MainFrame::JobResult::Finished);
        return TitleNavTimes(TitleVob());
    }
    std::string TitleVob() const { return work_ / "out/DVD/VIDEO_TS/VTS_01_1.VOB"; }

    static void SetUpTestSuite() {
        sources_ = new TempFolder;
        ntscClip_ = testing::MakeClip(*sources_ / "ntsc.avi", "720x480", "30000/1001", 48000, 2, 1.5);
        palRateClip_ = testing::MakeClip(*sources_ / "pal.avi", "352x288", "25", 44100, 1, 1.5);
    }
    static void TearDownTestSuite() {
        delete sources_;
        sources_ = nullptr;
    }

    static TempFolder* sources_;
    static std::string ntscClip_;
    static std::string palRateClip_;

    TempFolder work_;
    RecordingBoxes boxes_;
    testing::RecordingView view_;
    MainFrame frame_{&view_};
};

TempFolder* JobClockTest::sources_ = nullptr;
std::string JobClockTest::ntscClip_;
std::string JobClockTest::palRateClip_;

// The clips' lengths are no whole number of pictures, and the 25 fps clip is paced to 29.97:
// only what was written tells where a clip's pictures end.
TEST_P(JobClockTest, EachChapterContinuesTheClockWhereThePreviousOneEnded) {
    frame_.Settings().UseDES = GetParam().useDes;
    frame_.Settings().DirectVOB = GetParam().directVob;
    frame_.AddClip(testing::ProbeClip(ntscClip_));
    frame_.AddClip(testing::ProbeClip(palRateClip_));
    const std::size_t ranged = frame_.AddClip(testing::ProbeClip(ntscClip_));
    frame_.SetClipRange(ranged, 0.2, 1.01);
    frame_.AddClip(testing::ProbeClip(palRateClip_));
    const std::vector<NavTimes> units = RunJobForTitleTimes();
    ASSERT_GT(units.size(), 8u);
    EXPECT_LT(units.front().start, 90000u);
    std::size_t pauses = 0;
    double unitSeconds = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        unitSeconds += (units[i].end - units[i].start) / 90000.0;
        if (i == 0 || units[i].start == units[i - 1].end) continue;
        ++pauses;
        EXPECT_GT(units[i].start, units[i - 1].end) << "unit " << i;
        EXPECT_LE(units[i].start - units[i - 1].end, GetParam().largestJoinPause) << "unit " << i;
    }
    EXPECT_LE(pauses, 3u);  // at the joins only
    const double titleSeconds = 1.5 + 1.52 + 0.81 + 1.52;  // ffmpeg rounds 1.5 s at 25 fps to 38 pictures
    EXPECT_NEAR(unitSeconds, titleSeconds, 4 * 1001.0 / 30000);

    const std::vector<int64_t> clocks = TitlePackClocks(TitleVob());
    ASSERT_GT(clocks.size(), 100u);
    for (std::size_t i = 1; i < clocks.size(); ++i) ASSERT_LT(clocks[i - 1], clocks[i]) << "pack " << i;

    for (const char* type : {"v", "a"}) {
        SCOPED_TRACE(type);
        const std::vector<long long> times = ProbedTimes(TitleVob(), type);
        ASSERT_GT(times.size(), 20u);
        for (std::size_t i = 1; i < times.size(); ++i) ASSERT_LT(times[i - 1], times[i]) << "packet " << i;
    }
}

// A clip's sound never runs into the next clip's time (rippers drop what comes back in time),
// and on the multiplexer's road it ends within the clip's pictures: the multiplexer leaves out
// the audio frame that the last picture's end would cut.
TEST_P(JobClockTest, EachChapterSoundEndsBeforeTheNextChapter) {
    frame_.Settings().UseDES = GetParam().useDes;
    frame_.Settings().DirectVOB = GetParam().directVob;
    frame_.Settings().DeleteTempFiles = 0;
    frame_.AddClip(testing::ProbeClip(ntscClip_));
    frame_.AddClip(testing::ProbeClip(palRateClip_));
    frame_.AddClip(testing::ProbeClip(ntscClip_));
    RunJobForTitleTimes();
    for (int clip = 0; clip + 1 < 3; ++clip) {
        SCOPED_TRACE(clip);
        const std::string vob = work_ / core::FormatString("out/Lumivane%02d.vob", clip);
        const std::string next = work_ / core::FormatString("out/Lumivane%02d.vob", clip + 1);
        const StreamSpan pictures = ProbedSpan(vob, "v");
        const StreamSpan sound = ProbedSpan(vob, "a");
        const long long nextStart = std::min(ProbedSpan(next, "v").first, ProbedSpan(next, "a").first);
        ASSERT_GT(sound.end, 0);
        ASSERT_GT(nextStart, 0);
        EXPECT_LE(sound.end, nextStart);
        if (!GetParam().directVob) EXPECT_LE(sound.end, pictures.end);
    }
}

// The authoring engine counts a title's time in 31 bits of 90 kHz ticks, about 6.6 hours: a clip
// whose range would carry the clock past that starts it again, as a new program would. Start
// refuses such a list; rows the add-clips thread appends while the job runs it cannot see.
TEST_F(JobClockTest, ClipThatWouldRunPastTheEnginesRangeRestartsTheClock) {
    frame_.Settings().UseDES = 0;  // the reader stops at the file's end, whatever the range says
    frame_.AddClip(testing::ProbeClip(ntscClip_));
    view_.onStatus = [&](const std::string& status) {
        if (status != "Start encoding...") return;
        const std::size_t endless = frame_.AddClip(testing::ProbeClip(ntscClip_));
        frame_.SetClipRange(endless, 0, 7 * 3600);
        frame_.AddClip(testing::ProbeClip(ntscClip_));
    };
    // The job warns that the endless clip gave only its file's 1.5 s.
    const std::vector<NavTimes> units = RunJobForTitleTimes(1);
    std::vector<std::size_t> restarts;
    for (std::size_t i = 1; i < units.size(); ++i)
        if (units[i].start < units[i - 1].end) restarts.push_back(i);
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(units[restarts[0]].start, units.front().start);  // the second clip starts at 0 again
    // The third clip follows the second on the restarted clock.
    EXPECT_GT(units.back().end - units.front().start, 2 * (units[restarts[0] - 1].end - units.front().start));

    const std::vector<int64_t> clocks = TitlePackClocks(TitleVob());
    std::size_t stepsBack = 0;
    for (std::size_t i = 1; i < clocks.size(); ++i) stepsBack += clocks[i] < clocks[i - 1] ? 1 : 0;
    EXPECT_EQ(stepsBack, 1u);
}

INSTANTIATE_TEST_SUITE_P(Roads, JobClockTest,
                         ::testing::Values(ClockRoad{"TimelineElementaryStreams", 1, 0, 18000},
                                           ClockRoad{"TimelineDirectVob", 1, 1, 45000},
                                           ClockRoad{"PlainGraphElementaryStreams", 0, 0, 18000},
                                           ClockRoad{"PlainGraphDirectVob", 0, 1, 45000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace driver
