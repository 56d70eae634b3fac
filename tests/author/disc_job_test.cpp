// The encode job's two engine runs over VOBs that ffmpeg made, read back by libdvdread, lsdvd.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "author/disc_support.h"
#include "platform/event.h"
#include "platform/progress.h"

namespace author {
namespace {

using ::testing::HasSubstr;
using testing::TempDir;
namespace fs = std::filesystem;

constexpr double kClipSeconds = 6;

// The chapter lengths lsdvd reports, in order.
std::vector<double> lsdvd_chapter_lengths(const std::string& listing) {
    std::vector<double> lengths;
    const size_t chapters = listing.find("'chapter' :");
    const size_t cells = listing.find("'cell' :");
    if (chapters == std::string::npos) return lengths;
    const std::string part = listing.substr(chapters, cells == std::string::npos ? std::string::npos : cells - chapters);
    const std::regex length(R"('length' : ([0-9.]+))");
    for (std::sregex_iterator it(part.begin(), part.end(), length), end; it != end; ++it)
        lengths.push_back(std::stod((*it)[1]));
    return lengths;
}

struct Variant {
    const char* name;
    const char* options;
    bool pal;
    const char* audio_format;  // as lsdvd names it
    int channels;
    const char* aspect;
    // Set for clips that our own multiplexer makes from elementary streams: the audio file's
    // name and ffmpeg's options for it; `options` then encode the video alone.
    const char* audio_file = nullptr;
    const char* audio_options = nullptr;
};

void PrintTo(const Variant& variant, std::ostream* out) { *out << variant.name; }

class JobDisc : public ::testing::TestWithParam<Variant> {};

TEST_P(JobDisc, TitlesetAndTableOfContentsReadBackCleanly) {
    const Variant& variant = GetParam();
    TempDir work;
    std::vector<std::string> clips;
    for (const char* name : {"a.vob", "b.vob", "c.vob"})
        clips.push_back(variant.audio_file == nullptr
                            ? testing::make_clip(work.path(), name, kClipSeconds, variant.options)
                            : testing::make_muxed_clip(work.path(), name, kClipSeconds, variant.options,
                                                       std::string(name) + "-" + variant.audio_file,
                                                       variant.audio_options));
    const std::string dvd = work / "DVD";
    platform::RecordingProgressTarget progress;
    testing::author_job_disc(dvd, clips, &progress);
    EXPECT_FALSE(progress.Positions().empty());

    const testing::ExpectedDisc expected{3, kClipSeconds, variant.pal};
    testing::check_job_disc(dvd, expected);
    testing::check_job_disc_from_backups(dvd, expected);
    testing::check_files(dvd);

    const std::string listing = testing::run_lsdvd(dvd);
    EXPECT_THAT(listing, HasSubstr("'ix' : 1,"));
    EXPECT_THAT(listing, Not(HasSubstr("'ix' : 2,\n      'length'")));  // one title only
    EXPECT_THAT(listing, HasSubstr(variant.pal ? "'format' : 'PAL'" : "'format' : 'NTSC'"));
    EXPECT_THAT(listing, HasSubstr(std::string("'format' : '") + variant.audio_format + "'"));
    EXPECT_THAT(listing, HasSubstr("'frequency' : 48000"));
    EXPECT_THAT(listing, HasSubstr(std::string("'aspect' : '") + variant.aspect + "'"));
    EXPECT_THAT(listing, HasSubstr("'channels' : " + std::to_string(variant.channels)));
    const std::vector<double> lengths = lsdvd_chapter_lengths(listing);
    ASSERT_EQ(lengths.size(), 3u) << listing;
    for (double length : lengths) EXPECT_NEAR(length, kClipSeconds, testing::frame_tolerance(variant.pal));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, JobDisc,
    ::testing::Values(Variant{"PalMp2", "-target pal-dvd -g 12 -c:a mp2 -b:a 224k", true, "mpeg1", 2, "4/3"},
                      Variant{"PalAc3", "-target pal-dvd -g 12", true, "ac3", 1, "4/3"},
                      Variant{"NtscAc3Surround", "-target ntsc-dvd -g 15 -ac 6", false, "ac3", 6, "4/3"},
                      Variant{"Pal16By9", "-target pal-dvd -g 12 -aspect 16:9", true, "ac3", 1, "16/9"},
                      Variant{"PalMp2OwnMultiplexer", "-target pal-dvd -g 12", true, "mpeg1", 2, "4/3", "a.mp2",
                              "-c:a mp2 -b:a 224k -f mp2"},
                      Variant{"NtscAc3OwnMultiplexer", "-target ntsc-dvd -g 15 -aspect 16:9", false, "ac3", 2, "16/9",
                              "a.ac3", "-c:a ac3 -b:a 192k -ac 2 -f ac3"},
                      Variant{"PalLpcmOwnMultiplexer", "-target pal-dvd -g 12", true, "lpcm ", 2, "4/3", "a.wav",
                              "-c:a pcm_s16le -ac 2 -f wav"},
                      // DTS headers are not read: a DTS track takes the attribute defaults (6 channels).
                      Variant{"PalDtsOwnMultiplexer", "-target pal-dvd -g 12", true, "dts", 6, "4/3", "a.dts",
                              "-c:a dca -strict -2 -ac 2 -f dts"}),
    [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

TEST(JobDiscEdges, SecondTitlesetRunTakesTheNextNumber) {
    TempDir work;
    const std::string clip = testing::make_clip(work.path(), "a.vob", 2, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    ASSERT_EQ(testing::run_discforge({"-o", dvd, "-f", clip}), 0);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge({"-o", dvd, "-f", clip, "-f", clip}), 0);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("STAT: Picking VTS 02\n"));
    EXPECT_TRUE(fs::exists(dvd + "/VIDEO_TS/VTS_02_1.VOB"));
    ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd}), 0);
    const std::string listing = testing::run_lsdvd(dvd);
    EXPECT_THAT(listing, HasSubstr("'vts' : 2,"));
    testing::check_files(dvd);
    testing::check_reader_accepts(dvd, 2);
}

