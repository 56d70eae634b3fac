// Model completion by the generation drivers, titleset numbering and the table of contents'
// reading of titleset information files.
#include "author/generation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "author/diagnostics.h"
#include "author/disc_support.h"
#include "author/ifo_fixtures.h"
#include "author/ifo_writer.h"
#include "author/titleset_readback.h"
#include "author/vm/vm_statement.h"

namespace author {
namespace {

using ::testing::HasSubstr;
using testing::EngineTest;
using testing::TempDir;

PgcSource* file_source(Pgc* pgc, const char* name, int cells = 1, int kind = kCellChapter) {
    PgcSource* source = source_create();
    source_set_file(source, name);
    for (int c = 0; c < cells; ++c) source_add_cell(source, c, c + 1.0, c == 0 ? kind : kCellPlain, 0, nullptr);
    pgc_add_source(pgc, source);
    return source;
}

class Generation : public EngineTest {};

TEST_F(Generation, ChainsWithoutPostCommandsEndOnAnInfiniteStill) {
    PgcGroup* titles = pgc_group_create(kGroupVts);
    Pgc* plain = pgc_create();
    file_source(plain, "a.vob");
    file_source(plain, "b.vob", 2);
    Pgc* with_post = pgc_create();
    file_source(with_post, "c.vob");
    with_post->post_commands = std::make_shared<VmStatement>();
    titles->pgcs = {plain, with_post};
    validate_pgc_group(titles);
    EXPECT_EQ(plain->sources[1]->cells[1].pause, 255);
    EXPECT_EQ(plain->sources[0]->cells[0].pause, 0);
    EXPECT_EQ(with_post->sources[0]->cells[0].pause, 0);
}

TEST_F(Generation, FirstCellBecomesAChapterWithAWarning) {
    PgcGroup* titles = pgc_group_create(kGroupVts);
    Pgc* pgc = pgc_create();
    PgcSource* empty = source_create();
    source_set_file(empty, "none.vob");
    pgc_add_source(pgc, empty);
    file_source(pgc, "a.vob", 1, kCellPlain);
    titles->pgcs = {pgc};
    ::testing::internal::CaptureStderr();
    validate_pgc_group(titles);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(messages, HasSubstr("WARN: Source has no cells (none.vob) in PGC 0\n"));
    EXPECT_THAT(messages, HasSubstr("WARN: First cell is not marked as a chapter in PGC 0, setting chapter flag\n"));
    EXPECT_EQ(pgc->sources[1]->cells[0].kind, kCellChapter);
}

TEST_F(Generation, EntryErrorsAreAllReportedBeforeTheRunStops) {
    PgcGroup* menus = pgc_group_create(kGroupVtsm);
    Pgc* first = pgc_create();
    pgc_add_entry(first, "title");
    Pgc* second = pgc_create();
    pgc_add_entry(second, "root");
    Pgc* third = pgc_create();
    pgc_add_entry(third, "root");
    menus->pgcs = {first, second, third};
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(validate_pgc_group(menus), FatalError);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(messages, HasSubstr("ERR:  Entry title is not allowed for menu type VTSM\n"));
    EXPECT_THAT(messages, HasSubstr("ERR:  Multiple definitions for entry root, 2nd occurance in PGC #2\n"));
}

TEST_F(Generation, ButtonlessMenusShareOneVobAndItsPalette) {
    MenuGroup* menus = menu_group_create();
    PgcGroup* group = pgc_group_create(kGroupVtsm);
    Pgc* first = pgc_create();
    file_source(first, "menu.vob");
    pgc_set_palette_entry(first, 3, 0x00ff8080);
    Pgc* second = pgc_create();
    file_source(second, "menu.vob");
    Pgc* with_buttons = pgc_create();
    file_source(with_buttons, "menu.vob");
    pgc_add_button(with_buttons, "play", nullptr);
    group->pgcs = {first, second, with_buttons};
    collect_vob_group(menus->vob_group, group);
    ASSERT_EQ(menus->vob_group->vobs.size(), 2u);
    EXPECT_EQ(first->sources[0]->vob, second->sources[0]->vob);
    EXPECT_NE(with_buttons->sources[0]->vob, first->sources[0]->vob);
    EXPECT_EQ(second->palette, first->palette);
    ASSERT_TRUE(with_buttons->palette);
    EXPECT_EQ((*with_buttons->palette)[3], kPaletteUnset);
    EXPECT_EQ(menus->vob_group->pgcs.size(), 3u);
}

TEST_F(Generation, ConflictingPalettesOnOneVobAreWarnedBothWays) {
    PgcGroup* group = pgc_group_create(kGroupVtsm);
    Pgc* first = pgc_create();
    file_source(first, "menu.vob");
    pgc_set_palette_entry(first, 0, 1);
    Pgc* second = pgc_create();
    file_source(second, "menu.vob");
    pgc_set_palette_entry(second, 0, 1);
    group->pgcs = {first, second};
    ::testing::internal::CaptureStderr();
    collect_vob_group(vob_group_create(), group);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages, "WARN: Conflict in colormap between PGC 0 and 1\n"
                        "WARN: Conflict in colormap between PGC 1 and 0\n");
}

TEST_F(Generation, TitlesetNumberIsTheFirstFreeOne) {
    struct Case { std::vector<int> existing; int expected; };
    for (const Case& c : {Case{{}, 1}, Case{{1, 2}, 3}, Case{{1, 3}, 2}}) {
        TempDir dir;
        std::filesystem::create_directories(dir / "VIDEO_TS");
        for (int n : c.existing) {
            char name[32];
            std::snprintf(name, sizeof name, "VIDEO_TS/VTS_%02d_0.IFO", n);
            testing::write_file(dir / name, {0});
        }
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(pick_vts_number(dir.path()), c.expected);
        char expected[32];
        std::snprintf(expected, sizeof expected, "STAT: Picking VTS %02d\n", c.expected);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
    }
}

TEST_F(Generation, FolderWithAllNinetyNineTitlesetsIsRefused) {
    TempDir dir;
    std::filesystem::create_directories(dir / "VIDEO_TS");
    for (int n = 1; n <= 99; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "VIDEO_TS/VTS_%02d_0.IFO", n);
        testing::write_file(dir / name, {0});
    }
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(pick_vts_number(dir.path()), FatalError);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("already holds titlesets 1 to 99"));
}

