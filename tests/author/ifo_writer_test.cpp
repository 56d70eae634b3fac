// Titleset and manager information files, laid out and written from scanned-model fixtures.
#include "author/ifo_writer.h"

#include <gtest/gtest.h>

#include "author/diagnostics.h"
#include "author/ifo_fixtures.h"
#include "author/ifo_tables.h"

namespace author {
namespace {

using testing::EngineTest;
using testing::GuiTitleset;
using testing::TempDir;

class IfoWriter : public EngineTest {};

TEST_F(IfoWriter, TitlesetWithoutMenusHasOnlyTitleTablesAndAnIdenticalBackup) {
    GuiTitleset disc(3, 4);
    TempDir dir;
    write_titleset_ifo(dir / "VTS_01", disc.workset);
    const auto ifo = testing::read_file(dir / "VTS_01_0.IFO");
    EXPECT_EQ(ifo, testing::read_file(dir / "VTS_01_0.BUP"));
    ByteBuffer file;
    file.bytes() = ifo;
    ASSERT_EQ(file.size(), 6u * kSectorSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), 12), "DVDVIDEO-VTS");
    struct Field { size_t offset; uint32_t value; };
    const Field fields[] = {
        {0x00c, 6 + 120 + 6 - 1}, {0x01c, 5}, {0x080, 0x7ff}, {0x0c0, 0}, {0x0c4, 6},
        {0x0c8, 1}, {0x0cc, 2}, {0x0d0, 0}, {0x0d4, 3}, {0x0d8, 0}, {0x0dc, 0}, {0x0e0, 4}, {0x0e4, 5},
    };
    for (const Field& f : fields) EXPECT_EQ(file.u32(f.offset), f.value) << std::hex << f.offset;
    EXPECT_EQ(file.u8(0x021), 0x11u);
    for (size_t i = 0x100; i < 0x200; ++i) ASSERT_EQ(file.u8(i), 0u) << std::hex << i;
    EXPECT_EQ(file.u16(0x200), 0x5300u);  // mpeg2, pal, 4:3 with neither pan-scan nor letterbox
    // The cell address table at its sector: three cells of 40 sectors.
    EXPECT_EQ(file.u16(4 * kSectorSize), 3u);
    EXPECT_EQ(file.u32(4 * kSectorSize + 8 + 2 * 12 + 8), 119u);
}

TEST_F(IfoWriter, SectorFieldsKeepAllFourBytesPast255Sectors) {
    GuiTitleset disc(1, 140000, testing::kSecond / 10);  // a VOB-unit map of 274 sectors
    const ByteBuffer file = write_vts_ifo(disc.workset);
    const uint32_t sectors = static_cast<uint32_t>(file.size() / kSectorSize);
    ASSERT_GT(sectors, 256u);
    EXPECT_EQ(file.u32(0x01c), sectors - 1);
    EXPECT_EQ(file.u32(0x0c4), sectors);
    EXPECT_EQ(file.u32(0x0e4), sectors - 274);
    EXPECT_EQ(file.u32(0x00c), 2 * sectors + 1400000 - 1);
    EXPECT_EQ(file.u32(size_t(file.u32(0x0e4)) * kSectorSize), 4u * 140000 + 3);
}

TEST_F(IfoWriter, MenuWithMoreThanOneAudioTrackIsRefused) {
    GuiTitleset disc(1, 2);
    disc.menus->languages[0].group->pgcs.push_back(pgc_create());
    disc.menus->vob_group->audio_track_count = 2;
    EXPECT_THROW(write_vts_ifo(disc.workset), FatalError);
}

class ManagerFile : public EngineTest {
protected:
    std::vector<TitlesetInfo> titlesets;
    MenuGroup* menus = nullptr;
    Workset workset;

    void SetUp() override {
        EngineTest::SetUp();
        TitlesetInfo info;
        info.title_count = 1;
        info.chapter_counts = {3};
        info.size_sectors = 200;
        info.category = {0, 0, 0, 0};
        info.attributes[0x100] = 0x53;  // title video attributes as read back
        titlesets.push_back(info);
        menus = menu_group_create();
        menu_group_add(menus, "en", pgc_group_create(kGroupVmgm));
        workset.titlesets = &titlesets;
        workset.menus = menus;
    }
};

