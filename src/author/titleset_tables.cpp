#include "author/titleset_tables.h"

#include <cinttypes>
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "author/ifo_layout.h"
#include "author/model.h"
#include "author/titleset_file.h"

namespace author {

namespace {

using namespace ifo_layout;

// The common table header's fields by size.
constexpr uint64_t kTableZeroBytes = 2;
constexpr uint64_t kLastByteFieldBytes = 4;

// Header.
struct ZeroSpan {
    size_t from, to;  // [from, to)
    const char* name;
};
constexpr ZeroSpan kHeaderZeros[] = {
    {0x010, 0x01c, "reserved bytes before the information file's last sector"},
    {0x020, 0x021, "reserved byte before the version"},
    {0x026, 0x080, "reserved bytes after the category"},
    {0x084, 0x0c0, "reserved bytes after the header's last byte"},
    {0x0e8, 0x100, "reserved bytes after the table sectors"},
    {0x10c, 0x154, "reserved bytes after the menu audio attributes"},
    {0x15c, 0x200, "reserved bytes after the menu subpicture attributes"},
    {0x244, 0x254, "reserved bytes after the title audio attributes"},
    {0x316, 0x318, "reserved bytes after the title subpicture attributes"},
    {0x3d8, 0x400, "reserved bytes after the multichannel audio attributes"},
};
// Multichannel audio attributes: 8 records of 24 bytes whose reserved bits must be zero.
constexpr size_t kMultichannel = 0x318;
constexpr size_t kMultichannelBytes = 24;
constexpr uint8_t kMultichannelReserved[5] = {0xfe, 0xfe, 0xf0, 0xf0, 0xf0};  // then whole bytes

// Fields of the stream attribute entries.
constexpr size_t kAudioSampling = 1;
constexpr size_t kAudioCodeExtension = 5;
constexpr size_t kSubpictureReserved = 1;
constexpr size_t kSubpictureCodeExtension = 5;
constexpr uint32_t kMaxAudioCodeExtension = 4;       // director's comments 2
constexpr uint32_t kMaxSubpictureCodeExtension = 15;

// PGC information table search pointers.
constexpr size_t kSearchPointerFlags = 1;  // block mode and type, then four zero bits
constexpr uint32_t kSearchPointerZeroBits = 0x0f;
constexpr size_t kSearchPointerStart = 4;

// PGC.
constexpr size_t kPgcZero = 0x00;
constexpr uint64_t kPgcZeroBytes = 2;
constexpr uint64_t kAudioControlBytes = 2;
constexpr uint64_t kSubpictureControlBytes = 4;
constexpr uint32_t kAudioControlPresent = 0x8000;
constexpr uint32_t kSubpictureControlPresent = 0x80000000;
constexpr size_t kPgcNext = 0x9c;
constexpr size_t kPgcPrevious = 0x9e;
constexpr size_t kPgcGoUp = 0xa0;
constexpr size_t kPgcPlaybackMode = 0xa2;
constexpr uint64_t kPgcOffsetBytes = 2;

// Part-of-title table: a 4-byte offset per title, then each title's 4-byte chapter entries of
// a PGC number and a program number.
constexpr uint64_t kPttOffsetBytes = 4;
constexpr uint64_t kPttEntryBytes = 4;
constexpr size_t kPttPgc = 0;
constexpr size_t kPttProgram = 2;

// Command table of a PGC.
constexpr size_t kCommandPreCount = 0;
constexpr size_t kCommandPostCount = 2;
constexpr size_t kCommandCellCount = 4;
constexpr size_t kCommandLastByte = 6;
constexpr uint64_t kCommandBytes = 8;
constexpr uint32_t kMaxCommands = 255;

// Cell playback and cell position entries.
constexpr size_t kCellCommand = 3;
constexpr size_t kCellFirstSector = 8;
constexpr size_t kCellLastVobuStart = 16;
constexpr size_t kCellLastSector = 20;
constexpr size_t kPositionVobId = 0;
constexpr size_t kPositionZero = 2;
constexpr size_t kPositionCell = 3;

// Menu PGCI unit table: its language unit pointers.
constexpr size_t kLanguageExists = 3;
constexpr uint32_t kLanguageExistsZeroBits = 0x07;
constexpr size_t kLanguageStart = 4;
constexpr uint32_t kMaxMenuLanguages = 99;

// Time map table: a 4-byte offset per title PGC, each map a unit, a zero byte, an entry count
// and 4-byte entries whose top bit flags a cell change.
constexpr uint64_t kTimeMapOffsetBytes = 4;
constexpr size_t kTimeMapUnit = 0;
constexpr size_t kTimeMapZero = 1;
constexpr size_t kTimeMapEntryCount = 2;
constexpr uint64_t kTimeMapHeaderBytes = 4;
constexpr uint64_t kTimeMapEntryBytes = 4;
constexpr uint32_t kTimeMapSectorBits = 0x7fffffff;

// The cell address entry's reserved byte.
constexpr size_t kAddressZero = 3;

// VOB-unit address map: the offset of its last byte, then 4-byte start sectors.
constexpr size_t kVobuMapLastByte = 0;
constexpr uint64_t kVobuMapHeaderBytes = 4;
constexpr uint64_t kVobuMapEntryBytes = 4;

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%02" PRIx64, value);
    return text;
}

// A table as its header lays it out: where it starts and how many bytes it declares.
struct Table {
    std::string name;
    uint64_t at;
    uint64_t bytes;
    uint64_t end() const { return at + bytes; }
};

// The VOB cells of a domain, as its cell address table lists them.
using CellIds = std::set<std::pair<uint32_t, uint32_t>>;

// One domain's tables (titles or menus): its VOBs' size and cells, for the checks of the cells
// and maps that point into them.
struct Domain {
    const char* name;  // "title" or "menu"
    uint64_t vob_sectors;
    CellIds cells;
};

class TableChecks {
public:
    TableChecks(const TitlesetFile& file, const ByteBuffer& image) : file_(file), image_(image) {}

