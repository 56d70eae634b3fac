// Reads one clip through a plain filter graph into the two receivers: the graph builder ends
// the file's streams in them, the start of the clip's range is reached by a seek, and the
// graph runs without a clock, as fast as the sink takes the samples.
#pragma once

#include <string>

#include "platform/dshow/interfaces.h"
#include "platform/event.h"
#include "reader/clip_record.h"
#include "reader/receivers.h"

namespace reader {

using platform::com::ComPtr;

// What a graph needs from the job that owns it.
class GraphOwner {
public:
    virtual ~GraphOwner() = default;
    virtual SampleSink* Sink() = 0;
    // Set when the clip is done (the sink saw its end) or the user stopped the job.
    virtual const platform::ManualResetEvent* StopEvent() = 0;
    // Set when the user cancelled the job.
    virtual const platform::ManualResetEvent* CancelEvent() = 0;
    // The picture (size and pixel shape) the owner takes a clip's video at, given the one the
    // source offers: the graph asks the source for it, and a source that cannot serve it
    // delivers the offered one. The sink hears of the format only once it is settled. By
    // default the pictures come as offered.
    virtual platform::dshow::BITMAPINFOHEADER WantedPicture(
        const platform::dshow::BITMAPINFOHEADER& offered) {
        return offered;
    }
};

class SourceGraph {
public:
    SourceGraph() = default;
    ~SourceGraph() { Release(); }
    SourceGraph(const SourceGraph&) = delete;
    SourceGraph& operator=(const SourceGraph&) = delete;

    void Init(GraphOwner* owner);
    // Builds and connects the graph for clip (which must outlive the graph). Negative: the
    // graph cannot be built.
    HRESULT Build(ClipRecord* clip);
    // Seeks to the range start, runs until the clip ends, is stopped or cancelled, stops.
    // Negative when the graph could not run, or a filter ended it in an error (the reason it
    // gave).
    HRESULT RenderGraph();
    void Release();

    HRESULT RenderFile(const std::string& path);
    static bool IsWindowsMediaFile(const std::string& path);
    HRESULT AddAsfReader(const std::string& path);
    // Reconnects the video receiver at the owner's wanted picture, where that differs from
    // the connected one.
    HRESULT AskForWantedPicture();
    // Tells sink the video receiver's connected format, if it has one.
    void AnnounceVideoFormat(SampleSink* sink);

    // For callers that need the graph itself (tests, tools).
    platform::dshow::IGraphBuilder* Graph() const { return GraphBuilder.Get(); }

private:
    ComPtr<platform::dshow::IGraphBuilder> GraphBuilder;
    ComPtr<platform::dshow::IMediaControl> MediaControl;
    ComPtr<platform::dshow::IMediaEventEx> MediaEvent;
    ComPtr<platform::dshow::IMediaSeeking> MediaSeeking;
    ComPtr<platform::dshow::IMediaFilter> MediaFilter;
    ComPtr<ReceiverAudio> AudioReceiver;
    ComPtr<ReceiverVideo> VideoReceiver;
    GraphOwner* Owner = nullptr;
    ClipRecord* Clip = nullptr;
};

// Renders every output pin of filter that is not connected yet. S_FALSE after the last pin;
// the first failure ends the walk and is returned.
HRESULT RenderOutputPins(platform::dshow::IGraphBuilder* graph, platform::dshow::IBaseFilter* filter);

// Takes the reference clock away from a graph (any of its interfaces), so it runs unpaced.
HRESULT RemoveReferenceClock(platform::com::IUnknown* graph);

// The seek position for a range start, mapped from the probed length onto the graph's
// duration; nothing (a negative result) when there is no start or nothing to map it by.
platform::dshow::LONGLONG RangeStartPosition(double rangeStart, double videoLength,
                                             platform::dshow::LONGLONG duration);

}  // namespace reader
