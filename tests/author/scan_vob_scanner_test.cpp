// The VOB scanner over small generated program streams.

#include <random>

#include "author/vob_scanner.h"
#include "platform/event.h"
#include "platform/progress.h"
#include "scan_fixtures.h"

namespace author::scan_test {
namespace {

std::string scan_titles(TempDir& dir, VobGroup& group) {
    ::testing::internal::CaptureStderr();
    scan_vob_units(dir / "VTS_01", group, kScanTitles);
    return ::testing::internal::GetCapturedStderr();
}

// --- byte layouts --------------------------------------------------------------------------

TEST(ScanTimestamps, TransposeShiftsScrAndTimedPacketsOnly) {
    Sector video = pes_packet(90000, kVideoStream, 100000, {});
    transpose_timestamps(video.data(), -90000);
    EXPECT_EQ(read_scr(video.data()), 0);
    EXPECT_EQ(core::ReadTimestamp(video.data() + 23), 10000);

    Sector padding = pes_packet(90000, kPaddingStream, 100000, {});
    transpose_timestamps(padding.data(), -90000);
    EXPECT_EQ(read_scr(padding.data()), 0);
    EXPECT_EQ(core::ReadTimestamp(padding.data() + 23), 100000);  // not a timed stream: left alone
}

// The fields are 33 bits wide: a time before the clock's start wraps to just below 2^33, and a
// time more than 2^32 ticks after it keeps its top bit.
TEST(ScanTimestamps, TransposeWrapsAtThirtyThreeBits) {
    constexpr int64_t kBit32 = int64_t(1) << 32;
    Sector early = pes_packet(kBit32 + 90000, kVideoStream, kBit32 + 89999, {});
    transpose_timestamps(early.data(), -(kBit32 + 90000));
    EXPECT_EQ(read_scr(early.data()), 0);
    EXPECT_EQ(core::ReadTimestamp(early.data() + 23), core::kTimestampModulus - 1);

    Sector late = pes_packet(90000, kVideoStream, kBit32 + 90000 + 1000, {});
    transpose_timestamps(late.data(), -90000);
    EXPECT_EQ(core::ReadTimestamp(late.data() + 23), kBit32 + 1000);
}

TEST(ScanMpaHeader, AcceptsOnlyLayerTwoAt48kHz) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool expected;
    } cases[] = {
        {{0xFF, 0xFD, 0xC4, 0x04}, true},
        {{0xFF, 0xFC, 0x14, 0x00}, true},   // CRC, 32 kbit/s
        {{0xFF, 0xFD, 0xC0, 0x04}, false},  // 44.1 kHz
        {{0xFF, 0xFB, 0xC4, 0x04}, false},  // layer III
        {{0xFF, 0xF5, 0xC4, 0x04}, false},  // MPEG-2 LSF (ID bit clear)
        {{0xFF, 0xFD, 0x04, 0x04}, false},  // free format
        {{0xFF, 0xFD, 0xF4, 0x04}, false},  // bad bitrate
        {{0xFF, 0xFD, 0xC4, 0x06}, false},  // reserved emphasis
        {{0xFE, 0xFD, 0xC4, 0x04}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_mpa_header(c.bytes.data()), c.expected);
}

// --- sectors, VOB units and pieces ---------------------------------------------------------

TEST_F(ScanTest, DropsSectorsBeforeTheFirstNavPackAndStartsEachInputAtZero) {
    TempDir dir;
    StreamBuilder a;
    a.set_scr_base(5 * kSecond);
    a.add(pes_packet(a.next_scr(), kVideoStream, -1, {}));
    a.add(pes_packet(a.next_scr(), kVideoStream, -1, {}));
    const int64_t offset = a.next_scr();  // the first NAV pack's SCR
    a.vobu(offset + 1000).vobu(offset + 1000 + 12 * kPalFrame);
    a.write(dir / "a.vob");
    StreamBuilder b;
    b.set_scr_base(7 * kSecond);
    b.vobu(7 * kSecond + 500);
    b.write(dir / "b.vob");

    TitleGroup titles({dir / "a.vob", dir / "b.vob"});
    const std::string log = scan_titles(dir, *titles.group);

    size_t skipped = 0;
    for (size_t at = log.find("Skipping sector"); at != std::string::npos;
         at = log.find("Skipping sector", at + 1))
        ++skipped;
    EXPECT_EQ(skipped, 2u);

    const Vob& first = *titles.group->vobs[0];
    const Vob& second = *titles.group->vobs[1];
    EXPECT_EQ(first.vob_id, 1);
    EXPECT_EQ(second.vob_id, 2);
    ASSERT_EQ(first.vobus.size(), 2u);
    ASSERT_EQ(second.vobus.size(), 1u);
    EXPECT_EQ(first.vobus[0].sector, 0);
    EXPECT_EQ(first.vobus[0].last_sector, 3);
    EXPECT_EQ(first.vobus[1].sector, 4);
    EXPECT_EQ(second.vobus[0].sector, 8);  // follows the first input in the same piece
    EXPECT_EQ(second.vobus[0].piece, 1);
    EXPECT_EQ(second.vobus[0].piece_sector, 8);
    // Times: shifted by the first NAV pack's SCR, one GOP of 12 frames per VOB unit.
    EXPECT_EQ(first.vobus[0].pts[0], 1000);
    EXPECT_EQ(first.vobus[0].pts[1], 1000 + 12 * kPalFrame);
    EXPECT_EQ(first.vobus[1].pts[0], first.vobus[0].pts[1]);
    EXPECT_EQ(second.vobus[0].pts[0], 500);

    const std::vector<uint8_t> piece = read_file(dir / "VTS_01_1.VOB");
    ASSERT_EQ(piece.size(), 12u * kSectorSize);
    EXPECT_EQ(read_scr(piece.data()), 0);
    EXPECT_EQ(read_scr(piece.data() + 8 * kSectorSize), 0);  // second input starts at 0 too
    EXPECT_EQ(core::ReadTimestamp(piece.data() + kSectorSize + 23), 1000);
    EXPECT_EQ(first.vobus[0].nav_pack, sector_of(piece, 0));
}

// Pieces of an earlier run that stopped before its information file: the title holds exactly
// what this run wrote.
TEST_F(ScanTest, PiecesOfAnEarlierRunDoNotSurvive) {
    TempDir dir;
    for (const char* name : {"VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_9.VOB", "VTS_02_2.VOB"}) {
        std::ofstream old(dir / name, std::ios::binary);
        old << std::string(40 * kSectorSize, 'x');
    }
    StreamBuilder a;
    a.vobu(0);
    a.write(dir / "a.vob");
    TitleGroup titles({dir / "a.vob"});
    scan_titles(dir, *titles.group);
    EXPECT_EQ(std::filesystem::file_size(dir / "VTS_01_1.VOB"), 4u * kSectorSize);
    EXPECT_FALSE(std::filesystem::exists(dir / "VTS_01_2.VOB"));
    EXPECT_FALSE(std::filesystem::exists(dir / "VTS_01_9.VOB"));
    EXPECT_TRUE(std::filesystem::exists(dir / "VTS_02_2.VOB")) << "another titleset's piece";
}

TEST_F(ScanTest, MenuAndTableOfContentsPiecesAreNamedByKind) {
    TempDir dir;
    StreamBuilder a;
    a.vobu(0);
    a.write(dir / "a.vob");
    for (int kind : {kScanTitlesetMenus, kScanTocMenus}) {
        engine_reset(nullptr, nullptr);
        TitleGroup menus({dir / "a.vob"});
        const std::string base = kind == kScanTocMenus ? dir / "VIDEO_TS.VOB" : dir / "VTS_01";
        ::testing::internal::CaptureStderr();
        scan_vob_units(base, *menus.group, kind);
        ::testing::internal::GetCapturedStderr();
        const std::string piece = kind == kScanTocMenus ? base : base + "_0.VOB";
        EXPECT_EQ(std::filesystem::file_size(piece), 4u * kSectorSize) << piece;
        EXPECT_EQ(menus.group->vobs[0]->vobus[0].piece, kind == kScanTocMenus ? -1 : 0);
    }
}

TEST_F(ScanTest, ProgramEndCodeIsTakenIntoThePaddingBeforeIt) {
    TempDir dir;
    StreamBuilder a;
    a.vobu(0, 12, 0);
    Sector last = pes_packet(a.next_scr(), kVideoStream, -1, {}, 100);
    const int padding = 23 + 100;
    const int padding_length = static_cast<int>(get_u16(last.data() + padding + 4));
    // The multiplexer's final sector: padding shortened by four bytes, then the end code.
    put_u16(last.data() + padding + 4, static_cast<uint32_t>(padding_length - 4));
    const int end_code = padding + 6 + padding_length - 4;
    last[end_code] = 0, last[end_code + 1] = 0, last[end_code + 2] = 1, last[end_code + 3] = 0xB9;
    a.add(last);
    a.write(dir / "a.vob");

    TitleGroup titles({dir / "a.vob"});
    scan_titles(dir, *titles.group);
    const Sector out = sector_of(read_file(dir / "VTS_01_1.VOB"), 2);
    EXPECT_EQ(static_cast<int>(get_u16(out.data() + padding + 4)), padding_length);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + end_code, out.begin() + end_code + 4),
              std::vector<uint8_t>(4, 0));
}

