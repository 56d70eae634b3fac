// PGC records, entry PGCs and the PGC tables.
#include "author/pgc_writer.h"

#include <gtest/gtest.h>

#include "author/ifo_fixtures.h"
#include "author/diagnostics.h"
#include "author/ifo_tables.h"

namespace author {
namespace {

using testing::EngineTest;
using testing::GuiTitleset;
using testing::kSecond;

constexpr size_t kCommandTable = 0xec;

uint64_t instruction(const ByteBuffer& b, size_t at) { return b.u64(at); }

// Offset of PGC record `i` of a PGC information table that starts at `table`.
size_t record_of(const ByteBuffer& b, size_t table, int i) { return table + b.u32(table + 8 + 8 * i + 4); }

class PgcWriter : public EngineTest {};

TEST_F(PgcWriter, GuiTitlePgcHasOnlyTheExitPostCommandAndOneCellPerClip) {
    GuiTitleset disc(3, 4);
    const ByteBuffer table = write_pgc_table(disc.workset, kPgcTitles);
    ASSERT_EQ(table.size() % kSectorSize, 0u);
    EXPECT_EQ(table.u16(0), 1u);
    EXPECT_EQ(table.u8(8), 0x81u);
    const size_t pgc = record_of(table, 0, 0);
    EXPECT_EQ(table.u8(pgc + 2), 3u);  // programs
    EXPECT_EQ(table.u8(pgc + 3), 3u);  // cells
    EXPECT_EQ(table.u32(pgc + 4), 0x00000640u);  // 6 s at 25 fps
    EXPECT_EQ(table.u8(pgc + 0xa3), 0u);
    EXPECT_EQ(table.u32(pgc + 0xa4), 0x108080u);  // unset palette entries are black
    EXPECT_EQ(table.u16(pgc + 0xe4), kCommandTable);
    const size_t commands = pgc + kCommandTable;
    EXPECT_EQ(table.u16(commands), 0u);
    EXPECT_EQ(table.u16(commands + 2), 1u);
    EXPECT_EQ(table.u16(commands + 4), 0u);
    EXPECT_EQ(table.u16(commands + 6), 15u);
    EXPECT_EQ(instruction(table, commands + 8), 0x3001000000000000ull);

    // Program map 1, 2, 3 and one padding byte.
    const size_t map = pgc + table.u16(pgc + 0xe6);
    EXPECT_EQ(table.u16(pgc + 0xe6), 0xfcu);
    EXPECT_EQ(table.u32(map), 0x01020300u);
    const size_t cells = pgc + table.u16(pgc + 0xe8);
    EXPECT_EQ(table.u16(pgc + 0xe8), 0x100u);
    const uint8_t categories[] = {0x02, 0x02, 0x02};  // a new Vob each time: a new clock, never seamless
    for (int c = 0; c < 3; ++c) {
        const size_t e = cells + 24 * c;
        EXPECT_EQ(table.u8(e), categories[c]) << c;
        EXPECT_EQ(table.u8(e + 2), c == 2 ? 255u : 0u) << c;
        EXPECT_EQ(table.u32(e + 4), 0x00000240u);  // 2 s
        EXPECT_EQ(table.u32(e + 8), uint32_t(40 * c));
        EXPECT_EQ(table.u32(e + 16), uint32_t(40 * c + 30));
        EXPECT_EQ(table.u32(e + 20), uint32_t(40 * c + 39));
    }
    const size_t positions = pgc + table.u16(pgc + 0xea);
    EXPECT_EQ(positions, cells + 3 * 24);
    EXPECT_EQ(table.u32(positions + 4), 0x00020001u);
    EXPECT_EQ(table.u32(4), positions + 12 - 1);
}

TEST_F(PgcWriter, StillCellBreaksSeamlessPlayIntoTheNext) {
    GuiTitleset disc(2, 2);
    disc.title->sources[0]->cells[0].pause = 10;
    const ByteBuffer table = write_pgc_table(disc.workset, kPgcTitles);
    const size_t pgc = record_of(table, 0, 0);
    const size_t cells = pgc + table.u16(pgc + 0xe8);
    EXPECT_EQ(table.u8(cells + 2), 10u);
    EXPECT_EQ(table.u8(cells + 24), 0x02u);  // not seamless after a still
}

// Another title's chapter marks cut a paused cell with a command into several DVD cells of the
// shared VOB: only its last piece pauses and runs the command, or the title would stop early.
TEST_F(PgcWriter, SplitCellPausesAndRunsItsCommandOnlyAfterItsLastPiece) {
    GuiTitleset disc(1, 8);
    VobGroup* streams = disc.titles->vob_group;
    streams->vobs.clear();
    Vob* vob = testing::make_vob(streams, 8, kSecond / 2, 10, 0, {2, 4, 6});  // cells 1-4
    Pgc* split = pgc_create();
    Cell& cell = testing::add_source(split, vob, 1, 5)->cells[0];
    cell.pause = 20;
    cell.command = vm_parse("g1 = 1;");
    disc.titles->pgcs = {split};
    const ByteBuffer table = write_pgc_table(disc.workset, kPgcTitles);
    const size_t pgc = record_of(table, 0, 0);
    EXPECT_EQ(table.u8(pgc + 3), 4u);
    EXPECT_EQ(table.u16(pgc + kCommandTable + 4), 1u);  // one cell command
    const size_t cells = pgc + table.u16(pgc + 0xe8);
    for (int c = 0; c < 4; ++c) {
        const size_t e = cells + 24 * c;
        EXPECT_EQ(table.u8(e + 2), c == 3 ? 20u : 0u) << "still time of piece " << c + 1;
        EXPECT_EQ(table.u8(e + 3), c == 3 ? 1u : 0u) << "command of piece " << c + 1;
        // The pieces before the last play on into the next one without a break.
        if (c > 0) {
            EXPECT_EQ(table.u8(e) & 0x08, 0x08u) << "piece " << c + 1;
        }
    }
}

TEST_F(PgcWriter, PgcWithoutSourcesEndsAfterItsCommandTable) {
    GuiTitleset disc(1, 2);
    PgcGroup* menus = disc.menus->languages[0].group;
    Pgc* empty = pgc_create();
    menus->pgcs.push_back(empty);
    disc.workset.menu_language = 0;
    ByteBuffer out;
    const size_t size = write_pgc(out, 0, disc.workset, 0, kPgcTitlesetMenus);
    EXPECT_EQ(size, 0xf4u + 8);  // the default exit post command
    for (size_t field : {0xe6, 0xe8, 0xea}) EXPECT_EQ(out.u16(field), 0u) << field;
}

TEST_F(PgcWriter, SubpictureTrackWithoutAStreamIsNotAvailable) {
    GuiTitleset disc(1, 2);
    VobGroup* streams = disc.titles->vob_group;
    streams->audio_track_count = 2;
    streams->audio[0].stream_number = 2;
    streams->subpicture_track_count = 2;
    streams->subpicture[0].stream_number = 3;
    ByteBuffer out;
    write_pgc(out, 0, disc.workset, 0, kPgcTitles);
    EXPECT_EQ(out.u16(0x0c), 0x8100u);
    EXPECT_EQ(out.u16(0x0e), 0u);
    EXPECT_EQ(out.u32(0x1c), 0x82020202u);
    EXPECT_EQ(out.u32(0x20), 0u);
}

TEST_F(PgcWriter, EntryOnSecondMenuGetsAnEntryPgcLinkingToIt) {
    GuiTitleset disc(1, 2);
    PgcGroup* menus = disc.menus->languages[0].group;
    menus->pgcs = {pgc_create(), pgc_create()};
    menus->pgcs[1]->entry_mask = 0x08;
    menus->entry_mask = 0x08;
    menus->entry_count = 1;
    const ByteBuffer table = write_pgc_table(disc.workset, kPgcTitlesetMenus);
    EXPECT_EQ(table.u16(0), 1u);
    EXPECT_EQ(table.u16(8), 0x656eu);  // "en"
    EXPECT_EQ(table.u8(11), 0x80u);    // existence byte: a root menu
    const size_t unit = table.u32(12);
    EXPECT_EQ(unit, 16u);
    EXPECT_EQ(table.u16(unit), 3u);
    EXPECT_EQ(table.u8(unit + 8), 0u);
    EXPECT_EQ(table.u8(unit + 16), 0u);
    EXPECT_EQ(table.u8(unit + 24), 0x83u);
    const size_t entry = record_of(table, unit, 2);
    EXPECT_EQ(table.u16(entry + kCommandTable), 1u);
    EXPECT_EQ(table.u16(entry + kCommandTable + 6), 15u);
    EXPECT_EQ(instruction(table, entry + 0xf4), 0x2004000000000002ull);
    EXPECT_EQ(table.u32(4), entry + 0xf4 + 8 - 1);
}

TEST_F(PgcWriter, ButtonCodeLeavesForTheEndInsteadOfRunningIntoTheNextButton) {
    GuiTitleset disc(1, 2);
    PgcGroup* menus = disc.menus->languages[0].group;
    Pgc* menu = pgc_create();
    pgc_add_button(menu, "first", "g1 = 5;");
    pgc_add_button(menu, "second", "g2 = 7;");
    menus->pgcs.push_back(menu);
    ByteBuffer out;
    write_pgc(out, 0, disc.workset, 0, kPgcTitlesetMenus);
    const size_t commands = kCommandTable;
    EXPECT_EQ(out.u16(commands), 1u);      // highlight button 1
    EXPECT_EQ(out.u16(commands + 2), 8u);  // the whole post section
    EXPECT_EQ(instruction(out, 0xf4), 0x5600000004000000ull);
    const size_t post = 0xfc;
    const uint64_t lines[] = {
        0x6100000e000f0000ull,  // 1: g14 = button
        0x7100000f00000000ull,  // 2: g15 = 0
        0x00a1000e00010006ull,  // 3: button 1 -> line 6
        0x00a1000e00020008ull,  // 4: button 2 -> line 8
        0x3001000000000000ull,  // 5: exit
        0x7100000100050000ull,  // 6: g1 = 5
        0x0001000000000009ull,  // 7: past the other buttons' code
        0x7100000200070000ull,  // 8: g2 = 7, the last block ends the section
    };
    for (size_t i = 0; i < std::size(lines); ++i)
        EXPECT_EQ(instruction(out, post + 8 * i), lines[i]) << "line " << i + 1;
}

TEST_F(PgcWriter, MenuExistenceByteFlagsMenusInTheReadersOrder) {
    GuiTitleset disc(1, 2);
    PgcGroup* menus = disc.menus->languages[0].group;
    struct Case { int entries; uint32_t existence; };
    const Case cases[] = {{0x08, 0x80}, {0x10, 0x40}, {0x20, 0x20}, {0x40, 0x10}, {0x80, 0x08}, {0x88, 0x88}, {0, 0}};
    for (const Case& c : cases) {
        menus->entry_mask = c.entries;
        EXPECT_EQ(write_pgc_table(disc.workset, kPgcTitlesetMenus).u8(11), c.existence) << c.entries;
    }
    EXPECT_EQ(write_pgc_table(disc.workset, kPgcManagerMenus).u8(11), 0x80u);
}

TEST_F(PgcWriter, EntryPgcWithoutHolderJumpsToFirstPlay) {
    ByteBuffer out;
    EXPECT_EQ(gen_entry_pgc(out, 0, -1, nullptr), 0xf4u + 8);
    EXPECT_EQ(out.u64(0xf4), 0x3006000000000000ull);
}

TEST_F(PgcWriter, CommandTableHoldsAtMost128Instructions) {
    GuiTitleset disc(1, 1);
    Pgc* title = disc.titles->pgcs[0];
    auto commands = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += "g1 = " + std::to_string(i) + ";";
        return text;
    };
    // 127 pre commands and the default exit fill the table.
    pgc_set_pre_commands(title, commands(127).c_str());
    ByteBuffer out;
    write_pgc(out, 0, disc.workset, 0, kPgcTitles);
    EXPECT_EQ(out.u16(kCommandTable), 127u);
    EXPECT_EQ(out.u16(kCommandTable + 2), 1u);

