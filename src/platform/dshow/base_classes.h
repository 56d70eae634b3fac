// Base classes for filters and pins: state, connection and pin enumeration done once, so that
// a filter adds only what differs.
//
// Pins are parts of their filter: they count references on it, the filter creates and
// deletes them, and they share the filter's object lock.
#pragma once

#include <string>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/critical_section.h"
#include "platform/dshow/interfaces.h"
#include "platform/dshow/media_type.h"

namespace platform::dshow {

using com::ComPtr;
using com::REFIID;

// A recursive critical section: the base classes take it again inside a derived class's lock.
using CCritSec = platform::CriticalSection;
using CAutoLock = platform::AutoLock;

class CBasePin;

class CBaseFilter : public com::CUnknown, public IBaseFilter {
public:
    CBaseFilter(IUnknown* outer, CCritSec* lock, const GUID& clsid);
    LUMIVANE_DECLARE_IUNKNOWN
    // IBaseFilter, IMediaFilter, IPersist; the rest as CUnknown.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    virtual int GetPinCount() = 0;
    // The pin without a new reference, null for n out of range.
    virtual CBasePin* GetPin(int n) = 0;

    HRESULT GetClassID(GUID* clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, const char* name) override;

    // Reports an event to the graph; E_NOTIMPL when the filter is in no graph.
    HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

    bool IsStopped();
    IFilterGraph* Graph() { return graph_; }

protected:
    CCritSec* const lock_;
    FILTER_STATE state_ = State_Stopped;
    ComPtr<IReferenceClock> clock_;
    REFERENCE_TIME start_ = 0;

private:
    const GUID clsid_;
    IFilterGraph* graph_ = nullptr;
    IMediaEventSink* eventSink_ = nullptr;  // the graph's, not counted (the graph holds us)
};

class CBasePin : public com::CUnknown, public IPin {
public:
    // hr is not written: the base pin cannot fail; it is passed on for derived classes.
    CBasePin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const char* name,
             PIN_DIRECTION direction);
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;
    // A pin answers its own interfaces but lives as long as its filter: the counts go there.
    com::ULONG NonDelegatingAddRef() override;
    com::ULONG NonDelegatingRelease() override;

    // S_OK when the pin can take type.
    virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
    // Records the connection type.
    virtual HRESULT SetMediaType(const CMediaType* type);
    virtual HRESULT CompleteConnect(IPin* receivePin);
    virtual HRESULT BreakConnect();
    // The types the pin proposes, position 0 first; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetMediaType(int position, CMediaType* type);
    // Called by the filter when it leaves and enters the stopped state.
    virtual HRESULT Active();
    virtual HRESULT Inactive();

    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** peer) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT QueryId(std::string* id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT QueryInternalConnections(IPin** pins, uint32_t* count) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    bool IsConnected();

protected:
    CBaseFilter* const filter_;
    CCritSec* const lock_;
    ComPtr<IPin> connected_;
    CMediaType mediaType_;

private:
    HRESULT AttemptConnection(IPin* receivePin, const CMediaType& type);
    void ForgetConnection();

    const std::string name_;
    const PIN_DIRECTION direction_;
};

// An output pin that offers one media type and delivers into the input pin it connects to.
class COfferingOutputPin : public CBasePin {
public:
    COfferingOutputPin(CBaseFilter* filter, CCritSec* lock, const char* name, const CMediaType& offered)
        : CBasePin(filter, lock, nullptr, name, PINDIR_OUTPUT), offered_(offered) {}

    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (type == nullptr) return com::E_POINTER;
        if (position != 0) return VFW_S_NO_MORE_ITEMS;
        *type = offered_;
        return com::S_OK;
    }
    HRESULT CompleteConnect(IPin* receivePin) override {
        return com::FAILED(com::ComPtr<IPin>(receivePin).As(&input_)) ? com::E_NOINTERFACE : com::S_OK;
    }
    HRESULT BreakConnect() override {
        input_ = nullptr;
        return com::S_OK;
    }

    // For the delivery thread, which runs only while the pin is connected.
    IMemInputPin* Input() { return input_.Get(); }
    IPin* Peer() { return connected_.Get(); }
    const CMediaType& Offered() const { return offered_; }

protected:
    // The type has the offered major type, subtype and format type.
    bool SameKindAsOffered(const CMediaType* type) const {
        return type->majortype == offered_.majortype && type->subtype == offered_.subtype &&
               type->formattype == offered_.formattype;
    }

private:
    const CMediaType offered_;
    com::ComPtr<IMemInputPin> input_;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const char* name);
    // The pin's interfaces appear twice in the hierarchy; both roads end at the filter.
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    // VFW_E_WRONG_STATE when stopped, S_FALSE while flushing, else S_OK: the test a derived
    // Receive makes before it takes the sample.
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    HRESULT ReceiveCanBlock() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

protected:
    bool flushing_ = false;
};

// Answers IMediaSeeking for a filter by asking the output pin connected to one of its inputs.
class CPosPassThru : public com::CUnknown, public IMediaSeeking {
public:
    // pin: the input pin whose upstream peer does the seeking; null sets *hr to E_POINTER.
    CPosPassThru(IUnknown* outer, HRESULT* hr, IPin* pin);
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetCurrentPosition(LONGLONG* position) override;
    HRESULT GetStopPosition(LONGLONG* stop) override;
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                         DWORD stopFlags) override;

private:
    HRESULT PeerSeeking(ComPtr<IMediaSeeking>* seeking);

    IPin* const pin_;
};

}  // namespace platform::dshow