TEST_F(ScanTest, UnwritablePieceIsAnErrorNamingTheFile) {
    TempDir dir;
    StreamBuilder a;
    a.vobu(0);
    a.write(dir / "a.vob");
    TitleGroup titles({dir / "a.vob"});
    expect_fatal([&] { scan_vob_units(dir / "missing/VTS_01", *titles.group, kScanTitles); },
                 "ERR:  Error opening " + (dir / "missing/VTS_01_1.VOB") +
                     ": No such file or directory");
}

TEST_F(ScanTest, ScrErrorsStopTheRun) {
    TempDir dir;
    StreamBuilder backwards;
    backwards.set_scr_base(kSecond);
    backwards.vobu(kSecond);
    backwards.add(nav_pack(10));
    backwards.write(dir / "backwards.vob");
    TitleGroup a({dir / "backwards.vob"});
    expect_fatal([&] { scan_vob_units(dir / "VTS_01", *a.group, kScanTitles); },
                 "ERR:  SCR moves backwards, remultiplex input.");

    // Past 2^31 ticks from the input's start the engine's 90 kHz times would wrap.
    StreamBuilder wrap;
    wrap.vobu(0);
    wrap.add(nav_pack(int64_t(1) << 31));
    wrap.write(dir / "wrap.vob");
    TitleGroup b({dir / "wrap.vob"});
    expect_fatal([&] { scan_vob_units(dir / "VTS_01", *b.group, kScanTitles); },
                 "90 kHz clock");

    // An MPEG-1 system stream's pack header has no room for the SCR the scanner reads.
    StreamBuilder system_stream;
    system_stream.vobu(0);
    Sector first = system_stream.sectors().front();
    first[4] = 0x21;
    StreamBuilder mpeg1;
    mpeg1.add(first);
    mpeg1.write(dir / "mpeg1.vob");
    TitleGroup c({dir / "mpeg1.vob"});
    expect_fatal([&] { scan_vob_units(dir / "VTS_01", *c.group, kScanTitles); },
                 "ERR:  " + (dir / "mpeg1.vob") + " is not an MPEG-2 program stream");
}

