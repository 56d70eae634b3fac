#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/class_table.h"
#include "platform/dshow/base_classes.h"
#include "reader/media_fixtures.h"

namespace {

using namespace platform::dshow;
using platform::com::CLSCTX_ALL;
using platform::com::CoCreateInstance;
using platform::com::S_OK;

// Takes pictures and remembers their times and the segments announced.
class PictureCounter : public CBaseFilter {
public:
    PictureCounter() : CBaseFilter(nullptr, &lock_, GUID{}), pin_(this, &lock_) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    std::vector<REFERENCE_TIME> Times() {
        std::lock_guard lock(mutex_);
        return times_;
    }
    int Segments() {
        std::lock_guard lock(mutex_);
        return segments_;
    }
    // The type the pictures arrive in, once connected.
    const CMediaType& Connected() const { return pin_.Connected(); }

private:
    class Pin : public CBaseInputPin {
    public:
        Pin(PictureCounter* owner, CCritSec* lock) : CBaseInputPin(owner, lock, nullptr, "In"), owner_(owner) {}
        const CMediaType& Connected() const { return mediaType_; }
        HRESULT CheckMediaType(const CMediaType* type) override {
            return type->majortype == MEDIATYPE_Video ? S_OK : platform::com::E_INVALIDARG;
        }
        HRESULT Receive(IMediaSample* sample) override {
            REFERENCE_TIME start = 0, stop = 0;
            sample->GetTime(&start, &stop);
            std::lock_guard lock(owner_->mutex_);
            owner_->times_.push_back(start);
            return S_OK;
        }
        HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
            std::lock_guard lock(owner_->mutex_);
            ++owner_->segments_;
            return S_OK;
        }
        HRESULT EndOfStream() override {
            return owner_->NotifyEvent(EC_COMPLETE, S_OK, LONG_PTR(static_cast<IBaseFilter*>(owner_)));
        }

    private:
        PictureCounter* owner_;
    };

    CCritSec lock_;
    Pin pin_;
    std::mutex mutex_;
    std::vector<REFERENCE_TIME> times_;
    int segments_ = 0;
};

// A graph that renders a file's streams, its pictures into a PictureCounter.
class SourceFilterGraph : public testing::Test {
protected:
    void Render(const std::string& path) {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, &graph_), S_OK);
        counter_ = ComPtr<PictureCounter>(new PictureCounter());
        ASSERT_EQ(graph_->AddFilter(counter_.Get(), "counter"), S_OK);
        ASSERT_EQ(graph_->RenderFile(path.c_str(), nullptr), S_OK);
        ComPtr<IMediaFilter> filter;
        ASSERT_EQ(graph_.As(&filter), S_OK);
        filter->SetSyncSource(nullptr);
        ASSERT_EQ(graph_.As(&control_), S_OK);
        ASSERT_EQ(graph_.As(&events_), S_OK);
        ASSERT_EQ(graph_.As(&seeking_), S_OK);
    }
    long RunToEnd() {
        EXPECT_EQ(control_->Run(), S_OK);
        long code = 0;
        EXPECT_EQ(events_->WaitForCompletion(10000, &code), S_OK);
        EXPECT_EQ(control_->Stop(), S_OK);
        return code;
    }
    HRESULT SeekTo(LONGLONG position) {
        return seeking_->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                      AM_SEEKING_NoPositioning);
    }

    platform::com::ScopedComInit com_;
    reader_test::TempDir dir_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<PictureCounter> counter_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
    ComPtr<IMediaSeeking> seeking_;
};

class SourceFilterTest : public SourceFilterGraph {
protected:
    void SetUp() override {
        path_ = dir_.File("clip.mp4");
        ASSERT_TRUE(reader_test::MakeMedia(
            "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine -t 2 -c:v libx264 -c:a aac", path_));
        ASSERT_NO_FATAL_FAILURE(Render(path_));
    }

    std::string path_;
};

