// The title and menu model's building operations.
#include <gtest/gtest.h>

#include <cmath>

#include "author/diagnostics.h"
#include "author/model.h"

using namespace author;

namespace {

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override { engine_reset(nullptr, nullptr); }
};

// Runs an operation that must fail and returns what it printed.
template <class Operation>
std::string fatal_message(Operation operation) {
    testing::internal::CaptureStderr();
    EXPECT_THROW(operation(), FatalError);
    return testing::internal::GetCapturedStderr();
}

TEST_F(ModelTest, ButtonsAreNamedByNumberAndLimitedTo36) {
    Pgc* pgc = pgc_create();
    pgc_add_button(pgc, "play", "jump title 1;");
    pgc_add_button(pgc, nullptr, "jump title 1;");
    pgc_add_button(pgc, nullptr, "jump title 1;");
    EXPECT_EQ(pgc->buttons[0].name, "play");
    EXPECT_EQ(pgc->buttons[1].name, "2");
    EXPECT_EQ(pgc->buttons[2].name, "3");
    ASSERT_TRUE(pgc->buttons[2].command);
    while (pgc->buttons.size() < 36) pgc_add_button(pgc, nullptr, "jump title 1;");
    EXPECT_EQ(fatal_message([&] { pgc_add_button(pgc, nullptr, "jump title 1;"); }),
              "ERR:  Limit of up to 36 buttons\n");
    EXPECT_EQ(pgc->buttons.size(), 36u);
}

TEST_F(ModelTest, EntriesAreExactAndNotRepeated) {
    Pgc* pgc = pgc_create();
    pgc_add_entry(pgc, "root");
    pgc_add_entry(pgc, "ptt");
    EXPECT_EQ(pgc->entry_mask, 0x88);
    EXPECT_EQ(fatal_message([&] { pgc_add_entry(pgc, "Title"); }), "ERR:  Unknown entry 'Title'\n");
    EXPECT_EQ(fatal_message([&] { pgc_add_entry(pgc, ""); }), "ERR:  Unknown entry ''\n");
    EXPECT_EQ(fatal_message([&] { pgc_add_entry(pgc, "root"); }),
              "ERR:  Defined entry 'root' multiple times for the same PGC\n");
    EXPECT_EQ(pgc->entry_mask, 0x88);
}

TEST_F(ModelTest, MenuLanguagesAreTwoLettersLowerCased) {
    MenuGroup* menus = menu_group_create();
    ASSERT_NE(menus->vob_group, nullptr);
    PgcGroup* group = pgc_group_create(kGroupVtsm);
    EXPECT_EQ(group->vob_group, nullptr);
    menu_group_add(menus, "EN", group);
    ASSERT_EQ(menus->languages.size(), 1u);
    EXPECT_EQ(std::string(menus->languages[0].language, 2), "en");
    EXPECT_EQ(menus->languages[0].group, group);
    for (const char* bad : {"eng", "", "e"})
        EXPECT_EQ(fatal_message([&] { menu_group_add(menus, bad, group); }),
                  "ERR:  Menu language '" + std::string(bad) + "' is not two letters.\n");
}

TEST_F(ModelTest, CellTimesRoundToTicks) {
    PgcSource* source = source_create();
    source_add_cell(source, 1.5, -1.0, kCellChapter, 0, nullptr);
    source_add_cell(source, 0.000005, 2.0, kCellPlain, 255, nullptr);
    ASSERT_EQ(source->cells.size(), 2u);
    EXPECT_EQ(source->cells[0].start, 135000);
    EXPECT_EQ(source->cells[0].end, -89999);
    EXPECT_EQ(source->cells[0].kind, kCellChapter);
    EXPECT_EQ(source->cells[1].start, 0);
    EXPECT_EQ(source->cells[1].end, 180000);
    EXPECT_EQ(source->cells[1].pause, 255);
    EXPECT_FALSE(source->cells[0].command);
}

TEST_F(ModelTest, TimesBeyond32BitTicksAreRefused) {
    PgcSource* source = source_create();
    const std::string message =
        fatal_message([&] { source_add_cell(source, 0.0, 7 * 3600.0, kCellPlain, 0, nullptr); });
    EXPECT_NE(message.find("ERR:  Time 25200.000 s is out of range"), std::string::npos);
    for (double seconds : {-7 * 3600.0, std::nan(""), HUGE_VAL})
        EXPECT_NE(fatal_message([&] { source_add_cell(source, 0.0, seconds, kCellPlain, 0, nullptr); })
                      .find("is out of range"),
                  std::string::npos)
            << seconds;
    EXPECT_TRUE(source->cells.empty());
}

TEST_F(ModelTest, PaletteEntryStartsFromUnsetPalette) {
    Pgc* pgc = pgc_create();
    EXPECT_FALSE(pgc->palette);
    pgc_set_palette_entry(pgc, 3, 0x00eb8080);
    ASSERT_TRUE(pgc->palette);
    for (int i = 0; i < kPaletteEntries; ++i)
        EXPECT_EQ((*pgc->palette)[i], i == 3 ? 0x00eb8080u : kPaletteUnset) << i;
    EXPECT_THROW(pgc_set_palette_entry(pgc, 16, 0), FatalError);
}

TEST_F(ModelTest, OnlyTitleGroupsOwnStreams) {
    EXPECT_NE(pgc_group_create(kGroupVts)->vob_group, nullptr);
    PgcGroup* menus = pgc_group_create(kGroupVmgm);
    EXPECT_EQ(menus->vob_group, nullptr);
    EXPECT_THROW(pgc_group_set_video_attr(menus, 0, "pal"), FatalError);
}

TEST_F(ModelTest, AudioTrackCountFollowsTheHighestTrack) {
    PgcGroup* titles = pgc_group_create(kGroupVts);
    EXPECT_EQ(pgc_group_set_audio_attr(titles, 0, "mp2", 2), 0);
    EXPECT_EQ(titles->vob_group->audio_track_count, 3);
    EXPECT_EQ(pgc_group_set_audio_attr(titles, 0, "ac3", 0), 0);
    EXPECT_EQ(titles->vob_group->audio_track_count, 3);
    EXPECT_NE(pgc_group_set_audio_attr(titles, 0, "dts", 2), 0);
    // A ninth track would lie past the table.
    EXPECT_THROW(pgc_group_set_audio_attr(titles, 0, "mp2", 8), FatalError);
    EXPECT_THROW(pgc_group_set_subpicture_attr(titles, 0, "en", 32), FatalError);
    EXPECT_EQ(titles->vob_group->audio_track_count, 3);
}

TEST_F(ModelTest, ResetStartsFromNothing) {
    set_jumppad();
    engine().chapter_mark_state = kChapterPending;
    engine().scan.sector_counter = 7;
    engine_reset(nullptr, nullptr);
    EXPECT_EQ(engine().jumppad_enabled, 0);
    EXPECT_EQ(engine().chapter_mark_state, kChapterNextFileWhole);
    EXPECT_EQ(engine().scan.sector_counter, 0);
}

}  // namespace
