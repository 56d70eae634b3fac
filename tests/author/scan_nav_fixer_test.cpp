// The NAV-pack fixer over hand-built VOB-unit tables, read back with libdvdread's NAV parser.

#include <dvdread/nav_read.h>
#include <dvdread/nav_types.h>

#include <map>

#include "author/nav_fixer.h"
#include "platform/event.h"
#include "platform/progress.h"
#include "scan_fixtures.h"

namespace author::scan_test {
namespace {

constexpr int kUnitSectors = 10;
constexpr int32_t kUnit = kSecond / 2;
constexpr uint32_t kValid = 0x80000000;
constexpr uint32_t kNone = 0x3FFFFFFF;

struct Nav {
    pci_t pci;
    dsi_t dsi;
    Sector raw;
};

// Parses a NAV sector with libdvdread; its consistency checks must all pass.
Nav parse_nav(const Sector& sector) {
    Nav nav{};
    nav.raw = sector;
    ::testing::internal::CaptureStderr();
    navRead_PCI(&nav.pci, nav.raw.data() + 45);
    navRead_DSI(&nav.dsi, nav.raw.data() + DSI_START_BYTE);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("CHECK_VALUE failed"), std::string::npos) << log;
    return nav;
}

class NavFixerTest : public ScanTest {
protected:
    TempDir dir;
    VobGroup* group = nullptr;
    Pgc* owner = nullptr;

    void SetUp() override {
        ScanTest::SetUp();
        group = vob_group_create();
        group->video.frame_rate = 3;  // 25 fps
        owner = pgc_create();
        group->pgcs.push_back(owner);
    }

    std::string base() const { return dir / "VTS_01"; }

    // A Vob of units of half a second and 10 sectors; `cell_starts` open cells 2, 3, ...
    // `pieces` gives each unit's piece (all in piece 1 when empty).
    Vob* add_vob(int units, std::initializer_list<int> cell_starts = {},
                 std::vector<int> pieces = {}) {
        Vob* vob = engine().create<Vob>();
        vob->vob_id = static_cast<int>(group->vobs.size()) + 1;
        vob->owner = owner;
        int cell = 1;
        int first = 0;
        int32_t group_sector = next_sector();
        for (int i = 0; i < units; ++i) {
            for (int s : cell_starts)
                if (s == i) ++cell, first = i;
            Vobu v;
            v.sector = group_sector + i * kUnitSectors;
            v.last_sector = v.sector + kUnitSectors - 1;
            v.piece = pieces.empty() ? 1 : pieces[i];
            v.pts[0] = 1000 + i * kUnit;
            v.pts[1] = 1000 + (i + 1) * kUnit;
            v.video_pts[0] = v.pts[0];
            v.video_pts[1] = v.pts[1];
            v.has_video = 1;
            v.cell_id = vob->vob_id * 256 + cell;
            v.cell_first_vobu = first;
            v.nav_pack = nav_pack(300 * int64_t(v.sector));
            vob->vobus.push_back(v);
        }
        // Piece sectors count from each piece's start; cell ends from the back.
        std::map<int, int32_t> piece_fill = pieces_so_far_;
        for (Vobu& v : vob->vobus) {
            v.piece_sector = piece_fill[v.piece];
            piece_fill[v.piece] += kUnitSectors;
        }
        pieces_so_far_ = piece_fill;
        int last = units - 1;
        for (int i = units - 1; i >= 0; --i) {
            vob->vobus[i].cell_last_vobu = last;
            if (vob->vobus[i].cell_first_vobu == i) last = i - 1;
        }
        vob->cell_count = cell;
        group->vobs.push_back(vob);
        return vob;
    }

    int32_t next_sector() const {
        return group->vobs.empty() ? 0 : group->vobs.back()->vobus.back().last_sector + 1;
    }

    // Writes placeholder pieces as the scanner leaves them, then runs the fixer.
    std::string fix() {
        for (const auto& [piece, sectors] : pieces_so_far_) {
            std::ofstream out(piece_file_name(base(), piece), std::ios::binary);
            out << std::string(size_t(sectors) * kSectorSize, '\0');
        }
        for (const Vob* vob : group->vobs)
            for (const Vobu& v : vob->vobus) {
                std::fstream out(piece_file_name(base(), v.piece),
                                 std::ios::binary | std::ios::in | std::ios::out);
                out.seekp(std::streamoff(v.piece_sector) * kSectorSize);
                out.write(reinterpret_cast<const char*>(nav_pack(0).data()), kSectorSize);
            }
        ::testing::internal::CaptureStderr();
        fix_nav_packs(base(), *group);
        return ::testing::internal::GetCapturedStderr();
    }