    uint32_t u8(uint64_t at) const { return image_.u8(at); }
    uint32_t u16(uint64_t at) const { return image_.u16(at); }
    uint32_t u32(uint64_t at) const { return image_.u32(at); }

    [[noreturn]] void damaged(const std::string& field, uint64_t at, const std::string& problem) const {
        file_.damaged(field, at, problem);
    }

    void expect_zero(uint64_t from, uint64_t to, const std::string& field) const {
        for (uint64_t at = from; at < to; ++at)
            if (u8(at) != 0) damaged(field, at, "is " + hex(u8(at)) + ", not 0");
    }
    void expect_at_most(uint64_t value, uint64_t limit, const std::string& field, uint64_t at) const {
        if (value > limit) damaged(field, at, "is " + number(value) + ", more than " + number(limit));
    }
    void expect_in(uint64_t value, uint64_t low, uint64_t high, const std::string& field, uint64_t at) const {
        if (value < low || value > high)
            damaged(field, at, "is " + number(value) + ", not " + number(low) + " to " + number(high));
    }

    // The table that `pointer` (at byte `pointer_at`) places at `start`, which must lie, with its
    // `min_bytes`, before `limit` (the end of the file or of the table holding it).
    Table open(const std::string& name, uint64_t start, uint64_t limit, const std::string& pointer,
               uint64_t pointer_at, size_t last_byte_field, uint64_t min_bytes) const {
        if (start + last_byte_field + kLastByteFieldBytes > limit)
            damaged(pointer, pointer_at, "places the " + name + " at byte " + number(start) + ", past byte " +
                                             number(limit) + " where its room ends");
        const Table table{name, start, uint64_t(u32(start + last_byte_field)) + 1};
        if (table.bytes < min_bytes || table.end() > limit)
            damaged("last byte of the " + name, start + last_byte_field,
                    "is " + number(table.bytes - 1) + ": the table does not hold its " + number(min_bytes) +
                        " bytes within bytes " + number(start) + " to " + number(limit - 1));
        return table;
    }
    // The table at the sector that the header's `sector_field` gives, within the file.
    Table open_at_sector(const std::string& name, size_t sector_field, size_t last_byte_field,
                         uint64_t min_bytes) const {
        return open(name, sector_start(sector_field), file_end(), name + " sector", sector_field, last_byte_field,
                    min_bytes);
    }
    uint64_t sector_start(size_t sector_field) const { return uint64_t(u32(sector_field)) * kSectorSize; }
    // A table whose header has the common count and zero fields; answers the count.
    uint32_t count_of(const Table& table) const {
        expect_zero(table.at + kTableZero, table.at + kTableZero + kTableZeroBytes, "reserved bytes of the " + table.name);
        return u16(table.at + kTableCount);
    }
    // `bytes` from byte `at` of the table must lie inside it.
    void expect_inside(const Table& table, uint64_t at, uint64_t bytes, const std::string& field,
                       uint64_t field_at) const {
        if (at < table.at || at + bytes > table.end())
            damaged(field, field_at, "places " + number(bytes) + " bytes at byte " + number(at) + ", outside the " +
                                         table.name + " (bytes " + number(table.at) + " to " +
                                         number(table.end() - 1) + ")");
    }

