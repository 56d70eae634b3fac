// Clips whose VOBs continue each other's clock, as the encode job makes them: the disc keeps that
// one clock, and its layout is the one the same clips starting at 0 give. Read back with
// libdvdread, lsdvd and ffprobe.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/nav_read.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "author/disc_support.h"
#include "core/program_stream_fields.h"
#include "psmux/multiplexer.h"

namespace author {
namespace {

using testing::TempDir;

constexpr int kSector = 2048;
constexpr int64_t kClipTicks = 60 * 3003;  // 2 s of NTSC: 60 pictures
constexpr int64_t kFarAway = 60 * 90000;   // a minute past the previous clip

struct NavUnit {
    uint32_t sector;
    int vob;
    uint32_t start_ptm, end_ptm;
};

std::vector<NavUnit> nav_units(const std::string& dvd) {
    std::ifstream in(dvd + "/VIDEO_TS/VTS_01_1.VOB", std::ios::binary);
    std::vector<NavUnit> units;
    std::vector<uint8_t> block(kSector);
    for (uint32_t sector = 0; in.read(reinterpret_cast<char*>(block.data()), kSector); ++sector) {
        const uint8_t nav[] = {0, 0, 1, 0xbb};
        if (std::memcmp(block.data() + 14, nav, 4) != 0) continue;
        pci_t pci;
        dsi_t dsi;
        navRead_PCI(&pci, block.data() + 0x2d);
        navRead_DSI(&dsi, block.data() + 0x407);
        units.push_back({sector, dsi.dsi_gi.vobu_vob_idn, pci.pci_gi.vobu_s_ptm, pci.pci_gi.vobu_e_ptm});
    }
    return units;
}

struct CellLayout {
    uint32_t first, last;
    uint32_t playback;  // the BCD time: hours, minutes, seconds, frames
    bool operator==(const CellLayout&) const = default;
};

std::vector<CellLayout> cell_layout(const std::string& dvd) {
    std::vector<CellLayout> cells;
    dvd_reader_t* reader = DVDOpen(dvd.c_str());
    EXPECT_TRUE(reader);
    if (!reader) return cells;
    if (ifo_handle_t* vts = ifoOpen(reader, 1)) {
        const pgc_t& pgc = *vts->vts_pgcit->pgci_srp[0].pgc;
        for (int i = 0; i < pgc.nr_of_cells; ++i) {
            const cell_playback_t& cell = pgc.cell_playback[i];
            const dvd_time_t& time = cell.playback_time;
            const uint32_t bcd = uint32_t(time.hour) << 24 | uint32_t(time.minute) << 16 |
                                 uint32_t(time.second) << 8 | time.frame_u;
            cells.push_back({cell.first_sector, cell.last_sector, bcd});
        }
        ifoClose(vts);
    }
    DVDClose(reader);
    return cells;
}

// The timestamps ffprobe finds for one stream type, in file order: DTS where the packet has
// one, else PTS; packets without either are left out.
std::vector<int64_t> probed_times(const std::string& vob, const char* type) {
    const std::string command = std::string("ffprobe -v error -select_streams ") + type +
                                " -show_entries packet=pts,dts -of csv=p=0 '" + vob + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<int64_t> times;
    if (!pipe) return times;
    char line[128];
    while (std::fgets(line, sizeof line, pipe.get())) {
        long long pts = -1, dts = -1;
        const char* comma = std::strchr(line, ',');
        if (std::sscanf(line, "%lld", &pts) != 1) pts = -1;
        if (comma == nullptr || std::sscanf(comma + 1, "%lld", &dts) != 1) dts = -1;
        if (dts >= 0 || pts >= 0) times.push_back(dts >= 0 ? dts : pts);
    }
    return times;
}

// lsdvd's listing without the line that names the folder.
std::string listing_of(const std::string& dvd) {
    std::string listing = testing::run_lsdvd(dvd);
    const size_t device = listing.find("'device' :");
    if (device != std::string::npos) listing.erase(device, listing.find('\n', device) - device);
    return listing;
}

struct ClockCase {
    const char* name;
    int64_t starts[3];  // each clip's clock start, 90 kHz
    int64_t shifts[3];  // how much later than on the reference disc each clip then plays
};

TEST(JobDiscClock, ClipsOnOneClockKeepItAndTheLayoutOfClipsStartingAtZero) {
    TempDir work;
    // One pair of elementary streams, multiplexed once per clock start.
    const std::string first = testing::make_muxed_clip(work.path(), "ref.vob", 2, "-target ntsc-dvd -g 15",
                                                       "a.mp2", "-c:a mp2 -b:a 224k -f mp2");
    const std::string video = first + ".m2v";
    const std::string audio = work / "a.mp2";
    auto make_disc = [&](const std::string& name, const int64_t (&starts)[3]) {
        std::vector<std::string> clips;
        for (int i = 0; i < 3; ++i) {
            clips.push_back(work / (name + std::to_string(i) + ".vob"));
            EXPECT_EQ(psmux::RunMultiplexer(clips.back().c_str(), video.c_str(), audio.c_str(), nullptr, nullptr,
                                            starts[i] * core::kSystemClockTicksPerTick),
                      0);
        }
        const std::string dvd = work / (name + "-DVD");
        testing::author_job_disc(dvd, clips);
        return dvd;
    };
    const std::string reference = make_disc("zero", {0, 0, 0});
    const std::vector<NavUnit> reference_units = nav_units(reference);
    ASSERT_GT(reference_units.size(), 6u);
    const std::string reference_listing = listing_of(reference);

    const ClockCase cases[] = {
        {"continuing", {0, kClipTicks, 2 * kClipTicks}, {0, kClipTicks, 2 * kClipTicks}},
        // The title's clock is moved to start at 0, as a single clip's would be.
        {"continuing from 5 s", {450000, 450000 + kClipTicks, 450000 + 2 * kClipTicks},
         {0, kClipTicks, 2 * kClipTicks}},
        // A clip whose clock starts far from where the previous one stopped starts at 0.
        {"restarting", {0, kClipTicks, 2 * kClipTicks + kFarAway}, {0, kClipTicks, 0}},
    };
    for (const ClockCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dvd = make_disc(c.name, c.starts);
        testing::check_job_disc(dvd, {3, 2.002, false});
        EXPECT_EQ(cell_layout(dvd), cell_layout(reference));
        EXPECT_EQ(listing_of(dvd), reference_listing);

        const std::vector<NavUnit> units = nav_units(dvd);
        ASSERT_EQ(units.size(), reference_units.size());
        for (size_t i = 0; i < units.size(); ++i) {
            const NavUnit& r = reference_units[i];
            const int64_t shift = c.shifts[r.vob - 1];
            ASSERT_EQ(units[i].sector, r.sector) << i;
            ASSERT_EQ(units[i].vob, r.vob) << i;
            EXPECT_EQ(units[i].start_ptm, r.start_ptm + shift) << i;
            EXPECT_EQ(units[i].end_ptm, r.end_ptm + shift) << i;
        }
    }

    // On one clock, each VOB's pictures start where the previous VOB's end, and every stream's
    // timestamps rise through the whole title.
    const std::string dvd = work / "continuing-DVD";
    const std::vector<NavUnit> units = nav_units(dvd);
    for (size_t i = 1; i < units.size(); ++i) EXPECT_EQ(units[i].start_ptm, units[i - 1].end_ptm) << i;
    for (const char* type : {"v", "a"}) {
        SCOPED_TRACE(type);
        const std::vector<int64_t> times = probed_times(dvd + "/VIDEO_TS/VTS_01_1.VOB", type);
        ASSERT_GT(times.size(), 20u);
        for (size_t i = 1; i < times.size(); ++i) ASSERT_LT(times[i - 1], times[i]) << i;
        EXPECT_GT(times.back(), 3 * kClipTicks - 90000);
    }
}

}  // namespace
}  // namespace author