// A titleset information file as the titleset writer leaves it.
std::vector<uint8_t> titleset_file(int clips) {
    testing::GuiTitleset disc(clips, 2);
    disc.menus->vob_group->video.mpeg_version = 2;
    return write_vts_ifo(disc.workset).bytes();
}

TEST_F(Generation, TitlesetFileIsReadBackForTheTableOfContents) {
    TempDir dir;
    testing::write_file(dir / "VTS_01_0.IFO", titleset_file(4));
    std::vector<TitlesetInfo> table;
    read_vts_ifo(dir / "VTS_01_0.IFO", table);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].title_count, 1);
    EXPECT_EQ(table[0].chapter_counts, std::vector<int>{4});
    EXPECT_EQ(table[0].has_menus, 0);
    EXPECT_EQ(table[0].size_sectors, 6u + 80 + 6);
    EXPECT_EQ(table[0].attributes[0x100], 0x53);
}

TEST_F(Generation, DamagedTitlesetFilesAreRefusedNotTrusted) {
    const std::vector<uint8_t> good = titleset_file(2);
    struct Case { const char* what; std::vector<uint8_t> bytes; };
    std::vector<Case> cases;
    cases.push_back({"short", std::vector<uint8_t>(good.begin(), good.begin() + 3000)});
    cases.push_back({"not a titleset", good});
    cases.back().bytes[3] = 'x';
    cases.push_back({"title count past the sector", good});
    cases.back().bytes[kSectorSize] = 0x7f;
    cases.push_back({"end address before the first chapter list", good});
    cases.back().bytes[kSectorSize + 7] = 0x02;
    for (const Case& c : cases) {
        TempDir dir;
        testing::write_file(dir / "VTS_01_0.IFO", c.bytes);
        std::vector<TitlesetInfo> table;
        ::testing::internal::CaptureStderr();
        EXPECT_THROW(read_vts_ifo(dir / "VTS_01_0.IFO", table), FatalError) << c.what;
        EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("ERR:  ")) << c.what;
        EXPECT_TRUE(table.empty()) << c.what;
    }
}