    uint64_t file_end() const { return image_.size(); }

private:
    const TitlesetFile& file_;
    const ByteBuffer& image_;
};

void expect_in_vobs(const TableChecks& ifo, const Domain& domain, uint64_t sector, const std::string& field,
                    uint64_t at) {
    if (sector >= domain.vob_sectors)
        ifo.damaged(field, at, "is " + number(sector) + ", past the " + number(domain.vob_sectors) + " sectors of the " +
                                   domain.name + " VOBs");
}

// ---------------------------------------------------------------------------------------------
// Header
// ---------------------------------------------------------------------------------------------

void check_header_fields(const TableChecks& ifo) {
    for (const ZeroSpan& span : kHeaderZeros) ifo.expect_zero(span.from, span.to, span.name);
    for (int record = 0; record < kMaxAudioTracks; ++record) {
        const size_t at = kMultichannel + kMultichannelBytes * record;
        const std::string field = "reserved bits of multichannel audio attributes " + number(record + 1);
        for (size_t i = 0; i < kMultichannelBytes; ++i) {
            const uint32_t reserved = i < sizeof kMultichannelReserved ? kMultichannelReserved[i] : 0xff;
            if ((ifo.u8(at + i) & reserved) != 0) ifo.damaged(field, at + i, "are " + hex(ifo.u8(at + i)) + ", not 0");
        }
    }
    const uint32_t last_byte = ifo.u32(kHeaderLastByte);
    const uint32_t ifo_last = ifo.u32(kIfoLastSector);
    if (last_byte / kSectorSize > ifo_last)
        ifo.damaged("header's last byte", kHeaderLastByte,
                    "is " + number(last_byte) + ", past the information file's last sector " + number(ifo_last));
}

void check_video_attributes(const TableChecks& ifo, size_t at, const std::string& block) {
    const uint32_t word = ifo.u16(at);
    const uint32_t mpeg = word >> 14, standard = (word >> 12) & 3, aspect = (word >> 10) & 3;
    if (mpeg > 1 || standard > 1 || (aspect != 0 && aspect != 3))
        ifo.damaged(block + " video attributes", at,
                    "are " + hex(word) + ": no MPEG-1 or MPEG-2, NTSC or PAL, 4:3 or 16:9 video");
}

void check_audio_entry(const TableChecks& ifo, size_t at, const std::string& field) {
    const uint32_t coding = ifo.u8(at), sampling = ifo.u8(at + kAudioSampling);
    const uint32_t format = coding >> 5, language_type = (coding >> 2) & 3, application = coding & 3;
    const bool known_format = format == 0 || format == 2 || format == 3 || format == 4 || format == 6;
    if (!known_format || language_type > 1 || application > 2 || ((sampling >> 4) & 3) > 1)
        ifo.damaged(field, at, "codes " + hex(coding) + " " + hex(sampling) +
                                   ": no AC-3, MPEG, LPCM or DTS audio at 48 or 96 kHz");
    ifo.expect_at_most(ifo.u8(at + kAudioCodeExtension), kMaxAudioCodeExtension, "code extension of the " + field,
                       at + kAudioCodeExtension);
}

void check_subpicture_entry(const TableChecks& ifo, size_t at, const std::string& field) {
    const uint32_t coding = ifo.u8(at);
    if ((coding >> 2) != 0 || (coding & 3) > 1)
        ifo.damaged(field, at, "codes " + hex(coding) + ": no run-length subpicture with or without a language");
    ifo.expect_zero(at + kSubpictureReserved, at + kSubpictureReserved + 1, "reserved byte of the " + field);
    ifo.expect_at_most(ifo.u8(at + kSubpictureCodeExtension), kMaxSubpictureCodeExtension,
                       "code extension of the " + field, at + kSubpictureCodeExtension);
}

// Where a block keeps one kind of stream: its count, its entries and how an entry is checked.
struct StreamSlots {
    const char* kind;
    size_t count_field;
    size_t first_entry;
    size_t entry_bytes;
    void (*check_entry)(const TableChecks&, size_t, const std::string&);
};
constexpr StreamSlots kAudioSlots{"audio", kAttrAudioCount, kAttrAudio, kAudioEntryBytes, check_audio_entry};
constexpr StreamSlots kSubpictureSlots{"subpicture", kAttrSubpictureCount, kAttrSubpicture, kSubpictureEntryBytes,
                                       check_subpicture_entry};

// The entries up to the block's count are streams a player may pick, the rest must be empty.
void check_stream_entries(const TableChecks& ifo, size_t block, const std::string& name, const StreamSlots& streams,
                          int slots) {
    const uint32_t count = ifo.u16(block + streams.count_field);
    for (int i = 0; i < slots; ++i) {
        const size_t at = block + streams.first_entry + streams.entry_bytes * i;
        const std::string field = name + " " + streams.kind + " stream " + number(i + 1) + " attributes";
        if (uint32_t(i) < count)
            streams.check_entry(ifo, at, field);
        else
            ifo.expect_zero(at, at + streams.entry_bytes, "unused " + field);
    }
}

void check_attribute_block(const TableChecks& ifo, size_t block, const std::string& name, int audio_slots,
                           int subpicture_slots) {
    check_video_attributes(ifo, block + kAttrVideo, name);
    check_stream_entries(ifo, block, name, kAudioSlots, audio_slots);
    check_stream_entries(ifo, block, name, kSubpictureSlots, subpicture_slots);
}

// ---------------------------------------------------------------------------------------------
// Cells and their addresses
// ---------------------------------------------------------------------------------------------

// Answers the cells the table lists, each a VOB id and cell number.
CellIds check_cell_address_table(const TableChecks& ifo, size_t sector_field, const Domain& domain) {
    const std::string name = std::string(domain.name) + " cell address table";
    const Table table = ifo.open_at_sector(name, sector_field, kTableLastByte, kTableHeaderBytes);
    const uint32_t vobs = ifo.count_of(table);
    if ((table.bytes - kTableHeaderBytes) % kCellAddressBytes != 0)
        ifo.damaged("last byte of the " + name, table.at + kTableLastByte,
                    "is " + number(table.bytes - 1) + ": no whole number of 12-byte cell entries");
    const uint64_t entries = (table.bytes - kTableHeaderBytes) / kCellAddressBytes;
    ifo.expect_at_most(vobs, entries, "VOB count of the " + name, table.at + kTableCount);
    CellIds cells;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t at = table.at + kTableHeaderBytes + kCellAddressBytes * i;
        const std::string entry = "cell " + number(i + 1) + " of the " + name;
        ifo.expect_in(ifo.u16(at + kAddressVobId), 1, vobs, "VOB id of " + entry, at + kAddressVobId);
        ifo.expect_in(ifo.u8(at + kAddressCell), 1, 255, "cell number of " + entry, at + kAddressCell);
        ifo.expect_zero(at + kAddressZero, at + kAddressZero + 1, "reserved byte of " + entry);
        const uint32_t first = ifo.u32(at + kAddressFirst), last = ifo.u32(at + kAddressLast);
        expect_in_vobs(ifo, domain, last, "last sector of " + entry, at + kAddressLast);
        if (first >= last)
            ifo.damaged("first sector of " + entry, at + kAddressFirst,
                        "is " + number(first) + ", not before its last sector " + number(last));
        cells.insert({ifo.u16(at + kAddressVobId), ifo.u8(at + kAddressCell)});
    }
    return cells;
}

