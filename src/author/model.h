// The authoring engine's in-memory description of a disc.
//
// A run first builds this model from its command line (which input streams make up which
// program chains, with chapters, buttons, palettes, menu entries and commands), then the
// generation drivers complete it (validation, palettes, stream registration, scanning, cell
// marking) and the writers turn it into IFO, BUP and VOB files.
//
// Every record belongs to the engine context of the current run (engine()); records refer to one
// another by plain pointers that stay valid until the next run resets the context. Arrays that
// grow by one element per append are std::vector, so their counts are their sizes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class ProgressTarget;
class ManualResetEvent;
}  // namespace platform

namespace author {

// ---------------------------------------------------------------------------------------------
// Parsed commands
// ---------------------------------------------------------------------------------------------

// One node of a parsed command text; the command language owns its layout.
struct VmStatement;
// A parsed command list, shared because the compiler may read it from more than one table.
using VmCommands = std::shared_ptr<VmStatement>;

// Parses a command text into its statement list; a null text gives an empty command list (one
// no-op node). A text that does not parse is a fatal error. Defined by the command language.
VmCommands vm_parse(const char* text);

// ---------------------------------------------------------------------------------------------
// Stream attributes
// ---------------------------------------------------------------------------------------------
//
// Every attribute is a small code: 0 = not set, otherwise the 1-based index of its word in the
// attribute's keyword table (attributes.h). Each record has a twin of the same shape holding,
// per attribute, the last value a warning was printed for, so a refused value warns once.

struct VideoAttr {
    int mpeg_version = 0;  // 1 mpeg1, 2 mpeg2
    int resolution = 0;    // 1 720xfull, 2 704xfull, 3 352xfull, 4 352xhalf
    int tv_standard = 0;   // 1 ntsc, 2 pal
    int aspect = 0;        // 1 4:3, 2 16:9
    int widescreen = 0;    // 1 noletterbox, 2 nopanscan, 3 neither (4:3 after finalising)
    int frame_rate = 0;    // MPEG frame_rate_code 1..8
    int caption = 0;       // bit 0 field 1, bit 1 field 2
};

struct AudioAttr {
    int format = 0;          // 1 ac3, 2 mp2, 3 pcm, 4 dts
    int quantisation = 0;    // 1 16bps, 2 20bps, 3 24bps, 4 drc
    int surround = 0;        // 1 surround
    int channels = 0;        // 1..8
    int language_flag = 0;   // 1 nolang, 2 lang
    int stream_number = 0;   // 1-based stream of its format feeding this track; 0 = none yet
    int sampling_rate = 0;   // 1 48khz, 2 96khz
    char language[2] = {0, 0};  // lower case
};

struct SubpictureAttr {
    int language_flag = 0;  // 1 nolang, 2 lang
    int stream_number = 0;  // subpicture stream id + 1; 0 = none
    char language[2] = {0, 0};
};

constexpr int kMaxAudioTracks = 8;
constexpr int kMaxSubpictureTracks = 32;

// ---------------------------------------------------------------------------------------------
// Scanned streams
// ---------------------------------------------------------------------------------------------

constexpr int kSectorSize = 2048;

// One VOB unit as the scanner found it. Sectors count from 0 over the whole output of the
// VobGroup; times are 90 kHz ticks.
struct Vobu {
    int32_t sector = 0;          // first sector (the NAV pack)
    int32_t last_sector = 0;
    int32_t piece_sector = 0;    // sector of the NAV pack within its output piece
    int32_t piece = 0;           // -1 base name unchanged, 0 titleset-menu piece, 1.. title pieces
    int32_t cell_id = 0;         // vob_id * 256 + cell number, once cells are marked
    int32_t cell_first_vobu = 0; // index of the first VOB unit of its cell
    int32_t cell_last_vobu = 0;  // index of the last VOB unit of its cell
    int32_t has_sequence_end = 0;
    int32_t has_video = 0;
    int32_t video_pts[2] = {0, 0};  // start and end of its pictures
    int32_t pts[2] = {0, 0};        // start and end time
    int32_t ref_count = 0;          // 0..3 entries of ref_end in use
    int32_t first_video_pts = -1;   // -1 when none
    int32_t fields_before_first = 0;
    int32_t field_count = 0;
    int32_t ref_end[3] = {0, 0, 0};  // sectors at which reference pictures 1..3 end
    std::vector<uint8_t> nav_pack;   // own copy of its NAV sector (kSectorSize bytes), or empty
};

struct StreamPtsRow {
    int32_t start_pts = 0;
    int32_t end_pts = 0;
    int32_t sector = 0;
};

// What the scanner saw of one elementary stream of a Vob.
struct StreamPtsTable {
    std::vector<StreamPtsRow> rows;
    AudioAttr detected;         // what detection found (audio streams)
    AudioAttr detected_warned;  // its last-warned twin
};

// Stream slots of a Vob: AC-3 0-7, MPEG audio 8-15, LPCM 16-23, DTS 24-31, subpictures 32-63.
constexpr int kStreamSlots = 64;
constexpr int kSubpictureSlotBase = 32;
constexpr int kStreamsPerFormat = 8;  // audio slots of one format
constexpr int kButtonColourBytes = 24;  // three colour groups of 8 bytes

struct Pgc;

// One distinct input stream.
struct Vob {
    std::string file_name;
    std::vector<Vobu> vobus;
    int vob_id = 0;       // 1-based position in its VobGroup's vobs, set when scanning starts
    int cell_count = 0;   // DVD cells of this Vob, set by cell marking (at most 255)
    Pgc* owner = nullptr; // the Pgc whose source created the record
    std::array<StreamPtsTable, kStreamSlots> streams;
    std::array<uint8_t, kButtonColourBytes> button_colours{};
};

// The streams and attributes of one title group or one menu set.
struct VobGroup {
    int audio_track_count = 0;       // 0..kMaxAudioTracks
    int subpicture_track_count = 0;  // 0..kMaxSubpictureTracks
    std::vector<Vob*> vobs;
    std::vector<Pgc*> pgcs;  // every Pgc that uses these streams (titles, or all menus)