// A picture timed more than 2^32 ticks after its input's start is out of the engine's range;
// shifting it must not drop the top bit and make it look like an early picture.
TEST_F(ScanTest, PictureTimedPastTheClockRangeStopsTheRun) {
    TempDir dir;
    StreamBuilder far;
    far.vobu((int64_t(1) << 32) + 1000);
    far.write(dir / "far.vob");
    TitleGroup titles({dir / "far.vob"});
    expect_fatal([&] { scan_vob_units(dir / "VTS_01", *titles.group, kScanTitles); },
                 "ERR:  " + (dir / "far.vob") + ": timestamps run past the 90 kHz clock's range");
}

TEST_F(ScanTest, FullDiskIsAnErrorNamingThePiece) {
    TempDir dir;
    StreamBuilder a;
    a.vobu(0);
    a.write(dir / "a.vob");
    std::filesystem::create_symlink("/dev/full", dir / "VTS_01_1.VOB");
    TitleGroup titles({dir / "a.vob"});
    expect_fatal([&] { scan_vob_units(dir / "VTS_01", *titles.group, kScanTitles); },
                 "ERR:  Error writing data to " + (dir / "VTS_01_1.VOB") +
                     ": No space left on device");
}

TEST_F(ScanTest, PartialLastSectorIsLeftOutWithAWarning) {
    TempDir dir;
    StreamBuilder a;
    a.vobu(0);
    a.write(dir / "a.vob");
    std::ofstream(dir / "a.vob", std::ios::binary | std::ios::app) << std::string(100, 'x');
    TitleGroup titles({dir / "a.vob"});
    const std::string log = scan_titles(dir, *titles.group);
    EXPECT_NE(log.find("ends with a partial sector of 100 bytes"), std::string::npos) << log;
    EXPECT_EQ(std::filesystem::file_size(dir / "VTS_01_1.VOB"), 4u * kSectorSize);
}