void check_vobu_address_map(const TableChecks& ifo, size_t sector_field, const Domain& domain) {
    const std::string name = std::string(domain.name) + " VOB unit address map";
    const Table table = ifo.open_at_sector(name, sector_field, kVobuMapLastByte, kVobuMapHeaderBytes);
    if ((table.bytes - kVobuMapHeaderBytes) % kVobuMapEntryBytes != 0)
        ifo.damaged("last byte of the " + name, table.at + kVobuMapLastByte,
                    "is " + number(table.bytes - 1) + ": no whole number of 4-byte sectors");
    uint64_t previous = 0;
    for (uint64_t at = table.at + kVobuMapHeaderBytes; at < table.end(); at += kVobuMapEntryBytes) {
        const uint64_t sector = ifo.u32(at);
        const bool first = at == table.at + kVobuMapHeaderBytes;
        if (sector >= domain.vob_sectors || (!first && sector <= previous))
            ifo.damaged("VOB unit " + number((at - table.at - kVobuMapHeaderBytes) / kVobuMapEntryBytes + 1) +
                            " of the " + name,
                        at, "starts at sector " + number(sector) + ", not after the unit before it within the " +
                                number(domain.vob_sectors) + " sectors of the " + domain.name + " VOBs");
        previous = sector;
    }
}

