// The command-line tools as scripts and benchmarks use them.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "media_fixtures.h"

namespace {

using reader_test::MakeMedia;
using reader_test::Shell;
using reader_test::TempDir;
using reader_test::Tool;

std::map<std::string, std::string> Fields(const std::string& output) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return fields;
}

TEST(ProbeClip, PrintsTheRecordOrARefusal) {
    TempDir dir;
    const std::string path = dir.File("clip.avi");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i sine -t 1 "
                          "-c:v mjpeg -c:a pcm_s16le",
                          path));
    auto fields = Fields(Shell("'" + Tool("probe-clip") + "' '" + path + "'"));
    EXPECT_EQ(fields["Width"], "352");
    EXPECT_EQ(fields["Height"], "288");
    EXPECT_EQ(fields["FrameRate"], "25");
    EXPECT_EQ(fields["FrameCount"], "25");
    EXPECT_EQ(fields["AudioBitsPerSample"], "16");
    EXPECT_EQ(fields.size(), 20u);

    const std::string refused = Shell("'" + Tool("probe-clip") + "' '" + dir.Path() + "' 2>&1; echo exit=$?");
    EXPECT_NE(refused.find("not a readable regular file: It is a folder, not a file."), std::string::npos)
        << refused;
    EXPECT_NE(refused.find("exit=1"), std::string::npos) << refused;
}

TEST(BenchReader, ReportsTheRunFromAStartTime) {
    TempDir dir;
    const std::string path = dir.File("clip.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 4 "
                          "-c:v libx264 -c:a aac",
                          path));
    auto fields = Fields(Shell("'" + Tool("bench-reader") + "' '" + path + "' --start 1 --end 3"));
    EXPECT_EQ(fields["pictures"], "51");  // from 1.00 s to the picture at 3.00 s: the end test is strict
    EXPECT_EQ(fields["audio_rate"], "48000");
    EXPECT_EQ(fields["first_video_time"], "0");
    EXPECT_NE(fields["video_thread"], fields["audio_thread"]);
    EXPECT_NE(fields["video_thread"], "0");

    // The picture that contains a start time between two pictures began before it.
    fields = Fields(Shell("'" + Tool("bench-reader") + "' '" + path + "' --start 1.01 --end 1.5"));
    EXPECT_EQ(fields["first_video_time"], "-100000");
}

}  // namespace
