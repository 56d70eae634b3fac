#include "reader/des_graph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "media_fixtures.h"
#include "core/log.h"
#include "platform/com/class_table.h"

namespace {

using namespace platform::dshow;
using reader::ClipRecord;
using reader::DesGraph;
using reader::SourceDelivery;
using reader_test::MakeMedia;
using reader_test::TempDir;

// Counts what the receivers hand over and keeps the first picture, like the job's sink
// without the encoding.
class CountingSink : public reader::SampleSink, public reader::DesGraphOwner {
public:
    explicit CountingSink(const core::Settings& settings) : settings_(settings) {}

    int pictureDelayMs = 0;     // a slow sink, so that a stop comes before the end
    long stopAfterPictures = -1;

    HRESULT OnVideoFormat(const AM_MEDIA_TYPE* type) override {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
        width = info->bmiHeader.biWidth;
        height = info->bmiHeader.biHeight;
        return 0;
    }
    HRESULT OnAudioFormat(const AM_MEDIA_TYPE* type) override {
        format = *reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
        return 0;
    }
    HRESULT OnVideoSample(IMediaSample* sample) override {
        REFERENCE_TIME start = 0, stop = 0;
        sample->GetTime(&start, &stop);
        std::lock_guard lock(mutex);
        pictureSizes.push_back(sample->GetActualDataLength());
        videoTimes.push_back(start);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (videoTimes.size() == 1) firstPicture.assign(data, data + sample->GetActualDataLength());
        pictureNumbers.push_back(PictureNumber(data));
        if (stopAfterPictures >= 0 && long(videoTimes.size()) >= stopAfterPictures) stop_.Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(pictureDelayMs));
        return 0;
    }
    HRESULT OnAudioSample(IMediaSample* sample) override {
        REFERENCE_TIME start = 0, stop = 0;
        sample->GetTime(&start, &stop);
        std::lock_guard lock(mutex);
        EXPECT_EQ(start, audioSamples * kUnitsPerSecond / 48000) << "audio must be gapless";
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const auto* values = reinterpret_cast<const int16_t*>(data);
        for (long i = 0; i < sample->GetActualDataLength() / 2; ++i) {
            if (values[i] != 0 && firstSoundAt < 0) firstSoundAt = audioSamples + i / format.nChannels;
            loudest = std::max(loudest, std::abs(int(values[i])));
        }
        audioSamples += sample->GetActualDataLength() / format.nBlockAlign;
        return 0;
    }
    HRESULT OnEndOfStream() override { return 0; }
    HRESULT OnAudioEndOfStream() override { return 0; }

    reader::SampleSink* Sink() override { return this; }
    const platform::ManualResetEvent* StopEvent() override { return &stop_; }
    const platform::ManualResetEvent* CancelEvent() override { return nullptr; }
    const core::Settings& JobSettings() override { return settings_; }

    void SetStop() { stop_.Set(); }

    std::mutex mutex;
    int width = 0, height = 0;
    WAVEFORMATEX format{};
    std::vector<long> pictureSizes;
    std::vector<REFERENCE_TIME> videoTimes;
    std::vector<BYTE> firstPicture;
    static constexpr int kBlack = -1;
    std::vector<int> pictureNumbers;  // of the numbered fixture, read at the centre; or kBlack
    int64_t audioSamples = 0;
    int loudest = 0;
    int64_t firstSoundAt = -1;  // sample frame

private:
    // The fixture's picture number from the colour at the centre (see kNumberedPictures).
    int PictureNumber(const BYTE* data) const {
        const BYTE* p = data + size_t(height / 2) * Rgb24Stride(width) + size_t(width / 2) * 3;
        if (p[0] < 16) return kBlack;  // the fixture's blue is 64 throughout
        return int(std::lround(p[2] / 16.0)) + 16 * int(std::lround(p[1] / 16.0));
    }

    core::Settings settings_;
    platform::ManualResetEvent stop_;
};

core::Settings OutputSettings(uint32_t standard, uint32_t letterBox) {
    core::Settings settings;
    settings.SetDefaults();
    settings.Standard = standard;
    settings.LetterBox = letterBox;
    settings.ApplyVideoStandard();
    return settings;
}

