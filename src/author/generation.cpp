#include "author/generation.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "author/attributes.h"
#include "author/audio_agreement.h"
#include "author/cell_marking.h"
#include "author/core_routines.h"
#include "author/diagnostics.h"
#include "author/ifo_tables.h"
#include "author/ifo_writer.h"
#include "author/nav_fixer.h"
#include "author/run_output.h"
#include "author/titleset_readback.h"
#include "author/vob_scanner.h"

namespace author {

namespace {

constexpr int kEntryRoot = 0x08;
constexpr int kMaxTitlesetNumber = 99;

// Single-level directory creation; an existing directory is fine.
void make_directory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        record_output_directory(path);
    } else if (errno != EEXIST) {
        fatal("ERR:  Cannot create directory %s: %s\n", path.c_str(), std::strerror(errno));
    }
}

void make_dvd_directories(const std::string& directory) {
    make_directory(directory);
    make_directory(directory + "/VIDEO_TS");
    make_directory(directory + "/AUDIO_TS");
}

// Jumppad dispatch lives in a menu: a disc without one gets an empty English menu group.
void add_jumppad_menu(MenuGroup* menus, int type) {
    if (!engine().jumppad_enabled || !menus->languages.empty()) return;
    emit("WARN: The use of jumppad requires a menu; creating a dummy ENGLISH menu\n");
    menu_group_add(menus, "en", pgc_group_create(type));
}

// Gives the group's first Pgc (when there is one) an entry the disc needs.
void add_group_entry(PgcGroup* group, int entry) {
    if (group->entry_mask & entry) return;
    if (!group->pgcs.empty()) group->pgcs.front()->entry_mask |= entry;
    group->entry_mask |= entry;
    group->entry_count += 1;
}

// A chain without post commands ends on an infinite still of its last cell.
void end_on_still(Pgc* pgc) {
    if (pgc->post_commands || pgc->sources.empty()) return;
    std::vector<Cell>& cells = pgc->sources.back()->cells;
    if (!cells.empty()) cells.back().pause = 255;
}

void scan_and_mark(const std::string& base, VobGroup* vob_group, int kind) {
    scan_vob_units(base, *vob_group, kind);
    // A cancelled scan leaves out the inputs it did not reach; a chain that lost its last source
    // must still end on its picture.
    for (Pgc* pgc : vob_group->pgcs) end_on_still(pgc);
    assign_programs_and_cells(*vob_group);
    finalize_attributes(vob_group, kind);
    warn_on_audio_disagreement(*vob_group);
}

// Limits of what the information files can describe, checked before they are written (cell
// marking has already held cells and programs to one byte).
void check_group_limits(const PgcGroup& group, bool titles) {
    for (size_t i = 0; i < group.pgcs.size(); ++i) {
        const Pgc& pgc = *group.pgcs[i];
        if (pgc_total_sectors(pgc) > INT32_MAX)
            fatal("ERR:  %s PGC %zu plays longer than the 90 kHz clock can count (6.6 hours)\n",
                  pgc_type_names[group.type], i + 1);
        if (!titles) continue;
        if (pgc.chapter_count > kMaxChaptersPerTitle)
            fatal("ERR:  Title %zu has too many chapters (%d, %d allowed)\n", i + 1, pgc.chapter_count,
                  kMaxChaptersPerTitle);
        if (pgc.chapter_count == 0) fatal("ERR:  Title %zu has no chapters\n", i + 1);
    }
}

std::string vts_base_name(const std::string& directory, int number) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "/VIDEO_TS/VTS_%02d", number);
    return directory + suffix;
}

// Keeps "VTS_nn_0.IFO" names (exact case) and returns nn, or -1 for any other name.
int titleset_number_of(const char* name) {
    if (std::strlen(name) != 12 || std::strncmp(name, "VTS_", 4) != 0 ||
        std::strcmp(name + 6, "_0.IFO") != 0)
        return -1;
    if (name[4] < '0' || name[4] > '9' || name[5] < '0' || name[5] > '9') return -1;
    return (name[4] - '0') * 10 + (name[5] - '0');
}

