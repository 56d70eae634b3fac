#include "reader/source_graph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "display_turn.h"
#include "media_fixtures.h"
#include "core/log.h"
#include "platform/com/class_table.h"

namespace {

using namespace platform::dshow;
using reader::ClipRecord;
using reader::SourceGraph;
using reader_test::MakeMedia;
using reader_test::Probe;
using reader_test::TempDir;

// Records what the receivers hand over, like the job's sink but without encoding.
class RecordingSink : public reader::SampleSink, public reader::GraphOwner {
public:
    long stopAfterPictures = -1;
    int pictureDelayMs = 0;  // a slow sink, so that the clip cannot end before the stop
    std::atomic<bool> graphReturned{false};
    std::atomic<int> callsAfterReturn{0};

    HRESULT OnVideoFormat(const AM_MEDIA_TYPE* type) override {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
        width = info->bmiHeader.biWidth;
        height = info->bmiHeader.biHeight;
        pixel = PixelAspectOf(info->bmiHeader);
        ++videoFormats;
        return 0;
    }
    HRESULT OnAudioFormat(const AM_MEDIA_TYPE* type) override {
        format = *reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
        return 0;
    }
    HRESULT OnVideoSample(IMediaSample* sample) override {
        Arrived();
        std::lock_guard lock(mutex);
        REFERENCE_TIME start = 0, stop = 0;
        EXPECT_EQ(sample->GetTime(&start, &stop), 0);
        EXPECT_EQ(sample->GetActualDataLength(), long(Rgb24Stride(width) * height));
        if (videoTimes.empty()) {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            firstPicture.assign(data, data + sample->GetActualDataLength());
        }
        videoTimes.push_back(start);
        threads.insert(std::this_thread::get_id());
        if (stopAfterPictures >= 0 && long(videoTimes.size()) >= stopAfterPictures) stop_.Set();
        if (pictureDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pictureDelayMs));
        return 0;
    }
    HRESULT OnAudioSample(IMediaSample* sample) override {
        Arrived();
        REFERENCE_TIME start = 0, stop = 0;
        sample->GetTime(&start, &stop);
        std::lock_guard lock(mutex);
        EXPECT_EQ(start, audioSamples * kUnitsPerSecond / 48000) << "audio must be gapless";
        audioSamples += sample->GetActualDataLength() / format.nBlockAlign;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const auto* values = reinterpret_cast<const int16_t*>(data);
        const size_t count = size_t(sample->GetActualDataLength()) / sizeof(int16_t);
        if (audioHead.size() < kHeadValues) audioHead.insert(audioHead.end(), values, values + count);
        audioThreads.insert(std::this_thread::get_id());
        return 0;
    }
    HRESULT OnEndOfStream() override { return 0; }
    HRESULT OnAudioEndOfStream() override {
        audioEnded = true;
        return 0;
    }

    reader::SampleSink* Sink() override { return this; }
    const platform::ManualResetEvent* StopEvent() override { return &stop_; }
    const platform::ManualResetEvent* CancelEvent() override { return &cancel; }
    BITMAPINFOHEADER WantedPicture(const BITMAPINFOHEADER& offered) override {
        return wanted.biWidth > 0 ? wanted : offered;
    }

    platform::ManualResetEvent cancel;
    BITMAPINFOHEADER wanted{};  // none: the pictures come as offered

    std::mutex mutex;
    int width = 0, height = 0;
    PixelAspect pixel;
    int videoFormats = 0;
    WAVEFORMATEX format{};
    static constexpr size_t kHeadValues = 48000;
    std::vector<int16_t> audioHead;  // the first second of mono sound, or half of stereo
    std::vector<REFERENCE_TIME> videoTimes;
    std::vector<BYTE> firstPicture;
    int64_t audioSamples = 0;
    std::set<std::thread::id> threads, audioThreads;
    std::atomic<bool> audioEnded{false};

protected:
    void Arrived() {
        if (graphReturned) ++callsAfterReturn;
    }
    platform::ManualResetEvent stop_;

public:
    void Stop() { stop_.Set(); }
};

