#include "author/titleset_readback.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "author/bytes.h"
#include "author/diagnostics.h"
#include "author/ifo_layout.h"
#include "author/titleset_file.h"
#include "author/titleset_tables.h"

namespace author {

namespace {

using namespace ifo_layout;

// Part-of-title search table: after the common header the offset of each title's chapter list
// (4 bytes per chapter).
constexpr size_t kPttListOffsets = kTableHeaderBytes;
constexpr uint32_t kPttEntryBytes = 4;

// Menu PGCI unit table: after the common header 8-byte language entries whose second half is
// the offset of the language's unit; a unit holds its PGC count and 8-byte PGC entries from
// byte 8, each starting with the PGC's category.
constexpr size_t kUtFirstUnitOffset = 12;
constexpr size_t kUnitPgcCount = 0;
constexpr size_t kUnitPgcEntries = 8;
constexpr size_t kUnitPgcEntryBytes = 8;
constexpr uint32_t kRootMenuCategory = 0x80 | 3;  // entry PGC of the root menu

// The tables the header places by sector; a titleset cannot play without the required ones.
struct TableField {
    size_t offset;
    const char* name;
    bool required;
};
constexpr TableField kTableFields[] = {
    {kVtsPttSrpt, "part-of-title table sector", true},
    {kVtsPgcit, "title PGC table sector", true},
    {kVtsMenuPgciUt, "menu PGC table sector", false},
    {kVtsTmapt, "time map table sector", false},
    {kVtsMenuCadt, "menu cell address table sector", false},
    {kVtsMenuVobuAdmap, "menu VOB unit address map sector", false},
    {kVtsTitleCadt, "title cell address table sector", true},
    {kVtsTitleVobuAdmap, "title VOB unit address map sector", true},
};

// The stream counts of the attribute blocks the manager copies: a menu has one stream of each.
struct CountField {
    size_t offset;
    const char* name;
    uint32_t limit;
};
constexpr CountField kCountFields[] = {
    {kMenuAttributes + kAttrAudioCount, "menu audio stream count", 1},
    {kMenuAttributes + kAttrSubpictureCount, "menu subpicture stream count", 1},
    {kTitleAttributes + kAttrAudioCount, "title audio stream count", kMaxAudioTracks},
    {kTitleAttributes + kAttrSubpictureCount, "title subpicture stream count", kMaxSubpictureTracks},
};

uint64_t sector_bytes(uint64_t sector) { return sector * kSectorSize; }

// The header, and the information-file sectors it declares, which the file must hold.
ByteBuffer read_header(TitlesetFile& file) {
    if (file.file_bytes() < kSectorSize)
        file.damaged("header", 0, "is cut short: the file holds " + number(file.file_bytes()) + " of its " +
                                      number(kSectorSize) + " bytes");
    ByteBuffer header = file.read(0, kSectorSize, "header", 0);
    if (std::memcmp(header.data(), kVtsIdentifier, std::strlen(kVtsIdentifier)) != 0)
        file.damaged("identifier", kIdentifier, std::string("is not ") + kVtsIdentifier);
    const uint32_t last = header.u32(kIfoLastSector);
    if (last == 0) file.damaged("information file's last sector", kIfoLastSector, "is 0: it leaves no room for tables");
    const uint64_t declared = sector_bytes(uint64_t(last) + 1);
    if (declared > file.file_bytes())
        file.damaged("information file's last sector", kIfoLastSector,
                     "is " + number(last) + ", but the file is cut short after " + number(file.file_bytes()) +
                         " of its " + number(declared) + " bytes");
    file.limit_to(declared);
    return header;
}

// Where the titleset's VOBs start and ends: after the information file, menus before titles, and
// room for the titles and the backup of the information file up to the titleset's last sector.
void check_titleset_sectors(const TitlesetFile& file, const ByteBuffer& header) {
    const uint64_t ifo_last = header.u32(kIfoLastSector);
    const uint64_t menu_start = header.u32(kMenuVobStart);
    const uint64_t title_start = header.u32(kTitleVobStart);
    const uint64_t titleset_last = header.u32(kLastSector);
    if (title_start <= ifo_last)
        file.damaged("title VOB start sector", kTitleVobStart,
                     "is " + number(title_start) + ", inside the information file (sectors 0 to " +
                         number(ifo_last) + ")");
    if (menu_start != 0 && (menu_start <= ifo_last || menu_start > title_start))
        file.damaged("menu VOB start sector", kMenuVobStart,
                     "is " + number(menu_start) + ", outside sectors " + number(ifo_last + 1) + " to " +
                         number(title_start) + " between the information file and the title VOBs");
    if (titleset_last == UINT32_MAX)
        file.damaged("titleset's last sector", kLastSector,
                     "is " + number(titleset_last) + ": the sector after it cannot be addressed");
    if (titleset_last < title_start + ifo_last + 1)
        file.damaged("titleset's last sector", kLastSector,
                     "is " + number(titleset_last) + ": it leaves no room for title VOBs from sector " +
                         number(title_start) + " and the backup's " + number(ifo_last + 1) + " sectors");
}

void check_table_sectors(const TitlesetFile& file, const ByteBuffer& header) {
    const uint32_t ifo_last = header.u32(kIfoLastSector);
    for (const TableField& field : kTableFields) {
        const uint32_t sector = header.u32(field.offset);
        if (sector == 0 && field.required) file.damaged(field.name, field.offset, "is 0: the table is missing");
        if (sector > ifo_last)
            file.damaged(field.name, field.offset,
                         "is " + number(sector) + ", past the information file's last sector " + number(ifo_last));
    }
}

void check_stream_counts(const TitlesetFile& file, const ByteBuffer& header) {
    for (const CountField& field : kCountFields) {
        const uint32_t count = header.u16(field.offset);
        if (count > field.limit)
            file.damaged(field.name, field.offset,
                         "is " + number(count) + ", more than the " + number(field.limit) + " a titleset carries");
    }
}

// Chapter counts from the part-of-title table: each title's list runs to the next title's list,
// the last one to the table's end.
std::vector<int> read_chapter_counts(TitlesetFile& file, const ByteBuffer& header) {
    const uint64_t table_at = sector_bytes(header.u32(kVtsPttSrpt));
    const char* const table_field = "part-of-title table sector";
    const ByteBuffer head = file.read(table_at, kPttListOffsets, table_field, kVtsPttSrpt);
    const uint32_t titles = head.u16(kTableCount);
    if (titles == 0 || titles > kMaxTitles)
        file.damaged("title count of the part-of-title table", table_at + kTableCount,
                     "is " + number(titles) + ", not 1 to " + number(kMaxTitles));
    const uint64_t table_bytes = uint64_t(head.u32(kTableLastByte)) + 1;
    if (table_at + table_bytes > file.end())
        file.damaged("last byte of the part-of-title table", table_at + kTableLastByte,
                     "is " + number(table_bytes - 1) + ": the table runs past the end of the information file (" +
                         number(file.end()) + " bytes)");
    const uint32_t first_list = kPttListOffsets + kPttEntryBytes * titles;
    const ByteBuffer table = file.read(table_at, first_list, table_field, kVtsPttSrpt);

    std::vector<int> counts;
    for (uint32_t i = 0; i < titles; ++i) {
        const size_t field = kPttListOffsets + kPttEntryBytes * i;
        const uint64_t start = table.u32(field);
        const uint64_t next = i + 1 < titles ? table.u32(field + kPttEntryBytes) : table_bytes;
        const uint64_t chapters = next > start ? (next - start) / kPttEntryBytes : 0;
        if (start < first_list || next <= start || (next - start) % kPttEntryBytes != 0 ||
            next > table_bytes || chapters > kMaxChaptersPerTitle)
            file.damaged("chapter list offset of title " + number(i + 1), table_at + field,
                         "is " + number(start) + ", which leaves it no 1 to " +
                             number(kMaxChaptersPerTitle) + " chapters within the table's " +
                             number(table_bytes) + " bytes");
        counts.push_back(static_cast<int>(chapters));
    }
    return counts;
}

// Whether the titleset's first menu language holds a root menu. A titleset can announce menus
// (jumppad) without having one, and a first-play jump to a missing root menu stops players.
// `image` holds the information file, whose menu tables are checked by then.
bool has_root_menu(const ByteBuffer& image) {
    const uint32_t sector = image.u32(kVtsMenuPgciUt);
    if (image.u32(kMenuVobStart) == 0 || sector == 0) return false;
    const uint64_t table_at = sector_bytes(sector);
    const uint64_t unit = table_at + image.u32(table_at + kUtFirstUnitOffset);
    const uint64_t pgcs = image.u16(unit + kUnitPgcCount);
    for (uint64_t i = 0; i < pgcs; ++i)
        if (image.u8(unit + kUnitPgcEntries + kUnitPgcEntryBytes * i) == kRootMenuCategory) return true;
    return false;
}

}  // namespace

void read_vts_ifo(const std::string& path, std::vector<TitlesetInfo>& table) {
    TitlesetFile file(path);
    const ByteBuffer header = read_header(file);
    check_titleset_sectors(file, header);
    check_table_sectors(file, header);
    check_stream_counts(file, header);

    TitlesetInfo info;
    info.chapter_counts = read_chapter_counts(file, header);
    const ByteBuffer image = file.read(0, file.end(), "information file's last sector", kIfoLastSector);
    check_titleset_tables(file, image, info.chapter_counts);
    info.title_count = static_cast<int>(info.chapter_counts.size());
    info.has_menus = has_root_menu(image);
    info.size_sectors = header.u32(kLastSector) + 1;
    std::memcpy(info.category.data(), header.data() + kCategory, info.category.size());
    std::memcpy(info.attributes.data(), header.data() + kMenuAttributes, info.attributes.size());
    table.push_back(std::move(info));
}

}  // namespace author
