// Fixtures for the encoder and VOB writer tests: hosts, generated pictures and sound, a private
// temporary folder, and ffmpeg/ffprobe as independent readers of what was written.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/encoder_host.h"
#include "core/encoder_picture.h"

namespace encoder_test {

// A folder of its own for each test, removed afterwards (ctest runs tests in parallel).
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivane-enc-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct CommandResult {
    int status = -1;
    std::string output;  // standard output only
};

inline CommandResult Run(const std::string& command) {
    CommandResult result;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, got);
    result.status = pclose(pipe);
    return result;
}

// What ffmpeg's decoder says about a file: empty when it decodes clean.
inline std::string DecodeErrors(const std::string& path) {
    return Run("ffmpeg -nostdin -v error -xerror -i '" + path + "' -f null - 2>&1").output;
}

// Decodes every picture of the first video stream: what the decoder complained about (empty
// when the stream decodes clean) and how many pictures came out. One process for both.
struct VideoCheck {
    std::string errors;
    int pictures = 0;
};

inline VideoCheck CheckVideo(const std::string& path) {
    const std::string out =
        Run("ffmpeg -nostdin -v error -xerror -i '" + path + "' -map 0:v:0 -f framecrc - 2>&1")
            .output;
    VideoCheck check;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        if (line.rfind("0,", 0) == 0)
            ++check.pictures;
        else if (!line.empty() && line[0] != '#')
            check.errors += line + "\n";
        start = end + 1;
    }
    return check;
}

// One ffprobe value of the first stream of a kind ("v" or "a"), e.g. Probe(f, "v", "width").
inline std::string Probe(const std::string& path, const char* stream, const std::string& entry,
                         const std::string& extra = "") {
    std::string out = Run("ffprobe -v error " + extra + " -select_streams " + stream +
                          ":0 -show_entries stream=" + entry +
                          " -of default=noprint_wrappers=1:nokey=1 '" + path + "'")
                          .output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// Decoded pictures or sound as raw bytes, e.g. "-f rawvideo -pix_fmt rgb24".
inline std::string Decode(const std::string& path, const std::string& outputFormat,
                          const char* stream = "v") {
    return Run("ffmpeg -nostdin -v error -i '" + path + "' -map 0:" + stream + ":0 " +
               outputFormat + " -")
        .output;
}

// A host with the defaults and the derived fields of a standard and a frame-size row.
inline core::FixedEncoderHost MakeHost(int standard = 0, int resolutionIndex = 3) {
    static const int kSizes[2][4][2] = {{{352, 240}, {352, 480}, {704, 480}, {720, 480}},
                                        {{352, 288}, {352, 576}, {704, 576}, {720, 576}}};
    core::FixedEncoderHost host;
    core::Settings& s = host.settings;
    s.Standard = standard;
    s.VideoResolutionIndex = resolutionIndex;
    s.OutputWidth = kSizes[standard][resolutionIndex][0];
    s.OutputHeight = kSizes[standard][resolutionIndex][1];
    s.FrameRateNum = standard == 0 ? 30000 : 25;
    s.FrameRateDen = standard == 0 ? 1001 : 1;
    s.AudioKbps = 384;
    host.picture.SourceWidth = s.OutputWidth;
    host.picture.SourceHeight = s.OutputHeight;
    host.audio = {2, 48000};
    return host;
}

// A picture as the source reader delivers it (bottom-up BGR24, rows padded to 4 bytes) and the
// same picture upright as RGB24, the way ffmpeg decodes to rgb24.
struct TestPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bottomUpBgr;
    std::vector<uint8_t> uprightRgb;
};

// pixel(x, y) gives the upright RGB of each pixel.
template <typename PixelFn>
TestPicture MakePicture(int width, int height, PixelFn pixel) {
    TestPicture picture{width, height, {}, {}};
    const int rowBytes = core::DibRowBytes(width);
    picture.bottomUpBgr.assign(static_cast<size_t>(rowBytes) * height, 0xEE);  // junk padding
    picture.uprightRgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        uint8_t* bgr = picture.bottomUpBgr.data() + static_cast<size_t>(height - 1 - y) * rowBytes;
        uint8_t* rgb = picture.uprightRgb.data() + static_cast<size_t>(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            const auto [r, g, b] = pixel(x, y);
            rgb[3 * x] = r;
            rgb[3 * x + 1] = g;
            rgb[3 * x + 2] = b;
            bgr[3 * x] = b;
            bgr[3 * x + 1] = g;
            bgr[3 * x + 2] = r;
        }
    }
    return picture;
}

struct Rgb {
    uint8_t r, g, b;
};

// Smooth quadrants of distinct colours with a diagonal ramp: upside-down or mirrored output
// cannot match it, and MPEG-2 codes it well.
inline TestPicture MakeTestCard(int width, int height) {
    return MakePicture(width, height, [=](int x, int y) {
        const bool top = y < height / 2, left = x < width / 2;
        const int ramp = (x + y) * 60 / (width + height);
        if (top && left) return Rgb{uint8_t(200 + ramp / 2), uint8_t(40 + ramp), 40};
        if (top) return Rgb{40, uint8_t(180 + ramp), 60};
        if (left) return Rgb{50, 60, uint8_t(190 + ramp)};
        return Rgb{uint8_t(230 - ramp), uint8_t(230 - ramp), 60};
    });
}

inline double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / (sum / n));
}

// Interleaved 16-bit sine, `frequency` Hz on the first channel, silence on the second.
inline std::vector<int16_t> MakeTone(int sampleRate, int channels, int samples,
                                     double frequency = 440.0) {
    std::vector<int16_t> pcm(static_cast<size_t>(samples) * channels, 0);
    for (int i = 0; i < samples; ++i)
        pcm[static_cast<size_t>(i) * channels] =
            static_cast<int16_t>(10000 * std::sin(2 * M_PI * frequency * i / sampleRate));
    return pcm;
}

}  // namespace encoder_test
