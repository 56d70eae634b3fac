// The editing-services stand-in on its own: what the timeline refuses, how the render engine
// fits and counts pictures, and what it will not render.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/com/class_table.h"
#include "platform/des/group_filters.h"
#include "platform/des/interfaces.h"
#include "platform/dshow/media_type.h"

namespace {

using namespace platform::des;
using platform::com::ComPtr;
using platform::com::E_INVALIDARG;
using platform::com::E_NOTIMPL;
using platform::com::E_UNEXPECTED;
using platform::com::S_OK;
using platform::dshow::CMediaType;
using platform::dshow::kUnitsPerSecond;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

CMediaType VideoType(int width, int height, int bits = 24) {
    platform::dshow::VIDEOINFOHEADER info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biBitCount = uint16_t(bits);
    CMediaType type;
    type.majortype = platform::dshow::MEDIATYPE_Video;
    type.subtype = platform::dshow::MEDIASUBTYPE_RGB24;
    type.formattype = platform::dshow::FORMAT_VideoInfo;
    type.SetFormat(&info, sizeof info);
    return type;
}

class DesTimeline : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(platform::com::CoCreateInstance(CLSID_AMTimeline, nullptr,
                                                  platform::com::CLSCTX_INPROC_SERVER, &timeline_),
                  S_OK);
    }
    ComPtr<IAMTimelineObj> Node(TIMELINE_MAJOR_TYPE type) {
        ComPtr<IAMTimelineObj> node;
        EXPECT_EQ(timeline_->CreateEmptyNode(node.Put(), type), S_OK);
        return node;
    }
    // A group of type holding one track with one source at [start, stop] of the timeline
    // playing [mediaStart, mediaStop] of its file.
    ComPtr<IAMTimelineObj> GroupWithSource(const CMediaType& type, double start, double stop,
                                           double mediaStart, double mediaStop) {
        ComPtr<IAMTimelineObj> group = Node(TIMELINE_MAJOR_TYPE_GROUP);
        ComPtr<IAMTimelineGroup> groupInterface;
        ComPtr<IAMTimelineComp> comp;
        group.As(&groupInterface);
        group.As(&comp);
        EXPECT_EQ(groupInterface->SetMediaType(&type), S_OK);
        ComPtr<IAMTimelineObj> track = Node(TIMELINE_MAJOR_TYPE_TRACK);
        EXPECT_EQ(comp->VTrackInsBefore(track.Get(), -1), S_OK);
        AddSource(track.Get(), start, stop, mediaStart, mediaStop);
        EXPECT_EQ(timeline_->AddGroup(group.Get()), S_OK);
        return group;
    }
    void AddSource(IAMTimelineObj* track, double start, double stop, double mediaStart, double mediaStop) {
        ComPtr<IAMTimelineObj> source = Node(TIMELINE_MAJOR_TYPE_SOURCE);
        ComPtr<IAMTimelineSrc> sourceInterface;
        source.As(&sourceInterface);
        EXPECT_EQ(source->SetStartStop2(start, stop), S_OK);
        EXPECT_EQ(sourceInterface->SetMediaName("/nonexistent/clip.avi"), S_OK);
        EXPECT_EQ(sourceInterface->SetMediaTimes2(mediaStart, mediaStop), S_OK);
        ComPtr<IAMTimelineTrack> trackInterface;
        ComPtr<IAMTimelineObj>(track).As(&trackInterface);
        EXPECT_EQ(trackInterface->SrcAdd(source.Get()), S_OK);
    }
    HRESULT Connect() {
        ComPtr<IRenderEngine> engine;
        HRESULT hr = platform::com::CoCreateInstance(CLSID_RenderEngine, nullptr,
                                                     platform::com::CLSCTX_INPROC_SERVER, &engine);
        if (hr == S_OK) hr = engine->SetTimelineObject(timeline_.Get());
        return hr == S_OK ? engine->ConnectFrontEnd() : hr;
    }

    platform::com::ScopedComInit com_;
    ComPtr<IAMTimeline> timeline_;
};

