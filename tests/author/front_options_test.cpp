// The command-line language: the model each command line builds, and its errors.
#include <gtest/gtest.h>

#include "author/diagnostics.h"
#include "author/model.h"
#include "author/options.h"
#include "core/getopt_reset.h"
#include "front_test_support.h"

#include <fcntl.h>

#include <array>
#include <clocale>
#include <optional>
#include <filesystem>

using namespace author;
using front_test::Args;
using front_test::ScopedEnv;
using front_test::TempDir;

namespace {

constexpr int32_t kToEnd = -89999;
constexpr int32_t kSecond = 90000;

// One command line read from a fresh engine context, as the entry does it.
struct Parsed {
    ParseResult result = kParseFailed;
    bool fatal = false;
    RunRequest request;
    std::string messages;
};

Parsed parse(Args args) {
    Parsed parsed;
    engine_reset(nullptr, nullptr);
    core::getopt_reset_full(args.argc(), args.argv(), "-");
    testing::internal::CaptureStderr();
    try {
        parsed.result = parse_command_line(args.argc(), args.argv(), &parsed.request);
    } catch (const FatalError&) {
        parsed.fatal = true;
    }
    parsed.messages = testing::internal::GetCapturedStderr();
    return parsed;
}

void expect_cell(const Cell& cell, int32_t start, int32_t end, int kind) {
    EXPECT_EQ(cell.start, start);
    EXPECT_EQ(cell.end, end);
    EXPECT_EQ(cell.kind, kind);
    EXPECT_EQ(cell.pause, 0);
}

TEST(Options, JobTitlesetRun) {
    Parsed p = parse({"psmux", "-o", "D", "-f", "A.vob", "-f", "B.vob"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    const RunRequest& r = p.request;
    EXPECT_FALSE(r.table_of_contents);
    EXPECT_EQ(r.output_directory, "D");
    EXPECT_EQ(r.first_play, nullptr);
    ASSERT_NE(r.titles, nullptr);
    EXPECT_EQ(r.titles->type, kGroupVts);
    ASSERT_NE(r.titles->vob_group, nullptr);
    ASSERT_EQ(r.titles->pgcs.size(), 1u);
    const Pgc* pgc = r.titles->pgcs[0];
    ASSERT_EQ(pgc->sources.size(), 2u);
    EXPECT_EQ(pgc->sources[0]->file_name, "A.vob");
    EXPECT_EQ(pgc->sources[1]->file_name, "B.vob");
    for (const PgcSource* source : pgc->sources) {
        ASSERT_EQ(source->cells.size(), 1u);
        expect_cell(source->cells[0], 0, kToEnd, kCellChapter);
    }
    EXPECT_TRUE(pgc->buttons.empty());
    EXPECT_EQ(pgc->entry_mask, 0);
    EXPECT_FALSE(pgc->palette);
    EXPECT_FALSE(pgc->pre_commands);
    EXPECT_FALSE(pgc->post_commands);
    ASSERT_NE(r.menus, nullptr);
    ASSERT_EQ(r.menus->languages.size(), 1u);
    EXPECT_EQ(std::string(r.menus->languages[0].language, 2), "en");
    EXPECT_EQ(r.menus->languages[0].group->type, kGroupVtsm);
    EXPECT_TRUE(r.menus->languages[0].group->pgcs.empty());
}

TEST(Options, JobTableOfContentsRun) {
    Parsed p = parse({"psmux", "-T", "-o", "D"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    EXPECT_TRUE(p.request.table_of_contents);
    EXPECT_EQ(p.request.titles, nullptr);
    EXPECT_EQ(p.request.first_play, nullptr);
    ASSERT_EQ(p.request.menus->languages.size(), 1u);
    EXPECT_EQ(p.request.menus->languages[0].group->type, kGroupVmgm);
    EXPECT_TRUE(p.request.menus->languages[0].group->pgcs.empty());
}

TEST(Options, TableOfContentsMenuWithFirstPlay) {
    Parsed p = parse({"x", "-T", "-m", "-f", "menu.vob", "--fpc=jump vmgm menu 1;", "-o", "out"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    const PgcGroup* menus = p.request.menus->languages[0].group;
    EXPECT_EQ(menus->type, kGroupVmgm);
    ASSERT_EQ(menus->pgcs.size(), 1u);
    EXPECT_EQ(menus->pgcs[0]->sources[0]->file_name, "menu.vob");
    ASSERT_NE(p.request.first_play, nullptr);
    EXPECT_TRUE(p.request.first_play->pre_commands);
}

TEST(Options, OptionErrorsReturnFailure) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"-T", "-f", "x.vob", "-o", "o"}, "ERR:  TOC cannot have titles\n"},
        {{"-T", "-t", "-o", "o"}, "ERR:  TOC cannot have titles\n"},
        {{"-T", "-v", "pal", "-o", "o"}, "ERR:  TOC cannot have titles\n"},
        {{"-v", "pal", "-T", "-o", "o"}, "ERR:  TOC (-T) option must come first because I am a lazy programmer.\n"},
        {{"-mT", "-o", "o"}, "ERR:  TOC (-T) option must come first because I am a lazy programmer.\n"},
        {{"-c", "1:30", "-c", "2:00", "-f", "a.vob", "-o", "o"}, "ERR:  cannot list -c twice for one file.\n"},
        {{"-c", "1:30", "-o", "o"}, "ERR:  Chapters defined without a file source.\n"},
        {{"-o", "out", "--", "a.vob"}, "ERR:  bad version of getopt; please precede all sources with '-f'\n"},
        {{"-e", "root", "-o", "o"}, "ERR:  Cannot specify an entry for a title.\n"},
        {{"--fpc=jump title 1;", "-o", "o"}, "ERR:  You may only specify FPC commands on the VMGM\n"},
        {{"-T", "--fpc=jump title 1;", "--fpc=jump title 1;", "-o", "o"}, "ERR:  FPC commands already specified\n"},
        {{"-v", "pal", "-x", "project.xml"}, "ERR:  Cannot specify XML config file after using command line options\n"},
        {{"-x", "project.xml"}, "ERR:  Configuration files are not supported; describe the disc with options\n"},
        {{"-o"}, "ERR:  getopt returned bad code 63\n"},
        {{"--nosuch", "-o", "o"}, "ERR:  getopt returned bad code 63\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"discforge"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Parsed p = parse(Args(args));
        SCOPED_TRACE(args[1]);
        EXPECT_EQ(p.result, kParseFailed);
        EXPECT_FALSE(p.fatal);
        EXPECT_NE(p.messages.find(c.message), std::string::npos) << p.messages;
    }
}

TEST(Options, OutputDirectoryAndJumppadDoNotCountAsOptions) {
    EXPECT_EQ(parse({"x", "-o", "out", "-T"}).result, kParseBuild);
    for (const char* jumppad : {"--jumppad", "-j"}) {
        Parsed p = parse({"x", jumppad, "-T", "-o", "out"});
        EXPECT_EQ(p.result, kParseBuild) << jumppad << p.messages;
        EXPECT_EQ(engine().jumppad_enabled, 1) << jumppad;
    }
}

// The usage text offers -F and -j beside --fpc and --jumppad.
TEST(Options, ShortFormsOfFirstPlayAndJumppad) {
    Parsed p = parse({"x", "-jT", "-F", "jump title 1;", "-o", "out"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    EXPECT_EQ(engine().jumppad_enabled, 1);
    ASSERT_NE(p.request.first_play, nullptr);
    EXPECT_TRUE(p.request.first_play->pre_commands);
    p = parse({"x", "-F", "jump title 1;", "-o", "out"});
    EXPECT_EQ(p.result, kParseFailed);
    EXPECT_NE(p.messages.find("ERR:  You may only specify FPC commands on the VMGM\n"), std::string::npos);
}

TEST(Options, FatalOptionErrors) {
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"-v", "pal+ntsc"}, "ERR:  Video option 'ntsc' overrides previous option\n"},
        {{"-v", "bogus"}, "ERR:  Cannot parse video option 'bogus'\n"},
        {{"-a", "ac3,mp2+dts"}, "ERR:  Audio option 'dts' on track 1 overrides previous option\n"},
        {{"-s", "en+fr"}, "ERR:  Subpicture option 'fr' on track 0 overrides previous option\n"},
        {{"-a", "1,2,3,4,5,6,7,8,9ch"}, "ERR:  Cannot parse audio option '1'\n"},
        {{"-a", ",,,,,,,,mp2"}, "ERR:  Audio track 9 is beyond the limit of 8 tracks\n"},
        {{"-s", std::string(32, ',') + "en"}, "ERR:  Subpicture track 33 is beyond the limit of 32 tracks\n"},
        {{"-i", "middle=jump title 1;"}, "Unknown instruction block: middle\n"},
        {{"-i", "post"}, "ERR:  Parser failed on code ''.\n"},
        {{"-c", "1:3a", "-f", "a.vob"}, "ERR:  Cannot parse chapter timestamp '1:3a'\n"},
        {{"-p", dir.path() + "/missing.yuv"}, "ERR:  Cannot open palette file '"},
        {{"-m", "-e", "root, ptt"}, "ERR:  Unknown entry ''\n"},
        {{"-h"}, "syntax: discforge [-o VTSBASE] [options] VOBFILE(s)\n\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"discforge"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"-o", "out"});
        Parsed p = parse(Args(args));
        SCOPED_TRACE(args[2]);
        EXPECT_TRUE(p.fatal || p.result == kParseFailed);
        EXPECT_NE(p.messages.find(c.message), std::string::npos) << p.messages;
    }
}

TEST(Options, ChapterMarksApplyToTheNextFile) {
    Parsed p = parse({"x", "-c", "0,10:00", "-f", "a.vob", "-f", "b.vob", "-t", "-f", "c.vob", "-o", "o"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    const auto& pgcs = p.request.titles->pgcs;
    ASSERT_EQ(pgcs.size(), 2u);
    ASSERT_EQ(pgcs[0]->sources.size(), 2u);
    const auto& a = pgcs[0]->sources[0]->cells;
    ASSERT_EQ(a.size(), 2u);
    expect_cell(a[0], 0, 600 * kSecond, kCellChapter);
    expect_cell(a[1], 600 * kSecond, kToEnd, kCellChapter);
    const auto& b = pgcs[0]->sources[1]->cells;
    ASSERT_EQ(b.size(), 1u);
    expect_cell(b[0], 0, kToEnd, kCellPlain);
    // -t starts a new program chain whose files are chapters again.
    ASSERT_EQ(pgcs[1]->sources.size(), 1u);
    expect_cell(pgcs[1]->sources[0]->cells[0], 0, kToEnd, kCellChapter);
}

TEST(Options, ChapterListShapes) {
    struct Case {
        const char* list;
        std::vector<std::array<int32_t, 3>> cells;  // start, end, kind
    };
    const Case cases[] = {
        {"0", {{0, kToEnd, kCellChapter}}},
        {"0,5:00", {{0, 300 * kSecond, kCellChapter}, {300 * kSecond, kToEnd, kCellChapter}}},
        {"5:00", {{0, 300 * kSecond, kCellPlain}, {300 * kSecond, kToEnd, kCellChapter}}},
        {"5:00,1:00", {{0, 300 * kSecond, kCellPlain}, {300 * kSecond, kToEnd, kCellChapter}}},
        {"0 30", {{0, 30 * kSecond, kCellChapter}, {30 * kSecond, kToEnd, kCellChapter}}},
        {"", {{0, kToEnd, kCellPlain}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        engine_reset(nullptr, nullptr);
        std::string text = c.list;
        PgcSource* source = source_create();
        parse_chapter_list(text.data(), 0, source);
        ASSERT_EQ(source->cells.size(), c.cells.size());
        for (size_t i = 0; i < c.cells.size(); ++i)
            expect_cell(source->cells[i], c.cells[i][0], c.cells[i][1], c.cells[i][2]);
    }
}

TEST(Options, ChapterTimes) {
    const std::pair<const char*, double> good[] = {
        {"90", 90}, {"1:30", 90}, {"1:00:00.5", 3600.5}, {"1:", 60}, {"", 0}, {"2.25", 2.25},
        {"1:1:1:1", 219661},
        // The seconds field is whatever strtod reads, as long as it reads all of it.
        {"1e3", 1000}, {"0x10", 16}, {"1:-3", 57}, {"1:+3", 63},
    };
    for (const auto& [text, seconds] : good) EXPECT_DOUBLE_EQ(parse_chapter_time(text), seconds) << text;
    testing::internal::CaptureStderr();
    for (const char* bad : {"1:3a", "x", "inf", "1:nan", "1;30", "1.5.2", "1: "})
        EXPECT_THROW(parse_chapter_time(bad), FatalError) << bad;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ERR:  Cannot parse chapter timestamp 'x'\n"),
              std::string::npos);
}

TEST(Options, ChapterTimesDoNotFollowTheApplicationsLocale) {
    // A locale whose decimal mark is a comma: an installed one, or one compiled for the test.
    TempDir locales;
    std::optional<ScopedEnv> locale_path;
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        const std::string make = "localedef -i de_DE -f UTF-8 '" + locales.path() + "/de_DE.UTF-8' 2>/dev/null";
        if (std::system(make.c_str()) != 0) GTEST_SKIP() << "no locale with a decimal comma";
        locale_path.emplace("LOCPATH", locales.path().c_str());
        ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
    }
    ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");
    double seconds = 0;
    testing::internal::CaptureStderr();
    try {
        seconds = parse_chapter_time("1:02.5");
    } catch (const FatalError&) {
    }
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_DOUBLE_EQ(seconds, 62.5);
}

TEST(Options, LongChaptersTakeTheirValueOnlyWithEquals) {
    Parsed p = parse({"x", "--chapters", "0,5:00", "-f", "a.vob", "-o", "o"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    const auto& sources = p.request.titles->pgcs[0]->sources;
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0]->file_name, "0,5:00");
    ASSERT_EQ(sources[0]->cells.size(), 1u);
    expect_cell(sources[0]->cells[0], 0, kToEnd, kCellChapter);
    expect_cell(sources[1]->cells[0], 0, kToEnd, kCellPlain);

    p = parse({"x", "--chapters=0,5:00", "-f", "a.vob", "-o", "o"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    EXPECT_EQ(p.request.titles->pgcs[0]->sources[0]->cells.size(), 2u);
    EXPECT_EQ(p.request.titles->pgcs[0]->sources[0]->file_name, "a.vob");
}

TEST(Options, EntriesButtonsAndInstructions) {
    Parsed p = parse({"x", "-m", "-e", "root,ptt", "-b", "play=jump title 1;", "-b", "jump title 2;",
                      "-i", "post=jump title 1;", "-i", "pre=g1 = 2;", "-f", "menu.vob", "-o", "o"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    const PgcGroup* menus = p.request.menus->languages[0].group;
    EXPECT_EQ(menus->type, kGroupVtsm);
    ASSERT_EQ(menus->pgcs.size(), 1u);
    const Pgc* pgc = menus->pgcs[0];
    EXPECT_EQ(pgc->entry_mask, 0x88);
    ASSERT_EQ(pgc->buttons.size(), 2u);
    EXPECT_EQ(pgc->buttons[0].name, "play");
    EXPECT_EQ(pgc->buttons[1].name, "2");
    EXPECT_TRUE(pgc->pre_commands);
    EXPECT_TRUE(pgc->post_commands);
    // No titles were given: the titleset still gets an empty titles group.
    ASSERT_NE(p.request.titles, nullptr);
    EXPECT_TRUE(p.request.titles->pgcs.empty());
}

TEST(Options, AudioTracksCountEmptyPieces) {
    Parsed p = parse({"x", "-a", "ac3+EN, mp2", "-s", "fr", "-v", "pal+16:9+720x576", "-o", "o"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    const VobGroup* g = p.request.titles->vob_group;
    EXPECT_EQ(g->audio_track_count, 3);
    EXPECT_EQ(g->audio[0].format, 1);
    EXPECT_EQ(std::string(g->audio[0].language, 2), "en");
    EXPECT_EQ(g->audio[1].format, 0);
    EXPECT_EQ(g->audio[2].format, 2);
    EXPECT_EQ(g->subpicture_track_count, 1);
    EXPECT_EQ(std::string(g->subpicture[0].language, 2), "fr");
    EXPECT_EQ(g->video.tv_standard, 2);
    EXPECT_EQ(g->video.aspect, 2);
    EXPECT_EQ(g->video.resolution, 1);
}

TEST(Options, MenuStreamOptionsReachTheMenusStreams) {
    Parsed p = parse({"x", "-T", "-m", "-v", "ntsc", "-a", "mp2", "-o", "o"});
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    EXPECT_EQ(p.request.menus->vob_group->video.tv_standard, 1);
    EXPECT_EQ(p.request.menus->vob_group->audio[0].format, 2);
}

TEST(Options, PaletteFiles) {
    TempDir dir;
    std::string values;
    for (int i = 0; i < 16; ++i) values += i == 0 ? "ffffff\n" : "000000\n";
    const std::string rgb = dir.file("pal.rgb", values);
    const std::string upper = dir.file("pal.RGB", values);
    const std::string yuv = dir.file("pal.yuv", "108080 ffffff\n1 2 3 4 5 6 7 8 9 a b c d e\n");
    const std::string short_file = dir.file("short.yuv", "108080\n");

    Parsed p = parse(Args({"x", "-p", rgb, "-f", "a.vob", "-o", "o"}));
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    const Palette& from_rgb = *p.request.titles->pgcs[0]->palette;
    EXPECT_EQ(from_rgb[0], 0x00eb8080u);
    EXPECT_EQ(from_rgb[1], 0x00108080u);

    p = parse(Args({"x", "-p", upper, "-o", "o"}));
    EXPECT_EQ((*p.request.titles->pgcs[0]->palette)[0], 0x00ffffffu);  // read as YUV

    p = parse(Args({"x", "--palette=" + yuv, "-o", "o"}));
    const Palette& from_yuv = *p.request.titles->pgcs[0]->palette;
    EXPECT_EQ(from_yuv[0], 0x108080u);
    EXPECT_EQ(from_yuv[1], 0xffffffu);
    EXPECT_EQ(from_yuv[15], 0xeu);

    p = parse(Args({"x", "-p", short_file, "-o", "o"}));
    EXPECT_TRUE(p.fatal);
    EXPECT_NE(p.messages.find("holds 1 colours instead of 16"), std::string::npos) << p.messages;

    const std::string wide = dir.file("wide.yuv", "1000000 " + values);
    p = parse(Args({"x", "-p", wide, "-o", "o"}));
    EXPECT_TRUE(p.fatal);
    EXPECT_NE(p.messages.find("has a colour wider than 6 digits: 1000000"), std::string::npos) << p.messages;
}

// The parts of a built model that the options set, as one line of text.
std::string describe(const Parsed& p) {
    if (p.fatal || p.result != kParseBuild) return "failed";
    const RunRequest& r = p.request;
    std::string text = r.table_of_contents ? "toc" : "titleset";
    auto describe_pgcs = [&text](const char* name, const PgcGroup* group) {
        if (group == nullptr) return;
        text += std::string(" ") + name + std::to_string(group->type) + "[";
        for (const Pgc* pgc : group->pgcs) {
            text += "(";
            for (const PgcSource* source : pgc->sources) {
                text += source->file_name + ":";
                for (const Cell& cell : source->cells)
                    text += std::to_string(cell.start) + "-" + std::to_string(cell.end) + "k" +
                            std::to_string(cell.kind) + ",";
            }
            for (const PgcButton& button : pgc->buttons) text += " b:" + button.name;
            text += " e" + std::to_string(pgc->entry_mask);
            if (pgc->pre_commands) text += " pre";
            if (pgc->post_commands) text += " post";
            if (pgc->palette) text += " pal" + std::to_string((*pgc->palette)[0]);
            text += ")";
        }
        text += "]";
    };
    auto describe_streams = [&text](const VobGroup* g) {
        if (g == nullptr) return;
        text += " v" + std::to_string(g->video.tv_standard) + std::to_string(g->video.aspect) +
                std::to_string(g->video.resolution) + " a";
        for (int t = 0; t < g->audio_track_count; ++t) text += std::to_string(g->audio[t].format);
        text += " s" + std::to_string(g->subpicture_track_count);
    };
    describe_pgcs("menus", r.menus->languages.at(0).group);
    describe_streams(r.menus->vob_group);
    describe_pgcs("titles", r.titles);
    if (r.titles != nullptr) describe_streams(r.titles->vob_group);
    if (r.first_play != nullptr) text += " fpc";
    return text + " o=" + r.output_directory;
}

TEST(Options, LongOptionsAndPrefixesActAsTheirShortForms) {
    TempDir dir;
    std::string values;
    for (int i = 0; i < 16; ++i) values += "123456\n";
    const std::string palette = dir.file("p.yuv", values);
    struct Case {
        std::vector<std::string> long_form, short_form;
    };
    const Case cases[] = {
        {{"--video=pal+16:9", "--audio=ac3,mp2", "--subpictures=en,fr", "-f", "a.vob"},
         {"-v", "pal+16:9", "-a", "ac3,mp2", "-s", "en,fr", "-f", "a.vob"}},
        {{"--vid=pal", "--au", "ac3", "--sub=en"}, {"-v", "pal", "-a", "ac3", "-s", "en"}},
        {{"--file=a.vob", "--file", "b.vob"}, {"-f", "a.vob", "-f", "b.vob"}},
        {{"--chapters=0,1:00", "--fi=a.vob"}, {"-c", "0,1:00", "-f", "a.vob"}},
        {{"--chapters", "-f", "a.vob", "-f", "b.vob"}, {"-C", "-f", "a.vob", "-f", "b.vob"}},
        {{"--menu", "--entry=root,ptt", "--button=play=jump title 1;", "--instructions=pre=g1 = 1;",
          "--title", "--instr", "post=exit;", "a.vob"},
         {"-m", "-e", "root,ptt", "-b", "play=jump title 1;", "-i", "pre=g1 = 1;", "-t", "-i",
          "post=exit;", "a.vob"}},
        {{"--palette=" + palette, "--butt", "jump title 1;"}, {"-p", palette, "-b", "jump title 1;"}},
        {{"--toc", "--me", "--fpc=jump title 1;", "menu.vob"}, {"-T", "-m", "--fp=jump title 1;", "menu.vob"}},
        {{"--jumppad", "--ti", "--tit", "a.vob"}, {"--jump", "-t", "-t", "a.vob"}},
        {{"--help"}, {"-h"}},
        {{"--he"}, {"-h"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> long_args{"discforge", "-o", "o"}, short_args{"discforge", "-o", "o"};
        long_args.insert(long_args.end(), c.long_form.begin(), c.long_form.end());
        short_args.insert(short_args.end(), c.short_form.begin(), c.short_form.end());
        SCOPED_TRACE(long_args[3]);
        const std::string expected = describe(parse(Args(short_args)));
        EXPECT_EQ(describe(parse(Args(long_args))), expected);
        if (c.short_form[0] != "-h") {
            EXPECT_NE(expected, "failed");
        }
    }
    // "--t" could be --title or --toc: the parser's complaint and an option error.
    Parsed ambiguous = parse({"x", "--t", "-o", "o"});
    EXPECT_EQ(ambiguous.result, kParseFailed);
    EXPECT_NE(ambiguous.messages.find("ERR:  getopt returned bad code 63\n"), std::string::npos);
}

TEST(Options, PaletteWithoutANameReadsTheDefaultFile) {
    TempDir dir;
    std::string values;
    for (int i = 0; i < 16; ++i) values += "abcdef\n";
    dir.file("xste-palette.dat", values);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    for (const char* option : {"-P", "--palette"}) {
        Parsed p = parse({"x", option, "-o", "o"});
        ASSERT_EQ(p.result, kParseBuild) << p.messages;
        EXPECT_EQ((*p.request.titles->pgcs[0]->palette)[0], 0xabcdefu) << option;
    }
    std::filesystem::current_path(before);
}

TEST(Options, PaletteFromDescriptor) {
    TempDir dir;
    std::string values;
    for (int i = 0; i < 16; ++i) values += "123456 ";
    const std::string path = dir.file("fd.yuv", values);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    Parsed p = parse(Args({"x", "-p", "&" + std::to_string(fd), "-o", "o"}));
    ASSERT_EQ(p.result, kParseBuild) << p.messages;
    EXPECT_EQ((*p.request.titles->pgcs[0]->palette)[15], 0x123456u);
}

TEST(Options, OutputDirectory) {
    const std::pair<const char*, const char*> cases[] = {
        {"out/", "out"}, {"out//", "out/"}, {"out\\", "out\\"}, {"/", "/"}};
    for (const auto& [given, expected] : cases) {
        Parsed p = parse({"x", "-o", given});
        ASSERT_EQ(p.result, kParseBuild) << p.messages;
        EXPECT_EQ(p.request.output_directory, expected);
    }
    // A later -o replaces an earlier one.
    EXPECT_EQ(parse({"x", "-o", "a", "-o", "b"}).request.output_directory, "b");
    Parsed empty = parse({"x", "-o", ""});
    EXPECT_EQ(empty.result, kParseFailed);
    EXPECT_NE(empty.messages.find("ERR:  The output directory name is empty\n"), std::string::npos);
}

TEST(Options, OutputDirectoryFromSettings) {
    TempDir home;
    home.file(".discforgerc", "WORKDIR=/tmp/dvd/\n");
    {
        ScopedEnv env("HOME", home.path().c_str());
        Parsed p = parse({"x", "-f", "a.vob"});
        ASSERT_EQ(p.result, kParseBuild) << p.messages;
        EXPECT_EQ(p.request.output_directory, "/tmp/dvd");
    }
    {
        home.file(".discforgerc", "WORKDIR=\n");
        ScopedEnv env("HOME", home.path().c_str());
        EXPECT_EQ(parse({"x", "-f", "a.vob"}).result, kParseFailed);
    }
    TempDir empty_home;
    ScopedEnv env("HOME", empty_home.path().c_str());
    Parsed p = parse({"x"});
    EXPECT_EQ(p.result, kParseFailed);
    EXPECT_EQ(p.messages.rfind("syntax: discforge [-o VTSBASE] [options] VOBFILE(s)\n", 0), 0u);
}

}  // namespace
