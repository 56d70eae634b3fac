// The editing-services interfaces the timeline road calls: a timeline of groups, tracks and
// sources, the render engine that turns it into a filter graph, the capture graph builder
// that joins the engine's group pins to our receivers, and the XML converter object. Each
// interface carries only the operations that road and its tests use. Times are seconds.
#pragma once

#include <string>

#include "platform/com/com.h"
#include "platform/dshow/interfaces.h"

namespace platform::des {

using com::GUID;
using com::HRESULT;
using com::IUnknown;
using com::MakeGuid;
using dshow::AM_MEDIA_TYPE;
using dshow::IBaseFilter;
using dshow::IGraphBuilder;
using dshow::IPin;

enum TIMELINE_MAJOR_TYPE {
    TIMELINE_MAJOR_TYPE_COMPOSITE = 1,
    TIMELINE_MAJOR_TYPE_TRACK = 2,
    TIMELINE_MAJOR_TYPE_SOURCE = 4,
    TIMELINE_MAJOR_TYPE_TRANSITION = 8,
    TIMELINE_MAJOR_TYPE_EFFECT = 16,
    TIMELINE_MAJOR_TYPE_GROUP = 128,
};

// How a source's pictures are fitted to the group's frame.
constexpr int RESIZEF_STRETCH = 0;
constexpr int RESIZEF_CROP = 1;
constexpr int RESIZEF_PRESERVEASPECTRATIO = 2;
constexpr int RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX = 3;

// ValidateSourceNames flags.
constexpr long SFN_VALIDATEF_CHECK = 0x1;
constexpr long SFN_VALIDATEF_POPUP = 0x2;
constexpr long SFN_VALIDATEF_TELLME = 0x4;
constexpr long SFN_VALIDATEF_REPLACE = 0x8;

struct IAMTimelineObj : IUnknown {
    static constexpr GUID kIid = MakeGuid("615503ef-8cef-475d-b107-d9478e1d974e");
    virtual HRESULT GetTimelineType(TIMELINE_MAJOR_TYPE* type) = 0;
    // The object's place on the timeline; E_INVALIDARG unless 0 <= start <= stop, both finite.
    virtual HRESULT SetStartStop2(double start, double stop) = 0;
    virtual HRESULT GetStartStop2(double* start, double* stop) = 0;
};

struct IAMTimelineGroup : IUnknown {
    static constexpr GUID kIid = MakeGuid("6c3c9354-fb22-4c6a-a0a1-e9d7be845091");
    // Video groups take RGB24 with a VIDEOINFOHEADER of a positive size; audio groups need
    // only the major type. Anything else: E_INVALIDARG, and the group keeps its old type.
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
    // A copy the caller frees with FreeMediaType; VFW_E_NOT_CONNECTED when none was set.
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE* type) = 0;
};

// Groups are compositions: they hold tracks in priority order.
struct IAMTimelineComp : IUnknown {
    static constexpr GUID kIid = MakeGuid("c4a10427-6c8a-4dac-92c5-413b6b52682a");
    // priority -1 appends; a track already placed, or an object that is no track: E_INVALIDARG.
    virtual HRESULT VTrackInsBefore(IAMTimelineObj* track, long priority) = 0;
    virtual HRESULT VTrackGetCount(long* count) = 0;
    virtual HRESULT GetVTrack(IAMTimelineObj** track, long priority) = 0;
};

struct IAMTimelineTrack : IUnknown {
    static constexpr GUID kIid = MakeGuid("1075de37-7f72-4fd5-a78b-c7512cc12b51");
    // A source already placed, or an object that is no source: E_INVALIDARG.
    virtual HRESULT SrcAdd(IAMTimelineObj* source) = 0;
    virtual HRESULT GetSourcesCount(long* count) = 0;
    virtual HRESULT GetSource(IAMTimelineObj** source, long index) = 0;
};