    // The NAV pack of a unit as it stands in its piece file.
    Nav written(const Vobu& v) const {
        return parse_nav(sector_of(read_file(piece_file_name(base(), v.piece)),
                                   static_cast<size_t>(v.piece_sector)));
    }

private:
    std::map<int, int32_t> pieces_so_far_;
};

TEST_F(NavFixerTest, AddressesTimesAndCellsOfEveryUnit) {
    Vob* vob = add_vob(8, {4});
    vob->vobus[0].ref_count = 2;
    vob->vobus[0].ref_end[0] = 2;
    vob->vobus[0].ref_end[1] = 5;
    vob->vobus[2].has_sequence_end = 1;
    const Sector original = vob->vobus[6].nav_pack;
    fix();

    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        const Vobu& v = vob->vobus[i];
        const Nav nav = written(v);
        EXPECT_EQ(nav.raw, v.nav_pack);  // the kept copy is what was written
        EXPECT_EQ(nav.pci.pci_gi.nv_pck_lbn, uint32_t(v.sector));
        EXPECT_EQ(nav.dsi.dsi_gi.nv_pck_lbn, uint32_t(v.sector));
        EXPECT_EQ(nav.dsi.dsi_gi.nv_pck_scr, uint32_t(300 * v.sector));
        EXPECT_EQ(nav.pci.pci_gi.vobu_s_ptm, uint32_t(v.pts[0]));
        EXPECT_EQ(nav.pci.pci_gi.vobu_e_ptm, uint32_t(v.pts[1]));
        EXPECT_EQ(nav.pci.pci_gi.vobu_se_e_ptm, i == 2 ? uint32_t(v.video_pts[1]) : 0u);
        EXPECT_EQ(nav.dsi.dsi_gi.vobu_ea, uint32_t(kUnitSectors - 1));
        EXPECT_EQ(nav.dsi.dsi_gi.vobu_vob_idn, 1);
        EXPECT_EQ(nav.dsi.dsi_gi.vobu_c_idn, i < 4 ? 1 : 2);
        EXPECT_EQ(nav.dsi.sml_pbi.vob_v_s_s_ptm, 1000u);
        EXPECT_EQ(nav.dsi.sml_pbi.vob_v_e_e_ptm, uint32_t(1000 + 8 * kUnit));
        // Elapsed time in the cell: half a second per unit, 25 fps flag.
        const int into_cell = (i % 4) * kUnit;
        EXPECT_EQ(nav.pci.pci_gi.e_eltm.second, into_cell / kSecond);
        EXPECT_EQ(nav.pci.pci_gi.e_eltm.frame_u, 0x40 | (into_cell % kSecond ? 0x13 : 0));  // 12.5 rounds up
        EXPECT_EQ(std::memcmp(&nav.dsi.dsi_gi.c_eltm, &nav.pci.pci_gi.e_eltm, 4), 0);
        EXPECT_EQ(nav.pci.hli.hl_gi.hli_ss, 0);  // no buttons: no highlight
    }
    const Nav first = written(vob->vobus[0]);
    EXPECT_EQ(first.dsi.dsi_gi.vobu_1stref_ea, 2u);
    EXPECT_EQ(first.dsi.dsi_gi.vobu_2ndref_ea, 5u);
    EXPECT_EQ(first.dsi.dsi_gi.vobu_3rdref_ea, 0u);
    // Pack header, system header and packet headers keep what was read.
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 45, vob->vobus[6].nav_pack.begin()));
    EXPECT_TRUE(std::equal(original.begin() + 1024, original.begin() + 1030,
                           vob->vobus[6].nav_pack.begin() + 1024));
}