// Chapter marks inside the first clip, a plain cell for the second, and a second title: the
// cells tile every VOB and each title's chapters are its chapter cells.
TEST(JobDiscEdges, ChaptersInsideAClipAndASecondTitle) {
    TempDir work;
    std::vector<std::string> clips;
    for (const char* name : {"a.vob", "b.vob", "c.vob"})
        clips.push_back(testing::make_clip(work.path(), name, 6, "-target pal-dvd -g 12"));
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge({"-o", dvd, "-c", "0,2,4", "-f", clips[0], "-f", clips[1], "-t", "-f", clips[2]}), 0);
    ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd}), 0);
    ::testing::internal::GetCapturedStderr();
    testing::check_files(dvd);
    testing::check_reader_accepts(dvd, 1);
    testing::check_reader_accepts_backups(dvd, 1);

    dvd_reader_t* reader = DVDOpen(dvd.c_str());
    ASSERT_TRUE(reader);
    ifo_handle_t* vmg = ifoOpen(reader, 0);
    ifo_handle_t* vts = ifoOpen(reader, 1);
    ASSERT_TRUE(vmg && vts);
    ASSERT_EQ(vmg->tt_srpt->nr_of_srpts, 2);
    EXPECT_EQ(vmg->tt_srpt->title[0].nr_of_ptts, 3);
    EXPECT_EQ(vmg->tt_srpt->title[1].nr_of_ptts, 1);
    EXPECT_EQ(vmg->tt_srpt->title[1].vts_ttn, 2);
    ASSERT_EQ(vts->vts_ptt_srpt->nr_of_srpts, 2);
    for (int chapter = 0; chapter < 3; ++chapter) {
        EXPECT_EQ(vts->vts_ptt_srpt->title[0].ptt[chapter].pgcn, 1);
        EXPECT_EQ(vts->vts_ptt_srpt->title[0].ptt[chapter].pgn, chapter + 1);
    }
    EXPECT_EQ(vts->vts_ptt_srpt->title[1].ptt[0].pgcn, 2);
    const pgc_t& first = *vts->vts_pgcit->pgci_srp[0].pgc;
    EXPECT_EQ(first.nr_of_programs, 3);
    ASSERT_EQ(first.nr_of_cells, 4);  // three in the first clip, one in the second
    const uint8_t cell_numbers[] = {1, 2, 3, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(first.cell_position[i].vob_id_nr, i < 3 ? 1 : 2);
        EXPECT_EQ(first.cell_position[i].cell_nr, cell_numbers[i]);
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(first.cell_playback[i].still_time, i == 3 ? 255 : 0) << "each title holds its last picture";
    const pgc_t& second = *vts->vts_pgcit->pgci_srp[1].pgc;
    ASSERT_EQ(second.nr_of_cells, 1);
    EXPECT_EQ(second.cell_position[0].vob_id_nr, 3);
    EXPECT_EQ(second.cell_playback[0].first_sector, first.cell_playback[3].last_sector + 1);
    ifoClose(vts);
    ifoClose(vmg);
    DVDClose(reader);
}