// Times that could not be rendered are refused where they are set.
TEST_F(DesTimeline, RefusesTimesThatCannotBeRendered) {
    ComPtr<IAMTimelineObj> source = Node(TIMELINE_MAJOR_TYPE_SOURCE);
    ComPtr<IAMTimelineSrc> sourceInterface;
    ASSERT_EQ(source.As(&sourceInterface), S_OK);
    const struct {
        double start, stop;
        HRESULT place, media;
    } cases[] = {
        {0.0, 15.0, S_OK, S_OK},       {10.0, 25.0, S_OK, S_OK},
        {2.0, 2.0, S_OK, E_INVALIDARG},  // an empty place is allowed, an empty part of a file is not
        {3.0, 1.0, E_INVALIDARG, E_INVALIDARG}, {-1.0, 1.0, E_INVALIDARG, E_INVALIDARG},
        {0.0, kNaN, E_INVALIDARG, E_INVALIDARG}, {0.0, kInf, E_INVALIDARG, E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << ".." << c.stop);
        EXPECT_EQ(source->SetStartStop2(c.start, c.stop), c.place);
        EXPECT_EQ(sourceInterface->SetMediaTimes2(c.start, c.stop), c.media);
    }
    const struct {
        int mode;
        HRESULT result;
    } modes[] = {{RESIZEF_STRETCH, S_OK},           {RESIZEF_PRESERVEASPECTRATIO, S_OK},
                 {RESIZEF_CROP, E_NOTIMPL},         {RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX, E_NOTIMPL},
                 {-1, E_INVALIDARG},                {4, E_INVALIDARG}};
    for (const auto& m : modes) EXPECT_EQ(sourceInterface->SetStretchMode(m.mode), m.result) << m.mode;
    for (double fps : {0.0, -25.0, kNaN, kInf}) EXPECT_EQ(timeline_->SetDefaultFPS(fps), E_INVALIDARG);
    EXPECT_EQ(timeline_->SetDefaultFPS(30000.0 / 1001), S_OK);
}

TEST_F(DesTimeline, GroupsNeedATypeTheEngineCanDeliver) {
    ComPtr<IAMTimelineObj> group = Node(TIMELINE_MAJOR_TYPE_GROUP);
    ComPtr<IAMTimelineGroup> groupInterface;
    ASSERT_EQ(group.As(&groupInterface), S_OK);
    EXPECT_EQ(timeline_->AddGroup(group.Get()), E_INVALIDARG) << "no type yet";

    CMediaType noFormat;
    noFormat.majortype = platform::dshow::MEDIATYPE_Video;
    noFormat.subtype = platform::dshow::MEDIASUBTYPE_RGB24;
    for (const CMediaType& refused : {noFormat, VideoType(0, 576), VideoType(720, -576), VideoType(720, 576, 32)}) {
        EXPECT_EQ(groupInterface->SetMediaType(&refused), E_INVALIDARG);
    }
    const CMediaType video = VideoType(720, 576);
    EXPECT_EQ(groupInterface->SetMediaType(&video), S_OK);
    EXPECT_EQ(timeline_->AddGroup(group.Get()), S_OK);
    EXPECT_EQ(timeline_->AddGroup(group.Get()), E_INVALIDARG) << "added twice";

    // Nodes go only where their kind belongs, and only once.
    ComPtr<IAMTimelineComp> comp;
    ASSERT_EQ(group.As(&comp), S_OK);
    ComPtr<IAMTimelineObj> track = Node(TIMELINE_MAJOR_TYPE_TRACK);
    ComPtr<IAMTimelineObj> source = Node(TIMELINE_MAJOR_TYPE_SOURCE);
    EXPECT_EQ(comp->VTrackInsBefore(source.Get(), -1), E_INVALIDARG);
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), -1), S_OK);
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), -1), E_INVALIDARG);
    ComPtr<IAMTimelineTrack> trackInterface;
    ASSERT_EQ(track.As(&trackInterface), S_OK);
    EXPECT_EQ(trackInterface->SrcAdd(track.Get()), E_INVALIDARG);
    ComPtr<IAMTimelineSrc> notASource;
    EXPECT_NE(track.As(&notASource), S_OK);

    ComPtr<IAMTimelineObj> effect;
    EXPECT_EQ(timeline_->CreateEmptyNode(effect.Put(), TIMELINE_MAJOR_TYPE_EFFECT), E_NOTIMPL);
}

// What the engine cannot render faithfully it refuses, before opening any file.
TEST_F(DesTimeline, EngineRefusesWhatItCannotRender) {
    EXPECT_EQ(Connect(), E_INVALIDARG) << "no groups";

    ComPtr<IAMTimelineObj> group = GroupWithSource(VideoType(352, 240), 0.0, 4.0, 0.0, 2.0);
    EXPECT_EQ(Connect(), E_NOTIMPL) << "a change of speed";

    ASSERT_EQ(platform::com::CoCreateInstance(CLSID_AMTimeline, nullptr,
                                              platform::com::CLSCTX_INPROC_SERVER, &timeline_),
              S_OK);
    group = GroupWithSource(VideoType(352, 240), 0.0, 2.0, 0.0, 2.0);
    ComPtr<IAMTimelineComp> comp;
    ComPtr<IAMTimelineObj> track;
    group.As(&comp);
    comp->GetVTrack(track.Put(), 0);
    AddSource(track.Get(), 2.0, 4.0, 0.0, 2.0);
    EXPECT_EQ(Connect(), E_NOTIMPL) << "two sources on a track";
}