TEST_F(NavFixerTest, NeighbourLinksStayInsideTheCell) {
    Vob* vob = add_vob(8, {4});
    vob->vobus[5].has_video = 0;
    fix();
    auto sri = [&](int i) { return written(vob->vobus[i]).dsi.vobu_sri; };

    EXPECT_EQ(sri(0).prev_vobu, kNone);  // first of its cell
    EXPECT_EQ(sri(4).prev_vobu, kNone);
    EXPECT_EQ(sri(3).next_vobu, kNone);  // last of its cell
    EXPECT_EQ(sri(7).next_vobu, kNone);
    EXPECT_EQ(sri(1).next_vobu, kValid | 10);
    EXPECT_EQ(sri(4).next_vobu, 10u);  // unit 5 has no video
    EXPECT_EQ(sri(6).prev_vobu, 10u);
    EXPECT_EQ(sri(4).next_video, kValid | 20);  // skips unit 5
    EXPECT_EQ(sri(6).prev_video, kValid | 20);
    EXPECT_EQ(sri(3).next_video, 0xBFFFFFFFu);  // the next video unit is in the next cell
    EXPECT_EQ(sri(4).prev_video, 0xBFFFFFFFu);

    for (int k = 0; k < 19; ++k) {
        EXPECT_EQ(sri(3).fwda[18 - k], kNone) << k;  // last unit of a cell: nothing ahead
        EXPECT_EQ(sri(4).bwda[k], kNone) << k;       // first unit of a cell: nothing behind
    }
    // Half a second and one second ahead of unit 0: units 1 and 2; 1.5 s: unit 3.
    EXPECT_EQ(sri(0).fwda[18], kValid | 10);
    EXPECT_EQ(sri(0).fwda[17], kValid | 20);
    EXPECT_EQ(sri(0).fwda[16], kValid | 30);
    EXPECT_EQ(sri(0).fwda[15], kNone);  // 2 s: past the cell
    EXPECT_EQ(sri(7).bwda[0], kValid | 10);
    EXPECT_EQ(sri(6).bwda[0], 10u);  // unit 5 has no video
}

TEST_F(NavFixerTest, ButtonsOfTheOwnerPgc) {
    pgc_add_button(owner, "a", nullptr);
    pgc_add_button(owner, "b", nullptr);
    pgc_add_button(owner, "c", nullptr);
    PgcButton& a = owner->buttons[0];
    a.x1 = 100, a.y1 = 50, a.x2 = 300, a.y2 = 90, a.colour_group = 1, a.up = "c";
    a.right = "unknown";
    owner->buttons[1].auto_action = 1;
    Vob* vob = add_vob(2);
    for (int k = 0; k < kButtonColourBytes; ++k) vob->button_colours[k] = uint8_t(k + 1);
    fix();
    const Nav nav = written(vob->vobus[1]);
    const hli_t& hli = nav.pci.hli;
    EXPECT_EQ(hli.hl_gi.hli_ss, 1);
    EXPECT_EQ(hli.hl_gi.hli_s_ptm, 1000u);  // the Vob's first unit
    EXPECT_EQ(hli.hl_gi.hli_e_ptm, 0xFFFFFFFFu);
    EXPECT_EQ(hli.hl_gi.btn_se_e_ptm, 0xFFFFFFFFu);
    EXPECT_EQ(hli.hl_gi.btn_ns, 3);
    EXPECT_EQ(hli.hl_gi.nsl_btn_ns, 3);
    EXPECT_EQ(hli.btn_colit.btn_coli[0][0], 0x01020304u);
    EXPECT_EQ(hli.btn_colit.btn_coli[2][1], 0x15161718u);

    const btni_t& first = hli.btnit[0];
    EXPECT_EQ(first.btn_coln, 1);
    EXPECT_EQ(first.x_start, 100);
    EXPECT_EQ(first.x_end, 300);
    EXPECT_EQ(first.y_start, 50);
    EXPECT_EQ(first.y_end, 90);
    EXPECT_EQ(first.up, 3);     // named
    EXPECT_EQ(first.left, 3);   // default for the first button: the last one
    EXPECT_EQ(first.down, 2);
    EXPECT_EQ(first.right, 2);  // an unknown name falls back to the default
    const btni_t& last = hli.btnit[2];
    EXPECT_EQ(last.up, 2);
    EXPECT_EQ(last.down, 1);  // default for the last button: the first one
    EXPECT_EQ(hli.btnit[1].auto_action_mode, 1);
    EXPECT_EQ(hli.btnit[1].x_end, 0);
    for (int i = 0; i < 3; ++i) {
        const uint8_t expected[8] = {0x71, 0x01, 0x00, 0x0F, 0x00, uint8_t(i + 1), 0x00, 0x0D};
        EXPECT_EQ(std::memcmp(hli.btnit[i].cmd.bytes, expected, 8), 0) << i;
    }
}

TEST_F(NavFixerTest, WithoutButtonsTheHighlightAreaStaysZero) {
    Vob* vob = add_vob(1);
    std::fill(vob->vobus[0].nav_pack.begin() + 45, vob->vobus[0].nav_pack.begin() + 1024, 0xAB);
    fix();
    const Sector nav = vob->vobus[0].nav_pack;
    EXPECT_TRUE(std::all_of(nav.begin() + 141, nav.begin() + 1024, [](uint8_t b) { return b == 0; }));
}