class SourceGraphRun : public testing::Test {
protected:
    // Runs the clip from start seconds through the source graph into sink.
    void Read(const std::string& path, double start, RecordingSink* sink) {
        ASSERT_EQ(clip_.ReadMediaInfo(path), 0);
        clip_.RangeStart = start;
        SourceGraph graph;
        graph.Init(sink);
        ASSERT_EQ(graph.Build(&clip_), 0);
        EXPECT_EQ(graph.RenderGraph(), 0);
        sink->graphReturned = true;
        graph.Release();
    }

    platform::com::ScopedComInit com_;
    TempDir dir_;
    ClipRecord clip_;
};

// To the end of the file: exactly the pictures ffmpeg decodes, gapless 48 kHz sound as long
// as the clip, on two delivering threads.
TEST_F(SourceGraphRun, DeliversWholeClipOnTwoThreads) {
    const std::string path = dir_.File("clip.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=320x240:rate=30000/1001 "
                          "-f lavfi -i sine=sample_rate=44100 -t 2 -c:v libx264 -bf 2 -c:a aac",
                          path));
    RecordingSink sink;
    Read(path, 0.0, &sink);

    const long frames = std::atol(Probe(path, "v:0", "stream=nb_read_frames", true).c_str());
    EXPECT_EQ(long(sink.videoTimes.size()), frames);
    EXPECT_EQ(sink.width, 320);
    EXPECT_EQ(sink.height, 240);
    EXPECT_EQ(sink.format.nSamplesPerSec, 48000u);
    EXPECT_EQ(sink.format.wBitsPerSample, 16);
    EXPECT_NEAR(double(sink.audioSamples), clip_.VideoLength * 48000, 1300);
    EXPECT_TRUE(sink.audioEnded);
    ASSERT_EQ(sink.threads.size(), 1u);
    ASSERT_EQ(sink.audioThreads.size(), 1u);
    EXPECT_NE(*sink.threads.begin(), *sink.audioThreads.begin());
    EXPECT_EQ(sink.videoTimes.front(), 0);
    for (size_t i = 1; i < sink.videoTimes.size(); ++i) {
        EXPECT_GT(sink.videoTimes[i], sink.videoTimes[i - 1]);
    }
    EXPECT_EQ(sink.callsAfterReturn, 0);
}

// An owner that takes the pictures at another size gets them scaled by the source: the sink
// hears of that one format only, and the pictures keep their times. A picture band-striped
// top to bottom shows they stay upright.
TEST_F(SourceGraphRun, PicturesComeAtTheSizeTheOwnerWants) {
    const std::string path = dir_.File("clip.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i color=c=red:size=320x120:rate=25 -f lavfi "
                          "-i color=c=blue:size=320x120:rate=25 -filter_complex vstack -t 1 "
                          "-c:v libx264 -pix_fmt yuv420p",
                          path));
    RecordingSink native;
    Read(path, 0.0, &native);

    RecordingSink fitted;
    fitted.wanted.biWidth = 160;
    fitted.wanted.biHeight = 90;
    SetPixelAspect(fitted.wanted, PixelAspect{4, 3});
    Read(path, 0.0, &fitted);

    EXPECT_EQ(native.videoFormats, 1);
    EXPECT_EQ(native.width, 320);
    EXPECT_EQ(fitted.videoFormats, 1);
    EXPECT_EQ(fitted.width, 160);
    EXPECT_EQ(fitted.height, 90);
    EXPECT_EQ(fitted.pixel.width, 4);
    EXPECT_EQ(fitted.pixel.height, 3);
    EXPECT_EQ(fitted.videoTimes, native.videoTimes);
    // Bottom-up rows: the first stored row is the picture's bottom, blue; the last is red.
    ASSERT_EQ(fitted.firstPicture.size(), size_t(Rgb24Stride(160) * 90));
    const BYTE* bottom = fitted.firstPicture.data();
    const BYTE* top = bottom + size_t(Rgb24Stride(160)) * 89;
    EXPECT_GT(bottom[0], 200);  // BGR: blue
    EXPECT_LT(bottom[2], 50);
    EXPECT_GT(top[2], 200);  // red
    EXPECT_LT(top[0], 50);

    // A wanted picture that is none (top-down rows, which the sink cannot take) leaves the
    // clip readable at its offered size.
    RecordingSink unusable;
    unusable.wanted.biWidth = 160;
    unusable.wanted.biHeight = -90;
    Read(path, 0.0, &unusable);
    EXPECT_EQ(unusable.width, 320);
    EXPECT_EQ(unusable.height, 240);
    EXPECT_EQ(unusable.videoTimes, native.videoTimes);
}

