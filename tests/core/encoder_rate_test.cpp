// The video rate the encoders achieve over a moving, noisy clip, as ffprobe counts the coded
// pictures' bytes: users size a disc by the average they set.
#include <cstdio>
#include <sstream>

#include "core/encoder_dvd_video.h"
#include "core/output_writer.h"
#include "core/video_encoder.h"
#include "encoder_test_support.h"

namespace {

using namespace encoder_test;

constexpr int kWidth = 720;
constexpr int kHeight = 480;
constexpr int kPictures = 900;  // 30 s at 29.97

// Moving pictures with fresh noise in each, bottom-up BGR24 as the reader delivers them, one
// at a time from ffmpeg, so that the clip never sits in memory whole.
class MovingClip {
public:
    MovingClip()
        : pipe_(popen(("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" +
                       std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                       ":rate=30000/1001,noise=alls=12:allf=t,vflip -frames:v " +
                       std::to_string(kPictures) + " -pix_fmt bgr24 -f rawvideo -")
                          .c_str(),
                      "r")),
          picture_(static_cast<size_t>(kWidth) * kHeight * 3) {}
    ~MovingClip() {
        if (pipe_) pclose(pipe_);
    }
    MovingClip(const MovingClip&) = delete;
    MovingClip& operator=(const MovingClip&) = delete;

    // The next picture, or null at the end.
    const uint8_t* Next() {
        if (!pipe_ || std::fread(picture_.data(), 1, picture_.size(), pipe_) != picture_.size())
            return nullptr;
        return picture_.data();
    }

private:
    std::FILE* pipe_;
    std::vector<uint8_t> picture_;
};

// Encodes the clip through one road; returns the pictures encoded.
int EncodeClip(const core::FixedEncoderHost& host, const std::string& path, bool direct,
               std::string* error) {
    MovingClip clip;
    int pictures = 0;
    if (direct) {
        core::OutputWriter writer(&host);
        if (core::ConfigureVobWriter(writer, host, path.c_str()) == 0)
            while (const uint8_t* bits = clip.Next())
                if (writer.WriteVideo(bits, 1)) ++pictures;
        writer.Close();
        *error = writer.Error();
        return pictures;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return *error = "cannot create " + path, 0;
    core::VideoEncoder encoder(&host);
    encoder.SetOutputFile(&file);
    if (encoder.Open(&host) == 1) {
        while (const uint8_t* bits = clip.Next())
            if (encoder.EncodeFrame(bits, 1) == 0) ++pictures;
        encoder.Finish();
    }
    std::fclose(file);
    *error = encoder.Error();
    return pictures;
}

// Bytes of coded pictures in the file's video stream, as ffprobe reads its packets.
double VideoBytes(const std::string& path) {
    std::istringstream sizes(Run("ffprobe -v error -select_streams v:0 -show_entries packet=size "
                                 "-of csv=p=0 '" +
                                 path + "'")
                                 .output);
    double bytes = 0;
    for (std::string line; std::getline(sizes, line);) bytes += std::atof(line.c_str());
    return bytes;
}

// Variable rate at the defaults (average 2400, maximum 8000, minimum 1200 kbit/s) once
// overshot to about 5 Mbit/s; both rate controls, on both roads, now hold the average within
// a tenth, and never above the maximum.
TEST(VideoRate, AchievedAverageIsTheOneSet) {
    const struct {
        uint32_t type, average, maximum;  // kbit/s
    } kCases[] = {{1, 2400, 8000}, {0, 2400, 2400}};
    TempDir dir;
    for (const auto& c : kCases) {
        for (bool direct : {false, true}) {
            SCOPED_TRACE(testing::Message() << (c.type ? "variable " : "constant ") << c.average
                                            << " kbit/s, " << (direct ? "direct VOB" : "elementary stream"));
            auto host = MakeHost(0, 3);
            host.settings.BitrateType = c.type;
            host.settings.Bitrate = c.average;
            host.settings.MaxBitrate = c.maximum;
            host.audio = {0, 0};
            const std::string path = dir.File(direct ? "rate.vob" : "rate.m2v");
            std::string error;
            ASSERT_EQ(EncodeClip(host, path, direct, &error), kPictures) << error;
            ASSERT_EQ(error, "");
            const double seconds = kPictures * 1001.0 / 30000.0;
            const double kbps = VideoBytes(path) * 8 / seconds / 1000;
            EXPECT_NEAR(kbps, c.average, c.average * 0.1);
            // The decoder's buffer starts filled ahead of the pictures, so a clip may carry up
            // to one buffer more than the maximum rate over its length.
            EXPECT_LE(kbps, c.maximum + core::kDvdVbvBufferBits / seconds / 1000);
        }
    }
}

}  // namespace