TEST_F(NavFixerTest, EachUnitIsWrittenIntoItsOwnPiece) {
    Vob* vob = add_vob(5, {}, {1, 1, 1, 2, 2});
    fix();
    for (const Vobu& v : vob->vobus) {
        const Nav nav = written(v);
        EXPECT_EQ(nav.pci.pci_gi.nv_pck_lbn, uint32_t(v.sector)) << v.piece << "/" << v.piece_sector;
    }
    EXPECT_EQ(vob->vobus[3].piece_sector, 0);
    EXPECT_EQ(std::filesystem::file_size(piece_file_name(base(), 2)), 20u * kSectorSize);
}

TEST_F(NavFixerTest, AudioAndSubpictureSynchronisation) {
    Vob* vob = add_vob(4);
    group->audio_track_count = 3;
    group->audio[0].format = 1, group->audio[0].stream_number = 1;  // AC-3 stream 0: slot 0
    group->audio[1].format = 2, group->audio[1].stream_number = 1;  // MPEG stream 0: absent
    group->audio[2].format = 1, group->audio[2].stream_number = 2;  // AC-3 stream 1: far away
    vob->streams[0].rows = {{900, 1000 + kUnit, 3}, {1000 + kUnit, 1000 + 3 * kUnit, 8},
                            {1000 + 3 * kUnit, 1000 + 4 * kUnit, 21}};
    vob->streams[1].rows = {{1000, 1000 + 4 * kUnit, 9000}};
    group->subpicture_track_count = 1;
    group->subpicture[0].stream_number = 1;
    // One subpicture unit, stored in unit 2, shown from just after unit 1 starts into unit 3.
    vob->streams[32].rows = {{1000 + kUnit + 10, 1000 + 3 * kUnit + 10, 25}};
    const std::string log = fix();

    auto synci = [&](int i) { return written(vob->vobus[i]).dsi.synci; };
    EXPECT_EQ(synci(0).a_synca[0], 3);
    EXPECT_EQ(synci(1).a_synca[0], 0x8000 | 2);  // two sectors back
    EXPECT_EQ(synci(0).a_synca[1], 0x3FFF);      // no such stream
    EXPECT_EQ(synci(0).a_synca[2], 0);           // 9000 sectors away
    EXPECT_NE(log.find("WARN: audio sector out of range: 9000 (vobu #0, pts 1000)"),
              std::string::npos)
        << log;
    EXPECT_EQ(synci(0).sp_synca[0], 0x7FFFFFFFu);           // the unit starts later
    EXPECT_EQ(synci(1).sp_synca[0], 10u);                   // ahead, in unit 2
    EXPECT_EQ(synci(2).sp_synca[0], 0x7FFFFFFFu);           // in the unit itself
    EXPECT_EQ(synci(3).sp_synca[0], 0x80000000u | 10);      // behind, in unit 2
}

TEST_F(NavFixerTest, StatusLines) {
    add_vob(16);
    const std::string log = fix();
    EXPECT_EQ(log, "STAT: fixing VOBU at 0MB (16/16, 100%)\rSTAT: fixed 16 VOBUS" +
                       std::string(25, ' ') + "\n");

    engine_reset(nullptr, nullptr);
    VobGroup* empty = vob_group_create();
    ::testing::internal::CaptureStderr();
    fix_nav_packs(base(), *empty);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\n");
}

TEST_F(NavFixerTest, FinishesEvenWhenCancelled) {
    platform::RecordingProgressTarget bar;
    platform::ManualResetEvent stop(true);
    engine_reset(&bar, &stop);
    group = vob_group_create();
    group->video.frame_rate = 3;
    Vob* vob = add_vob(12);
    fix();
    // The information files already describe every unit; every NAV pack must match them.
    for (const Vobu& v : vob->vobus) EXPECT_EQ(written(v).pci.pci_gi.nv_pck_lbn, uint32_t(v.sector));
    EXPECT_TRUE(bar.Positions().empty());
}

TEST_F(NavFixerTest, MissingPieceIsAnError) {
    add_vob(2);
    expect_fatal([&] { fix_nav_packs(base(), *group); },
                 "ERR:  Error opening " + base() + "_1.VOB: No such file or directory");
}

}  // namespace
}  // namespace author::scan_test