// ---------------------------------------------------------------------------------------------
// PGCs
// ---------------------------------------------------------------------------------------------

// The PGC's table at the offset in `offset_field`, `bytes` long within the PGC table; answers
// where it starts.
uint64_t pgc_part(const TableChecks& ifo, const Table& pgcs, uint64_t pgc, size_t offset_field, uint64_t bytes,
                  const std::string& field) {
    const uint64_t start = pgc + ifo.u16(pgc + offset_field);
    ifo.expect_inside(pgcs, start, bytes, field, pgc + offset_field);
    return start;
}

// The command table of a PGC; answers its count of cell commands.
uint32_t check_command_table(const TableChecks& ifo, const Table& pgcs, uint64_t pgc, const std::string& name) {
    const uint32_t offset = ifo.u16(pgc + kPgcCommandTableOffset);
    if (offset == 0) return 0;
    const std::string field = "command table offset of " + name;
    ifo.expect_inside(pgcs, pgc + offset, kCommandTableHeaderBytes, field, pgc + kPgcCommandTableOffset);
    const uint64_t table = pgc + offset;
    const uint32_t cells = ifo.u16(table + kCommandCellCount);
    const uint64_t total = uint64_t(ifo.u16(table + kCommandPreCount)) + ifo.u16(table + kCommandPostCount) + cells;
    const std::string commands = "commands of " + name;
    ifo.expect_at_most(total, kMaxCommands, "count of the " + commands, table);
    const uint64_t bytes = uint64_t(ifo.u16(table + kCommandLastByte)) + 1;
    if (bytes < kCommandTableHeaderBytes + kCommandBytes * total)
        ifo.damaged("last byte of the " + commands, table + kCommandLastByte,
                    "is " + number(bytes - 1) + ": the table cannot hold its " + number(total) + " commands");
    ifo.expect_inside(pgcs, table, bytes, "last byte of the " + commands, table + kCommandLastByte);
    return cells;
}

// The programs' entry cells rise from cell 1 and stay within the PGC's cells.
void check_program_map(const TableChecks& ifo, const Table& pgcs, uint64_t pgc, uint32_t programs, uint32_t cells,
                       const std::string& name) {
    const uint64_t map = pgc_part(ifo, pgcs, pgc, kPgcProgramMapOffset, programs, "program map offset of " + name);
    for (uint32_t i = 0; i < programs; ++i) {
        const uint32_t entry = ifo.u8(map + i);
        const uint32_t low = i == 0 ? 1 : ifo.u8(map + i - 1) + 1;
        const uint32_t high = i == 0 ? 1 : cells;
        ifo.expect_in(entry, low, high, "entry cell of program " + number(i + 1) + " of " + name, map + i);
    }
}

void check_cell_playback(const TableChecks& ifo, const Table& pgcs, uint64_t pgc, uint32_t cells,
                         uint32_t cell_commands, const Domain& domain, const std::string& name) {
    const uint64_t table =
        pgc_part(ifo, pgcs, pgc, kPgcCellPlaybackOffset, kCellPlaybackBytes * cells, "cell playback offset of " + name);
    for (uint32_t i = 0; i < cells; ++i) {
        const uint64_t at = table + kCellPlaybackBytes * i;
        const std::string cell = "cell " + number(i + 1) + " of " + name;
        ifo.expect_at_most(ifo.u8(at + kCellCommand), cell_commands, "command number of " + cell, at + kCellCommand);
        const uint32_t first = ifo.u32(at + kCellFirstSector);
        const uint32_t last_vobu = ifo.u32(at + kCellLastVobuStart);
        const uint32_t last = ifo.u32(at + kCellLastSector);
        expect_in_vobs(ifo, domain, last, "last sector of " + cell, at + kCellLastSector);
        if (first > last_vobu || last_vobu > last)
            ifo.damaged("last VOB unit's sector of " + cell, at + kCellLastVobuStart,
                        "is " + number(last_vobu) + ", outside the cell's sectors " + number(first) + " to " +
                            number(last));
    }
}

