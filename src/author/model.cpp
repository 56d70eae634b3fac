#include "author/model.h"

#include <cctype>
#include <cstring>

#include "author/attributes.h"
#include "author/diagnostics.h"

namespace author {

const Palette default_palette = {
    kPaletteUnset, kPaletteUnset, kPaletteUnset, kPaletteUnset,
    kPaletteUnset, kPaletteUnset, kPaletteUnset, kPaletteUnset,
    kPaletteUnset, kPaletteUnset, kPaletteUnset, kPaletteUnset,
    kPaletteUnset, kPaletteUnset, kPaletteUnset, kPaletteUnset,
};

const char* const pgc_type_names[3] = {"VTS", "VTSM", "VMGM"};
const char* const entry_names[8] = {"", "", "title", "root", "subtitle", "audio", "angle", "ptt"};
const int allowed_entries[3] = {0x00, 0xf8, 0x04};

namespace {

EngineContext& context_storage() {
    static EngineContext context;
    return context;
}

VobGroup* require_vob_group(PgcGroup* group) {
    if (group->vob_group == nullptr)
        fatal("ERR:  Stream attributes cannot be set on a %s group\n",
              pgc_type_names[group->type]);
    return group->vob_group;
}

int set_audio_on(VobGroup* streams, int selector, const char* word, int track) {
    if (track < 0 || track >= kMaxAudioTracks)
        fatal("ERR:  Audio track %d is beyond the limit of %d tracks\n", track + 1,
              kMaxAudioTracks);
    if (streams->audio_track_count < track + 1) streams->audio_track_count = track + 1;
    return set_audio_attr(&streams->audio[track], &streams->audio_warned[track], selector, word);
}

}  // namespace

EngineContext& engine() { return context_storage(); }

void engine_reset(platform::ProgressTarget* progress, const platform::ManualResetEvent* cancel) {
    EngineContext& context = context_storage();
    context = EngineContext{};
    context.progress = progress;
    context.cancel = cancel;
}

PgcSource* source_create() { return engine().create<PgcSource>(); }
Pgc* pgc_create() { return engine().create<Pgc>(); }
VobGroup* vob_group_create() { return engine().create<VobGroup>(); }

PgcGroup* pgc_group_create(int type) {
    PgcGroup* group = engine().create<PgcGroup>();
    group->type = type;
    if (type == kGroupVts) group->vob_group = vob_group_create();
    return group;
}

MenuGroup* menu_group_create() {
    MenuGroup* menus = engine().create<MenuGroup>();
    menus->vob_group = vob_group_create();
    return menus;
}

void source_set_file(PgcSource* source, const char* file_name) { source->file_name = file_name; }

int32_t seconds_to_ticks(double seconds) {
    constexpr double kTicksPerSecond = 90000.0;
    const double ticks = seconds * kTicksPerSecond + 0.5;
    // A time past what 32-bit ticks hold (about 6.6 hours) would wrap into a wrong cell.
    if (!(ticks < 2147483648.0 && ticks > -2147483649.0))  // NaN fails too
        fatal("ERR:  Time %.3f s is out of range\n", seconds);
    return static_cast<int32_t>(ticks);
}

int source_add_cell(PgcSource* source, double start, double end, int kind, int pause,
                    const char* command) {
    Cell cell;
    cell.start = seconds_to_ticks(start);
    cell.end = seconds_to_ticks(end);
    cell.kind = kind;
    cell.pause = pause;
    if (command != nullptr) cell.command = vm_parse(command);
    source->cells.push_back(std::move(cell));
    return 0;
}

void pgc_add_source(Pgc* pgc, PgcSource* source) { pgc->sources.push_back(source); }
void pgc_set_pre_commands(Pgc* pgc, const char* text) { pgc->pre_commands = vm_parse(text); }
void pgc_set_post_commands(Pgc* pgc, const char* text) { pgc->post_commands = vm_parse(text); }

void pgc_set_palette_entry(Pgc* pgc, int index, uint32_t colour) {
    if (index < 0 || index >= kPaletteEntries)
        fatal("ERR:  Palette entry %d is out of range\n", index);
    if (!pgc->palette) pgc->palette = std::make_shared<Palette>(default_palette);
    (*pgc->palette)[index] = colour;
}

void pgc_set_pause(Pgc* pgc, int pause) { pgc->pause = pause; }

void pgc_mark_first_chapter(Pgc* pgc, int pgc_index) {
    for (PgcSource* source : pgc->sources) {
        if (source->cells.empty()) continue;
        Cell& first = source->cells.front();
        if (first.kind != kCellChapter) {
            emit("WARN: First cell is not marked as a chapter in PGC %d, setting chapter flag\n", pgc_index);
            first.kind = kCellChapter;
        }
        return;
    }
}

void pgc_add_entry(Pgc* pgc, const char* entry_name) {
    for (int bit = kFirstEntryBit; bit <= kLastEntryBit; ++bit) {
        if (std::strcmp(entry_name, entry_names[bit]) != 0) continue;
        if (pgc->entry_mask & (1 << bit))
            fatal("ERR:  Defined entry '%s' multiple times for the same PGC\n", entry_name);
        pgc->entry_mask |= 1 << bit;
        return;
    }
    fatal("ERR:  Unknown entry '%s'\n", entry_name);
}

int pgc_add_button(Pgc* pgc, const char* name, const char* command) {
    if (pgc->buttons.size() >= kMaxButtons) fatal("ERR:  Limit of up to 36 buttons\n");
    PgcButton button;
    button.name = name != nullptr ? name : std::to_string(pgc->buttons.size() + 1);
    button.command = vm_parse(command);
    pgc->buttons.push_back(std::move(button));
    return 0;
}

void pgc_group_add_pgc(PgcGroup* group, Pgc* pgc) { group->pgcs.push_back(pgc); }

int pgc_group_set_video_attr(PgcGroup* group, int selector, const char* word) {
    return set_video_attr(require_vob_group(group), selector, word);
}

int pgc_group_set_audio_attr(PgcGroup* group, int selector, const char* word, int track) {
    return set_audio_on(require_vob_group(group), selector, word, track);
}

int pgc_group_set_subpicture_attr(PgcGroup* group, int selector, const char* word, int track) {
    return set_subpicture_attr(selector, track, require_vob_group(group), word);
}

int menu_group_set_video_attr(MenuGroup* menus, int selector, const char* word) {
    return set_video_attr(menus->vob_group, selector, word);
}

int menu_group_set_audio_attr(MenuGroup* menus, int selector, const char* word, int track) {
    return set_audio_on(menus->vob_group, selector, word, track);
}

int menu_group_set_subpicture_attr(MenuGroup* menus, int selector, const char* word, int track) {
    return set_subpicture_attr(selector, track, menus->vob_group, word);
}

void menu_group_add(MenuGroup* menus, const char* language, PgcGroup* group) {
    if (std::strlen(language) != 2)
        fatal("ERR:  Menu language '%s' is not two letters.\n", language);
    MenuLanguage entry;
    for (int i = 0; i < 2; ++i)
        entry.language[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(language[i])));
    entry.group = group;
    menus->languages.push_back(entry);
}

void set_jumppad() { engine().jumppad_enabled = 1; }

}  // namespace author