// Titleset information file names by number (0..100; only 1..99 can be filled).
std::vector<std::string> list_titleset_files(const std::string& video_ts) {
    std::vector<std::string> slots(kMaxTitlesetNumber + 2);
    DirListingPtr listing = opendir(video_ts.c_str());
    if (!listing) return slots;
    while (const char* name = readdir(listing.get())) {
        const int n = titleset_number_of(name);
        if (n < 0) continue;
        if (!slots[n].empty())
            fatal("ERR:  Two different names for the same titleset: %s and %s\n", slots[n].c_str(), name);
        if (n == 0) fatal("ERR:  Cannot have titleset #0 (%s)\n", name);
        slots[n] = name;
    }
    return slots;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Model completion
// ---------------------------------------------------------------------------------------------

void validate_pgc_group(PgcGroup* group) {
    const int allowed = allowed_entries[group->type];
    bool failed = false;
    for (size_t i = 0; i < group->pgcs.size(); ++i) {
        Pgc* pgc = group->pgcs[i];
        const int index = static_cast<int>(i);
        end_on_still(pgc);
        for (int bit = 0; bit < 8; ++bit) {
            const int mask = 1 << bit;
            if ((pgc->entry_mask & mask) && (group->entry_mask & mask)) {
                emit("ERR:  Multiple definitions for entry %s, 2nd occurance in PGC #%d\n", entry_names[bit], index);
                failed = true;
            }
            if ((pgc->entry_mask & mask) && !(allowed & mask)) {
                emit("ERR:  Entry %s is not allowed for menu type %s\n", entry_names[bit], pgc_type_names[group->type]);
                failed = true;
            }
        }
        group->entry_mask |= pgc->entry_mask;
        for (const PgcSource* source : pgc->sources)
            if (source->cells.empty()) emit("WARN: Source has no cells (%s) in PGC %d\n", source->file_name.c_str(), index);
        pgc_mark_first_chapter(pgc, index);
    }
    group->entry_count += std::popcount(static_cast<unsigned>(group->entry_mask & 0xff));
    if (failed) fatal("ERR:  Errors in the entries of the %s group\n", pgc_type_names[group->type]);
}

void add_source_vob(VobGroup* vob_group, Pgc* pgc, PgcSource* source) {
    if (pgc->buttons.empty()) {
        for (Vob* vob : vob_group->vobs) {
            if (vob->file_name == source->file_name && vob->owner->buttons.empty()) {
                source->vob = vob;
                return;
            }
        }
    }
    Vob* vob = engine().create<Vob>();
    vob->file_name = source->file_name;
    vob->owner = pgc;
    vob_group->vobs.push_back(vob);
    source->vob = vob;
}

void propagate_colormaps(PgcGroup* group, bool warn) {
    auto& pgcs = group->pgcs;
    for (size_t i = 0; i < pgcs.size(); ++i) {
        if (!pgcs[i]->palette) continue;
        for (const PgcSource* mine : pgcs[i]->sources) {
            for (size_t j = 0; j < pgcs.size(); ++j) {
                for (const PgcSource* theirs : pgcs[j]->sources) {
                    if (theirs->vob != mine->vob) continue;
                    if (!pgcs[j]->palette) {
                        pgcs[j]->palette = pgcs[i]->palette;
                    } else if (pgcs[j]->palette != pgcs[i]->palette && warn) {
                        emit("WARN: Conflict in colormap between PGC %zu and %zu\n", i, j);
                    }
                }
            }
        }
    }
}

void collect_vob_group(VobGroup* vob_group, PgcGroup* group) {
    vob_group->pgcs.insert(vob_group->pgcs.end(), group->pgcs.begin(), group->pgcs.end());
    for (Pgc* pgc : group->pgcs)
        for (PgcSource* source : pgc->sources) add_source_vob(vob_group, pgc, source);
    propagate_colormaps(group, false);
    for (Pgc* pgc : group->pgcs) {
        if (pgc->palette) continue;
        pgc->palette = std::make_shared<Palette>(default_palette);
        propagate_colormaps(group, false);
    }
    propagate_colormaps(group, true);
}

// ---------------------------------------------------------------------------------------------
// Titleset
// ---------------------------------------------------------------------------------------------

std::string get_video_ts_dir(const std::string& directory) { return directory + "/VIDEO_TS"; }

int pick_vts_number(const std::string& directory) {
    for (int n = 1; n <= kMaxTitlesetNumber; ++n) {
        std::FILE* probe = std::fopen((vts_base_name(directory, n) + "_0.IFO").c_str(), "rb");
        if (probe == nullptr) {
            emit("STAT: Picking VTS %02d\n", n);
            return n;
        }
        std::fclose(probe);
    }
    fatal("ERR:  %s already holds titlesets 1 to %d\n", get_video_ts_dir(directory).c_str(), kMaxTitlesetNumber);
}

void build_titleset(MenuGroup* menus, PgcGroup* titles, const std::string& directory) {
    emit("INFO: discforge creating VTS\n");
    make_dvd_directories(directory);
    add_jumppad_menu(menus, kGroupVtsm);

    for (MenuLanguage& language : menus->languages) {
        PgcGroup* group = language.group;
        validate_pgc_group(group);
        collect_vob_group(menus->vob_group, group);
        if (!group->pgcs.empty() || engine().jumppad_enabled) add_group_entry(group, kEntryPtt);
        if (!group->pgcs.empty()) add_group_entry(group, kEntryRoot);
    }
    validate_pgc_group(titles);
    collect_vob_group(titles->vob_group, titles);
    if (titles->pgcs.empty()) fatal("ERR:  no titles defined\n");
    if (titles->pgcs.size() > kMaxTitles)
        fatal("ERR:  Too many titles (%zu, %d allowed)\n", titles->pgcs.size(), kMaxTitles);

    const int number = pick_vts_number(directory);
    const std::string base = vts_base_name(directory, number);
    VobGroup* menu_streams = menus->vob_group;
    VobGroup* title_streams = titles->vob_group;
    const bool menu_vobs = !menu_streams->vobs.empty();
    // The menu piece is written or removed before the titles' inputs are read.
    refuse_inputs_among_pieces(base, *title_streams, kScanTitles);
    if (menu_vobs) {
        scan_and_mark(base, menu_streams, kScanTitlesetMenus);
    } else {
        remove_stale_piece(piece_file_name(base, 0));
    }
    scan_and_mark(base, title_streams, kScanTitles);
    if (!menu_vobs) menu_streams->video = title_streams->video;

    emit("\n");
    for (const MenuLanguage& language : menus->languages) check_group_limits(*language.group, false);
    check_group_limits(*titles, true);
    Workset workset;
    workset.menus = menus;
    workset.titles = titles;
    write_titleset_ifo(base, workset);

    if (!menu_streams->vobs.empty()) fix_nav_packs(base, *menu_streams);
    fix_nav_packs(base, *title_streams);
}

// ---------------------------------------------------------------------------------------------
// Table of contents
// ---------------------------------------------------------------------------------------------

void build_vmgm(Pgc* first_play, MenuGroup* menus, const std::string& directory) {
    const std::string video_ts = get_video_ts_dir(directory);
    // The manager of an earlier run describes a disc this run was asked to replace, and may name
    // titlesets it finds changed or damaged: a failed run takes it away too, so the folder no
    // longer passes for a disc.
    const std::string manager = video_ts + "/VIDEO_TS.IFO";
    const std::string manager_backup = video_ts + "/VIDEO_TS.BUP";
    record_output_file(manager);
    record_output_file(manager_backup);
    add_jumppad_menu(menus, kGroupVmgm);
    for (MenuLanguage& language : menus->languages) {
        PgcGroup* group = language.group;
        validate_pgc_group(group);
        collect_vob_group(menus->vob_group, group);
        if (!group->pgcs.empty() || engine().jumppad_enabled) add_group_entry(group, kEntryTitle);
    }
    emit("INFO: discforge creating table of contents\n");
    make_dvd_directories(directory);
    VobGroup* menu_streams = menus->vob_group;
    const std::string menu_path = video_ts + "/VIDEO_TS.VOB";
    // The menu VOB is rewritten or removed as well, unless it is one of this run's inputs.
    refuse_inputs_among_pieces(menu_path, *menu_streams, kScanTocMenus);
    record_output_file(menu_path);

    std::vector<TitlesetInfo>& titlesets = engine().titlesets;
    titlesets.clear();
    const std::vector<std::string> slots = list_titleset_files(video_ts);
    int first_empty = 1;
    while (first_empty <= kMaxTitlesetNumber && !slots[first_empty].empty()) {
        const std::string path = video_ts + "/" + slots[first_empty];
        emit("INFO: Scanning %s\n", path.c_str());
        read_vts_ifo(path, titlesets);
        ++first_empty;
    }
    for (int k = first_empty; k <= kMaxTitlesetNumber; ++k)
        if (!slots[k].empty())
            fatal("ERR:  Titleset #%d (%s) does not immediately follow the last titleset\n", k, slots[k].c_str());
    if (titlesets.empty()) fatal("ERR:  No .IFO files to process\n");
    int title_total = 0;
    for (const TitlesetInfo& info : titlesets) title_total += info.title_count;
    if (title_total > kMaxTitles) fatal("ERR:  Too many titles on the disc (%d, %d allowed)\n", title_total, kMaxTitles);

    if (menu_streams->vobs.empty()) {
        remove_stale_piece(menu_path);  // a table of contents rewritten without its menu
    } else {
        emit("INFO: Creating menu for TOC\n");
        scan_and_mark(menu_path, menu_streams, kScanTocMenus);
        emit("\n");
        for (const MenuLanguage& language : menus->languages) check_group_limits(*language.group, false);
        fix_nav_packs(menu_path, *menu_streams);
    }

    Workset workset;
    workset.titlesets = &titlesets;
    workset.menus = menus;
    write_vmg_ifo(workset, first_play, manager);
    write_vmg_ifo(workset, first_play, manager_backup);
}

}  // namespace author
