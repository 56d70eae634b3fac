#include <gtest/gtest.h>

#include "platform/com/class_table.h"
#include "platform/dshow/base_classes.h"

namespace {

using namespace platform::dshow;
using platform::com::CLSCTX_ALL;
using platform::com::CoCreateInstance;
using platform::com::E_ABORT;
using platform::com::MakeGuid;
using platform::com::S_OK;

constexpr GUID kStreamType = MakeGuid("9d3c1f52-6a2b-4e8d-b7c4-1e2f3a4b5c6d");

// A source with one output pin that never streams: the test plays the streaming thread.
class IdleSource : public CBaseFilter {
public:
    IdleSource() : CBaseFilter(nullptr, &lock_, GUID{}), pin_(this, &lock_) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    IPin* Output() { return &pin_; }

private:
    class Pin : public CBasePin {
    public:
        Pin(CBaseFilter* filter, CCritSec* lock) : CBasePin(filter, lock, nullptr, "Out", PINDIR_OUTPUT) {}
        HRESULT CheckMediaType(const CMediaType* type) override {
            return type->majortype == kStreamType ? S_OK : platform::com::S_FALSE;
        }
        HRESULT GetMediaType(int position, CMediaType* type) override {
            if (position != 0) return VFW_S_NO_MORE_ITEMS;
            type->Clear();
            type->majortype = kStreamType;
            return S_OK;
        }
    };
    CCritSec lock_;
    Pin pin_;
};

class GraphTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, &graph_), S_OK);
        ASSERT_EQ(graph_.As(&control_), S_OK);
        ASSERT_EQ(graph_.As(&events_), S_OK);
    }
    ComPtr<IBaseFilter> AddSource(const char* name) {
        ComPtr<IBaseFilter> source(new IdleSource());
        EXPECT_EQ(graph_->AddFilter(source.Get(), name), S_OK);
        return source;
    }
    static IPin* FirstPin(IBaseFilter* filter) {
        return static_cast<CBaseFilter*>(filter)->GetPin(0);
    }
    ComPtr<IBaseFilter> Renderer(const char* name) {
        ComPtr<IBaseFilter> renderer;
        EXPECT_EQ(graph_->FindFilterByName(name, renderer.Put()), S_OK);
        return renderer;
    }

    platform::com::ScopedComInit com_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEventEx> events_;
};

// WaitForCompletion's three answers, and completion only once every connected renderer
// has reached its end of stream.
TEST_F(GraphTest, CompletesWhenEveryRendererHasFinished) {
    ComPtr<IBaseFilter> first = AddSource("first");
    ComPtr<IBaseFilter> second = AddSource("second");
    ASSERT_EQ(graph_->Render(FirstPin(first.Get())), S_OK);
    ASSERT_EQ(graph_->Render(FirstPin(second.Get())), S_OK);
    ComPtr<IBaseFilter> rendererA = Renderer("Null Renderer");
    ComPtr<IBaseFilter> rendererB = Renderer("Null Renderer 1");

    long code = -1;
    EXPECT_EQ(events_->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
    ASSERT_EQ(control_->Run(), S_OK);
    EXPECT_EQ(events_->WaitForCompletion(20, &code), E_ABORT);
    EXPECT_EQ(code, 0);

    static_cast<CBaseFilter*>(rendererA.Get())->GetPin(0)->EndOfStream();
    EXPECT_EQ(events_->WaitForCompletion(20, &code), E_ABORT);
    static_cast<CBaseFilter*>(rendererB.Get())->GetPin(0)->EndOfStream();
    EXPECT_EQ(events_->WaitForCompletion(1000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);

    EXPECT_EQ(control_->Stop(), S_OK);
    long state = -1;
    control_->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(GraphTest, AbortEventsEndTheWait) {
    ComPtr<IBaseFilter> source = AddSource("source");
    ASSERT_EQ(graph_->Render(FirstPin(source.Get())), S_OK);
    ASSERT_EQ(control_->Run(), S_OK);
    static_cast<CBaseFilter*>(source.Get())->NotifyEvent(EC_ERRORABORT, platform::com::E_FAIL, 0);
    long code = 0;
    EXPECT_EQ(events_->WaitForCompletion(1000, &code), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    control_->Stop();
}

// Render ends a stream in a free input pin already in the graph before it adds a renderer.
TEST_F(GraphTest, RenderPrefersFiltersAlreadyInTheGraph) {
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_ALL, &renderer), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer.Get(), "mine"), S_OK);
    ComPtr<IBaseFilter> source = AddSource("source");
    IPin* output = FirstPin(source.Get());
    ASSERT_EQ(graph_->Render(output), S_OK);
    ComPtr<IBaseFilter> added;
    EXPECT_EQ(graph_->FindFilterByName("Null Renderer", added.Put()), VFW_E_NOT_IN_GRAPH);
    ComPtr<IPin> peer;
    ASSERT_EQ(output->ConnectedTo(peer.Put()), S_OK);
    EXPECT_EQ(peer.Get(), FirstPin(renderer.Get()));
    EXPECT_EQ(graph_->Render(output), VFW_E_ALREADY_CONNECTED);

    AM_MEDIA_TYPE type{};
    ASSERT_EQ(peer->ConnectionMediaType(&type), S_OK);
    EXPECT_EQ(type.majortype, kStreamType);
    FreeMediaType(type);

    EXPECT_EQ(graph_->RemoveFilter(renderer.Get()), S_OK);
    EXPECT_EQ(output->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
}

TEST_F(GraphTest, FilesThatCannotBeReadAreNotRendered) {
    EXPECT_LT(graph_->RenderFile("/nonexistent/clip.avi", nullptr), 0);
    EXPECT_LT(graph_->RenderFile("/", nullptr), 0);
}

TEST(MediaTypes, CopiesOwnTheirFormatBlock) {
    CMediaType original;
    const int block[4] = {1, 2, 3, 4};
    ASSERT_TRUE(original.SetFormat(block, sizeof block));
    CMediaType copy(original);
    ASSERT_NE(copy.pbFormat, original.pbFormat);
    original.SetFormat(nullptr, 0);
    ASSERT_NE(copy.FormatAs<int[4]>(), nullptr);
    EXPECT_EQ((*copy.FormatAs<int[4]>())[3], 4);
    EXPECT_EQ(copy.FormatAs<double[4]>(), nullptr);  // too short for the type asked
}

}  // namespace
