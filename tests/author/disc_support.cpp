#include "author/disc_support.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>
#include <dvdread/nav_read.h>
#include <dvdread/nav_types.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

#include "author/authoring_main.h"
#include "psmux/multiplexer.h"

namespace author::testing {

namespace fs = std::filesystem;

namespace {

constexpr int kBlock = 2048;
constexpr uint32_t kEndOfCell = 0x3fffffff;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// libdvdread's messages, kept so a check failure it only logs still fails the test.
struct ReaderLog {
    std::vector<std::string> lines;
    std::vector<std::string> complaints;  // errors and warnings
    static void log(void* self, dvd_logger_level_t level, const char* format, va_list args) {
        char line[1024];
        std::vsnprintf(line, sizeof line, format, args);
        auto* log = static_cast<ReaderLog*>(self);
        log->lines.emplace_back(line);
        if ((level == DVD_LOGGER_LEVEL_ERROR || level == DVD_LOGGER_LEVEL_WARN) && !about_this_machine(line))
            log->complaints.emplace_back(line);
    }
    // A folder has no device and needs no decryption library.
    static bool about_this_machine(const std::string& line) {
        return line.find("Encrypted DVD support unavailable") != std::string::npos ||
               line.find("Couldn't find device name") != std::string::npos;
    }
    void expect_no_check_failures() const {
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find("CHECK_VALUE failed"), std::string::npos) << line;
            EXPECT_EQ(line.find("Zero check failed"), std::string::npos) << line;
        }
    }
};

struct DiscDeleter {
    void operator()(dvd_reader_t* dvd) const { DVDClose(dvd); }
    void operator()(ifo_handle_t* ifo) const { ifoClose(ifo); }
    void operator()(dvd_file_t* file) const { DVDCloseFile(file); }
};
template <class T>
using Owned = std::unique_ptr<T, DiscDeleter>;

int bcd(uint8_t value) { return (value >> 4) * 10 + (value & 0x0f); }

// Playback time in 90 kHz ticks.
int64_t ticks_of(const dvd_time_t& time) {
    const int fps = (time.frame_u >> 6) == 3 ? 30 : 25;
    const int64_t seconds = bcd(time.hour) * 3600 + bcd(time.minute) * 60 + bcd(time.second);
    const int64_t second_ticks = fps == 30 ? 90090 : 90000;
    return seconds * second_ticks + bcd(time.frame_u & 0x3f) * second_ticks / fps;
}

bool is_nav_pack(const uint8_t* block) {
    static const uint8_t system_header[] = {0, 0, 1, 0xbb};
    static const uint8_t private2[] = {0, 0, 1, 0xbf};
    return std::memcmp(block + 14, system_header, 4) == 0 && std::memcmp(block + 38, private2, 4) == 0 &&
           std::memcmp(block + 1024, private2, 4) == 0;
}

struct CellSpan {
    int vob_id, cell_id;
    uint32_t first, last;
    int64_t ticks;
};

