#include "author/options.h"

#include <getopt.h>
#include <locale.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "author/core_routines.h"
#include "author/diagnostics.h"
#include "author/settings_file.h"

namespace author {

namespace {

constexpr int kBareArgument = 1;
constexpr int kFirstPlayOption = 'F';
constexpr int kJumppadOption = 'j';
constexpr const char* kDefaultPaletteFile = "xste-palette.dat";
constexpr const char* kListDelimiters = ", ";

const option kLongOptions[] = {
    {"video", required_argument, nullptr, 'v'},
    {"audio", required_argument, nullptr, 'a'},
    {"subpictures", required_argument, nullptr, 's'},
    {"palette", optional_argument, nullptr, 'p'},
    {"file", required_argument, nullptr, 'f'},
    {"chapters", optional_argument, nullptr, 'c'},
    {"help", no_argument, nullptr, 'h'},
    {"menu", no_argument, nullptr, 'm'},
    {"title", no_argument, nullptr, 't'},
    {"button", required_argument, nullptr, 'b'},
    {"toc", no_argument, nullptr, 'T'},
    {"instructions", required_argument, nullptr, 'i'},
    {"entry", required_argument, nullptr, 'e'},
    {"fpc", required_argument, nullptr, kFirstPlayOption},
    {"jumppad", no_argument, nullptr, kJumppadOption},
    {nullptr, 0, nullptr, 0},
};

enum Kind { kMenus = 0, kTitles = 1 };

// The state of one command line while it is read.
class CommandLine {
public:
    explicit CommandLine(RunRequest* request) : request_(request) {
        // The menus' stream attributes may be given before any menu exists.
        request_->menus = menu_group_create();
    }

    // Handles one option; false after an option error (already reported).
    bool handle(int code, char* value);
    bool finish(int argc);

private:
    bool toc_check();
    PgcGroup* current_group();
    Pgc* current_pgc();
    void close_pgc();
    bool switch_kind(Kind kind);

    void add_file(const char* name);
    bool add_chapters(char* list);
    void set_video(char* list);
    void set_tracks(char* list, bool audio);
    void add_button(char* text);
    void set_instructions(char* text);
    bool add_entries(char* list);
    bool set_first_play(const char* commands);