// The three clips come from standard input, a command's output and an open descriptor.
TEST(JobDiscEdges, InputsFromStandardInputACommandAndADescriptor) {
    TempDir work;
    std::vector<std::string> clips;
    for (const char* name : {"a.vob", "b.vob", "c.vob"})
        clips.push_back(testing::make_clip(work.path(), name, 2, "-target pal-dvd -g 12"));
    const int saved_stdin = ::dup(STDIN_FILENO);
    const int from_a = ::open(clips[0].c_str(), O_RDONLY);
    const int from_c = ::open(clips[2].c_str(), O_RDONLY);
    ASSERT_TRUE(saved_stdin >= 0 && from_a >= 0 && from_c >= 0);
    ASSERT_EQ(::dup2(from_a, STDIN_FILENO), STDIN_FILENO);
    ::close(from_a);
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    const int titleset = testing::run_discforge(
        {"-o", dvd, "-f", "-", "-f", "cat '" + clips[1] + "'|", "-f", "&" + std::to_string(from_c)});
    ::testing::internal::GetCapturedStderr();
    ::dup2(saved_stdin, STDIN_FILENO);
    ::close(saved_stdin);
    std::clearerr(stdin);  // the engine read it to its end
    ASSERT_EQ(titleset, 0);
    ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd}), 0);
    testing::check_job_disc(dvd, {3, 2, true});
    testing::check_files(dvd);
}

// Menu VOBs an earlier run left (a table of contents with a menu, a titleset run that stopped
// before its information file) are not part of a disc without menus.
TEST(JobDiscEdges, MenuVobsOfEarlierRunsAreRemoved) {
    TempDir work;
    const std::string clip = testing::make_clip(work.path(), "a.vob", 1, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    fs::create_directories(dvd + "/VIDEO_TS");
    for (const char* stale : {"/VIDEO_TS/VIDEO_TS.VOB", "/VIDEO_TS/VTS_01_0.VOB"})
        testing::write_file(dvd + stale, std::vector<uint8_t>(4 * 2048, 0xEE));
    ::testing::internal::CaptureStderr();
    testing::author_job_disc(dvd, {clip});
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(dvd + "/VIDEO_TS/VTS_01_0.VOB"));
    testing::check_files(dvd);  // no VIDEO_TS.VOB either
    testing::check_job_disc(dvd, {1, 1, true});
}

// A VOB file of the disc given back as an input (re-running the table of contents over its own
// menu, a piece an interrupted run left) would be cut short as the run creates that file.
TEST(JobDiscEdges, InputsThatTheRunWouldOverwriteAreRefused) {
    TempDir work;
    const std::string clip = testing::make_clip(work.path(), "a.vob", 1, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge({"-o", dvd, "-f", clip}), 0);
    ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd, "-m", "-f", clip}), 0);
    ::testing::internal::GetCapturedStderr();
    const std::vector<uint8_t> clip_bytes = testing::read_file(clip);
    const std::string menu = dvd + "/VIDEO_TS/VIDEO_TS.VOB";
    const std::string left_title = dvd + "/VIDEO_TS/VTS_02_3.VOB";
    const std::string left_menu = dvd + "/VIDEO_TS/VTS_02_0.VOB";
    testing::write_file(left_title, clip_bytes);
    testing::write_file(left_menu, clip_bytes);
    struct Case { const char* what; std::vector<std::string> arguments; std::string input; };
    const Case cases[] = {
        {"own menu", {"-T", "-o", dvd, "-m", "-f", menu}, menu},
        {"title piece", {"-o", dvd, "-f", clip, "-f", left_title}, left_title},
        {"menu piece as a title", {"-o", dvd, "-f", left_menu}, left_menu},
        {"menu piece as a menu", {"-o", dvd, "-m", "-f", left_menu, "-t", "-f", clip}, left_menu},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> before = testing::read_file(c.input);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(testing::run_discforge(c.arguments), 1) << c.what;
        EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                    HasSubstr("ERR:  Input " + c.input + " is the file this run writes as"))
            << c.what;
        EXPECT_EQ(testing::read_file(c.input), before) << c.what;
    }
    EXPECT_FALSE(fs::exists(dvd + "/VIDEO_TS/VTS_02_0.IFO"));
}