// Windows Media files take the reader road (their own source filter, then every pin
// rendered) and arrive the same way.
TEST_F(SourceGraphRun, WindowsMediaFilesArriveThroughTheAsfReaderRoad) {
    const std::string path = dir_.File("clip.WMV");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 2 "
                          "-c:v wmv2 -c:a wmav2 -f asf",
                          path));
    ASSERT_TRUE(SourceGraph::IsWindowsMediaFile(path));
    RecordingSink sink;
    Read(path, 0.0, &sink);
    const long frames = std::atol(Probe(path, "v:0", "stream=nb_read_frames", true).c_str());
    EXPECT_EQ(long(sink.videoTimes.size()), frames);
    EXPECT_TRUE(sink.audioEnded);
    EXPECT_GT(sink.audioSamples, 48000);
}

struct SeekCase {
    const char* name;
    const char* file;
    const char* size;
    const char* codecs;
};

void PrintTo(const SeekCase& c, std::ostream* out) { *out << c.name; }

class SourceGraphSeek : public SourceGraphRun, public testing::WithParamInterface<SeekCase> {};

double MeanDifference(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

// From a start time the first picture delivered is the one that contains that time, as
// ffmpeg itself decodes it, stamped at or just before 0.
TEST_P(SourceGraphSeek, FirstPictureContainsTheStartTime) {
    const std::string path = dir_.File(GetParam().file);
    ASSERT_TRUE(MakeMedia(std::string("-f lavfi -i testsrc=size=") + GetParam().size +
                              ":rate=25 -f lavfi -i sine=sample_rate=48000 -t 4 -g 12 " + GetParam().codecs,
                          path));
    RecordingSink sink;
    const double start = 2.5;  // inside the third group of pictures
    Read(path, start, &sink);
    ASSERT_FALSE(sink.videoTimes.empty());
    EXPECT_LE(sink.videoTimes.front(), 0);
    EXPECT_GT(sink.videoTimes.front(), -kUnitsPerSecond / 25);

    // Our picture is bottom-up with padded rows; ffmpeg's raw output is top-down and packed.
    const size_t row = size_t(sink.width) * 3, stride = Rgb24Stride(sink.width);
    std::vector<BYTE> ours;
    for (int y = sink.height - 1; y >= 0; --y) {
        ours.insert(ours.end(), sink.firstPicture.begin() + long(y * stride),
                    sink.firstPicture.begin() + long(y * stride + row));
    }
    const int expected = int(start * 25);  // pictures 0..61 end before 2.5 s
    std::vector<double> differences;
    for (int index : {expected - 1, expected, expected + 1}) {
        const std::string raw = dir_.File("frame" + std::to_string(index) + ".bgr");
        reader_test::Shell("ffmpeg -v error -nostdin -y -i '" + path + "' -vf 'select=eq(n\\," +
                         std::to_string(index) + ")' -frames:v 1 -pix_fmt bgr24 -f rawvideo '" + raw + "'");
        std::ifstream in(raw, std::ios::binary);
        differences.push_back(MeanDifference(ours, std::vector<BYTE>(std::istreambuf_iterator<char>(in), {})));
    }
    EXPECT_LT(differences[1], 2.0);
    EXPECT_LT(differences[1], differences[0]);
    EXPECT_LT(differences[1], differences[2]);
    EXPECT_NEAR(double(sink.audioSamples), (clip_.VideoLength - start) * 48000, 1300);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SourceGraphSeek,
    testing::Values(SeekCase{"Mpeg2ProgramStream", "s.mpg", "320x240", "-c:v mpeg2video -bf 2 -c:a mp2 -f mpeg"},
                    SeekCase{"Mp4H264", "s.mp4", "320x240", "-c:v libx264 -bf 2 -c:a aac"},
                    // 322 pixels of 3 bytes leave rows of 966 bytes, padded to 968.
                    SeekCase{"PaddedRows", "p.avi", "322x242", "-c:v mjpeg -c:a pcm_s16le"}),
    [](const testing::TestParamInfo<SeekCase>& info) { return std::string(info.param.name); });

// The corner of a bottom-up picture that is lit, the others being dark; "" when not one.
std::string LitCorner(const std::vector<BYTE>& picture, int width, int height) {
    const size_t stride = Rgb24Stride(width);
    const auto lit = [&](int x, int top) {
        return picture.at(size_t(height - 1 - top) * stride + size_t(x) * 3 + 1) > 128;
    };
    const struct {
        const char* name;
        bool lit;
    } corners[] = {{"top left", lit(1, 1)},
                   {"top right", lit(width - 2, 1)},
                   {"bottom left", lit(1, height - 2)},
                   {"bottom right", lit(width - 2, height - 2)}};
    std::string found;
    for (const auto& corner : corners) {
        if (corner.lit) found += found.empty() ? corner.name : std::string(" and ") + corner.name;
    }
    return found;
}

// A phone stores an upright picture on its side with a display matrix; the pictures arrive
// as every player shows them (the matrices ffmpeg's own decoding turns the same way), at the
// size shown. The mark sits in the stored picture's top left corner, wider than tall, so the
// corner and the size together tell every one of the eight turns apart.
TEST_F(SourceGraphRun, PicturesArriveTurnedAsTheirDisplayMatrixSays) {
    const std::string stored = dir_.File("stored.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i color=c=black:size=96x64:rate=10:duration=0.5,"
                          "drawbox=x=0:y=0:w=24:h=16:color=white:t=fill -c:v libx264 -pix_fmt yuv420p",
                          stored));
    const struct {
        const char* name;
        reader_test::DisplayTurn turn;
        int width, height;
        const char* mark;
    } cases[] = {
        {"upright", {1, 0, 0, 1}, 96, 64, "top left"},
        {"quarter turn clockwise", {0, 1, -1, 0}, 64, 96, "top right"},
        {"half turn", {-1, 0, 0, -1}, 96, 64, "bottom right"},
        {"quarter turn anticlockwise", {0, -1, 1, 0}, 64, 96, "bottom left"},
        {"mirrored left to right", {-1, 0, 0, 1}, 96, 64, "top right"},
        {"mirrored top to bottom", {1, 0, 0, -1}, 96, 64, "bottom left"},
        {"transposed", {0, 1, 1, 0}, 64, 96, "top left"},
        {"transposed the other way", {0, -1, -1, 0}, 64, 96, "bottom right"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_.File("turned.mp4");
        std::filesystem::copy_file(stored, path, std::filesystem::copy_options::overwrite_existing);
        ASSERT_TRUE(reader_test::SetDisplayTurn(path, c.turn));
        RecordingSink sink;
        Read(path, 0.0, &sink);
        EXPECT_EQ(clip_.Width, c.width);
        EXPECT_EQ(clip_.Height, c.height);
        ASSERT_EQ(sink.width, c.width);
        ASSERT_EQ(sink.height, c.height);
        ASSERT_FALSE(sink.firstPicture.empty());
        EXPECT_EQ(LitCorner(sink.firstPicture, sink.width, sink.height), c.mark);
    }
}

// Stopped half way: RenderGraph returns promptly and nothing reaches the sink afterwards.
TEST_F(SourceGraphRun, StopHalfWayDeliversNothingAfterwards) {
    const std::string path = dir_.File("long.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 8 "
                          "-c:v libx264 -c:a aac",
                          path));
    RecordingSink sink;
    sink.stopAfterPictures = 30;
    sink.pictureDelayMs = 5;
    Read(path, 0.0, &sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(sink.callsAfterReturn, 0);
    EXPECT_LT(sink.videoTimes.size(), 200u);
}

// Sound that starts after the pictures is preceded by silence, so that sample counts keep
// time with the pictures from the first one on.
TEST_F(SourceGraphRun, LateSoundStartsWithSilence) {
    const std::string path = dir_.File("late.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=160x120:rate=25 -itsoffset 0.5 "
                          "-f lavfi -i sine=frequency=1000:sample_rate=48000 -t 2 -c:v libx264 -c:a aac "
                          "-ac 1",
                          path));
    RecordingSink sink;
    Read(path, 0.0, &sink);
    ASSERT_EQ(sink.format.nChannels, 1);
    ASSERT_GE(sink.audioHead.size(), size_t(48000 * 0.6));
    int loudestEarly = 0, loudestLate = 0;
    for (size_t i = 0; i < size_t(48000 * 0.45); ++i) loudestEarly = std::max(loudestEarly, std::abs(int(sink.audioHead[i])));
    for (size_t i = size_t(48000 * 0.55); i < size_t(48000 * 0.6); ++i) loudestLate = std::max(loudestLate, std::abs(int(sink.audioHead[i])));
    EXPECT_EQ(loudestEarly, 0);
    EXPECT_GT(loudestLate, 1000);
    EXPECT_NEAR(double(sink.audioSamples), clip_.VideoLength * 48000, 1300);
}

