// bench-encoders: encodes a generated moving picture and a tone through both roads, reports
// pictures per second, and leaves the results behind as fixtures:
//   DIR/Chapter00.m2v and DIR/Chapter00.mp2 (or .ac3) through the elementary-stream encoders,
//   DIR/direct.vob through the direct program-stream writer.
// With --compare-ffmpeg it also times the ffmpeg command-line encoder on the same pictures.

#include <getopt.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/audio_encoder.h"
#include "core/encoder_dvd_video.h"
#include "core/output_writer.h"
#include "core/video_encoder.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace {

struct Options {
    std::string outDir;
    bool pal = false;
    double seconds = 10.0;
    bool ac3 = false;
    int width = 720;
    int height = 480;
    int sampleRate = 48000;
    int channels = 2;
    unsigned bitrate = 0;  // kbit/s; 0 keeps the settings' default
    int rounds = 1;        // the best of several rounds evens out a busy machine
    bool compareFfmpeg = false;
};

constexpr int kDistinctPictures = 30;  // generated once, then cycled

void Usage() {
    std::fprintf(stderr,
                 "usage: bench-encoders --out DIR [--standard ntsc|pal] [--seconds N]\n"
                 "       [--audio mp2|ac3] [--width W --height H] [--sample-rate HZ]\n"
                 "       [--channels 1|2] [--bitrate KBPS] [--compare-ffmpeg] [--rounds N]\n");
}

bool ParseOptions(int argc, char** argv, Options* options) {
    static const option kLong[] = {{"out", required_argument, nullptr, 'o'},
                                   {"standard", required_argument, nullptr, 's'},
                                   {"seconds", required_argument, nullptr, 'n'},
                                   {"audio", required_argument, nullptr, 'a'},
                                   {"width", required_argument, nullptr, 'w'},
                                   {"height", required_argument, nullptr, 'h'},
                                   {"sample-rate", required_argument, nullptr, 'r'},
                                   {"channels", required_argument, nullptr, 'c'},
                                   {"bitrate", required_argument, nullptr, 'b'},
                                   {"rounds", required_argument, nullptr, 'k'},
                                   {"compare-ffmpeg", no_argument, nullptr, 'f'},
                                   {nullptr, 0, nullptr, 0}};
    int c;
    while ((c = getopt_long(argc, argv, "", kLong, nullptr)) != -1) {
        switch (c) {
            case 'o':
                options->outDir = optarg;
                break;
            case 's':
                if (std::strcmp(optarg, "ntsc") != 0 && std::strcmp(optarg, "pal") != 0)
                    return false;
                options->pal = std::strcmp(optarg, "pal") == 0;
                break;
            case 'n':
                options->seconds = std::atof(optarg);
                break;
            case 'a':
                if (std::strcmp(optarg, "mp2") != 0 && std::strcmp(optarg, "ac3") != 0)
                    return false;
                options->ac3 = std::strcmp(optarg, "ac3") == 0;
                break;
            case 'w':
                options->width = std::atoi(optarg);
                break;
            case 'h':
                options->height = std::atoi(optarg);
                break;
            case 'r':
                options->sampleRate = std::atoi(optarg);
                break;
            case 'c':
                options->channels = std::atoi(optarg);
                break;
            case 'b':
                options->bitrate = static_cast<unsigned>(std::atoi(optarg));
                break;
            case 'f':
                options->compareFfmpeg = true;
                break;
            case 'k':
                options->rounds = std::atoi(optarg);
                break;
            default:
                return false;
        }
    }
    return optind == argc && !options->outDir.empty() && options->seconds > 0 &&
           options->rounds > 0 && options->width > 0 && options->height > 0 &&
           options->sampleRate > 0 && (options->channels == 1 || options->channels == 2);
}