    RunRequest* request_;
    Kind kind_ = kTitles;
    PgcGroup* groups_[2] = {nullptr, nullptr};
    Pgc* pgc_ = nullptr;
    PgcSource* pending_source_ = nullptr;
    const char* output_directory_ = nullptr;
    bool options_seen_ = false;
};

bool CommandLine::toc_check() {
    if (request_->table_of_contents && kind_ == kTitles) {
        emit("ERR:  TOC cannot have titles\n");
        return false;
    }
    return true;
}

PgcGroup* CommandLine::current_group() {
    if (groups_[kind_] == nullptr)
        groups_[kind_] = pgc_group_create((request_->table_of_contents ? 1 : 0) - kind_ + 1);
    return groups_[kind_];
}

Pgc* CommandLine::current_pgc() {
    if (pgc_ == nullptr) pgc_ = pgc_create();
    return pgc_;
}

void CommandLine::close_pgc() {
    if (pgc_ == nullptr) return;
    pgc_group_add_pgc(current_group(), pgc_);
    pgc_ = nullptr;
}

bool CommandLine::switch_kind(Kind kind) {
    close_pgc();
    engine().chapter_mark_state = kChapterNextFileWhole;
    kind_ = kind;
    return true;
}

void CommandLine::add_file(const char* name) {
    current_group();
    Pgc* pgc = current_pgc();
    PgcSource* source = pending_source_ != nullptr ? pending_source_ : source_create();
    pending_source_ = nullptr;
    source_set_file(source, name);
    int& state = engine().chapter_mark_state;
    if (state == kChapterPending) {
        state = kChapterConsumed;
    } else {
        const int kind = state == kChapterNextFileWhole ? kCellChapter : kCellPlain;
        source_add_cell(source, 0.0, -1.0, kind, 0, nullptr);
    }
    pgc_add_source(pgc, source);
}

bool CommandLine::add_chapters(char* list) {
    if (pending_source_ != nullptr) {
        emit("ERR:  cannot list -c twice for one file.\n");
        return false;
    }
    if (!toc_check()) return false;
    current_group();
    current_pgc();
    pending_source_ = source_create();
    engine().chapter_mark_state = kChapterPending;
    if (list != nullptr)
        parse_chapter_list(list, 0, pending_source_);
    else
        source_add_cell(pending_source_, 0.0, -1.0, kCellChapter, 0, nullptr);
    return true;
}

void CommandLine::set_video(char* list) {
    PgcGroup* group = current_group();
    while (char* word = strsep(&list, "+")) {
        const int refused = group->vob_group != nullptr
                                ? pgc_group_set_video_attr(group, 0, word)
                                : menu_group_set_video_attr(request_->menus, 0, word);
        if (refused) fatal("ERR:  Video option '%s' overrides previous option\n", word);
    }
}

void CommandLine::set_tracks(char* list, bool audio) {
    PgcGroup* group = current_group();
    int track = 0;
    for (char* words; (words = strsep(&list, kListDelimiters)) != nullptr; ++track) {
        while (char* word = strsep(&words, "+")) {
            int refused;
            if (audio)
                refused = group->vob_group != nullptr
                              ? pgc_group_set_audio_attr(group, 0, word, track)
                              : menu_group_set_audio_attr(request_->menus, 0, word, track);
            else
                refused = group->vob_group != nullptr
                              ? pgc_group_set_subpicture_attr(group, 0, word, track)
                              : menu_group_set_subpicture_attr(request_->menus, 0, word, track);
            if (refused)
                fatal(audio ? "ERR:  Audio option '%s' on track %d overrides previous option\n"
                            : "ERR:  Subpicture option '%s' on track %d overrides previous option\n",
                      word, track);
        }
    }
}

void CommandLine::add_button(char* text) {
    current_group();
    char* equals = std::strchr(text, '=');
    if (equals == nullptr) {
        pgc_add_button(current_pgc(), nullptr, text);
        return;
    }
    *equals = '\0';
    pgc_add_button(current_pgc(), text, equals + 1);
}

void CommandLine::set_instructions(char* text) {
    current_group();
    Pgc* pgc = current_pgc();
    const char* block = strsep(&text, "=");
    if (block != nullptr && std::strcmp(block, "post") == 0)
        pgc_set_post_commands(pgc, text);
    else if (block != nullptr && std::strcmp(block, "pre") == 0)
        pgc_set_pre_commands(pgc, text);
    else
        fatal("Unknown instruction block: %s\n", block != nullptr ? block : "");
}

bool CommandLine::add_entries(char* list) {
    current_group();
    Pgc* pgc = current_pgc();
    if (kind_ == kTitles) {
        emit("ERR:  Cannot specify an entry for a title.\n");
        return false;
    }
    while (const char* entry = strsep(&list, kListDelimiters)) pgc_add_entry(pgc, entry);
    return true;
}

bool CommandLine::set_first_play(const char* commands) {
    if (!request_->table_of_contents) {
        emit("ERR:  You may only specify FPC commands on the VMGM\n");
        return false;
    }
    if (request_->first_play != nullptr) {
        emit("ERR:  FPC commands already specified\n");
        return false;
    }
    request_->first_play = pgc_create();
    pgc_set_pre_commands(request_->first_play, commands);
    return true;
}

bool CommandLine::handle(int code, char* value) {
    const bool seen_before = options_seen_;
    if (code != 'o' && code != kJumppadOption && code != 'x' && code != 'h') options_seen_ = true;

    switch (code) {
        case 'f':
        case kBareArgument:
            if (!toc_check()) return false;
            add_file(value);
            return true;
        case 'c':
        case 'C':
            return add_chapters(code == 'c' ? value : nullptr);
        case 'p':
        case 'P':
            if (!toc_check()) return false;
            current_group();
            read_palette_file(code == 'p' && value != nullptr ? value : kDefaultPaletteFile,
                              current_pgc());
            return true;
        case 'v':
            if (!toc_check()) return false;
            set_video(value);
            return true;
        case 'a':
        case 's':
            if (!toc_check()) return false;
            set_tracks(value, code == 'a');
            return true;
        case 'b':
            if (!toc_check()) return false;
            add_button(value);
            return true;
        case 'i':
            if (!toc_check()) return false;
            set_instructions(value);
            return true;
        case 'e':
            if (!toc_check()) return false;
            return add_entries(value);
        case 'm':
            return switch_kind(kMenus);
        case 't':
            if (request_->table_of_contents) {
                emit("ERR:  TOC cannot have titles\n");
                return false;
            }
            return switch_kind(kTitles);
        case 'T':
            if (seen_before) {
                emit("ERR:  TOC (-T) option must come first because I am a lazy programmer.\n");
                return false;
            }
            request_->table_of_contents = true;
            return true;
        case kFirstPlayOption:
            return set_first_play(value);
        case kJumppadOption:
            set_jumppad();
            return true;
        case 'o':
            output_directory_ = value;
            return true;
        case 'x':
            if (seen_before)
                emit("ERR:  Cannot specify XML config file after using command line options\n");
            else
                emit("ERR:  Configuration files are not supported; describe the disc with options\n");
            return false;
        case 'h':
            print_usage(stderr);
            return false;
        default:
            emit("ERR:  getopt returned bad code %d\n", code);
            return false;
    }
}

bool CommandLine::finish(int argc) {
    if (pending_source_ != nullptr) {
        emit("ERR:  Chapters defined without a file source.\n");
        return false;
    }
    close_pgc();
    PgcGroup* menu_group = groups_[kMenus];
    if (menu_group == nullptr)
        menu_group = pgc_group_create(request_->table_of_contents ? kGroupVmgm : kGroupVtsm);
    menu_group_add(request_->menus, "en", menu_group);
    request_->titles = groups_[kTitles];
    if (request_->titles == nullptr && !request_->table_of_contents)
        request_->titles = pgc_group_create(kGroupVts);

    std::string directory;
    if (output_directory_ != nullptr) {
        directory = output_directory_;
    } else if (auto setting = get_setting("WORKDIR")) {
        directory = *setting;
    } else {
        print_usage(stderr);
        return false;
    }
    if (optind != argc) {
        emit("ERR:  bad version of getopt; please precede all sources with '-f'\n");
        return false;
    }
    // An empty name would put the disc at the root of the file system.
    if (directory.empty()) {
        emit("ERR:  The output directory name is empty\n");
        return false;
    }
    if (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    request_->output_directory = directory;
    return true;
}

// Seconds as strtod reads them in the C locale: the application may run in a locale whose
// decimal mark is not '.'.
double read_seconds(const char* text, char** end) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c_locale != static_cast<locale_t>(0) ? strtod_l(text, end, c_locale) : std::strtod(text, end);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr open_palette(const char* name) {
    if (name[0] == '&' && std::isdigit(static_cast<unsigned char>(name[1])))
        return FilePtr(fdopen(std::atoi(name + 1), "rb"));
    return FilePtr(std::fopen(name, "rb"));
}

bool ends_with(const char* text, const char* suffix) {
    const size_t length = std::strlen(text), suffix_length = std::strlen(suffix);
    return length >= suffix_length && std::strcmp(text + length - suffix_length, suffix) == 0;
}

}  // namespace

ParseResult parse_command_line(int argc, char** argv, RunRequest* request) {
    CommandLine line(request);
    for (;;) {
        const int code = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
        if (code == -1) break;
        if (!line.handle(code, optarg)) return kParseFailed;
    }
    return line.finish(argc) ? kParseBuild : kParseFailed;
}

double parse_chapter_time(const char* text) {
    double total = 0, field = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (std::strchr(p, ':') == nullptr) {
            char* end = nullptr;
            const double seconds = read_seconds(p, &end);
            // "inf" and "nan" are numbers to strtod but no times.
            if (end == p || *end != '\0' || !std::isfinite(seconds)) break;
            return total * 60 + seconds;
        }
        if (std::isdigit(static_cast<unsigned char>(*p))) {
            field = field * 10 + (*p - '0');
        } else if (*p == ':') {
            total = total * 60 + field;
            field = 0;
        } else {
            break;
        }
        if (p[1] == '\0') return total * 60;  // the text ended right after a ':'
    }
    if (*text == '\0') return 0;
    fatal("ERR:  Cannot parse chapter timestamp '%s'\n", text);
}

void parse_chapter_list(char* text, int pause, PgcSource* source) {
    double last = 0.0;
    int kind = kCellPlain;
    while (const char* piece = strsep(&text, kListDelimiters)) {
        const double t = parse_chapter_time(piece);
        if (t > last) {
            source_add_cell(source, last, t, kind, 0, nullptr);
            last = t;
            kind = kCellChapter;
        } else if (t == last) {
            kind = kCellChapter;
        }
    }
    source_add_cell(source, last, -1.0, kind, pause, nullptr);
}

uint32_t rgb_to_ycrcb(uint32_t rgb) {
    const int r = (rgb >> 16) & 0xff, g = (rgb >> 8) & 0xff, b = rgb & 0xff;
    const uint32_t y = (257 * r + 504 * g + 98 * b + 16500) / 1000;
    const uint32_t cr = (439 * r - 368 * g - 71 * b + 128500) / 1000;
    const uint32_t cb = (-148 * r - 291 * g + 439 * b + 128500) / 1000;
    return y << 16 | cr << 8 | cb;
}

void read_palette_file(const char* file_name, Pgc* pgc) {
    FilePtr file = open_palette(file_name);
    if (!file) fatal("ERR:  Cannot open palette file '%s'\n", file_name);
    const bool rgb = ends_with(file_name, ".rgb");
    for (int i = 0; i < kPaletteEntries; ++i) {
        unsigned value = 0;
        if (std::fscanf(file.get(), "%x", &value) != 1)
            fatal("ERR:  Palette file '%s' holds %d colours instead of %d\n", file_name, i,
                  kPaletteEntries);
        // A wider value would collide with the marker of an unset palette entry.
        if (value > 0xffffff)
            fatal("ERR:  Palette file '%s' has a colour wider than 6 digits: %x\n", file_name, value);
        pgc_set_palette_entry(pgc, i, rgb ? rgb_to_ycrcb(value) : value);
    }
}

void print_usage(std::FILE* stream) {
    std::fputs(
        "syntax: discforge [-o VTSBASE] [options] VOBFILE(s)\n"
        "\n"
        "\t-x XMLFILE where XMLFILE would be a configuration file describing the\n"
        "\t    structure of the DVD to create, needing no option but -o.  This\n"
        "\t    build reads no configuration files; describe the DVD with the\n"
        "\t    options below.\n"
        "\n"
        "\t--video=VOPTS or -v VOPTS where VOPTS is a plus (+) separated list of\n"
        "\t    video options.  Valid options are:\n"
        "\t\tpal, ntsc, 4:3, 16:9, 720xfull, 720x576, 720x480, 704xfull,\n"
        "\t\t704x576, 704x480, 352xfull, 352x576, 352x480, 352xhalf,\n"
        "\t\t352x288, 352x240, nopanscan, noletterbox.\n"
        "\t    Default is ntsc, 4:3, 720xfull\n"
        "\n"
        "\t--audio=AOPTS or -a AOPTS where AOPTS is a plus (+) separated list of\n"
        "\t    options for an audio track, with each track separated by a\n"
        "\t    comma (,).  Valid options are:\n"
        "\t\tac3, mp2, pcm, dts, 16bps, 20bps, 24bps, drc, surround, nolang,\n"
        "\t\t1ch, 2ch, 3ch, 4ch, 5ch, 6ch, 7ch, 8ch, and any two letter\n"
        "\t\tlanguage code.\n"
        "\n"
        "\t--subpictures=SOPTS or -s SOPTS where SOPTS is a plus (+) separated\n"
        "\t    list of options for a subpicture track, with each track separated\n"
        "\t    by a comma (,).  Valid options are any two letter language code.\n"
        "\t    Default is no subpicture tracks.\n"
        "\n"
        "\t--palette[=FILE] or -p FILE or -P where FILE specifies where to get\n"
        "\t    the subpicture palette.  Files ending in .rgb are taken as RGB,\n"
        "\t    all others as YUV; entries are 6 hexadecimal digits.\n"
        "\t    FILE defaults to xste-palette.dat\n"
        "\n"
        "\t--file=FILE or -f FILE or FILE where FILE is either a file, a pipe, or a\n"
        "\t    shell command ending in | which supplies an MPEG-2 program stream\n"
        "\t    with navigation sectors, such as the multiplexer writes in its\n"
        "\t    DVD format.\n"
        "\n"
        "\t--chapters[=COPTS] or -c COPTS or -C where COPTS is a comma (,)\n"
        "\t    separated list of chapter markers.  Each marker is of the form\n"
        "\t    [[h:]mm:]ss[.frac] and is relative to the start of the next file\n"
        "\t    listed; it applies to that file only.  Default is 0 (one chapter).\n"
        "\n"
        "\t--menu or -m creates menus.\n"
        "\n"
        "\t--title or -t creates titles.  This is the default.\n"
        "\n"
        "\t--toc or -T creates the table of contents file instead of a titleset.\n"
        "\t    This option must come first; no titles may be given with it.\n"
        "\n"
        "\t--entry=EOPTS or -e EOPTS makes the current menu an entry point.\n"
        "\t    For the table of contents the only entry is title; for titleset\n"
        "\t    menus the entries are root, ptt, audio, subtitle and angle.\n"
        "\n"
        "\t--button=DEST or -b DEST specifies what command to issue for each\n"
        "\t    button, optionally named as NAME=DEST.\n"
        "\n"
        "\t--instructions=post=COMMANDS or -i post=COMMANDS executes COMMANDS\n"
        "\t    at the end of the title (pre= runs them at its start).\n"
        "\n"
        "\t--fpc=COMMANDS or -F COMMANDS sets the commands of the first play\n"
        "\t    program chain of the table of contents.\n"
        "\n"
        "\t--jumppad or -j enables the creation of jumppads, which allow\n"
        "\t    greater flexibility in choosing jump targets.\n"
        "\n"
        "\t--help or -h displays this screen.\n",
        stream);
}

}  // namespace author