TEST_F(ScanTest, CommandInputs) {
    TempDir dir;
    StreamBuilder a;
    a.vobu(0);
    a.write(dir / "a.vob");
    // A command's size is unknown: no percentage, but the cancel tests go on.
    platform::RecordingProgressTarget bar;
    engine_reset(&bar, nullptr);
    TitleGroup piped({"cat '" + (dir / "a.vob") + "'|"});
    scan_titles(dir, *piped.group);
    EXPECT_EQ(piped.group->vobs[0]->vobus.size(), 1u);
    EXPECT_TRUE(bar.Positions().empty());

    platform::ManualResetEvent stop(true);
    engine_reset(&bar, &stop);
    TitleGroup cancelled({"cat '" + (dir / "a.vob") + "'|", dir / "a.vob"});
    expect_fatal([&] { scan_vob_units(dir / "VTS_01", *cancelled.group, kScanTitles); },
                 "ERR:  no titles defined");

    // A command that fails gave an incomplete stream.
    engine_reset(nullptr, nullptr);
    const std::string command = "cat '" + (dir / "a.vob") + "'; exit 3";
    TitleGroup failing({command + " |"});
    expect_fatal([&] { scan_vob_units(dir / "VTS_01", *failing.group, kScanTitles); },
                 "ERR:  Input " + command + " failed\n");
}

// --- inputs without VOB units --------------------------------------------------------------

