// The checks of a titleset information file's tables that the table of contents relies on or
// copies: the reserved fields and stream attributes of the header, the chapter entries of the
// part-of-title table, the title and menu PGC tables with their command, program, cell
// playback and cell position tables, the time map and the cell and VOB-unit address tables.
//
// A player reads these tables, not the table of contents, so a titleset the table of contents
// accepted must be one players can read: every count must fit its table, every offset its file
// and table, every reserved field must be zero, every sector must lie within the titleset's
// VOBs and every code must be one a player knows. The first field that does not fails the run,
// named with its byte.
#pragma once

#include <vector>

#include "author/bytes.h"

namespace author {

class TitlesetFile;

// `image` holds the information-file sectors the header declares, whose sizes, table sectors
// and stream counts are already checked; `chapter_counts` the chapters of each title, as the
// part-of-title table's offsets give them.
void check_titleset_tables(const TitlesetFile& file, const ByteBuffer& image, const std::vector<int>& chapter_counts);

}  // namespace author