void check_cell_positions(const TableChecks& ifo, const Table& pgcs, uint64_t pgc, uint32_t cells,
                          const Domain& domain, const std::string& name) {
    const uint64_t table =
        pgc_part(ifo, pgcs, pgc, kPgcCellPositionOffset, kCellPositionBytes * cells, "cell position offset of " + name);
    for (uint32_t i = 0; i < cells; ++i) {
        const uint64_t at = table + kCellPositionBytes * i;
        const std::string cell = "position of cell " + number(i + 1) + " of " + name;
        ifo.expect_zero(at + kPositionZero, at + kPositionZero + 1, "reserved byte of the " + cell);
        const uint32_t vob = ifo.u16(at + kPositionVobId), number_in_vob = ifo.u8(at + kPositionCell);
        if (domain.cells.count({vob, number_in_vob}) == 0)
            ifo.damaged(cell, at, "is VOB " + number(vob) + " cell " + number(number_in_vob) + ", which the " +
                                      domain.name + " cell address table does not list");
    }
}

// One PGC of a table of `pgc_count`; answers its program count.
uint32_t check_pgc(const TableChecks& ifo, const Table& pgcs, uint64_t pgc, uint32_t pgc_count,
                   const Domain& domain, const std::string& name) {
    ifo.expect_zero(pgc + kPgcZero, pgc + kPgcZero + kPgcZeroBytes, "reserved bytes of " + name);
    const uint32_t programs = ifo.u8(pgc + kPgcPrograms), cells = ifo.u8(pgc + kPgcCells);
    ifo.expect_at_most(programs, cells, "program count of " + name, pgc + kPgcPrograms);
    for (size_t i = 0; i < size_t(kMaxAudioTracks); ++i) {
        const uint64_t at = pgc + kPgcAudioControl + kAudioControlBytes * i;
        if ((ifo.u16(at) & kAudioControlPresent) == 0)
            ifo.expect_zero(at, at + kAudioControlBytes, "control of absent audio stream " + number(i + 1) + " of " + name);
    }
    for (size_t i = 0; i < size_t(kMaxSubpictureTracks); ++i) {
        const uint64_t at = pgc + kPgcSubpictureControl + kSubpictureControlBytes * i;
        if ((ifo.u32(at) & kSubpictureControlPresent) == 0)
            ifo.expect_zero(at, at + kSubpictureControlBytes,
                            "control of absent subpicture stream " + number(i + 1) + " of " + name);
    }
    for (size_t link : {kPgcNext, kPgcPrevious, kPgcGoUp})
        ifo.expect_at_most(ifo.u16(pgc + link), pgc_count, "linked PGC number of " + name, pgc + link);
    const uint32_t cell_commands = check_command_table(ifo, pgcs, pgc, name);
    if (programs == 0) {
        // A PGC without programs plays nothing: it has no still time, mode or cell tables.
        ifo.expect_zero(pgc + kPgcPlaybackMode, pgc + kPgcStillTime + 1, "playback mode and still time of " + name);
        ifo.expect_zero(pgc + kPgcProgramMapOffset, pgc + kPgcCellPositionOffset + kPgcOffsetBytes,
                        "program and cell table offsets of " + name + " without programs");
        return 0;
    }
    for (size_t offset : {kPgcProgramMapOffset, kPgcCellPlaybackOffset, kPgcCellPositionOffset})
        if (ifo.u16(pgc + offset) == 0) ifo.damaged("table offsets of " + name, pgc + offset, "leave a table out");
    check_program_map(ifo, pgcs, pgc, programs, cells, name);
    check_cell_playback(ifo, pgcs, pgc, cells, cell_commands, domain, name);
    check_cell_positions(ifo, pgcs, pgc, cells, domain, name);
    return programs;
}