    VideoAttr video;
    VideoAttr video_warned;
    std::array<AudioAttr, kMaxAudioTracks> audio{};
    std::array<AudioAttr, kMaxAudioTracks> audio_warned{};
    std::array<SubpictureAttr, kMaxSubpictureTracks> subpicture{};
    std::array<SubpictureAttr, kMaxSubpictureTracks> subpicture_warned{};
};

// ---------------------------------------------------------------------------------------------
// Program chains
// ---------------------------------------------------------------------------------------------

enum CellKind { kCellPlain = 0, kCellChapter = 1, kCellProgram = 2 };

struct Cell {
    int32_t start = 0;      // 90 kHz ticks
    int32_t end = 0;        // 90 kHz ticks; negative = up to the end of the source
    int kind = kCellPlain;  // CellKind
    int pause = 0;          // still time after the cell, 0..255 (255 = infinite)
    int first_cell = 0;     // range of DVD cells of its Vob this cell became (cell marking);
    int end_cell = 0;       // end_cell is one past the last
    VmCommands command;     // cell command, or null
};

// One input stream of a Pgc.
struct PgcSource {
    std::string file_name;
    std::vector<Cell> cells;
    Vob* vob = nullptr;  // set when the generation driver registers the stream
};

struct PgcButton {
    std::string name;
    int auto_action = 0;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // highlight rectangle
    std::string up, down, left, right;    // names of the neighbouring buttons
    int colour_group = 0;
    VmCommands command;
};

constexpr int kMaxButtons = 36;
constexpr int kPaletteEntries = 16;
// A palette word that holds no colour; set colours are 0x00YYCrCb.
constexpr uint32_t kPaletteUnset = 0x01000000;
using Palette = std::array<uint32_t, kPaletteEntries>;
extern const Palette default_palette;

// A program chain.
struct Pgc {
    std::vector<PgcSource*> sources;
    std::vector<PgcButton> buttons;  // 0..kMaxButtons
    int chapter_count = 0;  // filled by cell and program marking
    int program_count = 0;
    int cell_count = 0;
    int entry_mask = 0;  // bit n: menu for entry n of entry_names
    int pause = 0;       // still time at the end, 0..255 (255 = infinite)
    VmCommands pre_commands;
    VmCommands post_commands;
    // Null until an entry is set or the palette is gathered; Pgcs may share one palette.
    std::shared_ptr<Palette> palette;
};

enum PgcGroupType { kGroupVts = 0, kGroupVtsm = 1, kGroupVmgm = 2 };
extern const char* const pgc_type_names[3];  // "VTS", "VTSM", "VMGM"

// Entry names indexed by entry bit; bits 0 and 1 are empty and never used.
constexpr int kFirstEntryBit = 2;
constexpr int kLastEntryBit = 7;
extern const char* const entry_names[8];  // "", "", "title", "root", "subtitle", "audio", "angle", "ptt"
constexpr int kEntryTitle = 0x04;
constexpr int kEntryPtt = 0x80;
// Entries each group type allows, indexed by PgcGroupType.
extern const int allowed_entries[3];  // VTS none, VTSM 0xf8, VMGM 0x04

// A set of program chains of one kind.
struct PgcGroup {
    int type = kGroupVts;  // PgcGroupType
    std::vector<Pgc*> pgcs;
    int entry_mask = 0;    // union of its Pgcs' entry masks (generation)
    int entry_count = 0;   // bits set in entry_mask (generation)
    VobGroup* vob_group = nullptr;  // titles only; menus' streams belong to the MenuGroup
};

struct MenuLanguage {
    char language[2] = {0, 0};  // lower case
    PgcGroup* group = nullptr;
};

// All menus of one titleset or of the table of contents, by language.
struct MenuGroup {
    std::vector<MenuLanguage> languages;
    VobGroup* vob_group = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Table of contents
// ---------------------------------------------------------------------------------------------

constexpr int kMaxTitlesets = 170;
// What a disc's title search table and a title's part-of-title list can number.
constexpr int kMaxTitles = 99;
constexpr int kMaxChaptersPerTitle = 99;
constexpr int kTitlesetAttributeBytes = 0x300;

// One titleset found on disk by the table-of-contents run.
struct TitlesetInfo {
    int has_menus = 0;
    int title_count = 0;
    std::vector<int> chapter_counts;  // one per title
    uint32_t size_sectors = 0;
    std::array<uint8_t, kTitlesetAttributeBytes> attributes{};  // its IFO from byte 0x100
    std::array<uint8_t, 4> category{};                          // its IFO at byte 0x22
};

// What the generation drivers hand to the information-file writers, the PGC writer and the
// command compiler.
struct Workset {
    const std::vector<TitlesetInfo>* titlesets = nullptr;  // table of contents only
    MenuGroup* menus = nullptr;
    PgcGroup* titles = nullptr;  // titleset only
    int menu_language = 0;       // index of the menu language being written
};

// ---------------------------------------------------------------------------------------------
// Engine context
// ---------------------------------------------------------------------------------------------

// Values the scanner and input opening share while the streams of a run are read.
struct ScanProgress {
    int64_t read_position = 0;  // bytes read from the current input
    int64_t input_size = 0;     // its size, for the percentage (plain files only)
    int sector_counter = 0;     // sectors taken, for the progress and cancel cadence
};

// Chapter marking of the command line: which cells the next file gets.
enum ChapterMarkState {
    kChapterNextFileWhole = 0,  // one chapter cell over the whole file
    kChapterConsumed = 1,       // later files get one plain cell each
    kChapterPending = 2,        // the last -c/-C made the cells for the next file
};

// The files and directories a run has made, so that a failed run can take them back.
struct RunOutput {
    std::vector<std::string> files;        // created or overwritten, in that order
    std::vector<std::string> directories;  // created by the run, parents first
};

// Everything one run of the engine owns. The entry resets it, so a run that ended early (an
// option error, a fatal error, a cancel) leaves nothing behind for the next.
struct EngineContext {
    platform::ProgressTarget* progress = nullptr;
    const platform::ManualResetEvent* cancel = nullptr;
    bool cancelled = false;  // a cancel test found the event set: the output lacks what was left
    int jumppad_enabled = 0;
    int chapter_mark_state = kChapterNextFileWhole;
    ScanProgress scan;
    std::vector<TitlesetInfo> titlesets;  // table of contents run
    RunOutput output;

