// The information files: a titleset's VTS_nn_0.IFO with its backup VTS_nn_0.BUP, and the video
// manager's VIDEO_TS.IFO with VIDEO_TS.BUP.
//
// Each file is a header sector followed by tables on sector boundaries. A writer first lays the
// file out (asking each table builder for its size), then writes it (building each table again
// from the same model); a backup file is a second run of the writer, so IFO and BUP are
// byte-identical. Every open, write and close is checked: a failure is a fatal error naming the
// file, never a short file reported as done.
#pragma once

#include <string>

#include "author/bytes.h"
#include "author/model.h"

namespace author {

// Sector numbers of a titleset information file's tables (0 = table absent).
struct VtsLayout {
    uint32_t ptt_srpt = 0, pgcit = 0, menu_pgci_ut = 0, tmapt = 0;
    uint32_t menu_c_adt = 0, menu_vobu_admap = 0, title_c_adt = 0, title_vobu_admap = 0;
    uint32_t ifo_sectors = 0;
};

// Sector numbers of a manager information file's tables (0 = table absent).
struct VmgLayout {
    uint32_t tt_srpt = 0, menu_pgci_ut = 0, vts_atrt = 0, menu_c_adt = 0, menu_vobu_admap = 0;
    uint32_t ifo_sectors = 0;
};

// The menus of a Workset hold at least one Pgc in their first language.
bool menus_present(const Workset& workset);

VtsLayout layout_vts_ifo(Workset& workset);
// The whole titleset information file.
ByteBuffer write_vts_ifo(Workset& workset);
// Writes base + "_0.IFO", then runs the writer again into base + "_0.BUP".
void write_titleset_ifo(const std::string& base, Workset& workset);

VmgLayout layout_vmg_ifo(Workset& workset);
// The whole manager information file, with the first-play commands of `first_play` (or the
// default jump chosen from the titleset table).
ByteBuffer build_vmg_ifo(Workset& workset, const Pgc* first_play);
void write_vmg_ifo(Workset& workset, const Pgc* first_play, const std::string& file_name);

// Writes the bytes to a new file (truncating any old one); fatal on any failure.
void write_whole_file(const std::string& path, const ByteBuffer& bytes);

}  // namespace author