// PCM in AVI files states no channel layout and comes in packets of a few milliseconds; every
// sample of them arrives, in one resampler's care from the first packet to the last.
TEST_F(SourceGraphRun, AviSoundInSmallPacketsKeepsEverySample) {
    for (const char* sound : {"pcm_alaw -ar 8000", "pcm_s16le -ar 8000 -ac 2", "pcm_u8 -ar 11025"}) {
        SCOPED_TRACE(sound);
        const std::string path = dir_.File("pcm.avi");
        ASSERT_TRUE(MakeMedia(std::string("-f lavfi -i testsrc2=size=160x120:rate=30 -f lavfi -i "
                                          "sine=sample_rate=44100 -t 1.2 -c:v mjpeg -c:a ") +
                                  sound,
                              path));
        RecordingSink sink;
        Read(path, 0.0, &sink);
        EXPECT_NEAR(double(sink.audioSamples), 1.2 * 48000, 48);
        EXPECT_TRUE(sink.audioEnded);
    }
}

// Files without pictures run to completion on the audio receiver alone; cover art is not a
// picture stream.
TEST_F(SourceGraphRun, SoundOnlyFilesComplete) {
    const std::string cover = dir_.File("cover.png");
    ASSERT_TRUE(MakeMedia("-f lavfi -i color=red:size=64x64 -frames:v 1", cover));
    const std::string path = dir_.File("song.mp3");
    ASSERT_TRUE(MakeMedia("-f lavfi -i sine=sample_rate=44100 -i '" + cover + "' -t 2 -map 0:a -map 1:v "
                          "-c:a libmp3lame -c:v png -disposition:v attached_pic",
                          path));
    RecordingSink sink;
    Read(path, 0.0, &sink);
    EXPECT_EQ(clip_.HasVideo, 0);
    EXPECT_EQ(clip_.HasAudio, 1);
    EXPECT_TRUE(sink.videoTimes.empty());
    EXPECT_TRUE(sink.audioEnded);
    // As many samples as ffmpeg decodes, without the encoder's padding that the length holds.
    const std::string decoded = reader_test::Shell("ffmpeg -v error -nostdin -i '" + path +
                                                 "' -vn -ac 1 -ar 48000 -f s16le - | wc -c");
    EXPECT_NEAR(double(sink.audioSamples), std::atof(decoded.c_str()) / 2, 1300);
}