    // Creates a zero-initialised record owned by the run.
    template <class T>
    T* create() {
        auto record = std::make_shared<T>();
        records_.push_back(record);
        return record.get();
    }

private:
    std::vector<std::shared_ptr<void>> records_;
};

// The context of the run in progress. The engine runs one call at a time.
EngineContext& engine();
// Starts a new run: releases every record of the previous one and clears all state.
void engine_reset(platform::ProgressTarget* progress, const platform::ManualResetEvent* cancel);

// ---------------------------------------------------------------------------------------------
// Building operations
// ---------------------------------------------------------------------------------------------
//
// Arrays keep the order of the calls; nothing is merged or sorted. Failures are fatal errors.

PgcSource* source_create();
Pgc* pgc_create();
// Type kGroupVts also gets a new VobGroup.
PgcGroup* pgc_group_create(int type);
// Comes with a new VobGroup for the menus' streams.
MenuGroup* menu_group_create();
VobGroup* vob_group_create();

void source_set_file(PgcSource* source, const char* file_name);
// Times in seconds; a negative end means up to the end of the source. Returns 0.
int source_add_cell(PgcSource* source, double start, double end, int kind, int pause,
                    const char* command);
// Seconds to 90 kHz ticks, rounded half up and truncated toward zero (-1.0 s gives -89999).
int32_t seconds_to_ticks(double seconds);

void pgc_add_source(Pgc* pgc, PgcSource* source);
void pgc_set_pre_commands(Pgc* pgc, const char* text);
void pgc_set_post_commands(Pgc* pgc, const char* text);
void pgc_set_palette_entry(Pgc* pgc, int index, uint32_t colour);
void pgc_set_pause(Pgc* pgc, int pause);
void pgc_add_entry(Pgc* pgc, const char* entry_name);
// A chain starts with a chapter: the first cell of its first source that has cells becomes one,
// with a warning naming the Pgc by its 0-based index when it was not.
void pgc_mark_first_chapter(Pgc* pgc, int pgc_index);
// A null name names the button by its 1-based number. Returns 0.
int pgc_add_button(Pgc* pgc, const char* name, const char* command);

void pgc_group_add_pgc(PgcGroup* group, Pgc* pgc);
// Apply one attribute word: 0 when taken or repeated, nonzero when it conflicts with an earlier
// value (which is kept). Selector 0 accepts a word of any attribute. Titles groups only.
int pgc_group_set_video_attr(PgcGroup* group, int selector, const char* word);
int pgc_group_set_audio_attr(PgcGroup* group, int selector, const char* word, int track);
int pgc_group_set_subpicture_attr(PgcGroup* group, int selector, const char* word, int track);
int menu_group_set_video_attr(MenuGroup* menus, int selector, const char* word);
int menu_group_set_audio_attr(MenuGroup* menus, int selector, const char* word, int track);
int menu_group_set_subpicture_attr(MenuGroup* menus, int selector, const char* word, int track);
// The language must be two characters; it is stored lower-cased.
void menu_group_add(MenuGroup* menus, const char* language, PgcGroup* group);
void set_jumppad();

}  // namespace author