// A titleset file whose sizes, table offsets, counts, reserved fields, stream codes or cells do
// not hold: the table of contents fails naming the file and the field, and takes away the
// manager an earlier run left, so that the folder no longer passes for a disc. The titleset
// itself stays for the user to look at.
TEST_F(Generation, TableOfContentsOverADamagedTitlesetFailsNamingTheField) {
    const std::vector<uint8_t> good = titleset_file(2);  // 6 IFO sectors, the part-of-title table at 1
    constexpr size_t kPtt = kSectorSize;
    struct Case {
        const char* what;
        size_t cut_to;  // 0: the whole file
        std::vector<std::pair<size_t, uint8_t>> bytes;
        const char* field;
    };
    const Case cases[] = {
        {"cut after its part-of-title table", 2 * kSectorSize, {},
         "information file's last sector (byte 0x01c) is 5, but the file is cut short"},
        {"cut inside its header", 1000, {}, "header (byte 0x000) is cut short"},
        {"last sector past the end", 0, {{0x1f, 0x40}}, "information file's last sector (byte 0x01c) is 64"},
        {"title cell address table past the end", 0, {{0xe3, 0x30}},
         "title cell address table sector (byte 0x0e0) is 48, past"},
        {"no part-of-title table", 0, {{0xcb, 0}}, "part-of-title table sector (byte 0x0c8) is 0"},
        {"title VOBs inside the information file", 0, {{0xc7, 2}}, "title VOB start sector (byte 0x0c4) is 2"},
        {"titleset ending before its backup", 0, {{0x0e, 0}, {0x0f, 10}}, "titleset's last sector (byte 0x00c) is 10"},
        {"no titles", 0, {{kPtt + 1, 0}}, "title count of the part-of-title table (byte 0x800) is 0"},
        {"part-of-title table ending past the file", 0, {{kPtt + 5, 0x01}},
         "last byte of the part-of-title table (byte 0x804)"},
        {"chapter list before the list offsets", 0, {{kPtt + 11, 0x04}},
         "chapter list offset of title 1 (byte 0x808) is 4"},
        {"nine title audio streams", 0, {{0x203, 9}}, "title audio stream count (byte 0x202) is 9"},
        {"reserved header byte set", 0, {{0x30, 1}}, "reserved bytes after the category (byte 0x030) is 0x01, not 0"},
        {"no known video standard", 0, {{0x200, 0x73}}, "title video attributes (byte 0x200) are 0x7300"},
        {"audio of no known format", 0, {{0x203, 1}, {0x204, 0x20}},
         "title audio stream 1 attributes (byte 0x204) codes 0x20 0x00"},
        {"attributes past the stream count", 0, {{0x20a, 5}},
         "unused title audio stream 1 attributes (byte 0x20a) is 0x05, not 0"},
        {"menu table without menus", 0, {{0xd3, 3}},
         "menu table sector (byte 0x0d0) is set for a titleset without menu VOBs"},
        {"chapter in a PGC the titleset lacks", 0, {{kPtt + 0x11, 2}},
         "PGC number of chapter 2 of title 1 (byte 0x810) is 2, not 1 to 1"},
        {"chapter in a program the PGC lacks", 0, {{kPtt + 0x13, 3}},
         "program number of chapter 2 of title 1 (byte 0x812) is 3, not 1 to 2"},
        {"control of an absent audio stream", 0, {{0x101d, 1}},
         "control of absent audio stream 1 of PGC 1 of the title PGC table (byte 0x101d) is 0x01, not 0"},
        {"cell past the title VOBs", 0, {{0x113d, 0x60}},
         "last sector of cell 2 of PGC 1 of the title PGC table (byte 0x113a) is 96, past the 40 sectors"},
        {"time maps for PGCs the titleset lacks", 0, {{0x1801, 2}},
         "map count of the time map table (byte 0x1800) is 2, not one for each of the 1 title PGCs"},
        {"cell of a VOB the table lacks", 0, {{0x2015, 3}},
         "VOB id of cell 2 of the title cell address table (byte 0x2014) is 3, not 1 to 2"},
        {"VOB units out of order", 0, {{0x280b, 0}},
         "VOB unit 2 of the title VOB unit address map (byte 0x2808) starts at sector 0, not after"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::filesystem::create_directories(dir / "VIDEO_TS");
        const std::string titleset = dir / "VIDEO_TS/VTS_01_0.IFO";
        testing::write_file(titleset, good);
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(testing::run_discforge({"-T", "-o", dir.path()}), 0) << ::testing::internal::GetCapturedStderr();
        ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(std::filesystem::exists(dir / "VIDEO_TS/VIDEO_TS.IFO"));

        std::vector<uint8_t> damaged = good;
        if (c.cut_to != 0) damaged.resize(c.cut_to);
        for (const auto& [at, value] : c.bytes) damaged[at] = value;
        testing::write_file(titleset, damaged);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(testing::run_discforge({"-T", "-o", dir.path()}), 1) << c.what;
        EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                    HasSubstr("ERR:  " + titleset + ": " + c.field)) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir / "VIDEO_TS/VIDEO_TS.IFO")) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir / "VIDEO_TS/VIDEO_TS.BUP")) << c.what;
        EXPECT_TRUE(std::filesystem::exists(titleset)) << c.what;
    }
}

