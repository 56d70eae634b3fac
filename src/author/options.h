// The authoring engine's command-line language: options that build the title and menu model.
#pragma once

#include <cstdio>
#include <string>

#include "author/model.h"

namespace author {

// What a parsed command line asks the generation drivers for.
struct RunRequest {
    bool table_of_contents = false;
    Pgc* first_play = nullptr;    // table of contents only
    MenuGroup* menus = nullptr;   // always one language, "en"
    PgcGroup* titles = nullptr;   // titleset only
    std::string output_directory;  // without a trailing '/'
};

// The short options, in getopt's terms: a leading '-' hands bare arguments over in order.
constexpr const char* kShortOptions = "-f:o:v:a:s:hc:Cp:Pmtb:Ti:e:x:F:j";

enum ParseResult { kParseBuild = 0, kParseFailed = 1 };

// Parses argv[1..argc-1] (argv[0] is the program name) into the engine context's model. Option
// errors print their message and give kParseFailed; errors of the model raise FatalError.
ParseResult parse_command_line(int argc, char** argv, RunRequest* request);

// "[[h:]mm:]ss[.frac]" in seconds; a bad text is a fatal error.
double parse_chapter_time(const char* text);
// Adds the cells of a chapter list ("," or " " separated marks) to the source; cuts the text.
void parse_chapter_list(char* text, int pause, PgcSource* source);
// Reads 16 palette values (RGB for a name ending in ".rgb", else YUV) into the Pgc's palette.
void read_palette_file(const char* file_name, Pgc* pgc);
// Converts a 0xRRGGBB colour to the palette's 0x00YYCrCb.
uint32_t rgb_to_ycrcb(uint32_t rgb);

void print_usage(std::FILE* stream);

}  // namespace author