// Every picture of the fixture is one flat colour that tells its number: red = (n % 16) * 16,
// green = (n / 16) * 16, blue 64.
constexpr const char* kNumberedPictures =
    "-f lavfi -i \"color=c=black:s=640x360:r=24:d=4,format=rgb24,"
    "geq=r='mod(N\\,16)*16':g='trunc(N/16)*16':b=64\" ";

struct Pixel {
    int blue, green, red;
};

Pixel PixelAt(const CountingSink& sink, int x, int rowFromBottom) {
    const BYTE* p = sink.firstPicture.data() + size_t(rowFromBottom) * Rgb24Stride(sink.width) + size_t(x) * 3;
    return {p[0], p[1], p[2]};
}

bool RowIsBlack(const CountingSink& sink, int row) {
    const BYTE* p = sink.firstPicture.data() + size_t(row) * Rgb24Stride(sink.width);
    for (int i = 0; i < sink.width * 3; ++i) {
        if (p[i] > 2) return false;
    }
    return true;
}

class DesGraphRun : public testing::Test {
protected:
    void SetUp() override {
        clipPath_ = dir_.File("clip.avi");
        ASSERT_TRUE(MakeMedia(std::string(kNumberedPictures) +
                                  "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=4 "
                                  "-c:v mpeg4 -q:v 2 -c:a mp2",
                              clipPath_));
    }

    // Builds the timeline for path's [start, end] and runs it into sink; delivered (when
    // given) gets what the file itself gave.
    void Read(const std::string& path, double start, double end, CountingSink* sink,
              SourceDelivery* delivered = nullptr) {
        ASSERT_EQ(clip_.ReadMediaInfo(path), 0);
        clip_.RangeStart = start;
        clip_.RangeEnd = end;
        DesGraph graph;
        graph.Init(sink);
        ASSERT_EQ(graph.Build(&clip_), 0);
        EXPECT_EQ(graph.Run(), EC_COMPLETE);
        if (delivered != nullptr) *delivered = graph.SourceDelivered();
        graph.Release();
    }

    platform::com::ScopedComInit com_;
    TempDir dir_;
    std::string clipPath_;
    ClipRecord clip_;
};

// The picture (counted from 0 at time 0, pictureRate a second) that output frame `frame` at
// fps shows: the one nearest the frame's start, the earlier one of two as near.
int NearestPicture(int64_t frame, double fps, double pictureRate) {
    return int(std::ceil((double(frame) + 0.5) / fps * pictureRate - 1e-9)) - 1;
}

struct OutputCase {
    const char* name;
    uint32_t standard;
    uint32_t letterBox;
    int width, height;
    double fps;
};

// The range [1, 3] s at the output size and rate: one picture per output frame period, the
// first one the picture at the range start, and two seconds of 48 kHz sound without gaps.
TEST_F(DesGraphRun, DeliversTheRangeAtTheOutputSizeAndRate) {
    const OutputCase cases[] = {
        {"PAL, proportions kept", 1, 0, 720, 576, 25.0},
        {"NTSC, stretched", 0, 1, 720, 480, 30000.0 / 1001},
    };
    for (const OutputCase& c : cases) {
        SCOPED_TRACE(c.name);
        CountingSink sink(OutputSettings(c.standard, c.letterBox));
        SourceDelivery delivered;
        Read(clipPath_, 1.0, 3.0, &sink, &delivered);

        EXPECT_EQ(sink.width, c.width);
        EXPECT_EQ(sink.height, c.height);
        EXPECT_NEAR(double(sink.videoTimes.size()), 2.0 * c.fps, 1.0);
        for (long size : sink.pictureSizes) ASSERT_EQ(size, long(Rgb24Stride(c.width) * c.height));
        for (size_t n = 0; n < sink.videoTimes.size(); ++n) {
            ASSERT_NEAR(double(sink.videoTimes[n]), double(n) * kUnitsPerSecond / c.fps, 1.0);
        }

        // Picture 24 of the file is the one at 1.0 s: red 128, green 16.
        const Pixel centre = PixelAt(sink, c.width / 2, c.height / 2);
        EXPECT_NEAR(centre.red, 128, 6);
        EXPECT_NEAR(centre.green, 16, 6);
        EXPECT_NEAR(centre.blue, 64, 6);
        // Each output frame shows the 24 fps picture nearest its time: some are repeated
        // (NTSC) or skipped (PAL), none comes half a frame early or late.
        for (size_t n = 0; n < sink.pictureNumbers.size(); ++n) {
            const int expected = 24 + NearestPicture(int64_t(n), c.fps, 24.0);
            ASSERT_EQ(sink.pictureNumbers[n], expected) << "output frame " << n;
        }
        EXPECT_GT(sink.loudest, 2000) << "the clip's tone (an eighth of full scale), not silence";

        EXPECT_EQ(sink.format.nSamplesPerSec, 48000u);
        EXPECT_EQ(sink.format.wBitsPerSample, 16);
        EXPECT_NEAR(double(sink.audioSamples), 2.0 * 48000, 1152);
        // The file's own 24 pictures a second, whatever the output repeated or skipped.
        EXPECT_NEAR(double(delivered.Pictures), 48.0, 1.0);
        EXPECT_NEAR(delivered.PictureSeconds, 2.0, 1.0 / 24);
        EXPECT_NEAR(delivered.SoundSeconds, 2.0, 0.03);
    }
}

