// The engine's entry: repeated runs in one process, errors returned to the caller, and the
// job's two runs through the discforge command.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "author/authoring_main.h"
#include "author/model.h"
#include "front_test_support.h"
#include "platform/event.h"
#include "platform/progress.h"

using author::authoring_main;
using front_test::Args;
using front_test::TempDir;

namespace {

struct Outcome {
    int result;
    std::string messages;
};

Outcome run(Args args) {
    testing::internal::CaptureStderr();
    const int result = authoring_main(args.argc(), args.argv(), nullptr, nullptr);
    return {result, testing::internal::GetCapturedStderr()};
}

TEST(Entry, NoArgumentsAndHelp) {
    Outcome r = run(Args(std::vector<std::string>{}));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.messages, "discforge\nERR:  No arguments!\n");
    r = run({"discforge", "-h"});
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.messages.rfind("discforge\nsyntax: discforge [-o VTSBASE] [options] VOBFILE(s)\n\n", 0), 0u);
    EXPECT_NE(r.messages.find("--jumppad or -j"), std::string::npos);
}

TEST(Entry, AFatalErrorFailsTheRunAndTheNextRunStartsClean) {
    TempDir dir;
    // A jumppad and a pending chapter list are left behind by the failing run.
    Outcome r = run({"discforge", "--jumppad", "-c", "0,5:00", "-v", "pal+ntsc", "-o", dir.path()});
    EXPECT_EQ(r.result, 1);
    EXPECT_NE(r.messages.find("ERR:  Video option 'ntsc' overrides previous option\n"),
              std::string::npos);
    // A run that stops inside an option cluster must not leak the rest of it.
    r = run({"discforge", "-mTm", "-o", dir.path()});
    EXPECT_EQ(r.result, 1);
    EXPECT_NE(r.messages.find("TOC (-T) option must come first"), std::string::npos);

    // A leaked "m" would be read before -T and turn the run into a titleset run.
    r = run({"discforge", "-T", "-o", dir.path()});
    EXPECT_EQ(r.result, 1) << "no titleset to build a table of contents from";
    EXPECT_NE(r.messages.find("creating table of contents"), std::string::npos) << r.messages;
    EXPECT_EQ(author::engine().jumppad_enabled, 0);
    EXPECT_EQ(author::engine().chapter_mark_state, author::kChapterNextFileWhole);
}

// Makes a short PAL DVD program stream with ffmpeg.
std::string make_vob(const TempDir& dir, const char* name) {
    const std::string vob = dir.path() + "/" + name;
    const std::string make = "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=720x576:rate=25 "
                             "-f lavfi -i sine=sample_rate=48000 -t 2 -target pal-dvd -g 12 '" + vob + "'";
    EXPECT_EQ(std::system(make.c_str()), 0);
    return vob;
}

TEST(Entry, TheRunAfterAFatalErrorWorks) {
    TempDir dir;
    const std::string vob = make_vob(dir, "a.vob");
    const std::string out = dir.path() + "/DVD";
    Outcome r = run({"psmux", "-o", out, "-f", vob, "-i", "post=jump nowhere;"});
    EXPECT_EQ(r.result, 1);
    EXPECT_NE(r.messages.find("ERR:  Parser failed on code 'jump nowhere;'.\n"), std::string::npos)
        << r.messages;
    // Values that do not fit their instruction fields fail the run when the commands compile.
    const std::pair<const char*, const char*> too_large[] = {
        {"post=g1 = 65536;", "ERR:  Constant 65536 does not fit in 16 bits\n"},
        {"post=audio = 128;", "ERR:  Stream number 128 is too large (0 to 127)\n"},
        {"post=jump title 2;", "ERR:  Cannot jump to title #2, only 1 exist\n"},
        {"pre=if (g1 == 99999) exit;", "ERR:  Constant 99999 does not fit in 16 bits\n"},
    };
    for (const auto& [commands, message] : too_large) {
        r = run({"psmux", "-o", out, "-f", vob, "-i", commands});
        EXPECT_EQ(r.result, 1) << commands;
        EXPECT_NE(r.messages.find(std::string(message) + "ERR:  in VTS pgc 0, <"), std::string::npos)
            << r.messages;
    }
    r = run({"psmux", "-o", out, "-f", vob});
    EXPECT_EQ(r.result, 0) << r.messages;
    r = run({"psmux", "-T", "-o", out});
    EXPECT_EQ(r.result, 0) << r.messages;
    EXPECT_TRUE(std::filesystem::exists(out + "/VIDEO_TS/VIDEO_TS.IFO"));
}