// Damaged data in the middle is skipped: the clip still plays to its end.
TEST_F(SourceGraphRun, DamagedPacketsAreSkipped) {
    const std::string path = dir_.File("damaged.mpg");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 4 "
                          "-c:v mpeg2video -c:a mp2 -f mpeg",
                          path));
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(long(std::filesystem::file_size(path) / 2));
        const std::string garbage(16384, '\x5a');
        file.write(garbage.data(), long(garbage.size()));
    }
    RecordingSink sink;
    Read(path, 0.0, &sink);
    EXPECT_GT(sink.videoTimes.size(), 80u);
    EXPECT_TRUE(sink.audioEnded);
}

// A sink that calls back into the graph from the streaming thread, also while Stop waits for
// that thread: positions are answered, state changes are refused, nothing deadlocks.
class MeddlingSink : public RecordingSink {
public:
    IGraphBuilder* graph = nullptr;
    HRESULT stopResult = 0, seekResult = 0, positionResult = -1;

    HRESULT OnVideoSample(IMediaSample* sample) override {
        RecordingSink::OnVideoSample(sample);
        ComPtr<IMediaSeeking> seeking;
        ComPtr<IMediaControl> control;
        using platform::com::FAILED;
        if (graph == nullptr || FAILED(graph->QueryInterface(IMediaSeeking::kIid, seeking.PutVoid())) ||
            FAILED(graph->QueryInterface(IMediaControl::kIid, control.PutVoid()))) {
            return 0;
        }
        LONGLONG position = 0;
        positionResult = seeking->GetCurrentPosition(&position);
        if (videoTimes.size() == 5) {
            stopResult = control->Stop();
            LONGLONG start = 0;
            seekResult = seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
        }
        return 0;
    }
};