// 640 x 360 in a 720 x 576 frame shown at 4:3 keeps its 16:9 as 720 x 432: black bands of
// 72 rows above and below, none when stretched.
TEST_F(DesGraphRun, LetterboxBandsAreBlackOnlyWhenProportionsAreKept) {
    for (uint32_t letterBox : {0u, 1u}) {
        SCOPED_TRACE(letterBox == 0 ? "proportions kept" : "stretched");
        CountingSink sink(OutputSettings(1, letterBox));
        Read(clipPath_, 0.0, 1.0, &sink);
        ASSERT_EQ(sink.height, 576);
        const bool bands = letterBox == 0;
        for (int row : {0, 40, 70, 576 - 71, 575}) EXPECT_EQ(RowIsBlack(sink, row), bands) << "row " << row;
        for (int row : {73, 288, 576 - 74}) EXPECT_FALSE(RowIsBlack(sink, row)) << "row " << row;
    }
}

// One source serves both groups, and it decodes straight to the size the pictures take in
// the frame, so they are scaled once: 640 x 360 becomes 720 x 432 in a PAL frame when
// letterboxed.
TEST_F(DesGraphRun, SourceDecodesAtTheFittedSize) {
    ASSERT_EQ(clip_.ReadMediaInfo(clipPath_), 0);
    const struct {
        uint32_t letterBox;
        int width, height;
    } cases[] = {{0, 720, 432}, {1, 720, 576}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letterBox);
        CountingSink sink(OutputSettings(1, c.letterBox));
        DesGraph graph;
        graph.Init(&sink);
        ASSERT_EQ(graph.Build(&clip_), 0);
        platform::com::ComPtr<IBaseFilter> source;
        ASSERT_EQ(graph.Graph()->FindFilterByName("Source 0", source.Put()), 0);
        platform::com::ComPtr<IEnumPins> pins;
        ASSERT_EQ(source->EnumPins(pins.Put()), 0);
        platform::com::ComPtr<IPin> pin;
        uint32_t fetched = 0;
        int checked = 0;
        while (pins->Next(1, pin.Put(), &fetched) == 0 && fetched == 1) {
            CMediaType type;
            ASSERT_EQ(pin->ConnectionMediaType(&type), 0) << "both streams are used";
            if (type.majortype != MEDIATYPE_Video) continue;
            const auto* info = type.FormatAs<VIDEOINFOHEADER>();
            ASSERT_NE(info, nullptr);
            EXPECT_EQ(info->bmiHeader.biWidth, c.width);
            EXPECT_EQ(info->bmiHeader.biHeight, c.height);
            ++checked;
        }
        EXPECT_EQ(checked, 1);
        platform::com::ComPtr<IBaseFilter> second;
        EXPECT_NE(graph.Graph()->FindFilterByName("Source 1", second.Put()), 0);
    }
}

// A file without sound still gets its range of silence, and one whose range runs past its
// end gets black pictures to the end: the graph completes with the counts of the range, and
// tells that the file gave a second of pictures and no sound.
TEST_F(DesGraphRun, MissingSoundAndMissingPicturesArePadded) {
    const std::string silent = dir_.File("silent.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -c:v mpeg4", silent));
    CountingSink sink(OutputSettings(1, 1));
    SourceDelivery delivered;
    Read(silent, 1.0, 3.0, &sink, &delivered);
    EXPECT_NEAR(double(sink.videoTimes.size()), 50.0, 1.0);
    EXPECT_EQ(delivered.Pictures, 25);
    EXPECT_NEAR(delivered.PictureSeconds, 1.0, 1e-6);
    EXPECT_EQ(delivered.SoundSeconds, 0.0);
    EXPECT_NEAR(double(sink.audioSamples), 2.0 * 48000, 1152);
    EXPECT_EQ(sink.format.nChannels, 2);
    EXPECT_EQ(sink.loudest, 0);
}

