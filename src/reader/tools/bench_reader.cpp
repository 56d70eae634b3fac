// bench-reader FILE [--start SECONDS] [--end SECONDS] [--dump-first PATH] [--stop-after N]
//
// Runs the source graph over FILE into a counting sink and prints what arrived: pictures,
// audio sample frames, first and last sample times, the delivering threads and the speed.
// --dump-first writes the first picture as top-down BGR rows without padding (what ffmpeg
// writes for -pix_fmt bgr24 -f rawvideo); --stop-after stops the job after N pictures.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/com/class_table.h"
#include "platform/dshow/media_type.h"
#include "reader/source_graph.h"

namespace {

using namespace platform::dshow;
using Clock = std::chrono::steady_clock;

long ThreadId() { return long(::syscall(SYS_gettid)); }

struct StreamCount {
    bool seen = false;
    int64_t samples = 0;
    REFERENCE_TIME first = -1;  // may be negative: the first picture starts before the seek
    REFERENCE_TIME last = -1;
    long thread = 0;
};

class CountingSink : public reader::SampleSink, public reader::GraphOwner {
public:
    double endSeconds = -1;  // relative to the range start; negative: to the end of the file
    long stopAfter = -1;
    std::string dumpPath;

    HRESULT OnVideoFormat(const AM_MEDIA_TYPE* type) override {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
        width_ = info->bmiHeader.biWidth;
        height_ = info->bmiHeader.biHeight;
        return 0;
    }
    HRESULT OnAudioFormat(const AM_MEDIA_TYPE* type) override {
        const auto* format = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
        blockAlign_ = format->nBlockAlign;
        rate_ = format->nSamplesPerSec;
        return 0;
    }
    HRESULT OnVideoSample(IMediaSample* sample) override {
        if (stop_.IsSet()) return 0;
        REFERENCE_TIME start = 0, end = 0;
        sample->GetTime(&start, &end);
        if (endSeconds >= 0 && double(start) * 1e-7 > endSeconds) {
            stop_.Set();
            return 0;
        }
        if (video_.samples == 0) {
            firstPicture_ = Clock::now();
            if (!dumpPath.empty()) Dump(sample);
        }
        Note(video_, start, 1);
        lastPicture_ = Clock::now();
        if (stopAfter >= 0 && video_.samples >= stopAfter) {
            stopRequested_ = Clock::now();
            stop_.Set();
        }
        return 0;
    }
    HRESULT OnAudioSample(IMediaSample* sample) override {
        if (stop_.IsSet()) return 0;
        REFERENCE_TIME start = 0, end = 0;
        sample->GetTime(&start, &end);
        Note(audio_, start, blockAlign_ ? sample->GetActualDataLength() / blockAlign_ : 0);
        return 0;
    }
    HRESULT OnEndOfStream() override { return 0; }
    HRESULT OnAudioEndOfStream() override { return 0; }

    reader::SampleSink* Sink() override { return this; }
    const platform::ManualResetEvent* StopEvent() override { return &stop_; }
    const platform::ManualResetEvent* CancelEvent() override { return nullptr; }

    void Print(Clock::time_point stopped) const {
        std::printf("pictures=%" PRId64 "\n", video_.samples);
        std::printf("picture_size=%dx%d\n", width_, height_);
        std::printf("audio_samples=%" PRId64 "\n", audio_.samples);
        std::printf("audio_rate=%u\n", rate_);
        std::printf("first_video_time=%" PRId64 "\n", video_.first);
        std::printf("last_video_time=%" PRId64 "\n", video_.last);
        std::printf("first_audio_time=%" PRId64 "\n", audio_.first);
        std::printf("last_audio_time=%" PRId64 "\n", audio_.last);
        std::printf("video_thread=%ld\n", video_.thread);
        std::printf("audio_thread=%ld\n", audio_.thread);
        const double seconds = std::chrono::duration<double>(lastPicture_ - firstPicture_).count();
        std::printf("pictures_per_second=%.1f\n",
                    video_.samples > 1 && seconds > 0 ? double(video_.samples - 1) / seconds : 0.0);
        if (stopAfter >= 0) {
            std::printf("stop_ms=%.1f\n",
                        std::chrono::duration<double, std::milli>(stopped - stopRequested_).count());
        }
    }

private:
    void Note(StreamCount& count, REFERENCE_TIME start, int64_t samples) {
        std::lock_guard lock(mutex_);
        if (!count.seen) count.first = start;
        count.seen = true;
        count.last = start;
        count.samples += samples;
        count.thread = ThreadId();
    }

    void Dump(IMediaSample* sample) const {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const size_t stride = Rgb24Stride(width_);
        FILE* out = std::fopen(dumpPath.c_str(), "wb");
        if (out == nullptr) return;
        for (int row = height_ - 1; row >= 0; --row) {
            std::fwrite(data + size_t(row) * stride, 1, size_t(width_) * 3, out);
        }
        std::fclose(out);
    }

    std::mutex mutex_;
    platform::ManualResetEvent stop_;
    StreamCount video_, audio_;
    int width_ = 0, height_ = 0;
    unsigned blockAlign_ = 0, rate_ = 0;
    Clock::time_point firstPicture_{}, lastPicture_{}, stopRequested_{};
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-reader FILE [--start S] [--end S] [--dump-first PATH] [--stop-after N]\n");
        return 2;
    }
    CountingSink sink;
    double start = 0.0;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--start") == 0) start = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--end") == 0) sink.endSeconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dump-first") == 0) sink.dumpPath = argv[i + 1];
        else if (std::strcmp(argv[i], "--stop-after") == 0) sink.stopAfter = std::atol(argv[i + 1]);
        else {
            std::fprintf(stderr, "bench-reader: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (sink.endSeconds >= 0) sink.endSeconds -= start;

    // FFmpeg's complaints about damaged packets are not this tool's output.
    av_log_set_level(AV_LOG_QUIET);
    platform::com::ScopedComInit com;
    reader::ClipRecord clip;
    if (clip.ReadMediaInfo(argv[1]) != 0) {
        std::fprintf(stderr, "bench-reader: %s cannot be probed\n", argv[1]);
        return 1;
    }
    clip.RangeStart = start;
    reader::SourceGraph graph;
    graph.Init(&sink);
    const HRESULT built = graph.Build(&clip);
    if (platform::com::FAILED(built)) {
        std::fprintf(stderr, "bench-reader: the graph cannot be built (0x%08X)\n", unsigned(built));
        return 1;
    }
    graph.RenderGraph();
    const Clock::time_point stopped = Clock::now();
    graph.Release();
    sink.Print(stopped);
    return 0;
}
