// A title with a subpicture stream, authored through the command line and read back with
// libdvdread and lsdvd: the track is announced, its colours reach the title's palette, and the
// NAV packs of the VOB units it shows over point back at its packet.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/nav_read.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "author/disc_support.h"
#include "scan_fixtures.h"

namespace author {
namespace {

using ::testing::HasSubstr;
using testing::TempDir;

constexpr int kUnits = 10;
constexpr int kShownIn = 2;  // the VOB unit that carries the subpicture packet
constexpr int64_t kUnitTicks = 12 * scan_test::kPalFrame;

// One subpicture unit: colours 0/1 for its pixels from the first control sequence, shown at
// once; the second control sequence stops the display 256 x 1024 ticks (2.9 s) later.
std::vector<uint8_t> subpicture_unit() {
    return {0x00, 0x15, 0x00, 0x06, 0xAA, 0xBB,
            0x00, 0x00, 0x00, 0x0F, 0x03, 0x01, 0x10, 0x01, 0xFF,
            0x01, 0x00, 0x00, 0x0F, 0x02, 0xFF};
}

// Ten VOB units of synthetic video at 25 fps with the subpicture packet in the third, and in the
// first a "discforge-data" sector giving subpicture stream 0 its two colours.
std::string write_stream(const std::string& path) {
    using namespace scan_test;
    StreamBuilder stream;
    for (int i = 0; i < kUnits; ++i) {
        stream.vobu(i * kUnitTicks);
        if (i == 0) stream.add(data_sector({1, 2, 0x52, 0x5A, 0xF0, 0xEB, 0x80, 0x80, 0xFF}));
        if (i != kShownIn) continue;
        std::vector<uint8_t> payload = {0x20};
        const std::vector<uint8_t> unit = subpicture_unit();
        payload.insert(payload.end(), unit.begin(), unit.end());
        stream.add(pes_packet(stream.next_scr(), kPrivateStream1, i * kUnitTicks, payload,
                              static_cast<int>(payload.size())));
    }
    stream.write(path);
    return path;
}

TEST(SubpictureDisc, TrackPaletteAndSynchronisation) {
    TempDir work;
    const std::string input = write_stream(work / "sub.vob");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    const int titleset = testing::run_discforge({"-o", dvd, "-v", "pal", "-s", "en", "-f", input});
    const int manager = testing::run_discforge({"-T", "-o", dvd});
    const std::string log = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(titleset, 0) << log;
    ASSERT_EQ(manager, 0) << log;
    testing::check_files(dvd);
    testing::check_reader_accepts(dvd, 1);
    testing::check_reader_accepts_backups(dvd, 1);

    const std::string listing = testing::run_lsdvd(dvd);
    EXPECT_THAT(listing, HasSubstr("'subp' : [\n        {\n          'ix' : 1,\n          'langcode' : 'en',"));
    EXPECT_THAT(listing, HasSubstr("'palette' : [\n        '525af0',\n        'eb8080',"));

    dvd_reader_t* reader = DVDOpen(dvd.c_str());
    ASSERT_TRUE(reader);
    ifo_handle_t* vts = ifoOpen(reader, 1);
    ASSERT_TRUE(vts);
    EXPECT_EQ(vts->vtsi_mat->nr_of_vts_subp_streams, 1);
    EXPECT_EQ(vts->vts_pgcit->pgci_srp[0].pgc->subp_control[0], 0x80000000u);  // stream 0 for all views
    const vobu_admap_t& admap = *vts->vts_vobu_admap;
    ASSERT_EQ((admap.last_byte + 1 - 4) / 4, uint32_t(kUnits));
    dvd_file_t* vobs = DVDOpenFile(reader, 1, DVD_READ_TITLE_VOBS);
    ASSERT_TRUE(vobs);
    // The units the subpicture still shows over point back at the unit holding its packet;
    // the others have nothing to point at.
    const int shown_until = kShownIn + static_cast<int>((256 * 1024) / kUnitTicks);
    for (int i = 0; i < kUnits; ++i) {
        uint8_t block[DVD_VIDEO_LB_LEN];
        ASSERT_EQ(DVDReadBlocks(vobs, static_cast<int>(admap.vobu_start_sectors[i]), 1, block), 1);
        dsi_t dsi;
        navRead_DSI(&dsi, block + DSI_START_BYTE);
        const uint32_t back = admap.vobu_start_sectors[i] - admap.vobu_start_sectors[kShownIn];
        EXPECT_EQ(dsi.synci.sp_synca[0], i > kShownIn && i <= shown_until ? (0x80000000u | back) : 0x7FFFFFFFu)
            << "VOB unit " << i;
    }
    DVDCloseFile(vobs);
    ifoClose(vts);
    DVDClose(reader);
}

}  // namespace
}  // namespace author