// Among good inputs, one that gives no VOB unit fails the scan, named: leaving it out would
// make a disc with a chapter missing.
TEST_F(ScanTest, InputWithoutUsableVobUnitsFailsTheScanNamingIt) {
    TempDir dir;
    StreamBuilder good;
    good.vobu(0);
    good.write(dir / "good.vob");
    StreamBuilder plain;
    plain.add(pes_packet(0, kVideoStream, 0, {}));
    plain.write(dir / "plain.vob");
    StreamBuilder nav_only;
    nav_only.add(nav_pack(0));
    nav_only.write(dir / "nav_only.vob");
    StreamBuilder audio_only;
    for (int i = 0; i < 3; ++i) {
        audio_only.add(nav_pack(audio_only.next_scr()));
        audio_only.add(pes_packet(audio_only.next_scr(), kPrivateStream1, i * 2880,
                                  private_audio(0x80, 1, 0)));
    }
    audio_only.write(dir / "audio_only.vob");
    std::ofstream(dir / "empty.vob").close();
    std::ofstream(dir / "random.vob", std::ios::binary) << std::string(3 * kSectorSize, '\x5a');
    std::ofstream(dir / "one_sector.vob", std::ios::binary) << std::string(kSectorSize, '\0');

    const struct {
        const char* name;
        bool untimed;  // has VOB units, but none with a picture to time them by
    } cases[] = {
        {"empty.vob", false}, {"random.vob", false},  {"one_sector.vob", false},
        {"plain.vob", false}, {"nav_only.vob", true}, {"audio_only.vob", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        engine_reset(nullptr, nullptr);
        TitleGroup titles({dir / "good.vob", path, dir / "good.vob"});
        expect_fatal([&] { scan_vob_units(dir / "VTS_01", *titles.group, kScanTitles); },
                     c.untimed ? "ERR:  " + path + " does not start with video"
                               : "ERR:  No VOB units in " + path + ":");
        EXPECT_EQ(titles.group->vobs.size(), 3u);
    }
}

// --- progress and cancel -------------------------------------------------------------------

// A progress bar whose user presses Stop after seeing `messages_before_stop` messages.
class StoppingTarget : public platform::RecordingProgressTarget {
public:
    StoppingTarget(platform::ManualResetEvent& stop, size_t messages_before_stop)
        : stop_(stop), left_(messages_before_stop) {}
    void Post(unsigned message, uintptr_t wParam, intptr_t lParam) override {
        RecordingProgressTarget::Post(message, wParam, lParam);
        if (--left_ == 0) stop_.Set();
    }

private:
    platform::ManualResetEvent& stop_;
    size_t left_;
};

// 450 sectors: VOB units of 45 sectors each.
void write_long_input(const std::string& path) {
    StreamBuilder s;
    for (int i = 0; i < 10; ++i) s.vobu(int64_t(i) * 12 * kPalFrame, 12, 43);
    ASSERT_EQ(s.size(), 450u);
    s.write(path);
}

TEST_F(ScanTest, ProgressEvery200SectorsOfEachFile) {
    TempDir dir;
    write_long_input(dir / "a.vob");
    write_long_input(dir / "b.vob");
    platform::RecordingProgressTarget bar;
    engine_reset(&bar, nullptr);
    TitleGroup titles({dir / "a.vob", dir / "b.vob"});
    scan_titles(dir, *titles.group);
    // Sectors 0, 200 and 400 of each file: 1/450, 201/450, 401/450 of it read.
    EXPECT_EQ(bar.Positions(), (std::vector<int>{0, 44, 89, 0, 44, 89}));
    EXPECT_EQ(titles.group->vobs[1]->vobus.size(), 10u);
}

TEST_F(ScanTest, WithoutProgressTargetTheCancelEventIsNotTested) {
    TempDir dir;
    write_long_input(dir / "a.vob");
    platform::ManualResetEvent stop(true);
    engine_reset(nullptr, &stop);
    TitleGroup titles({dir / "a.vob"});
    scan_titles(dir, *titles.group);
    EXPECT_EQ(titles.group->vobs[0]->vobus.size(), 10u);
}

TEST_F(ScanTest, CancelKeepsWhatWasScannedAndLeavesOutLaterInputs) {
    TempDir dir;
    write_long_input(dir / "a.vob");
    write_long_input(dir / "b.vob");
    platform::ManualResetEvent stop;
    StoppingTarget bar(stop, 1);  // Stop pressed after the first message
    engine_reset(&bar, &stop);
    TitleGroup titles({dir / "a.vob", dir / "b.vob"});
    const std::string log = scan_titles(dir, *titles.group);

    EXPECT_EQ(bar.Positions(), std::vector<int>{0});
    ASSERT_EQ(titles.group->vobs.size(), 1u);
    const Vob& a = *titles.group->vobs[0];
    ASSERT_EQ(a.vobus.size(), 5u);  // sectors 0-199 of a.vob
    EXPECT_EQ(a.vobus.back().last_sector, 199);
    EXPECT_NE(log.find("WARN: No VOB units in " + (dir / "b.vob")), std::string::npos);
    // The piece holds exactly the sectors scanned: a shorter, consistent stream.
    EXPECT_EQ(std::filesystem::file_size(dir / "VTS_01_1.VOB"), 200u * kSectorSize);
}

// --- audio and subpicture timing -----------------------------------------------------------

TEST_F(ScanTest, MpegAudioFrameSplitAcrossPacketsCountsForTheFirstPacket) {
    // The second frame header starts 1, 2 or 3 bytes before the end of the first packet.
    for (int split : {1, 2, 3}) {
        engine_reset(nullptr, nullptr);
        TempDir dir;
        StreamBuilder s;
        s.vobu(0);
        const int first_length = kMpaFrameBytes + split;
        std::vector<uint8_t> first(first_length, 0x55);
        const std::vector<uint8_t> header = mpa_header();
        std::copy(header.begin(), header.end(), first.begin());
        std::copy(header.begin(), header.begin() + split, first.begin() + kMpaFrameBytes);
        // The rest of that frame, then a whole frame: the packet's PTS is the whole frame's.
        std::vector<uint8_t> second(2 * kMpaFrameBytes - split, 0x55);
        std::copy(header.begin() + split, header.end(), second.begin());
        std::copy(header.begin(), header.end(), second.begin() + kMpaFrameBytes - split);
        s.add(pes_packet(s.next_scr(), kMpegAudioFirst, 1000, first, first_length));
        s.add(pes_packet(s.next_scr(), kMpegAudioFirst, 1000 + 2 * 2160, second,
                         static_cast<int>(second.size())));
        s.add(pes_packet(s.next_scr(), kMpegAudioFirst, 1000 + 3 * 2160, header, 4));
        s.write(dir / "a.vob");

        TitleGroup titles({dir / "a.vob"});
        const std::string log = scan_titles(dir, *titles.group);
        const std::vector<StreamPtsRow>& rows = titles.group->vobs[0]->streams[8].rows;
        ASSERT_EQ(rows.size(), 3u) << split;
        EXPECT_EQ(rows[0].end_pts, 1000 + 2 * 2160) << split;  // its own frame and the split one
        EXPECT_EQ(rows[1].end_pts, 1000 + 3 * 2160) << split;
        EXPECT_EQ(log.find("Discontinuity"), std::string::npos) << log;
        EXPECT_EQ(titles.group->vobs[0]->streams[8].detected.sampling_rate, 1);
    }
}

TEST_F(ScanTest, AudioGapWarnsAndClosesThePreviousRowAtTheNextPacket) {
    TempDir dir;
    StreamBuilder s;
    s.vobu(0);
    s.add(pes_packet(s.next_scr(), kPrivateStream1, 1000, private_audio(0x80, 1, 0)));
    s.add(pes_packet(s.next_scr(), kPrivateStream1, 9000, private_audio(0x80, 1, 0)));
    s.write(dir / "a.vob");
    TitleGroup titles({dir / "a.vob"});
    const std::string log = scan_titles(dir, *titles.group);
    EXPECT_NE(log.find("WARN: Discontinuity in audio channel 0; please remultiplex input.\n"
                       "WARN: Previous sector: 0.011 - 0.043\n"
                       "WARN: Current sector: 0.100 - 0.132\n"),
              std::string::npos)
        << log;
    const std::vector<StreamPtsRow>& rows = titles.group->vobs[0]->streams[0].rows;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].end_pts, 9000);
    EXPECT_EQ(rows[1].end_pts, 9000 + 2880);
    EXPECT_EQ(rows[1].sector, 5);
}