// Every NAV pack: its own address, links to its neighbours within the cell, its cell's ids, and
// VOB-unit times that tile the cell.
void walk_nav_packs(dvd_file_t* vobs, const std::vector<uint32_t>& starts, uint32_t total,
                    const std::vector<CellSpan>& cells, int64_t frame) {
    std::vector<uint8_t> block(kBlock);
    size_t cell = 0;
    int64_t cell_sum = 0;
    uint32_t previous_end_ptm = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
        const uint32_t sector = starts[i];
        const uint32_t next = i + 1 < starts.size() ? starts[i + 1] : total;
        while (cell < cells.size() && sector > cells[cell].last) {
            EXPECT_LE(std::llabs(cell_sum - cells[cell].ticks), frame) << "cell " << cell;
            ++cell;
            cell_sum = 0;
        }
        ASSERT_LT(cell, cells.size());
        const CellSpan& span = cells[cell];
        ASSERT_EQ(DVDReadBlocks(vobs, static_cast<int>(sector), 1, block.data()), 1);
        ASSERT_TRUE(is_nav_pack(block.data())) << sector;
        pci_t pci;
        dsi_t dsi;
        navRead_PCI(&pci, block.data() + 0x2d);
        navRead_DSI(&dsi, block.data() + 0x407);
        EXPECT_EQ(pci.pci_gi.nv_pck_lbn, sector);
        EXPECT_EQ(dsi.dsi_gi.nv_pck_lbn, sector);
        EXPECT_EQ(dsi.dsi_gi.vobu_ea, next - sector - 1) << sector;
        EXPECT_EQ(dsi.dsi_gi.vobu_vob_idn, span.vob_id) << sector;
        EXPECT_EQ(dsi.dsi_gi.vobu_c_idn, span.cell_id) << sector;
        const bool first_in_cell = sector == span.first;
        const bool last_in_cell = next > span.last;
        EXPECT_EQ(dsi.vobu_sri.next_vobu & kEndOfCell, last_in_cell ? kEndOfCell : next - sector) << sector;
        EXPECT_EQ(dsi.vobu_sri.prev_vobu & kEndOfCell, first_in_cell ? kEndOfCell : sector - starts[i - 1])
            << sector;
        EXPECT_GT(pci.pci_gi.vobu_e_ptm, pci.pci_gi.vobu_s_ptm) << sector;
        if (!first_in_cell) {
            EXPECT_EQ(pci.pci_gi.vobu_s_ptm, previous_end_ptm) << sector;
        }
        previous_end_ptm = pci.pci_gi.vobu_e_ptm;
        cell_sum += int64_t(pci.pci_gi.vobu_e_ptm) - pci.pci_gi.vobu_s_ptm;
    }
    ASSERT_EQ(cell + 1, cells.size());
    EXPECT_LE(std::llabs(cell_sum - cells[cell].ticks), frame);
}

// The cells of one domain as its tables describe them: where each lies from the cell address
// table, how long it plays from the first PGC of the domain's PGC table that holds it.
std::vector<CellSpan> domain_cells(const c_adt_t& c_adt, const pgcit_t& pgcit) {
    std::vector<CellSpan> cells;
    for (size_t i = 0; i < (c_adt.last_byte + 1 - 8) / 12; ++i) {
        const cell_adr_t& address = c_adt.cell_adr_table[i];
        int64_t ticks = -1;
        for (int p = 0; p < pgcit.nr_of_pgci_srp && ticks < 0; ++p) {
            const pgc_t& pgc = *pgcit.pgci_srp[p].pgc;
            for (int c = 0; c < pgc.nr_of_cells && ticks < 0; ++c)
                if (pgc.cell_position[c].vob_id_nr == address.vob_id && pgc.cell_position[c].cell_nr == address.cell_id)
                    ticks = ticks_of(pgc.cell_playback[c].playback_time);
        }
        EXPECT_GE(ticks, 0) << "cell " << i << " is played by no PGC";
        cells.push_back({address.vob_id, address.cell_id, address.start_sector, address.last_sector, ticks});
    }
    return cells;
}

// One domain of a disc: the manager's or a titleset's menus, or a titleset's titles.
struct Domain {
    const char* name;
    int titleset;  // 0 for the manager
    dvd_read_domain_t vobs;
    const c_adt_t* c_adt;
    const vobu_admap_t* admap;
    const pgcit_t* pgcit;
    const video_attr_t& video;
};

