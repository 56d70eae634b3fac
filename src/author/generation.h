// The two generation drivers: a titleset (its VOB pieces, VTS_nn_0.IFO and .BUP, then the
// NAV packs) and the table of contents (VIDEO_TS.IFO and .BUP over the titlesets already in
// the folder). They also finish the model: entry checks, palettes, one Vob per distinct input
// stream, and the menu entries a disc needs.
#pragma once

#include <string>

#include "author/model.h"

namespace author {

// Writes one titleset into directory/VIDEO_TS, taking the first free titleset number.
void build_titleset(MenuGroup* menus, PgcGroup* titles, const std::string& directory);
// Writes the table of contents of directory/VIDEO_TS; first_play may be null.
void build_vmgm(Pgc* first_play, MenuGroup* menus, const std::string& directory);

// Checks the entries of a group, ends chains without post commands on an infinite still and
// makes the first cell a chapter. Every error is printed before the run stops.
void validate_pgc_group(PgcGroup* group);
// Registers the group's Pgcs and streams in the VobGroup and gathers palettes.
void collect_vob_group(VobGroup* vob_group, PgcGroup* group);
// Finds or creates the Vob of a source: button-less Pgcs share one Vob per file name.
void add_source_vob(VobGroup* vob_group, Pgc* pgc, PgcSource* source);
// Shares palettes between Pgcs that use the same Vob; warns about conflicts when asked.
void propagate_colormaps(PgcGroup* group, bool warn);

std::string get_video_ts_dir(const std::string& directory);
// The first titleset number 1..99 without an information file in directory/VIDEO_TS; a folder
// holding all 99 is a fatal error.
int pick_vts_number(const std::string& directory);

}  // namespace author
