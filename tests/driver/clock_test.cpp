// A job's chapters run on one clock: each clip's VOB continues the timestamps where the pictures
// of the clips before it ended, on all four roads. Read back with libdvdread (its NAV-pack and
// IFO readers), ffprobe and the multiplexer tests' pack reader.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
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

// What libdvdread reads of the cell category of every cell of title 1.
struct CellJoin {
    bool clockDiscontinuity;
    bool seamless;
};
std::vector<CellJoin> TitleCellJoins(const std::string& dvdFolder) {
    std::vector<CellJoin> joins;
    dvd_reader_t* dvd = DVDOpen(dvdFolder.c_str());
    if (dvd == nullptr) return joins;
    if (ifo_handle_t* titleset = ifoOpen(dvd, 1)) {
        if (titleset->vts_pgcit != nullptr && titleset->vts_pgcit->nr_of_pgci_srp > 0) {
            const pgc_t* pgc = titleset->vts_pgcit->pgci_srp[0].pgc;
            for (int cell = 0; cell < pgc->nr_of_cells; ++cell)
                joins.push_back({pgc->cell_playback[cell].stc_discontinuity != 0,
                                 pgc->cell_playback[cell].seamless_play != 0});
        }
        ifoClose(titleset);
    }
    DVDClose(dvd);
    return joins;
}

struct ClockRoad {
    const char* name;
    uint32_t useDes;
    uint32_t directVob;
    uint32_t standard;     // 0 NTSC, 1 PAL
    uint32_t audioFormat;  // 0 MP2, 1 AC-3
};

void PrintTo(const ClockRoad& road, std::ostream* out) { *out << road.name; }

constexpr long long kNtscPictureTicks = 3003;
constexpr long long kPalPictureTicks = 3600;
constexpr long long kMp2FrameTicks = 1152 * 90000 / 48000;
constexpr long long kAc3FrameTicks = 1536 * 90000 / 48000;

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
    std::string ClipVob(int clip) const { return work_ / core::FormatString("out/Lumivane%02d.vob", clip); }

    static void SetUpTestSuite() {
        sources_ = new TempFolder;
        ntscClip_ = testing::MakeClip(*sources_ / "ntsc.avi", "720x480", "30000/1001", 48000, 2, 1.5);
        palRateClip_ = testing::MakeClip(*sources_ / "pal.avi", "352x288", "25", 44100, 1, 1.5);
        phoneClip_ = testing::MakeClip(*sources_ / "phone.mp4", "640x360", "30", 48000, 2, 1.3,
                                       testing::Mp4Codecs());
        silentClip_ = testing::MakeClip(*sources_ / "silent.avi", "320x240", "24", 0, 0, 1.1);
    }
    static void TearDownTestSuite() {
        delete sources_;
        sources_ = nullptr;
    }

    static TempFolder* sources_;
    static std::string ntscClip_;
    static std::string palRateClip_;
    static std::string phoneClip_;
    static std::string silentClip_;

    TempFolder work_;
    RecordingBoxes boxes_;
    testing::RecordingView view_;
    MainFrame frame_{&view_};
};

TempFolder* JobClockTest::sources_ = nullptr;
std::string JobClockTest::ntscClip_;
std::string JobClockTest::palRateClip_;
std::string JobClockTest::phoneClip_;
std::string JobClockTest::silentClip_;

