// A recording (a transport stream) is read whole once to measure it, at Add; Start, the job and
// every later opening reuse what that reading found while the file stays unchanged. A read
// that fails while it is measured refuses the file with the system's reason.
#include <sys/stat.h>

#include <filesystem>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "job_fixtures.h"
#include "platform/com/class_table.h"
#include "platform/dshow/scan_cache.h"
#include "read_faults.h"
#include "reader/clip_record.h"

namespace driver {
namespace {

using testing::TempFolder;

// Whether the next opening of the file at path, as it stands now, takes its scan from the
// shared cache instead of reading the file.
bool ScanKept(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    return platform::dshow::ScanCache::Shared().Find(path, platform::dshow::FileVersion::Of(info)) != nullptr;
}

class ClipScanTest : public ::testing::Test {
protected:
    void SetUp() override { core::InitLogAtPath(work_ / "Lumivane.log"); }

    // A transport stream of MPEG-2 pictures (a key picture every 12) with MP2 sound.
    std::string Recording(const std::string& name, double seconds) {
        return testing::MakeMedia("-f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i "
                                  "sine=sample_rate=48000 -t " +
                                      std::to_string(seconds) +
                                      " -c:v mpeg2video -q:v 2 -g 12 -c:a mp2",
                                  work_ / name);
    }

    platform::com::ScopedComInit com_;
    TempFolder work_;
};

// The disk fails from the middle of the file on: the probe does not take the failure for the
// file's end (which gave a clip of the half that was read), and the Add report names the
// system's reason. A scan that failed is not kept: once the disk reads again, so does the file.
TEST_F(ClipScanTest, ReadErrorWhileMeasuringRefusesTheFile) {
    testing::ClipCodecs codecs;
    codecs.video = "mpeg2video -q:v 2";
    codecs.audio = "mp2";
    for (const char* name : {"failing.ts", "failing.mpg", "failing.avi"}) {
        SCOPED_TRACE(name);
        const std::string clip =
            testing::MakeClip(work_ / name, "352x288", "25", 48000, 2, 10.0, codecs);
        const off_t size = off_t(std::filesystem::file_size(clip));
        {
            testing::FailingReads failing(clip, size / 2, size);
            reader::ClipRecord refused;
            const int32_t result = refused.ReadMediaInfo(clip);
            EXPECT_NE(result, 0) << "VideoLength=" << refused.VideoLength;
            EXPECT_EQ(reader::ProbeFailureText(clip, result),
                      "The file cannot be read: Input/output error.");
            EXPECT_GT(testing::FailingReads::Failures(), 0);
        }
        EXPECT_NEAR(testing::ProbeClip(clip).VideoLength, 10.0, 0.1);
    }
}

// Add, a second probe (as the preview or a check at Start makes) and a whole job on a 10 s range
// in the middle of a minute's recording read the file through once in all, on both readers:
// only the first probe reads it whole; later openings read its head (to learn its streams), a
// little of its end (to learn its clock's last stamp) and the range onwards.
TEST_F(ClipScanTest, RecordingIsReadWholeOnceForAddAndJob) {
    for (const uint32_t useDes : {0u, 1u}) {
        SCOPED_TRACE(useDes ? "timeline" : "plain graph");
        const std::string path = Recording("long" + std::to_string(useDes) + ".ts", 60.0);
        const int64_t size = int64_t(std::filesystem::file_size(path));
        EXPECT_FALSE(ScanKept(path));
        testing::CountedReads counted(path);

        reader::ClipRecord clip = testing::ProbeClip(path);
        EXPECT_NEAR(clip.VideoLength, 60.0, 0.1);
        const int64_t probeBytes = testing::CountedReads::Bytes();
        EXPECT_GE(probeBytes, size);
        EXPECT_TRUE(ScanKept(path));
        EXPECT_NEAR(testing::ProbeClip(path).VideoLength, 60.0, 0.1);
        const int64_t openingBytes = testing::CountedReads::Bytes() - probeBytes;

        clip.RangeStart = 30.0;
        clip.RangeEnd = 40.0;
        testing::RecordingBoxes boxes;
        const std::string dvd = testing::RunJobInto(
            work_ / ("out" + std::to_string(useDes)), {clip},
            [useDes](core::Settings& settings) { settings.UseDES = useDes; }, boxes);
        EXPECT_NEAR(testing::ReadDisc(dvd).cells.at(0), 10.0, 0.2);

        // The range is a sixth of the file. Each later opening (the second probe and the job's
        // two) reads the file's head and tail; the seek searches the file for the range's
        // start, decoding starts at the key picture before it, and the reader runs a few
        // seconds ahead of the encoder until the clip stops at the range's end: the timeline
        // knows that end, the plain graph's sink sees it. Both read less than the range and 9 s
        // more, not on to the file's end.
        const int64_t laterBytes = testing::CountedReads::Bytes() - probeBytes;
        const double secondsRead = double(laterBytes - 3 * openingBytes) / double(size) * 60.0;
        EXPECT_LT(secondsRead, 10.0 + 9.0) << "first probe " << probeBytes << ", opening "
                                           << openingBytes << ", file " << size;
    }
}

// Two openings of a recording at the same moment (Add and a preview, or the same file added
// twice) read it whole once: the later one waits for the first one's scan.
TEST_F(ClipScanTest, RecordingOpenedTwiceAtOnceIsReadWholeOnce) {
    const std::string path = Recording("twice.ts", 60.0);
    const int64_t size = int64_t(std::filesystem::file_size(path));
    testing::CountedReads counted(path);
    std::latch start(2);
    std::vector<double> lengths(2);
    std::vector<std::thread> openings;
    for (double& length : lengths) {
        openings.emplace_back([&] {
            start.arrive_and_wait();
            length = testing::ProbeClip(path).VideoLength;
        });
    }
    for (std::thread& opening : openings) opening.join();
    for (const double length : lengths) EXPECT_NEAR(length, 60.0, 0.1);
    EXPECT_LT(testing::CountedReads::Bytes(), size * 3 / 2);
}

// A file rewritten under its name is measured anew, not taken for the one measured before.
TEST_F(ClipScanTest, RewrittenFileIsMeasuredAgain) {
    const std::string path = Recording("rewritten.ts", 6.0);
    EXPECT_NEAR(testing::ProbeClip(path).VideoLength, 6.0, 0.1);

    std::filesystem::copy_file(Recording("shorter.ts", 3.0), path,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_NEAR(testing::ProbeClip(path).VideoLength, 3.0, 0.1);
}

}  // namespace
}  // namespace driver