TEST_F(SourceGraphRun, SinkCallingIntoTheGraphCannotDeadlockIt) {
    const std::string path = dir_.File("meddle.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine -t 8 -c:v libx264 -c:a aac",
                          path));
    ASSERT_EQ(clip_.ReadMediaInfo(path), 0);
    MeddlingSink sink;
    sink.stopAfterPictures = 20;
    sink.pictureDelayMs = 2;
    SourceGraph graph;
    graph.Init(&sink);
    ASSERT_EQ(graph.Build(&clip_), 0);
    sink.graph = graph.Graph();
    EXPECT_EQ(graph.RenderGraph(), 0);
    sink.graph = nullptr;
    graph.Release();
    EXPECT_EQ(sink.stopResult, VFW_E_WRONG_STATE);
    EXPECT_EQ(sink.seekResult, VFW_E_WRONG_STATE);
    EXPECT_EQ(sink.positionResult, 0);
    EXPECT_LT(sink.videoTimes.size(), 200u);
}

// The run loop's log lines, in a log in the test's own folder; afterwards lines go nowhere
// rather than into a file beside the test program.
class SourceGraphLog : public SourceGraphRun {
protected:
    void SetUp() override { core::InitLogAtPath(dir_.File("reader.log")); }
    void TearDown() override { core::InitLogAtPath(""); }
    static std::string Log() {
        std::ifstream in(core::LogPath());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(SourceGraphLog, CompletedClip) {
    const std::string path = dir_.File("short.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 -c:v libx264", path));
    RecordingSink sink;
    Read(path, 0.0, &sink);
    const std::string log = Log();
    EXPECT_NE(log.find("]: Movie length = 2.000000s\n"), std::string::npos) << log;
    EXPECT_NE(log.find("]: RenderGraph Running\n"), std::string::npos) << log;
    EXPECT_NE(log.find("]:   ReceiverVideoPin - EndOfStream\n"), std::string::npos) << log;
    EXPECT_NE(log.find("]: RenderGraph End\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("hStop"), std::string::npos) << log;
}

// With both events set only the stop is reported.
TEST_F(SourceGraphLog, StopWinsOverCancel) {
    const std::string path = dir_.File("long.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=size=160x120:rate=25 -t 8 -c:v libx264", path));
    RecordingSink sink;
    sink.pictureDelayMs = 20;
    sink.Stop();
    sink.cancel.Set();
    Read(path, 0.0, &sink);
    const std::string log = Log();
    EXPECT_NE(log.find("]: RenderGraph hStop Set\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("hCanceled"), std::string::npos) << log;
    EXPECT_NE(log.find("]: RenderGraph End\n"), std::string::npos) << log;
}

TEST(SourceGraphBuild, RemoveReferenceClockFromAnyInterfaceOfTheGraph) {
    platform::com::ScopedComInit com;
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(platform::com::CoCreateInstance(CLSID_FilterGraph, nullptr, platform::com::CLSCTX_ALL, &graph), 0);
    ComPtr<IMediaFilter> filter;
    ASSERT_EQ(graph.As(&filter), 0);
    ComPtr<IReferenceClock> clock;
    filter->GetSyncSource(clock.Put());
    EXPECT_TRUE(clock);  // a new graph runs on the system clock
    EXPECT_EQ(reader::RemoveReferenceClock(graph.Get()), 0);
    filter->GetSyncSource(clock.Put());
    EXPECT_FALSE(clock);
    EXPECT_EQ(reader::RemoveReferenceClock(nullptr), platform::com::E_POINTER);
}

TEST(SourceGraphBuild, UnreadableFileFailsTheBuild) {
    platform::com::ScopedComInit com;
    TempDir dir;
    ClipRecord clip;
    clip.Path = dir.File("missing.mpg");
    RecordingSink sink;
    SourceGraph graph;
    graph.Init(&sink);
    EXPECT_LT(graph.Build(&clip), 0);
    graph.Release();
}

TEST(SourceGraphNames, WindowsMediaFilesByExtension) {
    const std::pair<const char*, bool> cases[] = {
        {"clip.wmv", true}, {"/a/b/CLIP.WMV", true}, {"x.Asf", true}, {"song.wma", true},
        {"clipwmv", false}, {".wmv", false},         {"a.wmv.avi", false}, {"a.wmvx", false},
        {"", false},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(SourceGraph::IsWindowsMediaFile(path), expected) << path;
    }
}

// The start is mapped from the probed length onto the graph's duration; a start with nothing
// to map it by is no seek rather than a division by zero.
TEST(SourceGraphNames, RangeStartPositionNeverDividesByZero) {
    EXPECT_EQ(reader::RangeStartPosition(10.0, 40.0, 400'000'000), 100'000'000);
    EXPECT_LT(reader::RangeStartPosition(0.0, 40.0, 400'000'000), 0);
    EXPECT_LT(reader::RangeStartPosition(-1.0, 40.0, 400'000'000), 0);
    EXPECT_LT(reader::RangeStartPosition(5.0, 0.0, 400'000'000), 0);
    EXPECT_LT(reader::RangeStartPosition(5.0, 40.0, 0), 0);
    EXPECT_LT(reader::RangeStartPosition(5.0, std::nan(""), 400'000'000), 0);
}

}  // namespace