TEST_F(ManagerFile, JobsTableOfContentsJumpsToTitleOne) {
    const ByteBuffer file = build_vmg_ifo(workset, nullptr);
    ASSERT_EQ(file.size(), 3u * kSectorSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), 12), "DVDVIDEO-VMG");
    struct Field { size_t offset; uint32_t value; };
    const Field fields[] = {
        {0x00c, 5}, {0x01c, 2}, {0x080, 0x4fb}, {0x084, 0x400}, {0x0c0, 0},
        {0x0c4, 1}, {0x0c8, 0}, {0x0d0, 2}, {0x0d8, 0}, {0x0dc, 0},
    };
    for (const Field& f : fields) EXPECT_EQ(file.u32(f.offset), f.value) << std::hex << f.offset;
    EXPECT_EQ(file.u16(0x03e), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 0x40)), "discforge");
    EXPECT_EQ(file.u8(0x407), 0xc0u);
    EXPECT_EQ(file.u16(0x4e4), 0xecu);
    EXPECT_EQ(file.u16(0x4ec), 1u);
    EXPECT_EQ(file.u16(0x4f2), 15u);
    EXPECT_EQ(file.u64(0x4f4), 0x3002000000010000ull);

    // The title search table: the titleset starts after both manager files.
    EXPECT_EQ(file.u16(kSectorSize), 1u);
    EXPECT_EQ(file.u16(kSectorSize + 8 + 2), 3u);
    EXPECT_EQ(file.u32(kSectorSize + 8 + 8), 6u);

    // The VTS attribute table: 788 bytes, then zeros to the sector's end.
    const size_t atrt = 2 * kSectorSize;
    EXPECT_EQ(file.u16(atrt), 1u);
    EXPECT_EQ(file.u32(atrt + 4), 0x313u);
    EXPECT_EQ(file.u32(atrt + 8), 0x0cu);
    EXPECT_EQ(file.u32(atrt + 12), 0x307u);
    EXPECT_EQ(file.u8(atrt + 20 + 0x100), 0x53u);
    for (size_t i = atrt + 788; i < file.size(); ++i) ASSERT_EQ(file.u8(i), 0u) << i;
}

TEST_F(ManagerFile, FirstPlayFollowsMenus) {
    titlesets[0].has_menus = 1;
    EXPECT_EQ(build_vmg_ifo(workset, nullptr).u64(0x4f4), 0x3006000101830000ull);
    menus->languages[0].group->pgcs.push_back(pgc_create());
    EXPECT_EQ(build_vmg_ifo(workset, nullptr).u64(0x4f4), 0x3006000000420000ull);
}

TEST_F(ManagerFile, FirstPlayCommandsAreCompiledIntoTheHeader) {
    Pgc* first_play = pgc_create();
    pgc_set_pre_commands(first_play, "g3 = 7; jump title 1;");
    const ByteBuffer file = build_vmg_ifo(workset, first_play);
    EXPECT_EQ(file.u16(0x4ec), 2u);
    EXPECT_EQ(file.u16(0x4f2), 23u);
    EXPECT_EQ(file.u32(0x080), 0x4ec + 23u);
    EXPECT_EQ(file.u64(0x4f4), 0x7100000300070000ull);
    EXPECT_EQ(file.u64(0x4fc), 0x3002000000010000ull);
    EXPECT_EQ(file.size(), 3u * kSectorSize);
}

TEST_F(ManagerFile, FirstPlayCommandsFitTheHeaderSector) {
    auto commands = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += "g1 = " + std::to_string(i) + ";";
        return text;
    };
    Pgc* fits = pgc_create();
    pgc_set_pre_commands(fits, commands(97).c_str());
    EXPECT_EQ(build_vmg_ifo(workset, fits).u16(0x4ec), 97u);

    Pgc* too_many = pgc_create();
    pgc_set_pre_commands(too_many, commands(98).c_str());
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(build_vmg_ifo(workset, too_many), FatalError);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ERR:  First-play commands compile to 98 instructions; at most 97 fit\n");
}

TEST_F(ManagerFile, FirstPlayPgcWithMoreThanCommandsIsRefused) {
    Pgc* first_play = pgc_create();
    first_play->entry_mask = kEntryTitle;
    EXPECT_THROW(build_vmg_ifo(workset, first_play), FatalError);
}

TEST_F(ManagerFile, UnwritableFileIsAnErrorNotASilentSuccess) {
    TempDir dir;
    EXPECT_THROW(write_vmg_ifo(workset, nullptr, dir / "missing/VIDEO_TS.IFO"), FatalError);
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_THROW(write_whole_file("/dev/full", build_vmg_ifo(workset, nullptr)), FatalError);
    }
}

}  // namespace
}  // namespace author
