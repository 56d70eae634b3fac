// The two renderer filters at the ends of a source graph. They forward what reaches them,
// synchronously and on the delivering thread, to a SampleSink; they keep no queue and start
// no thread.
#pragma once

#include <new>

#include "platform/dshow/base_classes.h"
#include "reader/sample_sink.h"

namespace reader {

using platform::com::GUID;
using platform::com::REFIID;
using platform::dshow::CBaseFilter;
using platform::dshow::CBaseInputPin;
using platform::dshow::CBasePin;
using platform::dshow::CCritSec;
using platform::dshow::CMediaType;
using platform::dshow::CPosPassThru;
using platform::com::IUnknown;

struct IReceiverFilter : IUnknown {
    static constexpr GUID kIid = platform::com::MakeGuid("7e9653be-7d34-4b90-ac66-c430d2168a1d");
    // Installs sink on the filter's pin (null puts the null sink back); no reference is taken.
    // S_OK always.
    virtual HRESULT SetCallback(SampleSink* sink) = 0;
};

constexpr GUID CLSID_ReceiverVideo = platform::com::MakeGuid("d5307546-466c-4d76-b939-00b06179d496");
constexpr GUID CLSID_ReceiverAudio = platform::com::MakeGuid("01a3f1ff-77be-48b2-8583-c94b9681cbfd");

class ReceiverFilter;

// What both receiver pins share: the sink, the receive lock and the hand-over of samples.
class ReceiverPin : public CBaseInputPin {
public:
    ReceiverPin(ReceiverFilter* filter, CCritSec* filterLock, CCritSec* receiveLock,
                HRESULT* hr, const char* name, SampleSink& nullSink);

    // A null sink puts the pin's null sink back: a pin always has someone to call.
    void SetSink(SampleSink* sink) { sink_ = sink != nullptr ? sink : &nullSink_; }
    SampleSink* Sink() const { return sink_; }

    HRESULT CompleteConnect(platform::dshow::IPin*) override { return 0; }
    HRESULT QueryInternalConnections(platform::dshow::IPin**, uint32_t*) override;
    HRESULT NewSegment(platform::dshow::REFERENCE_TIME, platform::dshow::REFERENCE_TIME,
                       double) override;
    HRESULT ReceiveCanBlock() override;
    // No state, flushing or time test: every sample goes on, in arrival order.
    HRESULT Receive(IMediaSample* sample) override;

protected:
    virtual HRESULT Forward(IMediaSample* sample) = 0;
    // EC_COMPLETE to the graph, with the filter as the reporter.
    void NotifyComplete();

    ReceiverFilter* const owner_;
    CCritSec* const receiveLock_;

private:
    SampleSink& nullSink_;
    SampleSink* sink_;
};

class ReceiverVideoPin : public ReceiverPin {
public:
    ReceiverVideoPin(ReceiverFilter* filter, CCritSec* filterLock, CCritSec* receiveLock, HRESULT* hr);
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT EndOfStream() override;

protected:
    HRESULT Forward(IMediaSample* sample) override;
};

class ReceiverAudioPin : public ReceiverPin {
public:
    ReceiverAudioPin(ReceiverFilter* filter, CCritSec* filterLock, CCritSec* receiveLock, HRESULT* hr);
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT EndOfStream() override;

protected:
    HRESULT Forward(IMediaSample* sample) override;
};

// The filter part both receivers share; each concrete receiver only makes its own pin.
class ReceiverFilter : public CBaseFilter, public IReceiverFilter {
public:
    ~ReceiverFilter() override;
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    HRESULT SetCallback(SampleSink* sink) override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(platform::dshow::REFERENCE_TIME start) override;

    ReceiverPin* InputPin() { return inputPin_; }

protected:
    ReceiverFilter(IUnknown* outer, const GUID& clsid);
    // Called by the concrete constructor; a failed allocation leaves the pin null and reports
    // E_OUTOFMEMORY through hr.
    void AdoptPin(ReceiverPin* pin, HRESULT* hr);

    CCritSec filterLock_;
    CCritSec receiveLock_;

private:
    ReceiverPin* inputPin_ = nullptr;
    CPosPassThru* positionPassThru_ = nullptr;
};

class ReceiverVideo : public ReceiverFilter {
public:
    // The object starts with a count of 0: the creator takes the first reference.
    ReceiverVideo(IUnknown* outer, HRESULT* hr);
};

class ReceiverAudio : public ReceiverFilter {
public:
    ReceiverAudio(IUnknown* outer, HRESULT* hr);
};

// Creates a receiver of type Filter into slot (which holds the creator's reference) and adds
// it to graph under name.
template <typename Filter>
HRESULT AddReceiver(platform::dshow::IGraphBuilder* graph, platform::com::ComPtr<Filter>* slot,
                    const char* name) {
    HRESULT ignored = platform::com::S_OK;
    auto* created = new (std::nothrow) Filter(nullptr, &ignored);
    if (created == nullptr) return platform::com::E_OUTOFMEMORY;
    *slot = platform::com::ComPtr<Filter>(created);
    platform::com::ComPtr<platform::dshow::IBaseFilter> filter;
    HRESULT hr = created->QueryInterface(platform::dshow::IBaseFilter::kIid, filter.PutVoid());
    if (platform::com::FAILED(hr)) return hr;
    return graph->AddFilter(filter.Get(), name);
}

}  // namespace reader
