// Table builders and VOB-unit lookups over small scanned-model fixtures.
#include "author/ifo_tables.h"

#include <gtest/gtest.h>

#include "author/diagnostics.h"
#include "author/ifo_fixtures.h"

namespace author {
namespace {

using testing::EngineTest;
using testing::kSecond;
using testing::make_vob;
using testing::next_sector;

class IfoTables : public EngineTest {
protected:
    VobGroup* group = nullptr;
    void SetUp() override {
        EngineTest::SetUp();
        group = vob_group_create();
        testing::set_pal_video(group);
    }
};

TEST_F(IfoTables, FindCellFirstVobuIsALowerBoundOverCellIds) {
    // Cells 1 (units 0-3), 2 (4-6), 3 (7-9) of Vob 1.
    Vob* vob = make_vob(group, 10, kSecond, 10, 0, {4, 7});
    struct Case { int cell; int expected; };
    for (const Case& c : {Case{0, 0}, Case{1, 0}, Case{2, 4}, Case{3, 7}, Case{4, 10}, Case{200, 10}})
        EXPECT_EQ(find_cell_first_vobu(*vob, c.cell), c.expected) << "cell " << c.cell;
    EXPECT_EQ(get_cell_sectors(*vob, 2), 3 * kSecond);  // ticks, despite the name
    EXPECT_EQ(get_cell_sectors(*vob, 4), 0);

    Vob* empty = make_vob(group, 0);
    EXPECT_EQ(find_cell_first_vobu(*empty, 1), 0);
    EXPECT_EQ(get_cell_sectors(*empty, 1), 0);
}

TEST_F(IfoTables, FindVobuByPtsReportsOutsideTheRange) {
    Vob* vob = make_vob(group, 8, kSecond);  // unit i plays [i s, i+1 s)
    struct Case { int32_t pts; int lo, hi; int expected; };
    const Case cases[] = {
        {0, 0, 7, 0},
        {3 * kSecond + 1, 0, 7, 3},
        {3 * kSecond - 1, 0, 7, 2},
        {2 * kSecond - 1, 2, 5, 1},   // before the range: lo - 1
        {6 * kSecond, 2, 5, 6},       // at the range's end: hi + 1
        {8 * kSecond, 0, 7, 8},
        {5 * kSecond, 5, 4, 4},       // empty range
        {5 * kSecond + 7, 5, 5, 5},
    };
    for (const Case& c : cases)
        EXPECT_EQ(find_vobu_by_pts(*vob, c.pts, c.lo, c.hi), c.expected) << c.pts << " in " << c.lo << ".." << c.hi;
}

TEST_F(IfoTables, PgcTimeAndVobuAtTimeWalkTheCellsInOrder) {
    Vob* first = make_vob(group, 4, kSecond);
    Vob* second = make_vob(group, 6, kSecond, 10, next_sector(*group), {3});
    Pgc* pgc = pgc_create();
    testing::add_source(pgc, first, 1, 2);
    testing::add_source(pgc, second, 2, 3);  // only the second cell of the second Vob
    EXPECT_EQ(pgc_total_sectors(*pgc), 7 * kSecond);
    EXPECT_EQ(find_vobu_at_time(*pgc, -5), &first->vobus[0]);
    EXPECT_EQ(find_vobu_at_time(*pgc, 3 * kSecond + 10), &first->vobus[3]);
    EXPECT_EQ(find_vobu_at_time(*pgc, 4 * kSecond), &second->vobus[3]);
    EXPECT_EQ(find_vobu_at_time(*pgc, 7 * kSecond - 1), &second->vobus[5]);
    EXPECT_EQ(find_vobu_at_time(*pgc, 7 * kSecond), nullptr);
    EXPECT_EQ(get_vobs_sectors(*group), 100u);
}

// Time-map shapes: at most 2040 entries, one per whole unit of seconds.
TEST_F(IfoTables, TimeMapUnitKeepsEntriesUnder2041) {
    struct Case { int seconds; int unit; int entries; };
    for (const Case& c : {Case{0, 1, 0}, Case{1, 1, 1}, Case{2040, 1, 2040}, Case{4080, 2, 2040}, Case{4081, 3, 1360}}) {
        engine_reset(nullptr, nullptr);
        PgcGroup* titles = pgc_group_create(kGroupVts);
        testing::set_pal_video(titles->vob_group);
        Pgc* pgc = pgc_create();
        titles->pgcs.push_back(pgc);
        // A Pgc of c.seconds seconds (a third of a second when 0).
        Vob* vob = make_vob(titles->vob_group, c.seconds ? c.seconds : 1, c.seconds ? kSecond : kSecond / 3);
        testing::add_source(pgc, vob, 1, 2);
        const ByteBuffer table = write_tmapt(*titles);
        EXPECT_EQ(table.size() % kSectorSize, 0u);
        EXPECT_EQ(tmapt_size(*titles), 8 + 4 + 4 + 4 * size_t(c.entries)) << c.seconds;
        EXPECT_EQ(table.u32(4), tmapt_size(*titles) - 1);
        const uint32_t map = table.u32(8);
        EXPECT_EQ(map, 12u);
        EXPECT_EQ(table.u8(map), uint32_t(c.unit)) << c.seconds;
        EXPECT_EQ(table.u16(map + 2), uint32_t(c.entries)) << c.seconds;
        if (c.entries > 0) {
            // Entry k points at the unit playing one frame before k units of time.
            const int32_t t = c.entries * c.unit * kSecond - 3600;
            EXPECT_EQ(table.u32(map + 4 * c.entries), uint32_t(vob->vobus[t / kSecond].sector));
        }
    }
}

TEST_F(IfoTables, TimeMapFlagsTheEntryBeforeACellChange) {
    PgcGroup* titles = pgc_group_create(kGroupVts);
    testing::set_pal_video(titles->vob_group);
    Pgc* pgc = pgc_create();
    titles->pgcs.push_back(pgc);
    Vob* vob = make_vob(titles->vob_group, 6, kSecond, 10, 0, {3});  // cells change at 3 s
    testing::add_source(pgc, vob, 1, 3);
    const ByteBuffer table = write_tmapt(*titles);
    const size_t map = table.u32(8);
    ASSERT_EQ(table.u16(map + 2), 6u);
    // Entries k = 1..6 point at units k - 1 (one frame before k seconds).
    for (int k = 1; k <= 6; ++k) {
        const uint32_t entry = table.u32(map + 4 * k);
        EXPECT_EQ(entry & 0x7fffffff, uint32_t(vob->vobus[k - 1].sector)) << k;
        EXPECT_EQ((entry >> 31) != 0, k == 3) << k;
    }
}

TEST_F(IfoTables, CellAddressTableHasOneEntryPerCellRun) {
    Vob* one = make_vob(group, 5, kSecond, 10);
    make_vob(group, 4, kSecond, 7, next_sector(*group), {2});
    (void)one;
    const ByteBuffer table = write_c_adt(*group);
    ASSERT_EQ(table.size(), size_t(kSectorSize));
    EXPECT_EQ(table.u16(0), 3u);
    EXPECT_EQ(table.u32(4), 8u + 3 * 12 - 1);
    struct Entry { uint32_t vob, cell, first, last; };
    const Entry expected[] = {{1, 1, 0, 49}, {2, 1, 50, 63}, {2, 2, 64, 77}};
    for (int i = 0; i < 3; ++i) {
        const size_t e = 8 + 12 * i;
        EXPECT_EQ(table.u16(e), expected[i].vob);
        EXPECT_EQ(table.u8(e + 2), expected[i].cell);
        EXPECT_EQ(table.u32(e + 4), expected[i].first);
        EXPECT_EQ(table.u32(e + 8), expected[i].last);
    }
}

TEST_F(IfoTables, VobuMapFillsWholeSectors) {
    for (int units : {511, 512}) {
        engine_reset(nullptr, nullptr);
        VobGroup* g = vob_group_create();
        make_vob(g, units, kSecond, 3);
        const ByteBuffer map = write_vobu_admap(*g);
        EXPECT_EQ(map.size(), units == 511 ? 2048u : 4096u);
        EXPECT_EQ(map.u32(0), uint32_t(4 * units + 3));
        EXPECT_EQ(map.u32(4 * units), uint32_t(3 * (units - 1)));
    }
}

TEST_F(IfoTables, PartOfTitleTableCountsChaptersAndPrograms) {
    PgcGroup* titles = pgc_group_create(kGroupVts);
    Vob* vob = make_vob(titles->vob_group, 10, kSecond, 10, 0, {2, 4, 6, 8});
    Pgc* first = pgc_create();
    testing::add_source(first, vob, 1, 2, kCellChapter);
    testing::add_source(first, vob, 2, 3, kCellProgram);  // program 2, no chapter
    testing::add_source(first, vob, 3, 3, kCellChapter);  // covers nothing
    testing::add_source(first, vob, 3, 4, kCellPlain);
    testing::add_source(first, vob, 4, 6, kCellChapter);  // program 3
    Pgc* second = pgc_create();
    testing::add_source(second, vob, 1, 6, kCellChapter);
    titles->pgcs = {first, second};

    const ByteBuffer table = write_vts_ptt_srpt(*titles);
    EXPECT_EQ(table.u16(0), 2u);
    EXPECT_EQ(table.u32(8), 16u);
    EXPECT_EQ(table.u32(12), 24u);  // title 1 has two chapters
    EXPECT_EQ(table.u32(4), 27u);
    EXPECT_EQ(table.u32(16), 0x00010001u);
    EXPECT_EQ(table.u32(20), 0x00010003u);
    EXPECT_EQ(table.u32(24), 0x00020001u);
    EXPECT_EQ(table.size(), size_t(kSectorSize));
}

TEST_F(IfoTables, TitleSearchTableChainsTitlesetStartSectors) {
    std::vector<TitlesetInfo> titlesets(2);
    titlesets[0].title_count = 2;
    titlesets[0].chapter_counts = {3, 1};
    titlesets[0].size_sectors = 1000;
    titlesets[1].title_count = 1;
    titlesets[1].chapter_counts = {7};
    titlesets[1].size_sectors = 50;
    const ByteBuffer table = write_tt_srpt(titlesets, 4);
    EXPECT_EQ(table.u16(0), 3u);
    EXPECT_EQ(table.u32(4), 8u + 36 - 1);
    struct Entry { uint32_t chapters, vts, title, start; };
    const Entry expected[] = {{3, 1, 1, 4}, {1, 1, 2, 4}, {7, 2, 1, 1004}};
    for (int i = 0; i < 3; ++i) {
        const size_t e = 8 + 12 * i;
        EXPECT_EQ(table.u8(e), 0x3cu);
        EXPECT_EQ(table.u8(e + 1), 1u);
        EXPECT_EQ(table.u16(e + 2), expected[i].chapters);
        EXPECT_EQ(table.u8(e + 6), expected[i].vts);
        EXPECT_EQ(table.u8(e + 7), expected[i].title);
        EXPECT_EQ(table.u32(e + 8), expected[i].start);
    }
}

// Titleset sizes are summed past 32 bits: a disc whose last titleset ends beyond the last
// addressable sector is refused, not given a start sector that wraps round.
TEST_F(IfoTables, TitleSearchTableRefusesADiscPastTheLastAddressableSector) {
    std::vector<TitlesetInfo> titlesets(3);
    for (TitlesetInfo& info : titlesets) {
        info.title_count = 1;
        info.chapter_counts = {1};
        info.size_sectors = 0x7fffffff;
    }
    titlesets[1].size_sectors = 0x7ffffffe;
    titlesets[2].size_sectors = 1;  // the last addressable sector, 2^32 - 1
    const ByteBuffer table = write_tt_srpt(titlesets, 2);
    EXPECT_EQ(table.u32(8 + 12 * 2 + 8), 0xffffffffu);

    titlesets[2].size_sectors = 2;
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(write_tt_srpt(titlesets, 2), FatalError);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ERR:  Titleset 3 would end at sector 4294967296, past the 4294967296 sectors a disc can address\n");
}

TEST_F(IfoTables, StreamAttributeBlockEncodesVideoAudioAndSubpictures) {
    group->video.aspect = 2;
    group->video.widescreen = 2;
    group->video.caption = 3;
    group->audio_track_count = 2;
    group->audio[0] = AudioAttr{1, 4, 1, 6, 2, 1, 1, {'e', 'n'}};  // ac3 drc surround 6ch en
    group->audio[1] = AudioAttr{2, 2, 0, 2, 1, 1, 1, {0, 0}};      // mp2 2ch, no language
    group->subpicture_track_count = 2;
    group->subpicture[0] = SubpictureAttr{2, 1, {'d', 'e'}};
    ByteBuffer header(kSectorSize);
    write_stream_attributes(header, 0x200, *group);
    EXPECT_EQ(header.u16(0x200), 0x4000u | 0x1000u | 0x0c00u | 0x0200u | 0x80u | 0x40u);
    EXPECT_EQ(header.u16(0x202), 2u);
    EXPECT_EQ(header.u64(0x204), 0x06c5656e00000008ull);
    EXPECT_EQ(header.u64(0x20c), 0x4041000000000000ull);
    EXPECT_EQ(header.u16(0x254), 2u);
    EXPECT_EQ(header.u32(0x256), 0x01006465u);
    EXPECT_EQ(header.u32(0x25c), 0u);
    EXPECT_EQ(header.u16(0x100), 0u);  // nothing outside the block
}

}  // namespace
}  // namespace author
