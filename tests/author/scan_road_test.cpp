// Scanning, cell marking and NAV-pack fixing over program streams made by FFmpeg, checked with
// readers written elsewhere: libdvdread's NAV parser and FFmpeg's decoders.

#include <dvdread/nav_read.h>
#include <dvdread/nav_types.h>

#include <cstdio>

#include "author/attributes.h"
#include "author/cell_marking.h"
#include "author/core_routines.h"
#include "author/nav_fixer.h"
#include "scan_fixtures.h"

namespace author::scan_test {
namespace {

bool have_ffmpeg() { return std::system("ffmpeg -version > /dev/null 2>&1") == 0; }

void make_clip(const std::string& path, const std::string& options, double seconds) {
    const std::string size = options.find("ntsc") != std::string::npos ? "720x480" : "720x576";
    const std::string rate = options.find("ntsc") != std::string::npos ? "30000/1001" : "25";
    const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=" +
                                size + ":rate=" + rate +
                                " -f lavfi -i sine=sample_rate=48000 -t " +
                                std::to_string(seconds) + " " + options + " -g 12 '" + path + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Frames FFmpeg decodes from a file's video stream.
long decoded_frames(const std::string& path) {
    const std::string command =
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
        "-of csv=p=0 '" + path + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    long frames = -1;
    if (pipe != nullptr) {
        if (std::fscanf(pipe, "%ld", &frames) != 1) frames = -1;
        ::pclose(pipe);
    }
    return frames;
}

struct Variant {
    const char* name;
    const char* options;
    int frame_ticks;
};

class ScanRoadTest : public ScanTest, public ::testing::WithParamInterface<Variant> {};

TEST_P(ScanRoadTest, EveryNavPackDescribesItsOwnUnit) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const Variant& variant = GetParam();
    TempDir dir;
    make_clip(dir / "a.vob", variant.options, 3);
    make_clip(dir / "b.vob", variant.options, 2);
    const long input_frames = decoded_frames(dir / "a.vob") + decoded_frames(dir / "b.vob");

    TitleGroup titles({dir / "a.vob", dir / "b.vob"});
    titles.group->video.frame_rate = 0;  // detected from the streams
    ::testing::internal::CaptureStderr();
    scan_vob_units(dir / "VTS_01", *titles.group, kScanTitles);
    assign_programs_and_cells(*titles.group);
    finalize_attributes(titles.group, kScanTitles);
    fix_nav_packs(dir / "VTS_01", *titles.group);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(get_frame_pts(titles.group), variant.frame_ticks) << log;
    ASSERT_EQ(titles.group->audio_track_count, 1) << log;

    const std::vector<uint8_t> piece = read_file(dir / "VTS_01_1.VOB");
    ASSERT_EQ(piece.size() % kSectorSize, 0u);
    EXPECT_EQ(decoded_frames(dir / "VTS_01_1.VOB"), input_frames);

    for (const Vob* vob : titles.group->vobs) {
        ASSERT_FALSE(vob->vobus.empty());
        for (size_t i = 0; i < vob->vobus.size(); ++i) {
            SCOPED_TRACE(vob->file_name + " unit " + std::to_string(i));
            const Vobu& v = vob->vobus[i];
            Sector sector = sector_of(piece, static_cast<size_t>(v.piece_sector));
            ASSERT_TRUE(is_nav_pack(sector.data()));
            pci_t pci;
            dsi_t dsi;
            ::testing::internal::CaptureStderr();
            navRead_PCI(&pci, sector.data() + 45);
            navRead_DSI(&dsi, sector.data() + DSI_START_BYTE);
            const std::string checks = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(checks.find("CHECK_VALUE failed"), std::string::npos) << checks;

            EXPECT_EQ(pci.pci_gi.nv_pck_lbn, uint32_t(v.sector));
            EXPECT_EQ(dsi.dsi_gi.nv_pck_lbn, uint32_t(v.sector));
            EXPECT_EQ(dsi.dsi_gi.vobu_vob_idn, vob->vob_id);
            EXPECT_EQ(dsi.dsi_gi.vobu_c_idn, 1);
            // Units tile the Vob's time, and chain forward and back.
            if (i + 1 < vob->vobus.size()) {
                const Vobu& next = vob->vobus[i + 1];
                EXPECT_EQ(pci.pci_gi.vobu_e_ptm, uint32_t(next.pts[0]));
                EXPECT_EQ(dsi.vobu_sri.next_vobu & 0x3FFFFFFF, uint32_t(next.sector - v.sector));
                EXPECT_EQ(dsi.dsi_gi.vobu_ea, uint32_t(next.sector - v.sector - 1));
            }
            if (i > 0)
                EXPECT_EQ(dsi.vobu_sri.prev_vobu & 0x3FFFFFFF,
                          uint32_t(v.sector - vob->vobus[i - 1].sector));
            // The audio address names a sector of the stream's packets.
            const uint16_t audio = dsi.synci.a_synca[0];
            ASSERT_NE(audio, 0x3FFF);
            const int64_t audio_sector =
                v.sector + ((audio & 0x8000) ? -int64_t(audio & 0x7FFF) : int64_t(audio));
            const int32_t first_sector = titles.group->vobs[0]->vobus[0].sector;
            const Sector target = sector_of(piece, static_cast<size_t>(audio_sector - first_sector));
            EXPECT_TRUE(target[17] == kPrivateStream1 || (target[17] & 0xF8) == kMpegAudioFirst)
                << int(target[17]);
        }
        const double seconds = (vob->vobus.back().pts[1] - vob->vobus.front().pts[0]) / 90000.0;
        EXPECT_NEAR(seconds, vob->vob_id == 1 ? 3.0 : 2.0, 0.05);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clips, ScanRoadTest,
    ::testing::Values(Variant{"PalAc3", "-target pal-dvd", 3600},
                      Variant{"NtscAc3Widescreen", "-target ntsc-dvd -aspect 16:9", 3003},
                      Variant{"PalMpegAudio", "-target pal-dvd -acodec mp2 -b:a 192k", 3600}),
    [](const ::testing::TestParamInfo<Variant>& info) { return info.param.name; });

}  // namespace
}  // namespace author::scan_test