// The NAV packs of a domain's VOBs against its tables.
void walk_domain_nav_packs(dvd_reader_t* reader, const Domain& domain) {
    SCOPED_TRACE(domain.name);
    ASSERT_TRUE(domain.c_adt && domain.admap && domain.pgcit);
    const std::vector<uint32_t> starts(domain.admap->vobu_start_sectors,
                                       domain.admap->vobu_start_sectors + (domain.admap->last_byte + 1 - 4) / 4);
    // Menus made only of entry PGCs (a jumppad without menus) have tables but no VOB.
    if (starts.empty()) {
        EXPECT_EQ(domain.c_adt->last_byte + 1, 8u);
        return;
    }
    Owned<dvd_file_t> vobs(DVDOpenFile(reader, domain.titleset, domain.vobs));
    ASSERT_TRUE(vobs);
    walk_nav_packs(vobs.get(), starts, static_cast<uint32_t>(DVDFileSize(vobs.get())),
                   domain_cells(*domain.c_adt, *domain.pgcit), domain.video.video_format == 1 ? 3600 : 3003);
}

void walk_menu_nav_packs(dvd_reader_t* reader, const ifo_handle_t& ifo, int titleset) {
    ASSERT_TRUE(ifo.pgci_ut);
    const video_attr_t& video = titleset == 0 ? ifo.vmgi_mat->vmgm_video_attr : ifo.vtsi_mat->vtsm_video_attr;
    walk_domain_nav_packs(reader, {titleset == 0 ? "manager menus" : "titleset menus", titleset, DVD_READ_MENU_VOBS,
                                   ifo.menu_c_adt, ifo.menu_vobu_admap, ifo.pgci_ut->lu[0].pgcit, video});
}

// Runs the check over a copy of the folder in which every IFO is its BUP (the VOBs linked).
void with_backups_as_information_files(const std::string& dvd, const std::function<void(const std::string&)>& check) {
    TempDir copy;
    fs::create_directories(copy / "VIDEO_TS");
    for (const fs::directory_entry& entry : fs::directory_iterator(dvd + "/VIDEO_TS")) {
        const std::string name = entry.path().filename().string();
        const std::string target = copy / ("VIDEO_TS/" + name);
        if (entry.path().extension() == ".VOB") {
            fs::create_symlink(fs::absolute(entry.path()), target);
        } else if (entry.path().extension() == ".BUP") {
            fs::copy_file(entry.path(), target);
            fs::copy_file(entry.path(), copy / ("VIDEO_TS/" + name.substr(0, name.size() - 3) + "IFO"));
        }
    }
    check(copy.path());
}