// The engine places a clip anywhere in the range: a second of the file at 1..2 s of a 3 s
// range comes framed by black pictures and silence.
TEST_F(DesGraphRun, ClipLaterInTheRangeIsFramedByBlackAndSilence) {
    using namespace platform::des;
    using platform::com::ComPtr;
    using platform::com::CLSCTX_INPROC_SERVER;
    const core::Settings settings = OutputSettings(1, 1);
    CountingSink sink(settings);

    ComPtr<IAMTimeline> timeline;
    ASSERT_EQ(platform::com::CoCreateInstance(CLSID_AMTimeline, nullptr, CLSCTX_INPROC_SERVER, &timeline), 0);
    ASSERT_EQ(timeline->SetDefaultFPS(25.0), 0);
    CMediaType audioType;
    audioType.majortype = MEDIATYPE_Audio;
    for (const CMediaType& type : {reader::VideoGroupType(352, 288), audioType}) {
        ComPtr<IAMTimelineObj> group, track, source;
        ComPtr<IAMTimelineGroup> groupInterface;
        ComPtr<IAMTimelineComp> comp;
        ComPtr<IAMTimelineTrack> trackInterface;
        ComPtr<IAMTimelineSrc> sourceInterface;
        ASSERT_EQ(timeline->CreateEmptyNode(group.Put(), TIMELINE_MAJOR_TYPE_GROUP), 0);
        ASSERT_EQ(timeline->CreateEmptyNode(track.Put(), TIMELINE_MAJOR_TYPE_TRACK), 0);
        ASSERT_EQ(timeline->CreateEmptyNode(source.Put(), TIMELINE_MAJOR_TYPE_SOURCE), 0);
        group.As(&groupInterface);
        group.As(&comp);
        track.As(&trackInterface);
        source.As(&sourceInterface);
        ASSERT_EQ(groupInterface->SetMediaType(&type), 0);
        ASSERT_EQ(source->SetStartStop2(1.0, 2.0), 0);
        ASSERT_EQ(sourceInterface->SetMediaName(clipPath_.c_str()), 0);
        ASSERT_EQ(sourceInterface->SetMediaTimes2(1.0, 2.0), 0);
        ASSERT_EQ(trackInterface->SrcAdd(source.Get()), 0);
        ASSERT_EQ(comp->VTrackInsBefore(track.Get(), -1), 0);
        ASSERT_EQ(timeline->AddGroup(group.Get()), 0);
    }

    ComPtr<IRenderEngine> engine;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(platform::com::CoCreateInstance(CLSID_RenderEngine, nullptr, CLSCTX_INPROC_SERVER, &engine), 0);
    ASSERT_EQ(platform::com::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, &builder), 0);
    ASSERT_EQ(engine->SetRenderRange2(0.0, 3.0), 0);
    ASSERT_EQ(engine->SetTimelineObject(timeline.Get()), 0);
    ASSERT_EQ(engine->ConnectFrontEnd(), 0);
    ASSERT_EQ(engine->GetFilterGraph(graph.Put()), 0);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), 0);
    HRESULT ignored = 0;
    ComPtr<reader::ReceiverVideo> video(new reader::ReceiverVideo(nullptr, &ignored));
    ComPtr<reader::ReceiverAudio> audio(new reader::ReceiverAudio(nullptr, &ignored));
    video->SetCallback(&sink);
    audio->SetCallback(&sink);
    ComPtr<IBaseFilter> videoFilter, audioFilter;
    video.As(&videoFilter);
    audio.As(&audioFilter);
    ASSERT_EQ(graph->AddFilter(videoFilter.Get(), "ReceiverVideo"), 0);
    ASSERT_EQ(graph->AddFilter(audioFilter.Get(), "ReceiverAudio"), 0);
    for (long g = 0; g < 2; ++g) {
        ComPtr<IPin> pin;
        ASSERT_EQ(engine->GetGroupOutputPin(g, pin.Put()), 0);
        ASSERT_EQ(builder->RenderStream(nullptr, nullptr, pin.Get(), nullptr,
                                        g == 0 ? videoFilter.Get() : audioFilter.Get()), 0);
    }
    ASSERT_EQ(reader::RemoveReferenceClock(graph.Get()), 0);
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    graph.As(&control);
    graph.As(&events);
    ASSERT_EQ(control->Run(), 0);
    long code = 0;
    EXPECT_EQ(events->WaitForCompletion(20000, &code), 0);
    EXPECT_EQ(code, EC_COMPLETE);
    control->Stop();

    ASSERT_EQ(sink.pictureNumbers.size(), 75u);
    for (size_t n = 0; n < 75; ++n) {
        const int expected = n < 25 || n >= 50 ? CountingSink::kBlack : 24 + NearestPicture(int64_t(n) - 25, 25.0, 24.0);
        ASSERT_EQ(sink.pictureNumbers[n], expected) << "output frame " << n;
    }
    EXPECT_EQ(sink.audioSamples, 3 * 48000);
    EXPECT_NEAR(double(sink.firstSoundAt), 48000.0, 48.0);
}

