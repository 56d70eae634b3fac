// Reads one clip through the editing services: a timeline with a video and an audio group
// holds the clip's range as one source each; the render engine builds the graph that cuts,
// scales and re-times it, and the group output pins end in the two receivers. Pictures thus
// arrive at the output frame size and rate, so the sink paces nothing in this mode.
#pragma once

#include "core/settings.h"
#include "platform/des/interfaces.h"
#include "reader/clip_record.h"
#include "reader/receivers.h"
#include "reader/source_delivery.h"
#include "reader/source_graph.h"

namespace reader {

// What the timeline needs from the job beyond what a plain graph does: the output frame size
// and rate and the letterbox choice.
class DesGraphOwner : public GraphOwner {
public:
    virtual const core::Settings& JobSettings() = 0;
};

class DesGraph {
public:
    DesGraph() = default;
    ~DesGraph() { Release(); }
    DesGraph(const DesGraph&) = delete;
    DesGraph& operator=(const DesGraph&) = delete;

    void Init(DesGraphOwner* owner);
    // Builds the timeline and the engine's graph for clip (which must outlive the graph).
    // Negative when the graph cannot deliver pictures and sound to the receivers.
    HRESULT Build(const ClipRecord* clip);
    // Runs until the range is rendered, an error or abort event arrives, or the owner's stop
    // event is set; returns the last event code received (0 when none).
    long Run();
    // The reason a filter gave for ending the last Run in an error (S_OK for any other end):
    // a system error when the clip's file could not be read.
    HRESULT RunFailure() const { return runFailure_; }
    // What the clip's file gave the groups during the last Run (nothing before one).
    SourceDelivery SourceDelivered() const;
    void Release();

    HRESULT AddVideoGroup();
    HRESULT AddAudioGroup();
    HRESULT AddVideoSource(const ClipRecord* clip);
    HRESULT AddAudioSource(const ClipRecord* clip);

    // For callers that need the pieces themselves (tests, tools).
    platform::des::IAMTimeline* Timeline() const { return Timeline_.Get(); }
    platform::dshow::IGraphBuilder* Graph() const { return GraphBuilder.Get(); }

private:
    HRESULT AddGroup(const platform::dshow::AM_MEDIA_TYPE& type, ComPtr<platform::des::IAMTimelineObj>* group);
    HRESULT AddSource(platform::des::IAMTimelineObj* group, const ClipRecord* clip, bool video);
    HRESULT BuildEngineGraph();
    HRESULT AddReceivers();
    HRESULT ConnectReceivers();

    HRESULT runFailure_ = 0;
    ComPtr<platform::des::IAMTimeline> Timeline_;
    ComPtr<platform::des::IAMTimelineObj> VideoGroup;
    ComPtr<platform::des::IAMTimelineObj> AudioGroup;
    ComPtr<platform::des::IRenderEngine> RenderEngine;
    ComPtr<platform::des::ICaptureGraphBuilder2> CaptureBuilder;
    ComPtr<platform::dshow::IGraphBuilder> GraphBuilder;
    ComPtr<platform::dshow::IMediaControl> MediaControl;
    ComPtr<platform::dshow::IMediaEventEx> MediaEvent;
    ComPtr<ReceiverAudio> AudioReceiver;
    ComPtr<ReceiverVideo> VideoReceiver;
    ComPtr<platform::des::IXml2Dex> XmlConverter;
    DesGraphOwner* Owner = nullptr;
    double TimelineLength = 0.0;  // seconds of material placed so far
};

// The video group's type: bottom-up RGB24 at width x height, rows padded to 4 bytes.
platform::dshow::CMediaType VideoGroupType(int32_t width, int32_t height);

}  // namespace reader