void check_disc_folder(const std::string& dvd, const ExpectedDisc& expected) {
    ReaderLog log;
    const dvd_logger_cb logger{&ReaderLog::log};
    Owned<dvd_reader_t> dvd_reader(DVDOpen2(&log, &logger, dvd.c_str()));
    ASSERT_TRUE(dvd_reader) << dvd;

    Owned<ifo_handle_t> vmg(ifoOpen(dvd_reader.get(), 0));
    ASSERT_TRUE(vmg);
    ASSERT_TRUE(vmg->vmgi_mat && vmg->tt_srpt && vmg->first_play_pgc);
    EXPECT_EQ(vmg->vmgi_mat->vmg_nr_of_title_sets, 1);
    EXPECT_EQ(vmg->vmgi_mat->vmgm_vobs, 0u);
    EXPECT_EQ(vmg->vmgi_mat->vmg_last_sector, 2 * (vmg->vmgi_mat->vmgi_last_sector + 1) - 1);
    ASSERT_EQ(vmg->tt_srpt->nr_of_srpts, 1);
    EXPECT_EQ(vmg->tt_srpt->title[0].nr_of_ptts, expected.chapters);
    EXPECT_EQ(vmg->tt_srpt->title[0].title_set_nr, 1);
    EXPECT_EQ(vmg->tt_srpt->title[0].vts_ttn, 1);
    const pgc_command_tbl_t* first_play = vmg->first_play_pgc->command_tbl;
    ASSERT_TRUE(first_play);
    ASSERT_EQ(first_play->nr_of_pre, 1);
    const uint8_t jump_title_1[8] = {0x30, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(first_play->pre_cmds[0].bytes, jump_title_1, 8), 0);

    Owned<ifo_handle_t> vts(ifoOpen(dvd_reader.get(), 1));
    ASSERT_TRUE(vts);
    ASSERT_TRUE(vts->vtsi_mat && vts->vts_ptt_srpt && vts->vts_pgcit && vts->vts_c_adt && vts->vts_vobu_admap &&
                vts->vts_tmapt);
    Owned<dvd_file_t> vobs(DVDOpenFile(dvd_reader.get(), 1, DVD_READ_TITLE_VOBS));
    ASSERT_TRUE(vobs);
    const uint32_t vob_sectors = static_cast<uint32_t>(DVDFileSize(vobs.get()));
    const vtsi_mat_t& mat = *vts->vtsi_mat;
    EXPECT_EQ(mat.vtstt_vobs, mat.vtsi_last_sector + 1);
    EXPECT_EQ(mat.vts_last_sector, 2 * (mat.vtsi_last_sector + 1) + vob_sectors - 1);
    EXPECT_EQ(mat.vtsm_vobs, 0u);
    EXPECT_EQ(mat.vts_video_attr.video_format, expected.pal ? 1 : 0);

    // Part-of-title: chapter i is program i of PGC 1.
    ASSERT_EQ(vts->vts_ptt_srpt->nr_of_srpts, 1);
    const ttu_t& title = vts->vts_ptt_srpt->title[0];
    ASSERT_EQ(title.nr_of_ptts, expected.chapters);
    for (int i = 0; i < expected.chapters; ++i) {
        EXPECT_EQ(title.ptt[i].pgcn, 1);
        EXPECT_EQ(title.ptt[i].pgn, i + 1);
    }

    // One cell per clip, tiling the title VOBs, holding the picture only at the end.
    ASSERT_EQ(vts->vts_pgcit->nr_of_pgci_srp, 1);
    const pgc_t& pgc = *vts->vts_pgcit->pgci_srp[0].pgc;
    ASSERT_EQ(pgc.nr_of_programs, expected.chapters);
    ASSERT_EQ(pgc.nr_of_cells, expected.chapters);
    const int64_t frame = expected.pal ? 3600 : 3003;
    std::vector<CellSpan> cells;
    int64_t total_ticks = 0;
    for (int i = 0; i < expected.chapters; ++i) {
        const cell_playback_t& cell = pgc.cell_playback[i];
        EXPECT_EQ(pgc.program_map[i], i + 1);
        EXPECT_EQ(cell.first_sector, i == 0 ? 0u : pgc.cell_playback[i - 1].last_sector + 1);
        EXPECT_LE(cell.last_vobu_start_sector, cell.last_sector);
        EXPECT_EQ(cell.still_time, i + 1 == expected.chapters ? 255 : 0) << i;
        EXPECT_EQ(pgc.cell_position[i].vob_id_nr, i + 1);
        EXPECT_EQ(pgc.cell_position[i].cell_nr, 1);
        const int64_t ticks = ticks_of(cell.playback_time);
        total_ticks += ticks;
        if (expected.chapter_seconds > 0) {
            EXPECT_NEAR(double(ticks) / 90000, expected.chapter_seconds, frame_tolerance(expected.pal)) << i;
        }
        cells.push_back({i + 1, 1, cell.first_sector, cell.last_sector, ticks});
    }
    EXPECT_EQ(pgc.cell_playback[expected.chapters - 1].last_sector, vob_sectors - 1);
    EXPECT_LE(std::llabs(ticks_of(pgc.playback_time) - total_ticks), frame * expected.chapters);

    // The cell address table says the same as the cells.
    const c_adt_t& c_adt = *vts->vts_c_adt;
    ASSERT_EQ((c_adt.last_byte + 1 - 8) / 12, uint32_t(expected.chapters));
    for (int i = 0; i < expected.chapters; ++i) {
        EXPECT_EQ(c_adt.cell_adr_table[i].vob_id, i + 1);
        EXPECT_EQ(c_adt.cell_adr_table[i].cell_id, 1);
        EXPECT_EQ(c_adt.cell_adr_table[i].start_sector, cells[i].first);
        EXPECT_EQ(c_adt.cell_adr_table[i].last_sector, cells[i].last);
    }

    // VOB-unit map: strictly increasing NAV-pack sectors; the time map points at VOB-unit starts.
    const vobu_admap_t& admap = *vts->vts_vobu_admap;
    const size_t units = (admap.last_byte + 1 - 4) / 4;
    std::vector<uint32_t> starts(admap.vobu_start_sectors, admap.vobu_start_sectors + units);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.front(), 0u);
    for (size_t i = 1; i < starts.size(); ++i) ASSERT_LT(starts[i - 1], starts[i]) << i;
    const std::set<uint32_t> start_set(starts.begin(), starts.end());
    ASSERT_EQ(vts->vts_tmapt->nr_of_tmaps, 1);
    const vts_tmap_t& tmap = vts->vts_tmapt->tmap[0];
    for (int k = 0; k < tmap.nr_of_entries; ++k)
        EXPECT_TRUE(start_set.count(tmap.map_ent[k] & 0x7fffffff)) << "time map entry " << k;

    walk_nav_packs(vobs.get(), starts, vob_sectors, cells, frame);
    log.expect_no_check_failures();
}

}  // namespace

