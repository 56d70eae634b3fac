#include "author/cell_marking.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "author/diagnostics.h"
#include "author/ifo_tables.h"

namespace author {
namespace {

// Marks a VOB unit as the first of a cell until the numbering pass replaces it with its id.
constexpr int32_t kCellStartMark = 1;

int32_t clamp_ticks(int64_t ticks) {
    return static_cast<int32_t>(std::clamp<int64_t>(ticks, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// The VOB unit whose start lies nearest to `offset` ticks into the Vob (a tie keeps the earlier
// one): -1 before the first unit, the unit count at or after the end. A unit found inside the
// table is marked as a cell start.
int snap_and_mark(Vob& vob, int32_t offset) {
    const int n = static_cast<int>(vob.vobus.size());
    if (n == 0) return -1;
    const int64_t t = int64_t(vob.vobus[0].pts[0]) + offset;
    int s = find_vobu_by_pts(vob, clamp_ticks(t), 0, n - 1);
    if (s >= 0 && s + 1 < n &&
        std::llabs(t - vob.vobus[s + 1].pts[0]) < std::llabs(t - vob.vobus[s].pts[0]))
        ++s;
    if (s >= 0 && s < n) vob.vobus[s].cell_id = kCellStartMark;
    return s;
}

// A mark at or after the end of its file gives a cell that covers nothing: its chapter (or
// program) would be missing from the disc without a word.
void warn_mark_past_end(const PgcSource& source, const Cell& cell, const Vob& vob) {
    emit("WARN: Chapter mark at ");
    emit_time(cell.start);
    emit(" s lies past the end of %s (", source.file_name.c_str());
    emit_time(vob.vobus.back().pts[1] - vob.vobus.front().pts[0]);
    emit(" s); it is left out\n");
}

// Pass 1: the VOB-unit index of every cell's start and end, held in first_cell and end_cell.
void mark_cell_positions(VobGroup& group) {
    int previous_end = -1;
    for (size_t p = 0; p < group.pgcs.size(); ++p) {
        for (PgcSource* source : group.pgcs[p]->sources) {
            Vob& vob = *source->vob;
            const int n = static_cast<int>(vob.vobus.size());
            for (size_t c = 0; c < source->cells.size(); ++c) {
                Cell& cell = source->cells[c];
                const int s = snap_and_mark(vob, cell.start);
                if (n > 0 && s == n) warn_mark_past_end(*source, cell, vob);
                if (s != previous_end && s >= 0 && s < n && vob.vobus[s].fields_before_first != 0)
                    emit("WARN: GOP is not closed on cell %d of source %s of pgc %d\n",
                         static_cast<int>(c + 1), source->file_name.c_str(),
                         static_cast<int>(p + 1));
                const int e = cell.end < 0 ? n : snap_and_mark(vob, cell.end);
                cell.first_cell = s;
                cell.end_cell = e;
                previous_end = e;
            }
        }
    }
}

// Pass 2: numbers the cells of one Vob and gives every VOB unit its cell's id and extent.
void number_vob_cells(Vob& vob) {
    std::vector<Vobu>& vobus = vob.vobus;
    if (vobus.empty()) return;
    vobus[0].cell_id = kCellStartMark;
    int cells = 0;
    int first = 0;
    for (size_t i = 0; i < vobus.size(); ++i) {
        if (vobus[i].cell_id == kCellStartMark) {
            ++cells;
            first = static_cast<int>(i);
        }
        vobus[i].cell_first_vobu = first;
    }
    // Checked before the ids are stored: past 255 a cell number would run into the next VOB id.
    if (cells > kMaxCellsPerVob)
        fatal("ERR:  VOB %s has too many cells (%d, 256 allowed)\n", vob.file_name.c_str(), cells);
    int cell = 0;
    for (size_t i = 0; i < vobus.size(); ++i) {
        if (vobus[i].cell_first_vobu == static_cast<int>(i)) ++cell;
        vobus[i].cell_id = vob.vob_id * 256 + cell;
    }
    int last = static_cast<int>(vobus.size()) - 1;
    for (int i = last; i >= 0; --i) {
        vobus[i].cell_last_vobu = last;
        if (vobus[i].cell_first_vobu == i) last = i - 1;
    }
    vob.cell_count = cells;
}

// A held VOB-unit index as a cell number of the Vob: 1 before the first unit, one past the last
// cell after the last unit.
int cell_number_at(const Vob& vob, int index) {
    if (index < 0) return 1;
    if (index < static_cast<int>(vob.vobus.size())) return vob.vobus[index].cell_id % 256;
    return vob.cell_count + 1;
}

// Pass 3: cell numbers of every source cell and the counts of every Pgc.
void count_pgc_cells(VobGroup& group) {
    for (size_t p = 0; p < group.pgcs.size(); ++p) {
        Pgc& pgc = *group.pgcs[p];
        const int pgc_number = static_cast<int>(p + 1);
        for (PgcSource* source : pgc.sources) {
            for (size_t c = 0; c < source->cells.size(); ++c) {
                Cell& cell = source->cells[c];
                cell.first_cell = cell_number_at(*source->vob, cell.first_cell);
                cell.end_cell = cell_number_at(*source->vob, cell.end_cell);
                if (cell.end_cell < cell.first_cell)
                    fatal("ERR:  Cell %d of source %s of pgc %d ends before it starts\n",
                          static_cast<int>(c + 1), source->file_name.c_str(), pgc_number);
                pgc.cell_count += cell.end_cell - cell.first_cell;
                if (pgc.cell_count > kMaxCellsPerPgc)
                    fatal("ERR:  PGC %d has too many cells (%d, 256 allowed)\n", pgc_number,
                          pgc.cell_count);
                // Every program adds a cell, so the cell limit also keeps programs within 255.
                if (cell.end_cell == cell.first_cell || cell.kind == kCellPlain) continue;
                ++pgc.program_count;
                if (cell.kind == kCellChapter) ++pgc.chapter_count;
            }
        }
    }
}

}  // namespace

void assign_programs_and_cells(VobGroup& group) {
    mark_cell_positions(group);
    for (Vob* vob : group.vobs) number_vob_cells(*vob);
    count_pgc_cells(group);
}

}  // namespace author