struct IAMTimelineSrc : IUnknown {
    static constexpr GUID kIid = MakeGuid("492697b6-4c80-40e4-824b-21e78a32fc1c");
    virtual HRESULT SetMediaName(const char* path) = 0;
    virtual HRESULT GetMediaName(std::string* path) = 0;
    // The part of the file that is played; E_INVALIDARG unless 0 <= start < stop, finite.
    virtual HRESULT SetMediaTimes2(double start, double stop) = 0;
    virtual HRESULT GetMediaTimes2(double* start, double* stop) = 0;
    // RESIZEF_STRETCH or RESIZEF_PRESERVEASPECTRATIO; the cropping modes: E_NOTIMPL; other
    // values: E_INVALIDARG.
    virtual HRESULT SetStretchMode(int mode) = 0;
    virtual HRESULT GetStretchMode(int* mode) = 0;
};

struct IAMTimeline : IUnknown {
    static constexpr GUID kIid = MakeGuid("1b82dca0-ce07-4f88-9bac-332e9393219a");
    virtual HRESULT CreateEmptyNode(IAMTimelineObj** node, TIMELINE_MAJOR_TYPE type) = 0;
    // The output frame rate of every video group; E_INVALIDARG unless positive and finite.
    virtual HRESULT SetDefaultFPS(double fps) = 0;
    virtual HRESULT GetDefaultFPS(double* fps) = 0;
    // Groups are numbered in the order they are added. A group without a media type, or an
    // object that is no group: E_INVALIDARG.
    virtual HRESULT AddGroup(IAMTimelineObj* group) = 0;
    virtual HRESULT GetGroupCount(long* count) = 0;
    virtual HRESULT GetGroup(IAMTimelineObj** group, long index) = 0;
    // Checks that every source's file exists; S_FALSE when one is missing. Nothing pops up
    // and nothing is replaced here, whatever the flags ask.
    virtual HRESULT ValidateSourceNames(long flags, IUnknown* override, dshow::LONG_PTR notify) = 0;
};

struct IRenderEngine : IUnknown {
    static constexpr GUID kIid = MakeGuid("1630b739-83ac-4af9-a202-e2df8d5e8c5d");
    // The part of the timeline rendered; E_INVALIDARG unless 0 <= start < stop, finite.
    // Without one, the whole timeline is rendered.
    virtual HRESULT SetRenderRange2(double start, double stop) = 0;
    virtual HRESULT SetTimelineObject(IAMTimeline* timeline) = 0;
    // Builds the graph up to one output pin per group.
    virtual HRESULT ConnectFrontEnd() = 0;
    virtual HRESULT GetFilterGraph(IGraphBuilder** graph) = 0;
    virtual HRESULT GetGroupOutputPin(long group, IPin** pin) = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
    static constexpr GUID kIid = MakeGuid("d0c4eb92-18f5-4105-98af-0e24cc497e4c");
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    // Connects source (an output pin, or a filter's first free output pin) to sink's first
    // free input pin. Category, type and intermediate filters are not supported.
    virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                 IBaseFilter* intermediate, IBaseFilter* sink) = 0;
};

// The XML converter: the timeline road creates it and calls nothing on it.
struct IXml2Dex : IUnknown {
    static constexpr GUID kIid = MakeGuid("12ea942a-b30f-450d-a9f2-bf30e8f966d2");
};

constexpr GUID CLSID_AMTimeline = MakeGuid("b1ba2592-0e91-4a9e-bd2d-a3b4efb2f5f5");
constexpr GUID CLSID_RenderEngine = MakeGuid("13f1f174-23de-46a9-8de6-3028043cb710");
constexpr GUID CLSID_CaptureGraphBuilder2 = MakeGuid("d8c46d61-ba4b-4ded-849d-88305d0ca513");
constexpr GUID CLSID_Xml2Dex = MakeGuid("c0c21542-0679-4039-b0f0-5c7aa57e117c");

// Adds the four classes above to the class table; called with the other built-in classes.
void RegisterEditingServicesClasses();

}  // namespace platform::des