TEST_F(ScanTest, PrivateStreamKindsGetTheirSlots) {
    struct Case {
        uint8_t sub_id;
        int slot;
        int32_t length;  // of the row, in ticks
    } cases[] = {
        {0x81, 1, 2 * 2880},  // AC-3 stream 1, two frames
        {0x8A, 26, 0},        // DTS stream 2
        {0xA0, 16, 2 * 150},  // LPCM stream 0
        {0x28, 40, 0},        // subpicture stream 8: timed, not remapped
    };
    for (const Case& c : cases) {
        engine_reset(nullptr, nullptr);
        TempDir dir;
        StreamBuilder s;
        s.vobu(0);
        s.add(pes_packet(s.next_scr(), kPrivateStream1, 1000, private_audio(c.sub_id, 2, 1)));
        s.write(dir / "a.vob");
        TitleGroup titles({dir / "a.vob"});
        scan_titles(dir, *titles.group);
        const std::vector<StreamPtsRow>& rows = titles.group->vobs[0]->streams[c.slot].rows;
        ASSERT_EQ(rows.size(), 1u) << int(c.sub_id);
        EXPECT_EQ(rows[0].start_pts, 1000);
        EXPECT_EQ(rows[0].end_pts, 1000 + c.length) << int(c.sub_id);
    }
}

TEST_F(ScanTest, VobuWithoutVideoStartsOnAFrameAfterThePreviousOne) {
    TempDir dir;
    StreamBuilder s;
    s.vobu(0, 12, 0);
    s.add(nav_pack(s.next_scr()));
    // Audio-only unit: its first audio packet plays at 12 frames + 100 ticks.
    s.add(pes_packet(s.next_scr(), kPrivateStream1, 12 * kPalFrame + 100,
                     private_audio(0x80, 10, 0)));
    s.write(dir / "a.vob");
    TitleGroup titles({dir / "a.vob"});
    scan_titles(dir, *titles.group);
    const std::vector<Vobu>& v = titles.group->vobs[0]->vobus;
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1].pts[0], 13 * kPalFrame);  // rounded up to a whole frame
    EXPECT_EQ(v[0].pts[1], 13 * kPalFrame);  // the previous unit ends there
    EXPECT_EQ(v[1].pts[1], 12 * kPalFrame + 100 + 10 * 2880);  // the audio's end
}