// The job's defaults with the derived fields of the chosen standard, and the pad bands the
// job's sink computes for a source of another shape (kept proportions, even bands).
core::FixedEncoderHost MakeHost(const Options& options) {
    core::FixedEncoderHost host;
    core::Settings& s = host.settings;
    s.Standard = options.pal ? 1 : 0;
    s.AudioFormat = options.ac3 ? 1 : 0;
    if (options.bitrate != 0) s.Bitrate = options.bitrate;
    s.ApplyVideoStandard();

    core::PictureGeometry& g = host.picture;
    g.SourceWidth = options.width;
    g.SourceHeight = options.height;
    g.NeedsScaling = g.SourceWidth != s.OutputWidth || g.SourceHeight != s.OutputHeight;
    if (g.NeedsScaling) {
        const double sw = g.SourceWidth, sh = g.SourceHeight, tw = s.OutputWidth,
                     th = s.OutputHeight;
        const bool sourceWider = tw / th < sw / sh;
        const int v = sourceWider ? static_cast<int>((th - sh * tw / sw) * 0.5)
                                  : static_cast<int>((tw - sw * th / sh) * 0.5);
        const int first = v % 2 ? v + 1 : v, second = v % 2 ? v - 1 : v;
        (sourceWider ? g.PadTop : g.PadLeft) = first;
        (sourceWider ? g.PadBottom : g.PadRight) = second;
    }
    host.audio = {options.channels, options.sampleRate};
    return host;
}

// A moving test picture, bottom-up BGR24 with bitmap rows (multiple of 4 bytes).
std::vector<std::vector<uint8_t>> MakePictures(int width, int height) {
    const int rowBytes = core::DibRowBytes(width);
    std::vector<std::vector<uint8_t>> pictures(kDistinctPictures);
    for (int t = 0; t < kDistinctPictures; ++t) {
        std::vector<uint8_t>& bits = pictures[t];
        bits.assign(static_cast<size_t>(rowBytes) * height, 0);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = bits.data() + static_cast<size_t>(height - 1 - y) * rowBytes;
            for (int x = 0; x < width; ++x) {
                const bool square = ((x + 8 * t) / 32 + y / 32) % 2 == 0;
                row[3 * x + 0] = static_cast<uint8_t>(x * 255 / width);
                row[3 * x + 1] = static_cast<uint8_t>(square ? 200 : 40);
                row[3 * x + 2] = static_cast<uint8_t>(y * 255 / height + 4 * t);
            }
        }
    }
    return pictures;
}