// A PGC information table within `limit`; answers the program count of each PGC.
std::vector<uint32_t> check_pgc_table(const TableChecks& ifo, const std::string& name, uint64_t start, uint64_t limit,
                                      const std::string& pointer, uint64_t pointer_at, const Domain& domain) {
    const Table table = ifo.open(name, start, limit, pointer, pointer_at, kTableLastByte, kTableHeaderBytes);
    const uint32_t count = ifo.count_of(table);
    const uint64_t first_pgc = kTableHeaderBytes + kSearchPointerBytes * count;
    if (first_pgc > table.bytes)
        ifo.damaged("PGC count of the " + name, table.at + kTableCount,
                    "is " + number(count) + ": its search pointers run past the table's " + number(table.bytes) +
                        " bytes");
    std::vector<uint32_t> programs;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t pointer_entry = table.at + kTableHeaderBytes + kSearchPointerBytes * i;
        const std::string pgc_name = "PGC " + number(i + 1) + " of the " + name;
        if ((ifo.u8(pointer_entry + kSearchPointerFlags) & kSearchPointerZeroBits) != 0)
            ifo.damaged("reserved bits of the search pointer of " + pgc_name, pointer_entry + kSearchPointerFlags,
                        "are " + hex(ifo.u8(pointer_entry + kSearchPointerFlags)) + ", not 0");
        const uint32_t offset = ifo.u32(pointer_entry + kSearchPointerStart);
        if (offset < first_pgc) ifo.damaged("offset of " + pgc_name, pointer_entry + kSearchPointerStart,
                                            "is " + number(offset) + ", inside the table's search pointers");
        ifo.expect_inside(table, table.at + offset, kPgcBytes, "offset of " + pgc_name,
                          pointer_entry + kSearchPointerStart);
        programs.push_back(check_pgc(ifo, table, table.at + offset, count, domain, pgc_name));
    }
    return programs;
}

// The menus' PGC tables, one per language.
void check_menu_pgc_tables(const TableChecks& ifo, const Domain& domain) {
    const std::string name = "menu PGC table";
    const Table table = ifo.open_at_sector(name, kVtsMenuPgciUt, kTableLastByte, kTableHeaderBytes);
    const uint32_t languages = ifo.count_of(table);
    ifo.expect_in(languages, 1, kMaxMenuLanguages, "language count of the " + name, table.at + kTableCount);
    const uint64_t first_unit = kTableHeaderBytes + kLanguageUnitPointerBytes * languages;
    if (first_unit > table.bytes)
        ifo.damaged("language count of the " + name, table.at + kTableCount,
                    "is " + number(languages) + ": its language units run past the table's " + number(table.bytes) +
                        " bytes");
    for (uint32_t i = 0; i < languages; ++i) {
        const uint64_t unit = table.at + kTableHeaderBytes + kLanguageUnitPointerBytes * i;
        const std::string language = "menu language " + number(i + 1);
        if ((ifo.u8(unit + kLanguageExists) & kLanguageExistsZeroBits) != 0)
            ifo.damaged("menus present in " + language, unit + kLanguageExists,
                        "are " + hex(ifo.u8(unit + kLanguageExists)) + ", with reserved bits set");
        const uint32_t offset = ifo.u32(unit + kLanguageStart);
        if (offset < first_unit)
            ifo.damaged("offset of " + language, unit + kLanguageStart,
                        "is " + number(offset) + ", inside the table's language units");
        check_pgc_table(ifo, "PGC table of " + language, table.at + offset, table.end(), "offset of " + language,
                        unit + kLanguageStart, domain);
    }
}

// ---------------------------------------------------------------------------------------------
// Titles
// ---------------------------------------------------------------------------------------------

// Every chapter is a program of a title PGC.
void check_chapter_entries(const TableChecks& ifo, const std::vector<int>& chapter_counts,
                           const std::vector<uint32_t>& programs) {
    const uint64_t table = ifo.sector_start(kVtsPttSrpt);
    ifo.expect_zero(table + kTableZero, table + kTableZero + kTableZeroBytes, "reserved bytes of the part-of-title table");
    for (size_t title = 0; title < chapter_counts.size(); ++title) {
        const uint64_t list = table + ifo.u32(table + kTableHeaderBytes + kPttOffsetBytes * title);
        for (int chapter = 0; chapter < chapter_counts[title]; ++chapter) {
            const uint64_t at = list + kPttEntryBytes * chapter;
            const std::string name = "chapter " + number(chapter + 1) + " of title " + number(title + 1);
            const uint32_t pgc = ifo.u16(at + kPttPgc);
            ifo.expect_in(pgc, 1, programs.size(), "PGC number of " + name, at + kPttPgc);
            ifo.expect_in(ifo.u16(at + kPttProgram), 1, programs[pgc - 1], "program number of " + name, at + kPttProgram);
        }
    }
}

