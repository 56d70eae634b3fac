// The DirectShow interfaces the reader and its callers use, each with only the operations
// they call. Strings are UTF-8.
#pragma once

#include "platform/com/com.h"
#include "platform/dshow/types.h"

namespace platform::dshow {

using com::MakeGuid;

struct IPin;
struct IFilterGraph;

struct IReferenceClock : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a86897-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
};

struct IPersist : IUnknown {
    static constexpr GUID kIid = MakeGuid("0000010c-0000-0000-c000-000000000046");
    virtual HRESULT GetClassID(GUID* clsid) = 0;
};

struct IMediaFilter : IPersist {
    static constexpr GUID kIid = MakeGuid("56a86899-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    // start: the reference-clock time that corresponds to stream time 0.
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) = 0;
    // A null clock lets the graph run as fast as its consumers take the samples.
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;
};

struct IEnumPins : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a86892-0ad4-11ce-b03a-0020af0ba770");
    // S_OK when count pins were returned, S_FALSE when fewer were left.
    virtual HRESULT Next(uint32_t count, IPin** pins, uint32_t* fetched) = 0;
    virtual HRESULT Skip(uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
};

struct IBaseFilter : IMediaFilter {
    static constexpr GUID kIid = MakeGuid("56a86895-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    // The graph tells the filter that it joined (graph non-null) or left (null). The filter
    // keeps no reference on the graph, which holds one on the filter.
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, const char* name) = 0;
};

struct IPin : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a86891-0ad4-11ce-b03a-0020af0ba770");
    // Output side: connect to receivePin, with type when given, else with a type of our own.
    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) = 0;
    // Input side: accept a connection from connector with type.
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** peer) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT QueryInternalConnections(IPin** pins, uint32_t* count) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

struct IMediaSample : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a8689a-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual long GetSize() = 0;
    // VFW_E_SAMPLE_TIME_NOT_SET when the sample carries no times.
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
    virtual HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) = 0;
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual long GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(long length) = 0;
};

constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = com::MakeHresult(0x80040249);

struct IMemInputPin : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a8689d-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** samples, long count, long* processed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;
};

struct IFilterGraph : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a8689f-0ad4-11ce-b03a-0020af0ba770");
    // name may be null: the graph then makes one up.
    virtual HRESULT AddFilter(IBaseFilter* filter, const char* name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT FindFilterByName(const char* name, IBaseFilter** filter) = 0;
    virtual HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
};

struct IGraphBuilder : IFilterGraph {
    static constexpr GUID kIid = MakeGuid("56a868a9-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT Connect(IPin* output, IPin* input) = 0;
    // Ends output in a free input pin of a filter already in the graph that accepts it, else
    // in a default renderer that the graph adds.
    virtual HRESULT Render(IPin* output) = 0;
    virtual HRESULT RenderFile(const char* file, const char* playList) = 0;
};

struct IMediaControl : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a868b1-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    // Returns once no streaming thread is inside a filter of the graph any more.
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(long timeoutMs, long* state) = 0;
};

struct IMediaEventEx : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a868c0-0ad4-11ce-b03a-0020af0ba770");
    // E_ABORT when no event arrived within timeoutMs.
    virtual HRESULT GetEvent(long* code, LONG_PTR* param1, LONG_PTR* param2, long timeoutMs) = 0;
    // *code: EC_COMPLETE, EC_ERRORABORT or EC_USERABORT; E_ABORT (code 0) on time-out;
    // VFW_E_WRONG_STATE when the graph is not running.
    virtual HRESULT WaitForCompletion(long timeoutMs, long* code) = 0;
    virtual HRESULT FreeEventParams(long code, LONG_PTR param1, LONG_PTR param2) = 0;
};

// How filters report events to their graph.
struct IMediaEventSink : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a868a2-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT Notify(long code, LONG_PTR param1, LONG_PTR param2) = 0;
};

// Positions are media times in 100-ns units.
struct IMediaSeeking : IUnknown {
    static constexpr GUID kIid = MakeGuid("36b73880-c2c8-11cf-8b46-00805f6cef60");
    virtual HRESULT GetDuration(LONGLONG* duration) = 0;
    virtual HRESULT GetCurrentPosition(LONGLONG* position) = 0;
    virtual HRESULT GetStopPosition(LONGLONG* stop) = 0;
    virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                 DWORD stopFlags) = 0;
};

struct IFileSourceFilter : IUnknown {
    static constexpr GUID kIid = MakeGuid("56a868a6-0ad4-11ce-b03a-0020af0ba770");
    virtual HRESULT Load(const char* fileName, const AM_MEDIA_TYPE* type) = 0;
};

// The media detector: what streams a file holds, without building a graph.
struct IMediaDet : IUnknown {
    static constexpr GUID kIid = MakeGuid("65bd0710-24d2-4ff7-9324-ed2e5d3abafa");
    virtual HRESULT put_Filename(const char* fileName) = 0;
    virtual HRESULT get_OutputStreams(long* count) = 0;
    virtual HRESULT get_CurrentStream(long* index) = 0;
    virtual HRESULT put_CurrentStream(long index) = 0;
    virtual HRESULT get_StreamType(GUID* majorType) = 0;
    // The stream's stored (compressed) type; the caller frees it with FreeMediaType.
    virtual HRESULT get_StreamMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT get_StreamLength(double* seconds) = 0;
    virtual HRESULT get_FrameRate(double* framesPerSecond) = 0;
};

// Class identifiers of the objects the class table provides.
constexpr GUID CLSID_FilterGraph = MakeGuid("e436ebb3-524f-11ce-9f53-0020af0ba770");
constexpr GUID CLSID_MediaDet = MakeGuid("65bd0711-24d2-4ff7-9324-ed2e5d3abafa");
constexpr GUID CLSID_ACMWrapper = MakeGuid("6a08cf80-0e18-11cf-a24d-0020afd79767");
constexpr GUID CLSID_WMAsfReader = MakeGuid("187463a0-5bb7-11d3-acbe-0080c75e246e");
constexpr GUID CLSID_NullRenderer = MakeGuid("c1f400a4-3f08-11d3-9f0b-006008039e37");
constexpr GUID CLSID_SystemClock = MakeGuid("e436ebb1-524f-11ce-9f53-0020af0ba770");
// Our FFmpeg-backed source-and-decoder filter.
constexpr GUID CLSID_FfmpegSource = MakeGuid("5b0d3d0e-8c1a-4c39-9d67-2f1f7a0c4e21");

}  // namespace platform::dshow