// Clips of different sizes and rates, with and without sound, none a whole number of pictures
// long: each chapter's pictures and sound follow the previous chapter's on the title's
// timestamps without a pause. Each VOB is multiplexed on its own, so its system clock only
// rises within it and steps back at a join, where the cell marks a new clock and is not
// seamless (on both standards alike).
TEST_P(JobClockTest, ChaptersPlayOnWithoutAPause) {
    const ClockRoad road = GetParam();
    frame_.Settings().UseDES = road.useDes;
    frame_.Settings().DirectVOB = road.directVob;
    frame_.Settings().Standard = road.standard;
    frame_.Settings().AudioFormat = road.audioFormat;
    frame_.Settings().DeleteTempFiles = 0;
    const std::string clips[] = {ntscClip_, palRateClip_, silentClip_, phoneClip_, ntscClip_, palRateClip_};
    for (const std::string& clip : clips) frame_.AddClip(testing::ProbeClip(clip));
    frame_.SetClipRange(4, 0.2, 1.01);
    const std::vector<NavTimes> units = RunJobForTitleTimes();
    const long long picture = road.standard == 0 ? kNtscPictureTicks : kPalPictureTicks;
    const long long audioFrame = road.audioFormat == 0 ? kMp2FrameTicks : kAc3FrameTicks;

    const int count = int(std::size(clips));
    std::vector<StreamSpan> pictures, sound;
    for (int clip = 0; clip < count; ++clip) {
        pictures.push_back(ProbedSpan(ClipVob(clip), "v"));
        sound.push_back(ProbedSpan(ClipVob(clip), "a"));
        const std::vector<int64_t> clocks = TitlePackClocks(ClipVob(clip));
        ASSERT_GT(clocks.size(), 20u) << clip;
        for (std::size_t i = 1; i < clocks.size(); ++i)
            ASSERT_LT(clocks[i - 1], clocks[i]) << "clip " << clip << " pack " << i;
    }
    for (int clip = 1; clip < count; ++clip) {
        SCOPED_TRACE(clip);
        // The last picture shows from its own time until the next chapter's first picture.
        const long long lastPictureShows = pictures[clip].first - (pictures[clip - 1].end - picture);
        EXPECT_GE(lastPictureShows, picture);
        EXPECT_LE(2 * lastPictureShows, 3 * picture);
        const long long soundGap = sound[clip].first - sound[clip - 1].end;
        EXPECT_GE(soundGap, 0);
        EXPECT_LE(soundGap, audioFrame);
        // A chapter's sound ends within its pictures, so the next one's can follow.
        EXPECT_LE(sound[clip - 1].end, pictures[clip - 1].end);
    }
    // The VOB units that the authoring engine timed from the packs run on alike.
    ASSERT_GT(units.size(), std::size_t(count));
    for (std::size_t i = 1; i < units.size(); ++i) {
        EXPECT_GE(units[i].start, units[i - 1].end) << "unit " << i;
        EXPECT_LE(units[i].start - units[i - 1].end, uint32_t(picture / 2)) << "unit " << i;
    }

    const std::vector<CellJoin> cells = TitleCellJoins(work_ / "out/DVD");
    ASSERT_EQ(cells.size(), std::size_t(count));
    for (int cell = 1; cell < count; ++cell) {
        EXPECT_TRUE(cells[cell].clockDiscontinuity) << cell;
        EXPECT_FALSE(cells[cell].seamless) << cell;
    }
    EXPECT_EQ(testing::DecodeErrors(TitleVob()), "");
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
    // The third clip follows the second on the restarted clock without a pause.
    EXPECT_EQ(units.back().end - units.front().start, 2 * (units[restarts[0] - 1].end - units.front().start));
}

INSTANTIATE_TEST_SUITE_P(
    Roads, JobClockTest,
    ::testing::Values(ClockRoad{"TimelineElementaryStreamsNtscMp2", 1, 0, 0, 0},
                      ClockRoad{"TimelineElementaryStreamsPalAc3", 1, 0, 1, 1},
                      ClockRoad{"TimelineDirectVobNtscAc3", 1, 1, 0, 1},
                      ClockRoad{"TimelineDirectVobPalMp2", 1, 1, 1, 0},
                      ClockRoad{"PlainGraphElementaryStreamsNtscAc3", 0, 0, 0, 1},
                      ClockRoad{"PlainGraphElementaryStreamsPalMp2", 0, 0, 1, 0},
                      ClockRoad{"PlainGraphDirectVobNtscMp2", 0, 1, 0, 0},
                      ClockRoad{"PlainGraphDirectVobPalAc3", 0, 1, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace driver
