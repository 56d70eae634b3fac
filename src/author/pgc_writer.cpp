#include "author/pgc_writer.h"

#include <bit>
#include <cstring>
#include <vector>

#include "author/core_routines.h"
#include "author/diagnostics.h"
#include "author/ifo_layout.h"
#include "author/ifo_tables.h"
#include "author/vm/vm_compile.h"

namespace author {

namespace {

using Instruction = std::array<uint8_t, kInstructionBytes>;

using namespace ifo_layout;

// PGC record layout.
constexpr size_t kPgcPlaybackTime = 0x04;
constexpr size_t kPgcPalette = 0xa4;
// Where this writer places a PGC's command table, right after the record.
constexpr size_t kPgcCommandTable = kPgcBytes;
constexpr size_t kPgcCommands = kPgcCommandTable + kCommandTableHeaderBytes;  // 0xf4

// Cell playback entry.
constexpr uint8_t kCellSeamless = 0x08;
constexpr uint8_t kCellStcDiscontinuity = 0x02;

constexpr uint32_t kPaletteUnsetWritten = 0x108080;  // black in 0x00YYCrCb
// A PGC's command table holds at most this many instructions, pre, post and cell together.
constexpr size_t kMaxPgcInstructions = 128;
// Line numbers of jumps inside a command group are one byte wide.
constexpr int kMaxCommandLine = kMaxGotoLine;

constexpr int kCellIdVobShift = 256;

// Menu language units.
constexpr int kEntryRoot = 3;  // entry bit of the root menu
constexpr uint32_t kManagerTitleMenuExists = 0x80;

// Fixed instructions.
constexpr Instruction kHighlightButton1 = {0x56, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};
constexpr Instruction kCopyG15ToG14 = {0x61, 0x00, 0x00, 0x0e, 0x00, 0x0f, 0x00, 0x00};
constexpr Instruction kClearG15 = {0x71, 0x00, 0x00, 0x0f, 0x00, 0x00, 0x00, 0x00};
constexpr Instruction kExit = {0x30, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Instruction kJumpFirstPlay = {0x30, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

Instruction goto_line(int line) {
    return {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(line)};
}

// Appends instructions at a running position.
class InstructionWriter {
public:
    InstructionWriter(ByteBuffer& out, size_t position) : out_(out), position_(position) {}
    void emit(const Instruction& instruction) {
        out_.set_bytes(position_, instruction.data(), instruction.size());
        position_ += kInstructionBytes;
    }
    void emit(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5, uint8_t b6,
              uint8_t b7) {
        emit(Instruction{b0, b1, b2, b3, b4, b5, b6, b7});
    }
    size_t position() const { return position_; }
    void set_position(size_t position) { position_ = position; }
    // 1-based line of the next instruction counted from `base`.
    int next_line(size_t base) const { return static_cast<int>((position_ - base) / kInstructionBytes) + 1; }

private:
    ByteBuffer& out_;
    size_t position_;
};

bool compile_commands(InstructionWriter& writer, ByteBuffer& out, size_t base, Workset& workset,
                      int pgc_index, const VmCommands& commands, int mode) {
    size_t position = writer.position();
    if (!compile_command_list(out, base, position, workset, pgc_index, commands, mode))
        return false;
    writer.set_position(position);
    return true;
}

const char* type_name(int mode) { return pgc_type_names[mode]; }

const PgcGroup& group_of(const Workset& workset, int mode) {
    if (mode == kPgcTitles) return *workset.titles;
    return *workset.menus->languages[workset.menu_language].group;
}

VobGroup& vob_group_of(const Workset& workset, int mode) {
    return mode == kPgcTitles ? *workset.titles->vob_group : *workset.menus->vob_group;
}

void check_command_count(size_t count) {
    if (count > kMaxPgcInstructions)
        fatal("ERR:  Too many pre/post/cell commands.  Reduce complexity and/or disable\njumppad.\n");
}

void check_line(int line, int pgc_index, int mode) {
    if (line > kMaxCommandLine)
        fatal("ERR:  in %s pgc %d, too many commands (a jump target past line %d)\n",
              type_name(mode), pgc_index, kMaxCommandLine);
}

// Pre commands, post section (button dispatch, post commands, button code) and cell commands.
// Returns the end of the command table.
size_t write_command_table(ByteBuffer& out, size_t at, Workset& workset, int index, int mode,
                           const Pgc& pgc) {
    InstructionWriter writer(out, at + kPgcCommands);

    const size_t pre_start = writer.position();
    if (pgc.pre_commands) {
        if (!compile_commands(writer, out, pre_start, workset, index, pgc.pre_commands, mode))
            fatal("ERR:  in %s pgc %d, <pre>\n", type_name(mode), index);
    } else if (!pgc.buttons.empty()) {
        writer.emit(kHighlightButton1);
    }
    const size_t post_start = writer.position();

    // Jumps that leave a block of the post section for its end, filled once the end is known:
    // without them a block would run on into the next button's code.
    std::vector<size_t> jumps_to_end;
    const size_t dispatch = post_start + 2 * kInstructionBytes;
    if (!pgc.buttons.empty()) {
        writer.emit(kCopyG15ToG14);
        writer.emit(kClearG15);
        writer.set_position(dispatch + pgc.buttons.size() * kInstructionBytes);
    }
    if (pgc.post_commands) {
        if (!compile_commands(writer, out, post_start, workset, index, pgc.post_commands, mode))
            fatal("ERR:  in %s pgc %d, <post>\n", type_name(mode), index);
        if (!pgc.buttons.empty()) {
            jumps_to_end.push_back(writer.position());
            writer.emit(goto_line(0));
        }
    } else {
        writer.emit(kExit);
    }
    for (size_t b = 0; b < pgc.buttons.size(); ++b) {
        const PgcButton& button = pgc.buttons[b];
        const int line = writer.next_line(post_start);
        check_line(line, index, mode);
        InstructionWriter(out, dispatch + b * kInstructionBytes)
            .emit(0x00, 0xa1, 0x00, 0x0e, 0x00, static_cast<uint8_t>(b + 1), 0x00,
                  static_cast<uint8_t>(line));
        if (!compile_commands(writer, out, post_start, workset, index, button.command, mode))
            fatal("ERR:  in %s pgc %d, button %s\n", type_name(mode), index, button.name.c_str());
        if (b + 1 < pgc.buttons.size()) {
            jumps_to_end.push_back(writer.position());
            writer.emit(goto_line(0));
        }
    }
    const int end_line = writer.next_line(post_start);
    if (!jumps_to_end.empty()) check_line(end_line, index, mode);
    for (size_t jump : jumps_to_end) out.set_u8(jump + kInstructionBytes - 1, static_cast<uint32_t>(end_line));

    const size_t cell_start = writer.position();
    for (const PgcSource* source : pgc.sources) {
        for (const Cell& cell : source->cells) {
            if (!cell.command) continue;
            const size_t before = writer.position();
            if (!compile_commands(writer, out, before, workset, index, cell.command, mode) ||
                writer.position() - before != kInstructionBytes)
                fatal("ERR:  Cell command can only compile to one VM instruction.\n");
        }
    }
    const size_t end = writer.position();
    check_command_count((end - pre_start) / kInstructionBytes);

    const size_t table = at + kPgcCommandTable;
    out.set_u16(at + kPgcCommandTableOffset, kPgcCommandTable);
    out.set_u16(table, static_cast<uint32_t>((post_start - pre_start) / kInstructionBytes));
    out.set_u16(table + 2, static_cast<uint32_t>((cell_start - post_start) / kInstructionBytes));
    out.set_u16(table + 4, static_cast<uint32_t>((end - cell_start) / kInstructionBytes));
    out.set_u16(table + 6, static_cast<uint32_t>(end - table - 1));
    return end;
}

// One DVD cell of a Pgc in playing order, with what the tables need of its source cell.
struct DvdCell {
    const Vob* vob;
    const Cell* cell;
    int number;            // cell number within its Vob
    bool ends_source_cell; // last DVD cell of its source cell
};

std::vector<DvdCell> dvd_cells_of(const Pgc& pgc) {
    std::vector<DvdCell> cells;
    for (const PgcSource* source : pgc.sources)
        for (const Cell& cell : source->cells)
            for (int c = cell.first_cell; c < cell.end_cell; ++c)
                cells.push_back({source->vob, &cell, c, c + 1 == cell.end_cell});
    return cells;
}

// Program map, cell playback table and cell position table; returns their end.
size_t write_cell_tables(ByteBuffer& out, size_t at, size_t position, const Pgc& pgc,
                         const VobGroup& group) {
    out.set_u16(at + kPgcProgramMapOffset, static_cast<uint32_t>(position - at));
    int cell_counter = 1;
    for (const PgcSource* source : pgc.sources) {
        for (const Cell& cell : source->cells) {
            const int covered = cell.end_cell - cell.first_cell;
            if (covered > 0 && cell.kind != kCellPlain) out.set_u8(position++, static_cast<uint32_t>(cell_counter));
            cell_counter += covered;
        }
    }
    if (position % 2 != 0) out.set_u8(position++, 0);

    out.set_u16(at + kPgcCellPlaybackOffset, static_cast<uint32_t>(position - at));
    const std::vector<DvdCell> cells = dvd_cells_of(pgc);
    int previous_key = -1;
    bool previous_holds = false;  // the previous DVD cell ended a source cell that pauses or commands
    int command_number = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        const DvdCell& dvd = cells[i];
        const int key = dvd.vob->vob_id * kCellIdVobShift + dvd.number;
        uint8_t category = 0;
        // Every Vob was multiplexed on its own, its buffers starting empty and its clock
        // anew: only a cell that continues its predecessor's clock can play on seamlessly.
        const bool clock_continues = key == previous_key + 1;
        if (!clock_continues) category |= kCellStcDiscontinuity;
        if (i != 0 && !previous_holds && clock_continues) category |= kCellSeamless;
        const size_t entry = position + i * kCellPlaybackBytes;
        out.set_u8(entry, category);
        if (dvd.ends_source_cell) {
            out.set_u8(entry + 2, static_cast<uint32_t>(dvd.cell->pause));
            if (dvd.cell->command) out.set_u8(entry + 3, static_cast<uint32_t>(++command_number));
        }
        const int first = find_cell_first_vobu(*dvd.vob, dvd.number);
        const int last = find_cell_first_vobu(*dvd.vob, dvd.number + 1) - 1;
        if (first > last) fatal("ERR:  Cell %d of %s has no VOB units\n", dvd.number, dvd.vob->file_name.c_str());
        const Vobu& first_vobu = dvd.vob->vobus[first];
        const Vobu& last_vobu = dvd.vob->vobus[last];
        out.set_u32(entry + 4, build_time_even(&group, int64_t(last_vobu.pts[1]) - first_vobu.pts[0]));
        out.set_u32(entry + 8, static_cast<uint32_t>(first_vobu.sector));
        out.set_u32(entry + 12, 0);
        out.set_u32(entry + 16, static_cast<uint32_t>(last_vobu.sector));
        out.set_u32(entry + 20, static_cast<uint32_t>(last_vobu.last_sector));
        previous_key = key;
        previous_holds = dvd.ends_source_cell && (dvd.cell->pause > 0 || dvd.cell->command);
    }
    position += cells.size() * kCellPlaybackBytes;

    out.set_u16(at + kPgcCellPositionOffset, static_cast<uint32_t>(position - at));
    for (const DvdCell& dvd : cells) {
        out.set_u16(position, static_cast<uint32_t>(dvd.vob->vob_id) & 0xff);
        out.set_u8(position + 3, static_cast<uint32_t>(dvd.number));
        position += kCellPositionBytes;
    }
    return position;
}

void write_stream_controls(ByteBuffer& out, size_t at, const VobGroup& group) {
    for (int i = 0; i < group.audio_track_count && i < kMaxAudioTracks; ++i) {
        const int stream = group.audio[i].stream_number;
        if (stream > 0) out.set_u8(at + kPgcAudioControl + 2 * i, 0x80u | uint32_t(stream - 1));
    }
    for (int i = 0; i < group.subpicture_track_count && i < kMaxSubpictureTracks; ++i) {
        // A track that no stream feeds stays zero (not available), as audio does.
        const int stream = group.subpicture[i].stream_number;
        if (stream <= 0) continue;
        const size_t word = at + kPgcSubpictureControl + 4 * i;
        out.set_u8(word, 0x80u | uint32_t(stream - 1));
        for (int b = 1; b < 4; ++b) out.set_u8(word + b, uint32_t(stream - 1));
    }
}

// The existence byte of a titleset menu language unit flags its menus from the most significant
// bit down: root, subpicture, audio, angle, part of title (players and readers decode it so),
// which is the reverse of the order of the entry bits.
uint32_t titleset_menu_existence(const PgcGroup& group) {
    uint32_t existence = 0;
    for (int e = kEntryRoot; e <= kLastEntryBit; ++e)
        if (group.entry_mask & (1 << e)) existence |= 0x80u >> (e - kEntryRoot);
    return existence;
}

}  // namespace

bool compile_command_list(ByteBuffer& out, size_t base, size_t& position, Workset& workset,
                          int pgc_index, const VmCommands& commands, int mode) {
    const int first_line = static_cast<int>((position - base) / kInstructionBytes) + 1;
    const auto code = vm_compile_code(first_line, workset, pgc_index, commands.get(), mode);
    if (!code) return false;
    out.set_bytes(position, code->data(), code->size());
    position += code->size();
    return true;
}

size_t write_pgc(ByteBuffer& out, size_t at, Workset& workset, int index, int mode) {
    const Pgc& pgc = *group_of(workset, mode).pgcs[index];
    const VobGroup& group = vob_group_of(workset, mode);

    out.set_u8(at + kPgcPrograms, static_cast<uint32_t>(pgc.program_count));
    out.set_u8(at + kPgcCells, static_cast<uint32_t>(pgc.cell_count));
    out.set_u32(at + kPgcPlaybackTime, build_time_even(&group, pgc_total_sectors(pgc)));
    write_stream_controls(out, at, group);
    out.set_u8(at + kPgcStillTime, static_cast<uint32_t>(pgc.pause));
    const Palette& palette = pgc.palette ? *pgc.palette : default_palette;
    for (int i = 0; i < kPaletteEntries; ++i)
        out.set_u32(at + kPgcPalette + 4 * i, palette[i] >= kPaletteUnset ? kPaletteUnsetWritten : palette[i]);

    const size_t end = write_command_table(out, at, workset, index, mode, pgc);
    if (pgc.sources.empty()) return end - at;
    return write_cell_tables(out, at, end, pgc, group) - at;
}

size_t gen_entry_pgc(ByteBuffer& out, size_t at, int pgc_number, const Workset* workset) {
    InstructionWriter writer(out, at + kPgcCommands);
    if (workset != nullptr && workset->titlesets == nullptr && workset->menus && workset->titles) {
        // A titleset menu's jumppad: remember the menu, then dispatch the requested title or
        // chapter.
        const PgcGroup& menus = *workset->menus->languages[workset->menu_language].group;
        writer.emit(kCopyG15ToG14);
        writer.emit(kClearG15);
        for (int e = kFirstEntryBit; e <= kLastEntryBit; ++e)
            for (size_t j = 0; j < menus.pgcs.size(); ++j)
                if (menus.pgcs[j]->entry_mask & (1 << e))
                    writer.emit(0x20, 0xa4, 0x00, 0x0e, uint8_t(0x78 + e), 0x00, 0x00, uint8_t(j + 1));
        for (size_t j = 0; j < menus.pgcs.size(); ++j)
            writer.emit(0x20, 0xa4, 0x00, 0x0e, uint8_t(j + 1), 0x00, 0x00, uint8_t(j + 1));
        const auto& titles = workset->titles->pgcs;
        for (size_t t = 1; t <= titles.size(); ++t) {
            writer.emit(0x71, 0x00, 0x00, 0x0d, uint8_t(0x80 + t), 0x00, 0x00, 0x00);
            writer.emit(0x30, 0x23, 0x00, 0x00, 0x00, uint8_t(t), 0x0e, 0x0d);
            for (int c = 1; c <= titles[t - 1]->chapter_count; ++c) {
                writer.emit(0x71, 0x00, 0x00, 0x0d, uint8_t(0x80 + t), uint8_t(c), 0x00, 0x00);
                writer.emit(0x30, 0x25, 0x00, uint8_t(c), 0x00, uint8_t(t), 0x0e, 0x0d);
            }
        }
    } else if (workset != nullptr && workset->titlesets != nullptr && workset->menus) {
        // The manager menu's jumppad: dispatch the requested title to its titleset.
        const std::vector<TitlesetInfo>& titlesets = *workset->titlesets;
        int running_title = 0;
        for (size_t k = 1; k <= titlesets.size(); ++k)
            for (int i = 1; i <= titlesets[k - 1].title_count; ++i)
                writer.emit(0x71, 0xa0, 0x0f, 0x0f, uint8_t(0x80 + i), uint8_t(k + 1),
                            uint8_t(0x80 + ++running_title), 0x01);
        writer.emit(0x63, 0x00, 0x00, 0x0e, 0x00, 0x0f, 0x00, 0x00);
        writer.emit(0x79, 0x00, 0x00, 0x0f, 0x00, 0xff, 0x00, 0x00);
        writer.emit(0x64, 0x00, 0x00, 0x0e, 0x00, 0x0f, 0x00, 0x00);
        writer.emit(0x62, 0x00, 0x00, 0x0e, 0x00, 0x0f, 0x00, 0x00);
        for (size_t k = 1; k <= titlesets.size(); ++k) {
            writer.emit(0x71, 0x00, 0x00, 0x0d, 0x00, uint8_t(k + 1), 0x00, 0x00);
            writer.emit(0x30, 0x26, 0x00, 0x01, uint8_t(k), 0x87, 0x0e, 0x0d);
        }
        writer.emit(kClearG15);
    }
    if (pgc_number >= 1) {
        writer.emit(0x20, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, uint8_t(pgc_number));
    } else {
        writer.emit(kJumpFirstPlay);
    }
    const size_t count = (writer.position() - (at + kPgcCommands)) / kInstructionBytes;
    check_command_count(count);
    out.set_u16(at + kPgcCommandTableOffset, kPgcCommandTable);
    out.set_u16(at + kPgcCommandTable, static_cast<uint32_t>(count));
    out.set_u16(at + kPgcCommandTable + 6, static_cast<uint32_t>(kInstructionBytes * count + 7));
    return writer.position() - at;
}

size_t write_pgcit(ByteBuffer& out, size_t at, Workset& workset, int mode, const PgcGroup& group) {
    const int entry_bits = group.entry_mask & 0xfc;
    const size_t pointers = group.pgcs.size() + static_cast<size_t>(std::popcount(static_cast<unsigned>(entry_bits)));
    out.set_u16(at, static_cast<uint32_t>(pointers));
    size_t record = kTableHeaderBytes + kSearchPointerBytes * pointers;
    size_t pointer = at + kTableHeaderBytes;
    auto add_pointer = [&](uint32_t category) {
        out.set_u8(pointer, category);
        out.set_u32(pointer + 4, static_cast<uint32_t>(record));
        pointer += kSearchPointerBytes;
    };
    for (size_t i = 0; i < group.pgcs.size(); ++i) {
        add_pointer(mode == kPgcTitles ? 0x81u + uint32_t(i) : 0u);
        record += write_pgc(out, at + record, workset, static_cast<int>(i), mode);
    }
    for (int e = kFirstEntryBit; e <= kLastEntryBit; ++e) {
        if (!(entry_bits & (1 << e))) continue;
        int holder = -1;
        for (size_t j = 0; j < group.pgcs.size() && holder < 0; ++j)
            if (group.pgcs[j]->entry_mask & (1 << e)) holder = static_cast<int>(j + 1);
        const bool jumppad = engine().jumppad_enabled &&
                             ((mode == kPgcTitlesetMenus && e == 7) || (mode == kPgcManagerMenus && e == 2));
        add_pointer(0x80u | uint32_t(e));
        record += gen_entry_pgc(out, at + record, holder, jumppad ? &workset : nullptr);
    }
    out.set_u32(at + 4, static_cast<uint32_t>(record - 1));
    return record;
}

ByteBuffer write_pgc_table(Workset& workset, int mode) {
    ByteBuffer out;
    size_t size = 0;
    if (mode == kPgcTitles) {
        size = write_pgcit(out, 0, workset, mode, *workset.titles);
    } else {
        const std::vector<MenuLanguage>& languages = workset.menus->languages;
        out.set_u16(0, static_cast<uint32_t>(languages.size()) & 0xff);
        size = kTableHeaderBytes + kLanguageUnitPointerBytes * languages.size();
        for (size_t k = 0; k < languages.size(); ++k) {
            const size_t pointer = kTableHeaderBytes + kLanguageUnitPointerBytes * k;
            out.set_u8(pointer, static_cast<uint8_t>(languages[k].language[0]));
            out.set_u8(pointer + 1, static_cast<uint8_t>(languages[k].language[1]));
            out.set_u8(pointer + 3, mode == kPgcTitlesetMenus ? titleset_menu_existence(*languages[k].group)
                                                              : kManagerTitleMenuExists);
            out.set_u32(pointer + 4, static_cast<uint32_t>(size));
            workset.menu_language = static_cast<int>(k);
            size += write_pgcit(out, size, workset, mode, *languages[k].group);
        }
        out.set_u32(4, static_cast<uint32_t>(size - 1));
    }
    out.resize(size);
    out.pad_to_multiple(kSectorSize);
    return out;
}

}  // namespace author
