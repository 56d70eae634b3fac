// A title stream longer than one piece: 1,073,709,056 bytes in VTS_01_1.VOB, the rest in
// VTS_01_2.VOB. The input comes through a pipe descriptor, so only the output touches the disk.

#include <dvdread/nav_read.h>
#include <dvdread/nav_types.h>
#include <unistd.h>

#include <csignal>

#include <thread>

#include "author/cell_marking.h"
#include "author/nav_fixer.h"
#include "scan_fixtures.h"

namespace author::scan_test {
namespace {

constexpr int kUnitSectors = 45;

// Feeds `sectors` sectors of VOB units of `unit_sectors` sectors into the descriptor, then
// closes it.
void feed_stream(int fd, int64_t sectors, int unit_sectors = kUnitSectors) {
    StreamBuilder unit;
    unit.vobu(0, 12, unit_sectors - 2);
    std::vector<Sector> templates = unit.sectors();
    for (int64_t at = 0; at < sectors;) {
        const int64_t start = at / unit_sectors * 12 * kPalFrame;
        for (int k = 0; k < unit_sectors && at < sectors; ++k, ++at) {
            Sector& s = templates[k];
            core::SetMpeg2ScrBase(s.data() + pack::kScr, 300 * at);
            if (k == 1) core::SetTimestamp(s.data() + pack::kPts, start);
            for (size_t done = 0; done < s.size();) {
                const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
                if (n <= 0) {
                    ::close(fd);
                    return;
                }
                done += static_cast<size_t>(n);
            }
        }
    }
    ::close(fd);
}

TEST_F(ScanTest, TitlesContinueInTheNextPieceAtTheLimit) {
    TempDir dir;
    // A scan that stops early closes the pipe; the feeder then gets an error, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int64_t total = kPieceLimitSectors + 2 * kUnitSectors;
    std::thread feeder([&] { feed_stream(fds[1], total); });
    TitleGroup titles({"&" + std::to_string(fds[0])});
    ::testing::internal::CaptureStderr();
    try {
        scan_vob_units(dir / "VTS_01", *titles.group, kScanTitles);
        assign_programs_and_cells(*titles.group);
        fix_nav_packs(dir / "VTS_01", *titles.group);
    } catch (const FatalError&) {
        ADD_FAILURE() << "fatal error";
    }
    const std::string log = ::testing::internal::GetCapturedStderr();
    feeder.join();

    EXPECT_EQ(std::filesystem::file_size(dir / "VTS_01_1.VOB"), 1073709056u) << log;
    EXPECT_EQ(std::filesystem::file_size(dir / "VTS_01_2.VOB"),
              uint64_t(total - kPieceLimitSectors) * kSectorSize);

    const std::vector<Vobu>& vobus = titles.group->vobs[0]->vobus;
    // 524272 = 11650 units of 45 sectors and 22 sectors: unit 11650 straddles the boundary.
    const Vobu& straddling = vobus[11650];
    EXPECT_EQ(straddling.piece, 1);
    EXPECT_EQ(straddling.last_sector, 11650 * kUnitSectors + kUnitSectors - 1);
    const Vobu& second = vobus[11651];
    EXPECT_EQ(second.piece, 2);
    EXPECT_EQ(second.sector, 11651 * kUnitSectors);
    EXPECT_EQ(second.piece_sector, second.sector - kPieceLimitSectors);

    // Its NAV pack was fixed in place in the second piece.
    std::ifstream piece(dir / "VTS_01_2.VOB", std::ios::binary);
    piece.seekg(std::streamoff(second.piece_sector) * kSectorSize);
    Sector nav(kSectorSize);
    piece.read(reinterpret_cast<char*>(nav.data()), kSectorSize);
    dsi_t dsi;
    navRead_DSI(&dsi, nav.data() + DSI_START_BYTE);
    EXPECT_EQ(dsi.dsi_gi.nv_pck_lbn, uint32_t(second.sector));
    EXPECT_EQ(dsi.vobu_sri.prev_vobu & 0x3FFFFFFF, uint32_t(kUnitSectors));
}

// Nine pieces are all a titleset can have: the sector that would open a tenth is an error. The
// pieces go to /dev/null, so only the stream's nine gigabytes pass through. Runs under the
// "slow" label (tests/author/CMakeLists.txt), where LUMIVANE_SLOW_TESTS is set.
TEST(ScanSlow, TenthTitlePieceIsAnError) {
    if (std::getenv("LUMIVANE_SLOW_TESTS") == nullptr) GTEST_SKIP() << "set LUMIVANE_SLOW_TESTS=1";
    engine_reset(nullptr, nullptr);
    TempDir dir;
    for (int piece = 1; piece <= kMaxTitlePieces; ++piece)
        std::filesystem::create_symlink("/dev/null", piece_file_name(dir / "VTS_01", piece));
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread feeder([&] { feed_stream(fds[1], int64_t(kMaxTitlePieces) * kPieceLimitSectors + 1, 1000); });
    TitleGroup titles({"&" + std::to_string(fds[0])});
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(scan_vob_units(dir / "VTS_01", *titles.group, kScanTitles), FatalError);
    const std::string log = ::testing::internal::GetCapturedStderr();
    feeder.join();
    EXPECT_NE(log.find("ERR:  Titles need more than 9 VOB files of 1gb\n"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(dir / "VTS_01_10.VOB"));
}

}  // namespace
}  // namespace author::scan_test