TEST_F(Generation, ScrambledTitlesetFilesNeverCrashTheReadBack) {
    const std::vector<uint8_t> good = titleset_file(3);
    std::mt19937 random(6);
    TempDir dir;
    const std::string path = dir / "VTS_01_0.IFO";
    ::testing::internal::CaptureStderr();
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes = good;
        // Scramble a few bytes of the header's table pointers or of the part-of-title table.
        for (int k = 0; k < 4; ++k) {
            const size_t at = random() % 2 ? 0xc0 + random() % 0x40 : kSectorSize + random() % 32;
            bytes[at] = static_cast<uint8_t>(random());
        }
        testing::write_file(path, bytes);
        std::vector<TitlesetInfo> table;
        try {
            read_vts_ifo(path, table);
            ASSERT_EQ(table.size(), 1u);
            for (int chapters : table[0].chapter_counts) {
                EXPECT_GE(chapters, 1);
                EXPECT_LE(chapters, 99);
            }
        } catch (const FatalError&) {
            EXPECT_TRUE(table.empty());
        }
    }
    ::testing::internal::GetCapturedStderr();
}

TEST_F(Generation, TableOfContentsNeedsConsecutiveTitlesets) {
    struct Case { std::vector<std::string> files; const char* message; };
    const Case cases[] = {
        {{"VTS_01_0.IFO", "VTS_03_0.IFO"},
         "ERR:  Titleset #3 (VTS_03_0.IFO) does not immediately follow the last titleset\n"},
        {{"VTS_00_0.IFO"}, "ERR:  Cannot have titleset #0 (VTS_00_0.IFO)\n"},
        {{}, "ERR:  No .IFO files to process\n"},
        {{"vts_01_0.ifo", "VTS_1_0.IFO", "VTS_01_0.IFO.old"}, "ERR:  No .IFO files to process\n"},
    };
    const std::vector<uint8_t> ifo = titleset_file(1);
    for (const Case& c : cases) {
        engine_reset(nullptr, nullptr);
        TempDir dir;
        std::filesystem::create_directories(dir / "VIDEO_TS");
        for (const std::string& name : c.files) testing::write_file(dir / ("VIDEO_TS/" + name), ifo);
        MenuGroup* menus = menu_group_create();
        menu_group_add(menus, "en", pgc_group_create(kGroupVmgm));
        ::testing::internal::CaptureStderr();
        EXPECT_THROW(build_vmgm(nullptr, menus, dir.path()), FatalError);
        EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr(c.message));
        EXPECT_FALSE(std::filesystem::exists(dir / "VIDEO_TS/VIDEO_TS.IFO"));
    }
}

TEST_F(Generation, TableOfContentsOverOneTitlesetWritesIdenticalIfoAndBup) {
    TempDir dir;
    std::filesystem::create_directories(dir / "VIDEO_TS");
    testing::write_file(dir / "VIDEO_TS/VTS_01_0.IFO", titleset_file(3));
    MenuGroup* menus = menu_group_create();
    menu_group_add(menus, "en", pgc_group_create(kGroupVmgm));
    ::testing::internal::CaptureStderr();
    build_vmgm(nullptr, menus, dir.path());
    ::testing::internal::GetCapturedStderr();
    const auto ifo = testing::read_file(dir / "VIDEO_TS/VIDEO_TS.IFO");
    EXPECT_EQ(ifo, testing::read_file(dir / "VIDEO_TS/VIDEO_TS.BUP"));
    EXPECT_EQ(ifo.size(), 3u * kSectorSize);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "AUDIO_TS"));
    EXPECT_FALSE(std::filesystem::exists(dir / "VIDEO_TS/VIDEO_TS.VOB"));
}

TEST_F(Generation, TitlesetWithoutTitlesStops) {
    TempDir dir;
    MenuGroup* menus = menu_group_create();
    menu_group_add(menus, "en", pgc_group_create(kGroupVtsm));
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(build_titleset(menus, pgc_group_create(kGroupVts), dir.path()), FatalError);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("ERR:  no titles defined\n"));
}

}  // namespace
}  // namespace author