    pgc_set_post_commands(title, "g2 = 1; exit;");
    ::testing::internal::CaptureStderr();
    ByteBuffer over;
    EXPECT_THROW(write_pgc(over, 0, disc.workset, 0, kPgcTitles), FatalError);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("ERR:  Too many pre/post/cell commands."),
              std::string::npos);
}

TEST_F(PgcWriter, TableLargerThanAnyStartingBufferIsWrittenWhole) {
    // 99 titles of 255 cells each: several hundred kilobytes of cell tables.
    GuiTitleset disc(1, 1);
    PgcGroup* titles = disc.titles;
    titles->pgcs.clear();
    Vob* vob = testing::make_vob(titles->vob_group, 255, kSecond / 25, 1, testing::next_sector(*titles->vob_group));
    for (Vobu& v : vob->vobus) v.cell_id = vob->vob_id * 256 + static_cast<int>(&v - vob->vobus.data()) + 1;
    for (int t = 0; t < 99; ++t) {
        Pgc* pgc = pgc_create();
        for (int c = 1; c <= 255; ++c) testing::add_source(pgc, vob, c, c + 1, c == 1 ? kCellChapter : kCellPlain);
        titles->pgcs.push_back(pgc);
    }
    const ByteBuffer table = write_pgc_table(disc.workset, kPgcTitles);
    EXPECT_EQ(table.u16(0), 99u);
    const size_t last = record_of(table, 0, 98);
    const size_t positions = last + table.u16(last + 0xea);
    EXPECT_EQ(table.u32(positions + 4 * 254), uint32_t((vob->vob_id << 16) | 255));
    EXPECT_EQ(table.u32(4), positions + 4 * 255 - 1);
}

}  // namespace
}  // namespace author