namespace {

constexpr char kVideoSource[] = "-f lavfi -i testsrc=size=720x576:rate=25";
constexpr char kAudioSource[] = "-f lavfi -i sine=sample_rate=48000";

// Runs ffmpeg over the sources for `seconds` with the output options into `path`.
void run_ffmpeg(const std::string& sources, double seconds, const std::string& output_options,
                const std::string& path) {
    char length[32];
    std::snprintf(length, sizeof length, "%g", seconds);
    const std::string command = "ffmpeg -nostdin -v error -y " + sources + " -t " + length + " " +
                                output_options + " " + quoted(path);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace

std::string make_clip(const std::string& dir, const std::string& name, double seconds,
                      const std::string& output_options) {
    const std::string path = dir + "/" + name;
    run_ffmpeg(std::string(kVideoSource) + " " + kAudioSource, seconds, output_options, path);
    return path;
}

std::string make_muxed_clip(const std::string& dir, const std::string& name, double seconds,
                            const std::string& video_options, const std::string& audio_file,
                            const std::string& audio_options) {
    const std::string video = dir + "/" + name + ".m2v";
    const std::string audio = dir + "/" + audio_file;
    run_ffmpeg(kVideoSource, seconds, video_options + " -an -f mpeg2video", video);
    run_ffmpeg(kAudioSource, seconds, audio_options, audio);
    const std::string path = dir + "/" + name;
    EXPECT_EQ(psmux::RunMultiplexer(path.c_str(), video.c_str(), audio.c_str(), nullptr, nullptr), 0)
        << path;
    return path;
}

int run_discforge(const std::vector<std::string>& arguments, platform::ProgressTarget* progress,
                  const platform::ManualResetEvent* cancel) {
    std::vector<std::string> owned{"psmux"};
    owned.insert(owned.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : owned) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return authoring_main(static_cast<int>(owned.size()), argv.data(), progress, cancel);
}

void author_job_disc(const std::string& dvd, const std::vector<std::string>& clips,
                     platform::ProgressTarget* progress, const platform::ManualResetEvent* cancel) {
    std::vector<std::string> titleset{"-o", dvd};
    for (const std::string& clip : clips) {
        titleset.push_back("-f");
        titleset.push_back(clip);
    }
    ASSERT_EQ(run_discforge(titleset, progress, cancel), 0);
    ASSERT_EQ(run_discforge({"-T", "-o", dvd}, progress, cancel), 0);
}

void check_reader_accepts(const std::string& dvd, int titlesets) {
    ReaderLog log;
    const dvd_logger_cb logger{&ReaderLog::log};
    Owned<dvd_reader_t> dvd_reader(DVDOpen2(&log, &logger, dvd.c_str()));
    ASSERT_TRUE(dvd_reader) << dvd;
    Owned<ifo_handle_t> vmg(ifoOpen(dvd_reader.get(), 0));
    ASSERT_TRUE(vmg && vmg->vmgi_mat);
    EXPECT_EQ(vmg->vmgi_mat->vmg_nr_of_title_sets, titlesets);
    if (vmg->vmgi_mat->vmgm_vobs != 0) walk_menu_nav_packs(dvd_reader.get(), *vmg, 0);
    for (int n = 1; n <= titlesets; ++n) {
        Owned<ifo_handle_t> vts(ifoOpen(dvd_reader.get(), n));
        ASSERT_TRUE(vts && vts->vtsi_mat) << "titleset " << n;
        if (vts->vtsi_mat->vtsm_vobs != 0) walk_menu_nav_packs(dvd_reader.get(), *vts, n);
        walk_domain_nav_packs(dvd_reader.get(), {"titles", n, DVD_READ_TITLE_VOBS, vts->vts_c_adt, vts->vts_vobu_admap,
                                                 vts->vts_pgcit, vts->vtsi_mat->vts_video_attr});
    }
    log.expect_no_check_failures();
}

bool reader_opens(const std::string& dvd, int titlesets, std::vector<std::string>& complaints) {
    ReaderLog log;
    const dvd_logger_cb logger{&ReaderLog::log};
    Owned<dvd_reader_t> dvd_reader(DVDOpen2(&log, &logger, dvd.c_str()));
    bool opened = dvd_reader != nullptr;
    for (int n = 0; opened && n <= titlesets; ++n) opened = Owned<ifo_handle_t>(ifoOpen(dvd_reader.get(), n)) != nullptr;
    complaints.insert(complaints.end(), log.complaints.begin(), log.complaints.end());
    return opened;
}

void check_reader_accepts_backups(const std::string& dvd, int titlesets) {
    SCOPED_TRACE("backup files");
    with_backups_as_information_files(dvd, [&](const std::string& copy) { check_reader_accepts(copy, titlesets); });
}

void check_job_disc(const std::string& dvd, const ExpectedDisc& expected) {
    SCOPED_TRACE("information files");
    check_disc_folder(dvd, expected);
}

void check_job_disc_from_backups(const std::string& dvd, const ExpectedDisc& expected) {
    SCOPED_TRACE("backup files");
    with_backups_as_information_files(dvd, [&](const std::string& copy) { check_disc_folder(copy, expected); });
}


void check_files(const std::string& dvd, bool manager_menu) {
    ASSERT_TRUE(fs::is_directory(dvd + "/AUDIO_TS"));
    EXPECT_TRUE(fs::is_empty(dvd + "/AUDIO_TS"));
    for (const fs::directory_entry& entry : fs::directory_iterator(dvd + "/VIDEO_TS")) {
        EXPECT_EQ(entry.file_size() % kBlock, 0u) << entry.path();
        if (entry.path().extension() == ".IFO") {
            fs::path backup = entry.path();
            backup.replace_extension(".BUP");
            EXPECT_EQ(read_file(entry.path()), read_file(backup)) << entry.path();
        }
    }
    EXPECT_EQ(fs::exists(dvd + "/VIDEO_TS/VIDEO_TS.VOB"), manager_menu);
}

std::string run_lsdvd(const std::string& dvd) {
    const std::string command = "lsdvd -x -Oy " + quoted(dvd) + " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string output;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
    ::pclose(pipe);
    return output;
}

int lsdvd_status(const std::string& dvd) {
    const int status = std::system(("lsdvd -x " + quoted(dvd) + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace author::testing