// --- "discforge-data" sectors --------------------------------------------------------------

// A titleset menu stream (NAV pack, the data sector, one picture) whose Pgc has the buttons
// "play" and "extras".
std::string write_menu(const TempDir& dir, const Sector& data, const std::vector<Sector>& more) {
    StreamBuilder s;
    s.add(nav_pack(0)).add(data).add(pes_packet(600, kVideoStream, 0, mpeg2_gop(1)));
    for (const Sector& sector : more) s.add(sector);
    s.write(dir / "menu.vob");
    return dir / "menu.vob";
}

struct MenuFixture {
    TempDir dir;
    TitleGroup menus;
    explicit MenuFixture(const Sector& data, const std::vector<Sector>& more = {})
        : menus({write_menu(dir, data, more)}) {
        pgc_add_button(menus.pgc, "play", nullptr);
        pgc_add_button(menus.pgc, "extras", nullptr);
    }
    void scan() { scan_vob_units(dir / "VTS_01", *menus.group, kScanTitlesetMenus); }
};

TEST_F(ScanTest, DataSectorSetsButtonsAndColoursAndIsNotWritten) {
    const std::vector<uint8_t> records = concat({
        // two colours (Y, Cr, Cb)
        {1, 2, 0x10, 0x80, 0x80, 0xEB, 0x80, 0x80},
        // one button colour entry: colour numbers 0/1 and 1/0, contrasts
        {2, 1, 0x01, 0x10, 0xFF, 0xEE, 0x10, 0x01, 0xDD, 0xCC},
        // two buttons: "extras" placed with neighbours, "play" with auto action
        {3, 2},
        text("extras"), {0, 0, 0, 2, 0x00, 0x10, 0x00, 0x20, 0x01, 0x10, 0x00, 0x80},
        text("play"), text("play"), text(""), text("x"),
        text("play"), {0, 0, 1},
        {0xFF},
    });
    MenuFixture f(data_sector(records));
    f.menus.pgc->palette->at(0) = 0x00FF8080;  // slot 0 already holds another colour
    ::testing::internal::CaptureStderr();
    f.scan();
    ::testing::internal::GetCapturedStderr();

    const Pgc& pgc = *f.menus.pgc;
    const PgcButton& extras = pgc.buttons[1];
    EXPECT_EQ(extras.auto_action, 0);
    EXPECT_EQ(extras.colour_group, 2);
    EXPECT_EQ(extras.x1, 0x10);
    EXPECT_EQ(extras.y1, 0x20);
    EXPECT_EQ(extras.x2, 0x110);
    EXPECT_EQ(extras.y2, 0x80);
    EXPECT_EQ(extras.up, "play");
    EXPECT_EQ(extras.down, "play");
    EXPECT_EQ(extras.left, "");
    EXPECT_EQ(extras.right, "x");
    EXPECT_EQ(pgc.buttons[0].auto_action, 1);

    // Colours 0 and 1 took palette slots 1 and 2; contrast bytes stay.
    EXPECT_EQ(pgc.palette->at(1), 0x00108080u);
    EXPECT_EQ(pgc.palette->at(2), 0x00EB8080u);
    const Vob& vob = *f.menus.group->vobs[0];
    const std::vector<uint8_t> colours(vob.button_colours.begin(), vob.button_colours.begin() + 8);
    EXPECT_EQ(colours, (std::vector<uint8_t>{0x12, 0x21, 0xFF, 0xEE, 0x21, 0x12, 0xDD, 0xCC}));

    EXPECT_EQ(std::filesystem::file_size(f.dir / "VTS_01_0.VOB"), 2u * kSectorSize);
    EXPECT_EQ(vob.vobus[0].last_sector, 1);
}