// The whole clip, then again after a seek made while paused: the threads restart at the new
// position, announce a new segment and stamp times from it.
TEST_F(SourceFilterTest, SeeksRestartDeliveryFromTheNewPosition) {
    LONGLONG duration = 0;
    ASSERT_EQ(seeking_->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 2 * kUnitsPerSecond);
    EXPECT_EQ(RunToEnd(), EC_COMPLETE);
    EXPECT_EQ(counter_->Times().size(), 50u);

    ASSERT_EQ(control_->Pause(), S_OK);
    ASSERT_EQ(SeekTo(kUnitsPerSecond), S_OK);
    EXPECT_EQ(RunToEnd(), EC_COMPLETE);
    const std::vector<REFERENCE_TIME> times = counter_->Times();
    ASSERT_EQ(times.size(), 75u);
    EXPECT_EQ(times[50], 0);
    EXPECT_EQ(times.back(), 24 * kUnitsPerSecond / 25);
    EXPECT_GE(counter_->Segments(), 2);
}

// A stop position ends the pictures before it.
TEST_F(SourceFilterTest, StopPositionEndsDelivery) {
    LONGLONG stop = kUnitsPerSecond / 2;
    ASSERT_EQ(seeking_->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning), S_OK);
    EXPECT_EQ(RunToEnd(), EC_COMPLETE);
    EXPECT_EQ(counter_->Times().size(), 13u);  // pictures at 0.00 to 0.48 s
}

// A clip stored on its side is offered upright: its size and its pixel shape turn with it, so a
// wide-pixel PAL clip turned a quarter shows tall pixels.
TEST_F(SourceFilterGraph, TurnedClipOffersItsPixelShapeTurned) {
    const std::string stored = dir_.File("anamorphic.mp4");
    ASSERT_TRUE(reader_test::MakeMedia(
        "-f lavfi -i testsrc=size=720x576:rate=25:duration=0.2 -vf setsar=64/45 -c:v libx264", stored));
    const struct {
        const char* rotate;
        LONG width, height;
        PixelAspect pixel;
    } cases[] = {{"0", 720, 576, {64, 45}}, {"90", 576, 720, {45, 64}},
                 {"180", 720, 576, {64, 45}}, {"270", 576, 720, {45, 64}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("rotate=") + c.rotate);
        const std::string path = dir_.File(std::string("turned-") + c.rotate + ".mp4");
        ASSERT_TRUE(reader_test::MakeMedia("-i '" + stored + "' -c copy -metadata:s:v rotate=" + c.rotate, path));
        ASSERT_NO_FATAL_FAILURE(Render(path));
        const auto* info = counter_->Connected().FormatAs<VIDEOINFOHEADER>();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->bmiHeader.biWidth, c.width);
        EXPECT_EQ(info->bmiHeader.biHeight, c.height);
        const PixelAspect pixel = PixelAspectOf(info->bmiHeader);
        EXPECT_EQ(pixel.width, c.pixel.width);
        EXPECT_EQ(pixel.height, c.pixel.height);
    }
}

// A transport stream whose clock jumps 60 s between its pieces: a range that starts in the second
// piece is read from the key packet the probe found there on the closed-up clock. The bytes of
// the first piece are zeroed once the file is open, and the range still arrives whole and on time.
TEST_F(SourceFilterGraph, RangeAfterAClockJumpIsReadFromTheKeyPacketThere) {
    const std::string path = dir_.File("jump.ts");
    const std::string piece = "-f lavfi -i testsrc=size=320x240:rate=25:duration=3 "
                              "-f lavfi -i sine=sample_rate=48000:duration=3 -g 25 -c:v mpeg2video -q:v 2 -c:a mp2";
    ASSERT_TRUE(reader_test::MakeJumpingStream({{piece, 0.0}, {piece, 63.0}}, path));
    ASSERT_NO_FATAL_FAILURE(Render(path));
    {
        const std::string zeros(std::filesystem::file_size(path + ".piece0.ts"), '\0');
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(file.write(zeros.data(), std::streamsize(zeros.size())));
    }
    ASSERT_EQ(SeekTo(41 * kUnitsPerSecond / 10), S_OK);  // picture 27 of the second piece
    EXPECT_EQ(RunToEnd(), EC_COMPLETE);
    const std::vector<REFERENCE_TIME> times = counter_->Times();
    ASSERT_EQ(times.size(), 48u);  // 4.08 s to the end at 6 s
    EXPECT_LE(times.front(), 0);
    EXPECT_GT(times.front(), -kUnitsPerSecond / 25);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GT(times[i], times[i - 1]);
}

}  // namespace