// The reader checks above mean something only if libdvdread's complaints reach them.
TEST(JobDiscEdges, ReaderComplaintsFailTheChecks) {
    TempDir work;
    const std::string clip = testing::make_clip(work.path(), "a.vob", 1, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    testing::author_job_disc(dvd, {clip});
    ::testing::internal::GetCapturedStderr();
    std::vector<uint8_t> manager = testing::read_file(dvd + "/VIDEO_TS/VIDEO_TS.IFO");
    manager[0x10] = 1;  // a field that must stay zero
    testing::write_file(dvd + "/VIDEO_TS/VIDEO_TS.IFO", manager);
    EXPECT_NONFATAL_FAILURE(testing::check_reader_accepts(dvd, 1), "Zero check failed");
}

TEST(JobDiscEdges, InputWithoutNavigationPacksFailsTheRun) {
    TempDir work;
    const std::string first = testing::make_clip(work.path(), "a.vob", 2, "-target pal-dvd -g 12");
    const std::string last = testing::make_clip(work.path(), "b.vob", 2, "-target pal-dvd -g 12");
    // An MPEG-2 program stream that carries no DVD navigation sectors.
    const std::string plain = testing::make_clip(work.path(), "plain.vob", 2, "-f vob -c:v mpeg2video -c:a mp2");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(testing::run_discforge({"-o", dvd, "-f", first, "-f", plain, "-f", last}), 1);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("ERR:  No VOB units in " + plain + ":"));
    EXPECT_FALSE(fs::exists(dvd)) << "the failed run leaves no folder behind";
}

// Two titles of one titleset, one with MPEG audio and one with AC-3, share one set of tracks:
// the run goes on and says which files disagree.
TEST(JobDiscEdges, TitlesWhoseSoundDiffersAreNamed) {
    TempDir work;
    const std::string mp2 = testing::make_clip(work.path(), "mp2.vob", 1, "-target pal-dvd -g 12 -c:a mp2 -b:a 192k");
    const std::string ac3 = testing::make_clip(work.path(), "ac3.vob", 1, "-target pal-dvd -g 12");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(testing::run_discforge({"-o", work / "DVD", "-f", mp2, "-t", "-f", ac3}), 0);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr("WARN: " + mp2 + " carries the audio streams mp2 1, but " + ac3 + " carries ac3 1;"));
}

// What the information files cannot describe stops the run before they are written.
TEST(JobDiscEdges, LimitsAreErrorsBeforeTheInformationFilesAreWritten) {
    TempDir work;
    const std::string clip = testing::make_clip(work.path(), "a.vob", 1, "-target pal-dvd -g 12");
    const std::string long_clip = work / "long.vob";
    const std::string loop = "ffmpeg -nostdin -v error -y -stream_loop 99 -i '" + clip + "' -c copy -f dvd '" + long_clip + "'";
    ASSERT_EQ(std::system(loop.c_str()), 0);

    struct Case { const char* what; std::vector<std::string> arguments; const char* message; };
    std::vector<Case> cases;
    // One input named 100 times is scanned once and gives 100 chapters.
    cases.push_back({"chapters", {}, "ERR:  Title 1 has too many chapters (100, 99 allowed)"});
    for (int i = 0; i < 100; ++i) cases.back().arguments.insert(cases.back().arguments.end(), {"-f", clip});
    // 255 plain cells of 100 s each play longer than a 32-bit 90 kHz count can hold.
    cases.push_back({"length", {"-c", "0"}, "plays longer than the 90 kHz clock can count"});
    for (int i = 0; i < 255; ++i) cases.back().arguments.insert(cases.back().arguments.end(), {"-f", long_clip});

    for (Case& c : cases) {
        const std::string dvd = work / (std::string("DVD-") + c.what);
        c.arguments.insert(c.arguments.begin(), {"-o", dvd});
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(testing::run_discforge(c.arguments), 1) << c.what;
        EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr(c.message)) << c.what;
        EXPECT_FALSE(fs::exists(dvd + "/VIDEO_TS/VTS_01_0.IFO")) << c.what;
    }
}