TEST_F(DesTimeline, EngineAnswersOnlyAfterConnecting) {
    ComPtr<IRenderEngine> engine;
    ASSERT_EQ(platform::com::CoCreateInstance(CLSID_RenderEngine, nullptr,
                                              platform::com::CLSCTX_INPROC_SERVER, &engine),
              S_OK);
    ComPtr<platform::dshow::IGraphBuilder> graph;
    ComPtr<platform::dshow::IPin> pin;
    EXPECT_EQ(engine->ConnectFrontEnd(), E_UNEXPECTED);
    EXPECT_EQ(engine->GetFilterGraph(graph.Put()), E_UNEXPECTED);
    EXPECT_EQ(engine->GetGroupOutputPin(0, pin.Put()), E_UNEXPECTED);
    for (double stop : {0.0, -1.0, kNaN}) EXPECT_EQ(engine->SetRenderRange2(0.0, stop), E_INVALIDARG);

    // A missing file fails the build of the graph with the open's result.
    GroupWithSource(VideoType(352, 240), 0.0, 2.0, 0.0, 2.0);
    EXPECT_LT(Connect(), 0);

    ComPtr<IXml2Dex> converter;
    EXPECT_EQ(platform::com::CoCreateInstance(CLSID_Xml2Dex, nullptr, platform::com::CLSCTX_INPROC_SERVER,
                                              &converter),
              S_OK);
}

TEST(DesGroupFilters, OutputFramesStartInsideTheRange) {
    const struct {
        double seconds, fps;
        int64_t frames;
    } cases[] = {
        {2.0, 25.0, 50}, {15.0, 30000.0 / 1001, 450}, {1.0, 30000.0 / 1001, 30},
        {1.0, 24.0, 24}, {0.0, 25.0, 0},  {1.0, 0.0, 0}, {1.0, kNaN, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.seconds << " s at " << c.fps);
        EXPECT_EQ(OutputFrameCount(platform::dshow::REFERENCE_TIME(std::llround(c.seconds * kUnitsPerSecond)), c.fps),
                  c.frames);
    }
}

// Proportions are those shown: a 4:3 frame of 720 x 480 has pixels of 8:9, one of 720 x 576
// pixels of 16:15, and a wide DV picture 720 x 480 pixels of 32:27.
TEST(DesGroupFilters, PicturesKeepTheirDisplayedProportionsOnlyWhenAsked) {
    using platform::dshow::PixelAspect;
    const struct {
        const char* name;
        int sw, sh;
        PixelAspect sourcePixel;
        int fw, fh;
        PixelAspect framePixel;
        int mode;
        FitRect fit;
    } cases[] = {
        {"16:9 square into NTSC 4:3", 1920, 1080, {1, 1}, 720, 480, {8, 9}, RESIZEF_PRESERVEASPECTRATIO, {0, 60, 720, 360}},
        {"16:9 square into PAL 4:3", 1920, 1080, {1, 1}, 720, 576, {16, 15}, RESIZEF_PRESERVEASPECTRATIO, {0, 72, 720, 432}},
        {"4:3 square fills NTSC 4:3", 640, 480, {1, 1}, 720, 480, {8, 9}, RESIZEF_PRESERVEASPECTRATIO, {0, 0, 720, 480}},
        {"wide DV into NTSC 4:3", 720, 480, {32, 27}, 720, 480, {8, 9}, RESIZEF_PRESERVEASPECTRATIO, {0, 60, 720, 360}},
        {"square picture gets pillars", 480, 480, {1, 1}, 720, 480, {8, 9}, RESIZEF_PRESERVEASPECTRATIO, {90, 0, 540, 480}},
        {"4:3 PAL frame fills itself", 720, 576, {16, 15}, 720, 576, {16, 15}, RESIZEF_PRESERVEASPECTRATIO, {0, 0, 720, 576}},
        {"unstated shapes are square", 640, 360, {0, 0}, 720, 576, {0, 0}, RESIZEF_PRESERVEASPECTRATIO, {0, 85, 720, 405}},
        {"stretch fills the frame", 1920, 1080, {1, 1}, 720, 480, {8, 9}, RESIZEF_STRETCH, {0, 0, 720, 480}},
        {"never zero rows", 4000, 1, {1, 1}, 720, 576, {16, 15}, RESIZEF_PRESERVEASPECTRATIO, {0, 287, 720, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::dshow::BITMAPINFOHEADER source{}, frame{};
        source.biWidth = c.sw;
        source.biHeight = c.sh;
        SetPixelAspect(source, c.sourcePixel);
        frame.biWidth = c.fw;
        frame.biHeight = c.fh;
        SetPixelAspect(frame, c.framePixel);
        const FitRect fit = FitPicture(source, frame, c.mode);
        EXPECT_EQ(fit.x, c.fit.x);
        EXPECT_EQ(fit.y, c.fit.y);
        EXPECT_EQ(fit.width, c.fit.width);
        EXPECT_EQ(fit.height, c.fit.height);
    }
}

}  // namespace
