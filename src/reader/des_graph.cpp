#include "reader/des_graph.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "core/encoder_dvd_video.h"
#include "core/log.h"
#include "platform/com/class_table.h"
#include "platform/des/group_intake.h"
#include "platform/dshow/diagnostics.h"
#include "platform/dshow/media_type.h"
#include "reader/graph_end.h"

namespace reader {

using namespace platform::com;
using namespace platform::des;
using namespace platform::dshow;

namespace {

// How long one wait for completion lasts before the stop event is looked at again: short
// enough that a stopped clip stops delivering promptly instead of running on for a second.
constexpr long kWaitSliceMs = 100;

// The first failure of a series of steps that are all made whatever the earlier ones gave.
HRESULT FirstFailure(std::initializer_list<HRESULT> results) {
    for (HRESULT hr : results) {
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// What a group (0 video, 1 audio) took in from the clip; nothing when it cannot tell.
GroupIntake IntakeOf(IRenderEngine* engine, long group) {
    GroupIntake intake;
    ComPtr<IPin> pin;
    ComPtr<IGroupIntake> counter;
    if (engine != nullptr && SUCCEEDED(engine->GetGroupOutputPin(group, pin.Put())) &&
        SUCCEEDED(pin.As(&counter))) {
        counter->GetIntake(&intake);
    }
    return intake;
}

double Seconds(REFERENCE_TIME units) { return double(units) / double(kUnitsPerSecond); }

}  // namespace

CMediaType VideoGroupType(int32_t width, int32_t height) {
    VIDEOINFOHEADER info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: bottom-up rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biSizeImage = Rgb24Stride(width) * uint32_t(std::abs(height));
    // The disc shows the frame at 4:3, so the timeline fits pictures to that shape, not to
    // the frame's pixel count.
    const AVRational pixel = core::SampleAspectFor4x3(width, std::abs(height));
    SetPixelAspect(info.bmiHeader, {pixel.num, pixel.den});
    CMediaType type;
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.formattype = FORMAT_VideoInfo;
    type.bFixedSizeSamples = 1;
    type.lSampleSize = info.bmiHeader.biSizeImage;
    type.SetFormat(&info, sizeof info);
    return type;
}

void DesGraph::Init(DesGraphOwner* owner) {
    Release();
    Owner = owner;
}

HRESULT DesGraph::Build(const ClipRecord* clip) {
    core::LogPrintf("Building DES Graph...\n");
    // A read error on the engine's streaming threads has no caller to go back to: log it.
    SetDiagnosticSink([](const std::string& line) { core::LogPrintf("%s", line.c_str()); });
    if (Owner == nullptr || clip == nullptr) return E_POINTER;
    const core::Settings& settings = Owner->JobSettings();

    HRESULT hr = CoCreateInstance(CLSID_AMTimeline, nullptr, CLSCTX_INPROC_SERVER, &Timeline_);
    if (FAILED(hr)) {
        core::LogPrintf("Creating TimeLine faile.\n");
        return hr;
    }
    // A zero denominator gives an infinite or undefined rate, which the timeline refuses.
    hr = Timeline_->SetDefaultFPS(double(settings.FrameRateNum) / double(settings.FrameRateDen));
    if (FAILED(hr)) return hr;

    const HRESULT video = AddVideoGroup();
    const HRESULT audio = AddAudioGroup();
    hr = video | audio;
    if (FAILED(hr)) return hr;

    TimelineLength = 0.0;
    const HRESULT audioSource = AddAudioSource(clip);
    const HRESULT videoSource = AddVideoSource(clip);
    hr = audioSource | videoSource;
    if (FAILED(hr)) return hr;
    TimelineLength += clip->RangeEnd - clip->RangeStart;

    // Nothing can pop up or be replaced here; a missing file shows in ConnectFrontEnd.
    Timeline_->ValidateSourceNames(SFN_VALIDATEF_CHECK | SFN_VALIDATEF_POPUP | SFN_VALIDATEF_REPLACE,
                                   nullptr, 0);

    hr = BuildEngineGraph();
    if (FAILED(hr)) return hr;
    hr = AddReceivers();
    if (FAILED(hr)) return hr;
    SampleSink* sink = Owner->Sink();
    AudioReceiver->SetCallback(sink);
    VideoReceiver->SetCallback(sink);

    hr = ConnectReceivers();
    GraphBuilder.As(&MediaControl);
    GraphBuilder.As(&MediaEvent);
    RemoveReferenceClock(GraphBuilder.Get());
    if (SUCCEEDED(hr) && (!MediaControl || !MediaEvent)) hr = E_NOINTERFACE;
    return hr;
}

HRESULT DesGraph::BuildEngineGraph() {
    HRESULT hr = CoCreateInstance(CLSID_RenderEngine, nullptr, CLSCTX_INPROC_SERVER, &RenderEngine);
    if (FAILED(hr)) return hr;
    RenderEngine->SetRenderRange2(0.0, TimelineLength);
    hr = RenderEngine->SetTimelineObject(Timeline_.Get());
    if (FAILED(hr)) return hr;
    hr = RenderEngine->ConnectFrontEnd();
    if (FAILED(hr)) return hr;

    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, &CaptureBuilder);
    if (FAILED(hr)) return hr;
    const HRESULT graph = RenderEngine->GetFilterGraph(GraphBuilder.Put());
    const HRESULT joined = GraphBuilder ? CaptureBuilder->SetFiltergraph(GraphBuilder.Get()) : E_POINTER;
    hr = graph | joined;
    if (FAILED(hr)) return hr;

    return CoCreateInstance(CLSID_Xml2Dex, nullptr, CLSCTX_INPROC_SERVER, &XmlConverter);
}

HRESULT DesGraph::AddReceivers() {
    const HRESULT hr = AddReceiver(GraphBuilder.Get(), &AudioReceiver, "ReceiverAudio");
    if (FAILED(hr)) return hr;
    return AddReceiver(GraphBuilder.Get(), &VideoReceiver, "ReceiverVideo");
}

// Every one of the four calls must succeed for pictures and sound to reach the receivers, so
// the first failure is the result, not just the last call's.
HRESULT DesGraph::ConnectReceivers() {
    ComPtr<IPin> videoPin;
    ComPtr<IPin> audioPin;
    const HRESULT videoFound = RenderEngine->GetGroupOutputPin(0, videoPin.Put());
    const HRESULT audioFound = RenderEngine->GetGroupOutputPin(1, audioPin.Put());
    ComPtr<IBaseFilter> videoSink;
    ComPtr<IBaseFilter> audioSink;
    VideoReceiver.As(&videoSink);
    AudioReceiver.As(&audioSink);
    const HRESULT videoJoined =
        videoPin ? CaptureBuilder->RenderStream(nullptr, nullptr, videoPin.Get(), nullptr, videoSink.Get())
                 : videoFound;
    const HRESULT audioJoined =
        audioPin ? CaptureBuilder->RenderStream(nullptr, nullptr, audioPin.Get(), nullptr, audioSink.Get())
                 : audioFound;
    return FirstFailure({videoFound, audioFound, videoJoined, audioJoined});
}

HRESULT DesGraph::AddGroup(const AM_MEDIA_TYPE& type, ComPtr<IAMTimelineObj>* group) {
    HRESULT hr = Timeline_->CreateEmptyNode(group->Put(), TIMELINE_MAJOR_TYPE_GROUP);
    if (FAILED(hr)) return hr;
    ComPtr<IAMTimelineGroup> groupInterface;
    hr = group->As(&groupInterface);
    if (FAILED(hr)) return hr;
    hr = groupInterface->SetMediaType(&type);
    if (FAILED(hr)) return hr;
    return Timeline_->AddGroup(group->Get());
}

HRESULT DesGraph::AddVideoGroup() {
    const core::Settings& settings = Owner->JobSettings();
    return AddGroup(VideoGroupType(settings.OutputWidth, settings.OutputHeight), &VideoGroup);
}

HRESULT DesGraph::AddAudioGroup() {
    // Only the major type: the audio receiver's test decides what sound reaches the sink.
    CMediaType type;
    type.majortype = MEDIATYPE_Audio;
    return AddGroup(type, &AudioGroup);
}

HRESULT DesGraph::AddVideoSource(const ClipRecord* clip) { return AddSource(VideoGroup.Get(), clip, true); }

HRESULT DesGraph::AddAudioSource(const ClipRecord* clip) { return AddSource(AudioGroup.Get(), clip, false); }

HRESULT DesGraph::AddSource(IAMTimelineObj* group, const ClipRecord* clip, bool video) {
    if (group == nullptr) return E_POINTER;
    ComPtr<IAMTimelineComp> comp;
    HRESULT hr = ComPtr<IAMTimelineObj>(group).As(&comp);
    if (FAILED(hr)) return hr;
    ComPtr<IAMTimelineObj> track;
    hr = Timeline_->CreateEmptyNode(track.Put(), TIMELINE_MAJOR_TYPE_TRACK);
    if (SUCCEEDED(hr)) hr = comp->VTrackInsBefore(track.Get(), -1);
    if (FAILED(hr)) return hr;

    ComPtr<IAMTimelineObj> source;
    hr = Timeline_->CreateEmptyNode(source.Put(), TIMELINE_MAJOR_TYPE_SOURCE);
    if (FAILED(hr)) return hr;
    const double length = clip->RangeEnd - clip->RangeStart;
    hr = source->SetStartStop2(TimelineLength, TimelineLength + length);
    if (FAILED(hr)) return hr;

    ComPtr<IAMTimelineSrc> sourceInterface;
    hr = source.As(&sourceInterface);
    if (FAILED(hr)) return hr;
    const HRESULT named = sourceInterface->SetMediaName(clip->Path.c_str());
    const HRESULT timed = sourceInterface->SetMediaTimes2(clip->RangeStart, clip->RangeEnd);
    hr = named | timed;
    if (FAILED(hr)) return hr;

    if (video) {
        const int mode = Owner->JobSettings().LetterBox == 0 ? RESIZEF_PRESERVEASPECTRATIO : RESIZEF_STRETCH;
        hr = sourceInterface->SetStretchMode(mode);
        if (FAILED(hr)) return hr;
    }

    ComPtr<IAMTimelineTrack> trackInterface;
    hr = track.As(&trackInterface);
    if (FAILED(hr)) return hr;
    return trackInterface->SrcAdd(source.Get());
}

long DesGraph::Run() {
    runFailure_ = S_OK;
    if (!MediaControl || !MediaEvent) return 0;
    if (FAILED(MediaControl->Run())) {
        MediaControl->Stop();
        return 0;
    }
    const platform::ManualResetEvent* stop = Owner != nullptr ? Owner->StopEvent() : nullptr;
    GraphEnd end = WaitForGraphEnd(MediaEvent.Get(), kWaitSliceMs);
    while (end.code == 0 && !platform::IsCancelled(stop)) {
        end = WaitForGraphEnd(MediaEvent.Get(), kWaitSliceMs);
    }
    MediaControl->Stop();
    runFailure_ = end.failure;
    return end.code;
}

SourceDelivery DesGraph::SourceDelivered() const {
    const GroupIntake pictures = IntakeOf(RenderEngine.Get(), 0);
    const GroupIntake sound = IntakeOf(RenderEngine.Get(), 1);
    SourceDelivery delivered;
    delivered.Pictures = pictures.units;
    delivered.PictureSeconds = Seconds(pictures.until);
    delivered.SoundSeconds = Seconds(sound.until);
    return delivered;
}

void DesGraph::Release() {
    MediaControl = nullptr;
    MediaEvent = nullptr;
    GraphBuilder = nullptr;
    VideoGroup = nullptr;
    AudioGroup = nullptr;
    RenderEngine = nullptr;
    Timeline_ = nullptr;
    XmlConverter = nullptr;
    CaptureBuilder = nullptr;
    AudioReceiver = nullptr;
    VideoReceiver = nullptr;
}

}  // namespace reader