std::vector<int16_t> MakeTone(const Options& options, int64_t samplesPerChannel) {
    std::vector<int16_t> tone(static_cast<size_t>(samplesPerChannel) * options.channels);
    for (int64_t i = 0; i < samplesPerChannel; ++i)
        for (int c = 0; c < options.channels; ++c)
            tone[i * options.channels + c] = static_cast<int16_t>(
                8000 * std::sin(2 * M_PI * (440.0 * (c + 1)) * i / options.sampleRate));
    return tone;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Best pictures per second of each road over the rounds, in first-report order.
std::vector<std::pair<std::string, double>> g_best;

void Report(const char* road, int64_t pictures, double seconds) {
    std::printf("%-24s %6lld pictures in %7.3f s: %8.1f pictures/s\n", road,
                static_cast<long long>(pictures), seconds, pictures / seconds);
    for (auto& [name, best] : g_best)
        if (name == road) return void(best = std::max(best, pictures / seconds));
    g_best.emplace_back(road, pictures / seconds);
}

double BestRate(const std::string& road) {
    for (const auto& [name, best] : g_best)
        if (name == road) return best;
    return 0.0;
}

bool Fail(const char* what, const std::string& reason) {
    std::fprintf(stderr, "bench-encoders: %s: %s\n", what, reason.c_str());
    return false;
}

// The opened video encoder's settings as ffmpeg command-line options, so that ffmpeg's own
// encoder runs with exactly the parameters ours got (rate control, quantiser and lambda limits,
// GOP, B-pictures, threads), not with a copy of the rules that chose them.
std::string FfmpegEncoderOptions(const AVCodecContext* ctx) {
    static const char* const kNames[] = {
        "b",       "maxrate",      "minrate",    "bt",          "bufsize",   "rc_init_occupancy",
        "g",       "bf",           "b_qfactor",  "b_qoffset",   "i_qfactor", "i_qoffset",
        "qblur",   "qdiff",        "mbd",        "dc",          "qmin",      "qmax",
        "mblmin",  "mblmax",       "threads",    "lmin",        "lmax",      "rc_buf_aggressivity",
        "qsquish", "rc_init_cplx", "b_strategy", "sc_threshold", "mpv_flags"};
    std::string line;
    for (const char* name : kNames) {
        uint8_t* value = nullptr;
        if (av_opt_get(const_cast<AVCodecContext*>(ctx), name, AV_OPT_SEARCH_CHILDREN, &value) < 0)
            continue;
        line += std::string(" -") + name + " " + reinterpret_cast<const char*>(value);
        av_free(value);
    }
    if (ctx->flags & AV_CODEC_FLAG_QSCALE)
        line += " -flags +qscale -global_quality " + std::to_string(ctx->global_quality);
    if (ctx->flags & AV_CODEC_FLAG_CLOSED_GOP) line += " -flags +cgop";
    return line;
}

// ffmpegOptions receives the opened video encoder's settings for the comparison.
bool RunElementaryRoad(const Options& options, core::FixedEncoderHost& host,
                       const std::vector<std::vector<uint8_t>>& pictures, int64_t pictureCount,
                       const std::vector<int16_t>& tone, std::string* ffmpegOptions) {
    const std::string videoPath = options.outDir + "/Chapter00.m2v";
    const std::string audioPath =
        options.outDir + (options.ac3 ? "/Chapter00.ac3" : "/Chapter00.mp2");
    std::FILE* videoFile = std::fopen(videoPath.c_str(), "wb");
    std::FILE* audioFile = std::fopen(audioPath.c_str(), "wb");
    if (!videoFile || !audioFile) return Fail("cannot create", videoFile ? audioPath : videoPath);

    core::VideoEncoder video(&host);
    video.SetOutputFile(&videoFile);
    auto start = std::chrono::steady_clock::now();
    if (video.Open(&host) != 1) return Fail("video", video.Error());
    *ffmpegOptions = FfmpegEncoderOptions(video.CodecContext());
    for (int64_t i = 0; i < pictureCount; ++i)
        if (video.EncodeFrame(pictures[i % kDistinctPictures].data(), 1) != 0)
            return Fail("video", video.Error());
    if (video.Finish() != 0) return Fail("video", video.Error());
    Report("elementary-stream video", pictureCount, Seconds(start));

    core::JobAudioEncoder audio(&host);
    audio.SetOutputFile(&audioFile);
    start = std::chrono::steady_clock::now();
    if (audio.Open() != 0) return Fail("audio", audio.Error());
    const int block = options.sampleRate / 10 * options.channels;  // 100 ms blocks
    for (size_t at = 0; at < tone.size(); at += block) {
        const int count = static_cast<int>(std::min<size_t>(block, tone.size() - at));
        if (audio.EncodeSamples(tone.data() + at, count) != 0) return Fail("audio", audio.Error());
    }
    if (audio.Finish() != 0) return Fail("audio", audio.Error());
    std::printf("%-24s %6.1f s of sound in %7.3f s\n", "elementary-stream audio", options.seconds,
                Seconds(start));
    const bool closed = std::fclose(videoFile) == 0 && std::fclose(audioFile) == 0;
    return closed || Fail("cannot close", "output files");
}

bool RunDirectRoad(const Options& options, core::FixedEncoderHost& host,
                   const std::vector<std::vector<uint8_t>>& pictures, int64_t pictureCount,
                   const std::vector<int16_t>& tone) {
    const core::Settings& s = host.settings;
    core::OutputWriter writer(&host);
    const auto start = std::chrono::steady_clock::now();
    if (core::ConfigureVobWriter(writer, host, (options.outDir + "/direct.vob").c_str()) < 0)
        return Fail("direct", writer.Error());
    const int64_t totalSamples = static_cast<int64_t>(tone.size()) / options.channels;
    int64_t samplesWritten = 0;
    for (int64_t i = 0; i < pictureCount; ++i) {
        if (!writer.WriteVideo(pictures[i % kDistinctPictures].data(), 1))
            return Fail("direct", writer.Error());
        // Sound up to the end of this picture, as the job's sink hands it over.
        const int64_t due =
            std::min(totalSamples, (i + 1) * options.sampleRate *
                                       static_cast<int64_t>(s.FrameRateDen) / s.FrameRateNum);
        if (due > samplesWritten &&
            !writer.WriteAudio(tone.data() + samplesWritten * options.channels,
                               static_cast<int>((due - samplesWritten) * options.channels)))
            return Fail("direct", writer.Error());
        samplesWritten = std::max(due, samplesWritten);
    }
    if (!writer.Close()) return Fail("direct", writer.Error());
    Report("direct VOB", pictureCount, Seconds(start));
    return true;
}

// The same pictures, top-down as ffmpeg's rawvideo wants them, through ffmpeg's own
// mpeg2video encoder with the elementary road's encoder settings, scaled into the same inner
// rectangle of the same padded frame.
bool RunFfmpeg(const Options& options, const core::FixedEncoderHost& host,
               const std::vector<std::vector<uint8_t>>& pictures, int64_t pictureCount,
               const std::string& encoderOptions) {
    const core::Settings& s = host.settings;
    const core::PictureGeometry& g = host.picture;
    const std::string rawPath = options.outDir + "/pictures.bgr";
    std::FILE* raw = std::fopen(rawPath.c_str(), "wb");
    if (!raw) return Fail("cannot create", rawPath);
    const int rowBytes = core::DibRowBytes(options.width);
    for (const auto& bits : pictures)
        for (int y = options.height - 1; y >= 0; --y)
            std::fwrite(bits.data() + static_cast<size_t>(y) * rowBytes, 1, options.width * 3, raw);
    if (std::fclose(raw) != 0) return Fail("cannot write", rawPath);

    const AVRational aspect = core::SampleAspectFor4x3(s.OutputWidth, s.OutputHeight);
    std::string filters = "scale=" + std::to_string(s.OutputWidth - g.PadLeft - g.PadRight) + ":" +
                          std::to_string(s.OutputHeight - g.PadTop - g.PadBottom) +
                          ":flags=bicubic";
    if (g.PadLeft || g.PadRight || g.PadTop || g.PadBottom)  // black, as the job pads
        filters += ",pad=" + std::to_string(s.OutputWidth) + ":" + std::to_string(s.OutputHeight) +
                   ":" + std::to_string(g.PadLeft) + ":" + std::to_string(g.PadTop) + ":black";
    filters += ",setsar=" + std::to_string(aspect.num) + "/" + std::to_string(aspect.den);
    char command[4096];
    std::snprintf(command, sizeof command,
                  "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s %dx%d -r %u/%u "
                  "-stream_loop -1 -i '%s' -frames:v %lld -vf '%s' -pix_fmt yuv420p "
                  "-c:v mpeg2video%s -f mpeg2video '%s/ffmpeg.m2v'",
                  options.width, options.height, s.FrameRateNum, s.FrameRateDen, rawPath.c_str(),
                  static_cast<long long>(pictureCount), filters.c_str(), encoderOptions.c_str(),
                  options.outDir.c_str());
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command);
    const double seconds = Seconds(start);
    std::filesystem::remove(rawPath);
    if (status != 0) return Fail("ffmpeg", "command failed: " + std::string(command));
    Report("ffmpeg mpeg2video", pictureCount, seconds);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Usage();
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(options.outDir, ec);
    core::FixedEncoderHost host = MakeHost(options);
    const core::Settings& s = host.settings;
    const int64_t pictureCount = std::llround(options.seconds * s.FrameRateNum / s.FrameRateDen);
    const auto pictures = MakePictures(options.width, options.height);
    const auto tone = MakeTone(options, std::llround(options.seconds * options.sampleRate));

    bool ok = true;
    std::string ffmpegOptions;
    for (int round = 0; ok && round < options.rounds; ++round) {
        ok = RunElementaryRoad(options, host, pictures, pictureCount, tone, &ffmpegOptions) &&
             RunDirectRoad(options, host, pictures, pictureCount, tone);
        if (ok && options.compareFfmpeg)
            ok = RunFfmpeg(options, host, pictures, pictureCount, ffmpegOptions);
    }
    if (ok && options.compareFfmpeg)
        std::printf("ffmpeg ran with the encoder options:%s\n", ffmpegOptions.c_str());
    if (ok && options.rounds > 1)
        for (const auto& [road, best] : g_best)
            std::printf("best %-24s %8.1f pictures/s\n", road.c_str(), best);
    if (ok && options.compareFfmpeg)  // the elementary road must keep at least 0.9 of ffmpeg's
        std::printf("elementary-stream video / ffmpeg mpeg2video: %.2f\n",
                    BestRate("elementary-stream video") / BestRate("ffmpeg mpeg2video"));
    return ok ? 0 : 1;
}