TEST_F(DesGraphRun, StopEventEndsTheRunPromptly) {
    CountingSink sink(OutputSettings(1, 0));
    sink.pictureDelayMs = 20;
    sink.stopAfterPictures = 5;
    ASSERT_EQ(clip_.ReadMediaInfo(clipPath_), 0);
    DesGraph graph;
    graph.Init(&sink);
    ASSERT_EQ(graph.Build(&clip_), 0);
    const auto started = std::chrono::steady_clock::now();
    graph.Run();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(sink.videoTimes.size(), 50u);  // of 100 in the whole clip
    EXPECT_LT(took, std::chrono::seconds(2));
}

TEST_F(DesGraphRun, StopSetBeforeRunStopsAtTheFirstLook) {
    CountingSink sink(OutputSettings(1, 0));
    sink.pictureDelayMs = 20;
    sink.SetStop();
    ASSERT_EQ(clip_.ReadMediaInfo(clipPath_), 0);
    DesGraph graph;
    graph.Init(&sink);
    ASSERT_EQ(graph.Build(&clip_), 0);
    const auto started = std::chrono::steady_clock::now();
    graph.Run();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_LT(sink.videoTimes.size(), 50u);
}

// Failures come back as negative results from Build, and nothing runs.
TEST_F(DesGraphRun, BadInputGivesNegativeResult) {
    const std::string text = dir_.File("text.avi");
    { std::FILE* f = std::fopen(text.c_str(), "w"); std::fputs("not a video\n", f); std::fclose(f); }

    struct Case {
        const char* name;
        std::string path;
        double start, end;
        uint32_t rateDen;  // 0: a broken frame rate
        int32_t width;     // 0: a broken output size
    };
    const Case cases[] = {
        {"text renamed .avi", text, 0.0, 1.0, 1, 720},
        {"missing file", dir_.File("none.avi"), 0.0, 1.0, 1, 720},
        {"empty range", clipPath_, 2.0, 2.0, 1, 720},
        {"reversed range", clipPath_, 3.0, 1.0, 1, 720},
        {"negative start", clipPath_, -1.0, 1.0, 1, 720},
        {"zero frame-rate denominator", clipPath_, 0.0, 1.0, 0, 720},
        {"zero output width", clipPath_, 0.0, 1.0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Settings settings = OutputSettings(1, 0);
        settings.FrameRateDen = c.rateDen;
        settings.OutputWidth = c.width;
        CountingSink sink(settings);
        ClipRecord clip;
        clip.Path = c.path;
        clip.RangeStart = c.start;
        clip.RangeEnd = c.end;
        DesGraph graph;
        graph.Init(&sink);
        EXPECT_LT(graph.Build(&clip), 0);
        graph.Release();
    }
}

// Without the editing services each missing class fails Build with its creation result;
// only the timeline's absence has its own log line.
TEST_F(DesGraphRun, MissingEditingServicesFailBuild) {
    using namespace platform::des;
    const std::string logPath = dir_.File("Lumivane.log");
    const struct {
        const char* name;
        GUID clsid;
        bool logged;
    } cases[] = {
        {"timeline", CLSID_AMTimeline, true},
        {"render engine", CLSID_RenderEngine, false},
        {"capture graph builder", CLSID_CaptureGraphBuilder2, false},
        {"XML converter", CLSID_Xml2Dex, false},
    };
    ASSERT_EQ(clip_.ReadMediaInfo(clipPath_), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        core::InitLogAtPath(logPath);
        platform::com::ClassFactory saved = platform::com::RegisterClassFactory(c.clsid, nullptr);
        CountingSink sink(OutputSettings(1, 0));
        DesGraph graph;
        graph.Init(&sink);
        EXPECT_EQ(graph.Build(&clip_), platform::com::REGDB_E_CLASSNOTREG);
        graph.Release();
        platform::com::RegisterClassFactory(c.clsid, saved);
        const std::string log = reader_test::Shell("cat '" + logPath + "'");
        EXPECT_NE(log.find("]: Building DES Graph...\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("]: Creating TimeLine faile.\n") != std::string::npos, c.logged) << log;
    }
    core::InitLogAtPath("");
}

// A range of [10, 25] s puts the source at 0..15 s on the timeline with media times 10..25 s.
TEST(DesGraphTimeline, SourcePlacedAtTimelineStartWithItsMediaTimes) {
    platform::com::ScopedComInit com;
    TempDir dir;
    const std::string path = dir.File("long.mp4");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc=size=160x90:rate=10:duration=26 -c:v mpeg4", path));
    ClipRecord clip;
    ASSERT_EQ(clip.ReadMediaInfo(path), 0);
    clip.RangeStart = 10.0;
    clip.RangeEnd = 25.0;
    CountingSink sink(OutputSettings(0, 1));
    DesGraph graph;
    graph.Init(&sink);
    ASSERT_EQ(graph.Build(&clip), 0);

    using namespace platform::des;
    double fps = 0;
    graph.Timeline()->GetDefaultFPS(&fps);
    EXPECT_DOUBLE_EQ(fps, 30000.0 / 1001.0);
    long groups = 0;
    graph.Timeline()->GetGroupCount(&groups);
    ASSERT_EQ(groups, 2);
    for (long g = 0; g < groups; ++g) {
        platform::com::ComPtr<IAMTimelineObj> group, track, source;
        platform::com::ComPtr<IAMTimelineComp> comp;
        platform::com::ComPtr<IAMTimelineTrack> trackInterface;
        platform::com::ComPtr<IAMTimelineSrc> sourceInterface;
        ASSERT_EQ(graph.Timeline()->GetGroup(group.Put(), g), 0);
        ASSERT_EQ(group.As(&comp), 0);
        ASSERT_EQ(comp->GetVTrack(track.Put(), 0), 0);
        ASSERT_EQ(track.As(&trackInterface), 0);
        ASSERT_EQ(trackInterface->GetSource(source.Put(), 0), 0);
        ASSERT_EQ(source.As(&sourceInterface), 0);
        double start = -1, stop = -1, mediaStart = -1, mediaStop = -1;
        source->GetStartStop2(&start, &stop);
        sourceInterface->GetMediaTimes2(&mediaStart, &mediaStop);
        EXPECT_EQ(start, 0.0);
        EXPECT_EQ(stop, 15.0);
        EXPECT_EQ(mediaStart, 10.0);
        EXPECT_EQ(mediaStop, 25.0);
        int mode = -1;
        sourceInterface->GetStretchMode(&mode);
        EXPECT_EQ(mode, RESIZEF_STRETCH);  // letterbox 1; audio keeps the default
    }
}

TEST(DesGraphTypes, VideoGroupTypeSizesRowsToFourBytes) {
    const struct {
        int width, height;
        uint32_t image;
    } cases[] = {{720, 576, 1244160}, {352, 240, 253440}, {353, 2, 2 * 1060}};
    for (const auto& c : cases) {
        const CMediaType type = reader::VideoGroupType(c.width, c.height);
        const auto* info = type.FormatAs<VIDEOINFOHEADER>();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(type.cbFormat, 88u);
        EXPECT_EQ(info->bmiHeader.biSizeImage, c.image);
        EXPECT_EQ(type.lSampleSize, c.image);
        EXPECT_EQ(info->bmiHeader.biHeight, c.height);
        EXPECT_TRUE(type.bFixedSizeSamples);
    }
}

}  // namespace
