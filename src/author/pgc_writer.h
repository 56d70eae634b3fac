// Program-chain tables of the information files: the PGC information table of a titleset's
// titles, and the menu language-unit table (one PGC information table per menu language) of a
// titleset's or the manager's menus.
//
// Each Pgc becomes one PGC record with its command table, program map, cell playback table and
// cell position table; each menu entry of a group also gets a small generated entry PGC that
// links to the user's PGC carrying it.
#pragma once

#include <cstddef>

#include "author/bytes.h"
#include "author/model.h"

namespace author {

// Which table is being built; also the command compiler's domain.
enum PgcTableMode { kPgcTitles = 0, kPgcTitlesetMenus = 1, kPgcManagerMenus = 2 };

// Compiles a command list into `out` at `position` (advanced past the instructions); jump line
// numbers count from `base`, the start of the command group. False when the compiler refused a
// statement (it has printed why).
bool compile_command_list(ByteBuffer& out, size_t base, size_t& position, Workset& workset,
                          int pgc_index, const VmCommands& commands, int mode);

// Builds the whole table for the mode, padded to whole sectors. Sets the Workset's menu
// language while it writes each language unit.
ByteBuffer write_pgc_table(Workset& workset, int mode);

// One PGC information table at `at` of `out`; returns its size in bytes.
size_t write_pgcit(ByteBuffer& out, size_t at, Workset& workset, int mode, const PgcGroup& group);
// One PGC record for the Pgc at `index` (0-based) of the mode's group; returns its size.
size_t write_pgc(ByteBuffer& out, size_t at, Workset& workset, int index, int mode);
// An entry PGC that links to PGC `pgc_number` (1-based; -1 for none). With a Workset it first
// writes the jumppad dispatch. Returns its size.
size_t gen_entry_pgc(ByteBuffer& out, size_t at, int pgc_number, const Workset* workset);

}  // namespace author