// The files of a folder by name, with their sizes.
std::map<std::string, uintmax_t> folder_listing(const std::string& folder) {
    std::map<std::string, uintmax_t> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        files[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
    return files;
}

// A failed run leaves neither a VOB without its information file nor one cut short: what it
// wrote goes, and a disc already in the folder stays as it was.
TEST(Entry, AFailedRunTakesBackWhatItWrote) {
    TempDir dir;
    const std::string vob = make_vob(dir, "a.vob");
    const std::string out = dir.path() + "/DVD";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case titleset_cases[] = {
        {{"-o", out, "-f", vob, "-i", "post=jump title 2;"}, "ERR:  Cannot jump to title #2, only 1 exist\n"},
        {{"-o", out, "-f", vob, "-f", dir.path() + "/none.vob"}, "ERR:  Error opening " + dir.path() + "/none.vob"},
    };
    auto run_case = [](const Case& c) {
        std::vector<std::string> args{"discforge"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = run(Args(args));
        EXPECT_EQ(r.result, 1);
        EXPECT_NE(r.messages.find(c.message), std::string::npos) << r.messages;
    };
    for (const Case& c : titleset_cases) {
        run_case(c);
        EXPECT_FALSE(std::filesystem::exists(out)) << c.message;
    }

    ASSERT_EQ(run({"psmux", "-o", out, "-f", vob}).result, 0);
    ASSERT_EQ(run({"psmux", "-T", "-o", out}).result, 0);
    const std::map<std::string, uintmax_t> disc = folder_listing(out);
    const Case toc_case{{"-T", "-o", out, "-m", "-f", vob, "-b", "jump menu 5;"},
                        "ERR:  Cannot jump to menu PGC #5, only 1 exist\n"};
    for (const Case& c : titleset_cases) {
        run_case(c);
        EXPECT_EQ(folder_listing(out), disc) << c.message;
    }
    // A failed table of contents also takes away the manager of the earlier run: the titleset
    // stays, but the folder no longer passes for a disc.
    run_case(toc_case);
    std::map<std::string, uintmax_t> without_manager = disc;
    without_manager.erase(out + "/VIDEO_TS/VIDEO_TS.IFO");
    without_manager.erase(out + "/VIDEO_TS/VIDEO_TS.BUP");
    EXPECT_EQ(folder_listing(out), without_manager);
}

// The caller learns what each run wrote and left in place, so that it can take a disc away
// again without touching anything else in the folder; a failed run has taken its own away.
TEST(Entry, TheReportNamesWhatTheRunWrote) {
    TempDir dir;
    const std::string vob = make_vob(dir, "a.vob");
    const std::string out = dir.path() + "/DVD", video_ts = out + "/VIDEO_TS";
    const auto run_reporting = [](Args args) {
        author::RunReport report;
        testing::internal::CaptureStderr();
        authoring_main(args.argc(), args.argv(), nullptr, nullptr, &report);
        testing::internal::GetCapturedStderr();
        std::sort(report.written_files.begin(), report.written_files.end());
        return report;
    };
    const author::RunReport titleset = run_reporting({"psmux", "-o", out, "-f", vob});
    EXPECT_EQ(titleset.written_files, (std::vector<std::string>{video_ts + "/VTS_01_0.BUP",
                                                                video_ts + "/VTS_01_0.IFO",
                                                                video_ts + "/VTS_01_1.VOB"}));
    EXPECT_EQ(titleset.created_directories, (std::vector<std::string>{out, video_ts, out + "/AUDIO_TS"}));

    const author::RunReport toc = run_reporting({"psmux", "-T", "-o", out});
    EXPECT_EQ(toc.written_files,
              (std::vector<std::string>{video_ts + "/VIDEO_TS.BUP", video_ts + "/VIDEO_TS.IFO"}));
    EXPECT_EQ(toc.created_directories, std::vector<std::string>{});

    const author::RunReport failed =
        run_reporting({"psmux", "-o", dir.path() + "/other", "-f", vob, "-i", "post=jump title 2;"});
    EXPECT_EQ(failed.written_files, std::vector<std::string>{});
    EXPECT_EQ(failed.created_directories, std::vector<std::string>{});
}

TEST(Entry, AMissingInputFailsTheRun) {
    TempDir dir;
    Outcome r = run({"discforge", "-o", dir.path(), "-f", dir.path() + "/none.vob"});
    EXPECT_EQ(r.result, 1);
    EXPECT_NE(r.messages.find("ERR:  Error opening " + dir.path() + "/none.vob: No such file or directory"),
              std::string::npos)
        << r.messages;
}

// The job's road: a titleset from two VOBs, then the table of contents, through the command.
TEST(Entry, JobRunsThroughTheCommand) {
    TempDir dir;
    const std::string vob = make_vob(dir, "a.vob");
    const std::string bin = LUMIVANE_BIN_DIR "/discforge";
    const std::string out = dir.path() + "/DVD";
    const std::string quiet = " 2>/dev/null";
    EXPECT_EQ(std::system((bin + " -o '" + out + "' -f '" + vob + "' -f '" + vob + "'" + quiet).c_str()), 0);
    EXPECT_EQ(std::system((bin + " -T -o '" + out + "'" + quiet).c_str()), 0);
    for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_0.BUP", "VTS_01_1.VOB"})
        EXPECT_TRUE(std::filesystem::exists(out + "/VIDEO_TS/" + name)) << name;
    EXPECT_TRUE(std::filesystem::is_directory(out + "/AUDIO_TS"));
    EXPECT_EQ(WEXITSTATUS(std::system((bin + " -x p.xml" + quiet).c_str())), 1);

    // -h prints the usage text on standard error and fails.
    std::FILE* help = ::popen((bin + " -h 2>&1 >/dev/null").c_str(), "r");
    ASSERT_NE(help, nullptr);
    std::string usage;
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, help)) usage.append(buffer, n);
    EXPECT_EQ(WEXITSTATUS(::pclose(help)), 1);
    EXPECT_EQ(usage.rfind("discforge\nsyntax: discforge [-o VTSBASE] [options] VOBFILE(s)\n\n", 0), 0u) << usage;
    EXPECT_NE(usage.find("--help or -h"), std::string::npos);
}

TEST(Entry, CancelledRunReturnsToTheCaller) {
    TempDir dir;
    const std::string vob = dir.path() + "/a.vob";
    const std::string make = "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=720x480:rate=30000/1001 "
                             "-f lavfi -i sine=sample_rate=48000 -t 1 -target ntsc-dvd '" + vob + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    platform::RecordingProgressTarget progress;
    platform::ManualResetEvent cancel(true);
    Args args({"psmux", "-o", dir.path() + "/DVD", "-f", vob});
    testing::internal::CaptureStderr();
    const int result = authoring_main(args.argc(), args.argv(), &progress, &cancel);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(author::engine().progress, &progress);
    EXPECT_EQ(author::engine().cancel, &cancel);
    // A cancelled scan keeps nothing of the only input: the run reports that there is no title.
    EXPECT_EQ(result, 1) << messages;
}

}  // namespace
