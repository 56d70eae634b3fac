// Cell and program marking: turns the time marks of each source cell into VOB-unit positions,
// numbers the DVD cells of every Vob and counts cells, programs and chapters per Pgc.
#pragma once

#include "author/model.h"

namespace author {

// DVD limits on one Vob's cells and one Pgc's cells (one byte each on disc).
constexpr int kMaxCellsPerVob = 255;
constexpr int kMaxCellsPerPgc = 255;

// Runs after the scan of the group and before its information files are written: sets every
// VOB unit's cell fields, every Vob's cell count, every Cell's [first_cell, end_cell) and the
// Pgcs' cell, program and chapter counts. Too many cells is a fatal error.
void assign_programs_and_cells(VobGroup& group);

}  // namespace author