// Sets the cancel event once the scan has reported progress a few times.
class CancellingProgress : public platform::ProgressTarget {
public:
    CancellingProgress(platform::ManualResetEvent& cancel, int after) : cancel_(cancel), after_(after) {}
    void Post(unsigned, uintptr_t, intptr_t) override {
        if (++messages_ == after_) cancel_.Set();
    }

private:
    platform::ManualResetEvent& cancel_;
    int after_;
    int messages_ = 0;
};

TEST(JobDiscEdges, CancelDuringTheScanLeavesAShorterConsistentDisc) {
    TempDir work;
    std::vector<std::string> clips;
    for (const char* name : {"a.vob", "b.vob", "c.vob"})
        clips.push_back(testing::make_clip(work.path(), name, kClipSeconds, "-target pal-dvd -g 12"));
    const std::string dvd = work / "DVD";
    platform::ManualResetEvent cancel;
    CancellingProgress progress(cancel, 4);  // part-way through the second clip
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge({"-o", dvd, "-f", clips[0], "-f", clips[1], "-f", clips[2]}, &progress, &cancel), 0);
    ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd}), 0);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("WARN: No VOB units in " + clips[2]));
    testing::check_job_disc(dvd, {2, 0, true});
    testing::check_files(dvd);
}

TEST(JobDiscEdges, CancelBeforeAnyUnitIsAnErrorNotAnEmptyDisc) {
    TempDir work;
    const std::string clip = testing::make_clip(work.path(), "a.vob", 2, "-target pal-dvd -g 12");
    platform::ManualResetEvent cancel(true);
    platform::RecordingProgressTarget progress;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(testing::run_discforge({"-o", work / "DVD", "-f", clip}, &progress, &cancel), 1);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("ERR:  no titles defined"));
    EXPECT_FALSE(fs::exists(work / "DVD/VIDEO_TS/VTS_01_0.IFO"));
}

}  // namespace
}  // namespace author

namespace author {
namespace {

// Over a gigabyte of input: the title is cut into pieces of exactly 524,272 sectors. Runs under
// the "slow" label (tests/author/CMakeLists.txt), where LUMIVANE_SLOW_TESTS is set.
TEST(JobDiscSlow, InputOverOneGigabyteContinuesInASecondPiece) {
    if (std::getenv("LUMIVANE_SLOW_TESTS") == nullptr) GTEST_SKIP() << "set LUMIVANE_SLOW_TESTS=1";
    TempDir work;
    const std::string source = testing::make_clip(work.path(), "source.vob", 10, "-target pal-dvd -g 12");
    const std::string big = work / "big.vob";
    const std::string loop = "ffmpeg -nostdin -v error -y -stream_loop 620 -i '" + source + "' -c copy -f dvd '" + big + "'";
    ASSERT_EQ(std::system(loop.c_str()), 0);
    ASSERT_GT(fs::file_size(big), 1100000000u);
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    testing::author_job_disc(dvd, {big});
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(fs::file_size(dvd + "/VIDEO_TS/VTS_01_1.VOB"), 1073709056u);
    ASSERT_TRUE(fs::exists(dvd + "/VIDEO_TS/VTS_01_2.VOB"));
    EXPECT_FALSE(fs::exists(dvd + "/VIDEO_TS/VTS_01_3.VOB"));
    fs::remove(big);
    testing::check_job_disc(dvd, {1, 0, true});
    testing::check_job_disc_from_backups(dvd, {1, 0, true});
    testing::check_files(dvd);
    const std::string listing = testing::run_lsdvd(dvd);
    EXPECT_THAT(listing, HasSubstr("'format' : 'PAL'"));
    const std::vector<double> lengths = lsdvd_chapter_lengths(listing);
    ASSERT_EQ(lengths.size(), 1u) << listing;
    EXPECT_NEAR(lengths[0], 621 * 10, 1);  // the source played 621 times
}

}  // namespace
}  // namespace author