void check_time_map(const TableChecks& ifo, size_t pgc_count, const Domain& domain) {
    const std::string name = "time map table";
    const Table table = ifo.open_at_sector(name, kVtsTmapt, kTableLastByte, kTableHeaderBytes);
    const uint32_t maps = ifo.count_of(table);
    if (maps != pgc_count)
        ifo.damaged("map count of the " + name, table.at + kTableCount,
                    "is " + number(maps) + ", not one for each of the " + number(pgc_count) + " title PGCs");
    const uint64_t first_map = kTableHeaderBytes + kTimeMapOffsetBytes * maps;
    ifo.expect_inside(table, table.at, first_map, "map count of the " + name, table.at + kTableCount);
    for (uint32_t i = 0; i < maps; ++i) {
        const uint64_t offset_at = table.at + kTableHeaderBytes + kTimeMapOffsetBytes * i;
        const std::string map = "time map " + number(i + 1);
        const uint32_t offset = ifo.u32(offset_at);
        if (offset < first_map)
            ifo.damaged("offset of " + map, offset_at, "is " + number(offset) + ", inside the table's map offsets");
        const uint64_t at = table.at + offset;
        ifo.expect_inside(table, at, kTimeMapHeaderBytes, "offset of " + map, offset_at);
        ifo.expect_zero(at + kTimeMapZero, at + kTimeMapZero + 1, "reserved byte of " + map);
        const uint32_t entries = ifo.u16(at + kTimeMapEntryCount);
        ifo.expect_inside(table, at, kTimeMapHeaderBytes + kTimeMapEntryBytes * entries, "entry count of " + map,
                          at + kTimeMapEntryCount);
        if (entries > 0 && ifo.u8(at + kTimeMapUnit) == 0) ifo.damaged("time unit of " + map, at, "is 0 seconds");
        for (uint32_t e = 0; e < entries; ++e) {
            const uint64_t entry = at + kTimeMapHeaderBytes + kTimeMapEntryBytes * e;
            expect_in_vobs(ifo, domain, ifo.u32(entry) & kTimeMapSectorBits, "entry " + number(e + 1) + " of " + map,
                           entry);
        }
    }
}

}  // namespace

void check_titleset_tables(const TitlesetFile& file, const ByteBuffer& image, const std::vector<int>& chapter_counts) {
    const TableChecks ifo(file, image);
    check_header_fields(ifo);
    check_attribute_block(ifo, kMenuAttributes, "menu", 1, 1);
    check_attribute_block(ifo, kTitleAttributes, "title", kMaxAudioTracks, kMaxSubpictureTracks);

    const uint64_t ifo_sectors = uint64_t(ifo.u32(kIfoLastSector)) + 1;
    const uint64_t title_start = ifo.u32(kTitleVobStart);
    const uint64_t menu_start = ifo.u32(kMenuVobStart);
    // The titleset ends with the backup of its information file, after the title VOBs.
    Domain titles{"title", uint64_t(ifo.u32(kLastSector)) + 1 - ifo_sectors - title_start, {}};
    titles.cells = check_cell_address_table(ifo, kVtsTitleCadt, titles);
    check_vobu_address_map(ifo, kVtsTitleVobuAdmap, titles);
    const std::vector<uint32_t> programs = check_pgc_table(ifo, "title PGC table", ifo.sector_start(kVtsPgcit),
                                                           ifo.file_end(), "title PGC table sector", kVtsPgcit, titles);
    check_chapter_entries(ifo, chapter_counts, programs);
    if (ifo.u32(kVtsTmapt) != 0) check_time_map(ifo, programs.size(), titles);

    // Menu tables come with a menu VOB start, which a titleset without menus leaves 0.
    const size_t menu_tables[] = {kVtsMenuPgciUt, kVtsMenuCadt, kVtsMenuVobuAdmap};
    for (size_t field : menu_tables) {
        const bool present = ifo.u32(field) != 0;
        if (present != (menu_start != 0))
            ifo.damaged("menu table sector", field,
                        present ? "is set for a titleset without menu VOBs" : "is 0 for a titleset with menu VOBs");
    }
    if (menu_start == 0) return;
    Domain menus{"menu", title_start - menu_start, {}};
    menus.cells = check_cell_address_table(ifo, kVtsMenuCadt, menus);
    check_vobu_address_map(ifo, kVtsMenuVobuAdmap, menus);
    check_menu_pgc_tables(ifo, menus);
}

}  // namespace author
