#include <gtest/gtest.h>

#include <mutex>
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

private:
    class Pin : public CBaseInputPin {
    public:
        Pin(PictureCounter* owner, CCritSec* lock) : CBaseInputPin(owner, lock, nullptr, "In"), owner_(owner) {}
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

class SourceFilterTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("clip.mp4");
        ASSERT_TRUE(reader_test::MakeMedia(
            "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine -t 2 -c:v libx264 -c:a aac", path_));
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, &graph_), S_OK);
        counter_ = ComPtr<PictureCounter>(new PictureCounter());
        ASSERT_EQ(graph_->AddFilter(counter_.Get(), "counter"), S_OK);
        ASSERT_EQ(graph_->RenderFile(path_.c_str(), nullptr), S_OK);
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

    platform::com::ScopedComInit com_;
    reader_test::TempDir dir_;
    std::string path_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<PictureCounter> counter_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
    ComPtr<IMediaSeeking> seeking_;
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
    LONGLONG position = kUnitsPerSecond;
    ASSERT_EQ(seeking_->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
              S_OK);
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

}  // namespace