TEST_F(ScanTest, SubpictureColoursAreRemappedToThePgcsPalette) {
    // One subpicture unit of stream 1: size 14, its control sequence at 6 sets colours 0/1 and
    // 1/0 (command 3).
    const std::vector<uint8_t> unit = {0x00, 0x0E, 0x00, 0x06, 0xAA, 0xBB, 0x00, 0x00,
                                       0x00, 0x06, 0x03, 0x01, 0x10, 0xFF};
    std::vector<uint8_t> payload = {0x21};
    payload.insert(payload.end(), unit.begin(), unit.end());
    const Sector subpicture =
        pes_packet(900, kPrivateStream1, 4000, payload, static_cast<int>(payload.size()));
    MenuFixture f(data_sector({1, 2, 0x10, 0x80, 0x80, 0xEB, 0x80, 0x80, 0xFF}, 1, 1, 1),
                  {subpicture});
    f.menus.pgc->palette->at(0) = 0x00FF8080;
    ::testing::internal::CaptureStderr();
    f.scan();
    ::testing::internal::GetCapturedStderr();

    const Sector out = sector_of(read_file(f.dir / "VTS_01_0.VOB"), 2);
    const int colours = 23 + 5 + 1 + 11;  // payload, sub-stream id, offset in the unit
    EXPECT_EQ(out[colours], 0x12);
    EXPECT_EQ(out[colours + 1], 0x21);
    EXPECT_EQ(f.menus.pgc->palette->at(1), 0x00108080u);
    const std::vector<StreamPtsRow>& rows = f.menus.group->vobs[0]->streams[33].rows;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].start_pts, 4000);
}

TEST_F(ScanTest, BadDataSectorsAreErrorsNotCrashes) {
    struct Case {
        const char* what;
        Sector sector;
        const char* message;
    } cases[] = {
        {"version", data_sector({0xFF}, 2), "ERR: dvd info packet is version 2"},
        {"type", data_sector({0xFF}, 1, 7), "ERR: unknown dvd info packet type: 7"},
        {"record", data_sector({9, 0, 0xFF}), "ERR: dvd info packet command within subtitle: 9"},
        {"button", data_sector(concat({{3, 1}, text("nobody"), {0, 0, 1}, {0xFF}})),
         "ERR:  Cannot find button 'nobody' as referenced by the subtitle"},
        {"colours", data_sector({1, 17}), "17 colours"},
        {"entries", data_sector({2, 4}), "4 button colour entries"},
        {"no end", data_sector(std::vector<uint8_t>(kSectorSize, 0x01)), "past the end"},
        {"unterminated name", data_sector(std::vector<uint8_t>(kSectorSize, 0x03)), "past the end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine_reset(nullptr, nullptr);
        MenuFixture f(c.sector);
        expect_fatal([&] { f.scan(); }, c.message);
    }
}

// --- robustness ----------------------------------------------------------------------------

TEST_F(ScanTest, DamagedSectorsNeverCrashTheScanner) {
    StreamBuilder base;
    for (int i = 0; i < 4; ++i) {
        base.vobu(int64_t(i) * 12 * kPalFrame, 12, 1);
        base.add(pes_packet(base.next_scr(), kPrivateStream1, i * 12 * kPalFrame,
                            private_audio(0x80, 3, 1, {0x0B, 0x77, 0, 0, 0x10, 0x40, 0x40})));
        base.add(pes_packet(base.next_scr(), kMpegAudioFirst, i * 12 * kPalFrame, mpa_header()));
        base.add(pes_packet(base.next_scr(), kPrivateStream1, i * 12 * kPalFrame,
                            private_audio(0x20, 0, 0, {0, 20, 0, 4, 0, 0, 0, 0xFF})));
    }
    std::mt19937 random(2024);
    // Damage falls on the headers the scanner reads, where it matters most.
    const int hot[] = {4, 9, 13, 17, 18, 19, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
    for (int round = 0; round < 150; ++round) {
        engine_reset(nullptr, nullptr);
        TempDir dir;
        StreamBuilder damaged;
        for (Sector s : base.sectors()) {
            for (int k = 0; k < 3; ++k) {
                const int at = random() % 2 ? hot[random() % std::size(hot)]
                                            : static_cast<int>(random() % kSectorSize);
                s[at] = static_cast<uint8_t>(random());
            }
            damaged.add(s);
        }
        damaged.write(dir / "a.vob");
        TitleGroup titles({dir / "a.vob"});
        ::testing::internal::CaptureStderr();
        try {
            scan_vob_units(dir / "VTS_01", *titles.group, kScanTitles);
        } catch (const FatalError&) {
            // A clear error is an acceptable answer to damaged input.
        }
        ::testing::internal::GetCapturedStderr();
    }
}

}  // namespace
}  // namespace author::scan_test
