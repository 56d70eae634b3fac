// Whole jobs over clips whose streams lie awkwardly in the file: transport-stream pieces joined
// byte by byte. The finished title is read back with ffmpeg, picture by picture.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "job_fixtures.h"
#include "reader/media_fixtures.h"

namespace driver {
namespace {

using testing::TempFolder;

// Both readers: the plain graph (0) and the editing-services timeline (1).
class ClipLayoutTest : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { core::InitLogAtPath(work_ / "Lumivane.log"); }

    // The title's VOB of a PAL job over clips, written directly (directVob 1) or through
    // elementary-stream files.
    std::string Title(const std::vector<reader::ClipRecord>& clips, uint32_t directVob) {
        const std::string output = work_ / ("job" + std::to_string(jobs_++));
        const auto configure = [&](core::Settings& settings) {
            settings.UseDES = GetParam();
            settings.DirectVOB = directVob;
            settings.Standard = 1;
            // Plenty of bits, so that the numbered pictures keep their grey levels.
            settings.BitrateType = 0;
            settings.Bitrate = 8000;
        };
        return testing::RunJobInto(output, clips, configure, boxes_) + "/VIDEO_TS/VTS_01_1.VOB";
    }

    TempFolder work_;
    testing::RecordingBoxes boxes_;
    int jobs_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Readers, ClipLayoutTest, ::testing::Values(0u, 1u),
                         [](const auto& info) { return std::string(info.param ? "Timeline" : "PlainGraph"); });

// Two pieces of a transport stream joined byte by byte, as cutters and receivers write them, the
// second's clock following on from the first's. The continuity counters jump at the join, so the
// demultiplexer marks the last picture before it corrupt; that picture is still whole, and it and
// the B-picture that refers to it reach the disc: every picture once, in order.
TEST_P(ClipLayoutTest, PiecesJoinedByteWiseKeepEveryPicture) {
    std::vector<reader_test::ClockPiece> pieces;
    for (const auto& [first, clock] : {std::pair{0, 10.0}, std::pair{12, 13.0}}) {
        pieces.push_back({testing::NumberedPictures("320x240", "4", 3, first) +
                              "-f lavfi -i sine=sample_rate=48000:duration=3 -c:v mpeg2video -bf 2 "
                              "-q:v 2 -c:a mp2",
                          clock});
    }
    const std::string path = work_ / "joined.ts";
    ASSERT_TRUE(reader_test::MakeJumpingStream(pieces, path));
    ASSERT_NE(reader_test::Shell("ffmpeg -nostdin -v warning -i '" + path + "' -f null - 2>&1").find("corrupt"),
              std::string::npos)
        << "the join must break the continuity count for this clip to show anything";

    std::vector<int> everyPicture(24);
    for (int n = 0; n < 24; ++n) everyPicture[size_t(n)] = n;
    for (const uint32_t directVob : {0u, 1u}) {
        SCOPED_TRACE(directVob ? "direct VOB" : "elementary streams");
        std::vector<int> shown = testing::PictureNumbers(Title({testing::ProbeClip(path)}, directVob));
        shown.erase(std::unique(shown.begin(), shown.end()), shown.end());  // each held picture once
        EXPECT_EQ(shown, everyPicture);
    }
}

}  // namespace
}  // namespace driver
