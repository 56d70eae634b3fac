#include "platform/dshow/base_classes.h"

namespace platform::dshow {

using com::E_NOINTERFACE;
using com::E_NOTIMPL;
using com::E_POINTER;
using com::FAILED;
using com::GetInterface;
using com::S_FALSE;
using com::S_OK;
using com::SUCCEEDED;

namespace {

// Enumerates a snapshot of a filter's pins, each held with a reference.
class PinEnumerator : public com::CUnknown, public IEnumPins {
public:
    explicit PinEnumerator(CBaseFilter* filter) : CUnknown(nullptr), filter_(filter) {
        for (int i = 0; i < filter->GetPinCount(); ++i) {
            if (CBasePin* pin = filter->GetPin(i)) pins_.emplace_back(static_cast<IPin*>(pin));
        }
    }
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IEnumPins::kIid) return GetInterface(static_cast<IEnumPins*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    HRESULT Next(uint32_t count, IPin** pins, uint32_t* fetched) override {
        if (pins == nullptr) return E_POINTER;
        if (fetched == nullptr && count > 1) return E_POINTER;
        uint32_t given = 0;
        while (given < count && next_ < pins_.size()) {
            pins[given] = pins_[next_++].Get();
            pins[given]->AddRef();
            ++given;
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(uint32_t count) override {
        const size_t left = pins_.size() - next_;
        if (count > left) {
            next_ = pins_.size();
            return S_FALSE;
        }
        next_ += count;
        return S_OK;
    }
    HRESULT Reset() override {
        next_ = 0;
        return S_OK;
    }

private:
    ComPtr<IBaseFilter> filter_;  // keeps the pins alive
    std::vector<ComPtr<IPin>> pins_;
    size_t next_ = 0;
};

}  // namespace

// ---- CBaseFilter -------------------------------------------------------------------------

CBaseFilter::CBaseFilter(IUnknown* outer, CCritSec* lock, const GUID& clsid)
    : CUnknown(outer), lock_(lock), clsid_(clsid) {}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (riid == IBaseFilter::kIid) return GetInterface(static_cast<IBaseFilter*>(this), object);
    if (riid == IMediaFilter::kIid) return GetInterface(static_cast<IMediaFilter*>(this), object);
    if (riid == IPersist::kIid) return GetInterface(static_cast<IPersist*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CBaseFilter::GetClassID(GUID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock lock(*lock_);
    HRESULT result = S_OK;
    if (state_ != State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (FAILED(hr) && !FAILED(result)) result = hr;
            }
        }
    }
    state_ = State_Stopped;
    return result;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock lock(*lock_);
    if (state_ == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(*lock_);
    if (state_ == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    start_ = start;
    state_ = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (state == nullptr) return E_POINTER;
    CAutoLock lock(*lock_);
    *state = state_;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(*lock_);
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (clock == nullptr) return E_POINTER;
    CAutoLock lock(*lock_);
    *clock = clock_.Get();
    if (*clock) (*clock)->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** pins) {
    if (pins == nullptr) return E_POINTER;
    auto* enumerator = new (std::nothrow) PinEnumerator(this);
    if (enumerator == nullptr) return com::E_OUTOFMEMORY;
    return enumerator->NonDelegatingQueryInterface(IEnumPins::kIid, reinterpret_cast<void**>(pins));
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, const char* name) {
    CAutoLock lock(*lock_);
    graph_ = graph;
    eventSink_ = nullptr;
    if (graph != nullptr) {
        ComPtr<IMediaEventSink> sink;
        if (SUCCEEDED(ComPtr<IFilterGraph>(graph).As(&sink))) eventSink_ = sink.Get();
    }
    name_ = name ? name : "";
    return S_OK;
}

HRESULT CBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = eventSink_;
    return sink ? sink->Notify(code, param1, param2) : E_NOTIMPL;
}

bool CBaseFilter::IsStopped() {
    CAutoLock lock(*lock_);
    return state_ == State_Stopped;
}

// ---- CBasePin ----------------------------------------------------------------------------

CBasePin::CBasePin(CBaseFilter* filter, CCritSec* lock, HRESULT*, const char* name,
                   PIN_DIRECTION direction)
    : CUnknown(nullptr),
      filter_(filter),
      lock_(lock),
      name_(name ? name : ""),
      direction_(direction) {
    mediaType_.Clear();
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (riid == IPin::kIid) return GetInterface(static_cast<IPin*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

com::ULONG CBasePin::NonDelegatingAddRef() { return filter_->GetOwner()->AddRef(); }
com::ULONG CBasePin::NonDelegatingRelease() { return filter_->GetOwner()->Release(); }

HRESULT CBasePin::SetMediaType(const CMediaType* type) {
    mediaType_ = *type;
    return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::GetMediaType(int, CMediaType*) { return VFW_S_NO_MORE_ITEMS; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() { return S_OK; }

bool CBasePin::IsConnected() {
    CAutoLock lock(*lock_);
    return static_cast<bool>(connected_);
}

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (receivePin == nullptr) return E_POINTER;
    CAutoLock lock(*lock_);
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    if (direction_ != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (type != nullptr && !(type->majortype == com::GUID_NULL)) {
        const CMediaType proposed(*type);
        if (CheckMediaType(&proposed) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        return AttemptConnection(receivePin, proposed);
    }
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    CMediaType candidate;
    for (int position = 0; GetMediaType(position, &candidate) == S_OK; ++position) {
        if (CheckMediaType(&candidate) != S_OK) continue;
        last = AttemptConnection(receivePin, candidate);
        if (SUCCEEDED(last)) return S_OK;
    }
    return FAILED(last) ? last : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType& type) {
    HRESULT hr = receivePin->ReceiveConnection(this, &type);
    if (FAILED(hr)) return hr;
    connected_ = ComPtr<IPin>(receivePin);
    hr = SetMediaType(&type);
    if (SUCCEEDED(hr)) hr = CompleteConnect(receivePin);
    if (FAILED(hr)) {
        receivePin->Disconnect();
        ForgetConnection();
    }
    return hr;
}

void CBasePin::ForgetConnection() {
    BreakConnect();
    connected_ = nullptr;
    mediaType_.Clear();
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (connector == nullptr || type == nullptr) return E_POINTER;
    CAutoLock lock(*lock_);
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION peerDirection;
    if (FAILED(connector->QueryDirection(&peerDirection)) || peerDirection == direction_) {
        return VFW_E_INVALID_DIRECTION;
    }
    const CMediaType proposed(*type);
    if (CheckMediaType(&proposed) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    connected_ = ComPtr<IPin>(connector);
    HRESULT hr = SetMediaType(&proposed);
    if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
    if (FAILED(hr)) ForgetConnection();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock lock(*lock_);
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    if (!connected_) return S_FALSE;
    ForgetConnection();
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** peer) {
    if (peer == nullptr) return E_POINTER;
    CAutoLock lock(*lock_);
    *peer = connected_.Get();
    if (*peer == nullptr) return VFW_E_NOT_CONNECTED;
    (*peer)->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    CAutoLock lock(*lock_);
    if (!connected_) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(type, &mediaType_);
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (direction == nullptr) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr) return E_POINTER;
    const CMediaType proposed(*type);
    return CheckMediaType(&proposed) == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, uint32_t*) { return E_NOTIMPL; }
HRESULT CBasePin::EndOfStream() { return S_OK; }
HRESULT CBasePin::BeginFlush() { return S_OK; }
HRESULT CBasePin::EndFlush() { return S_OK; }
HRESULT CBasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// ---- CBaseInputPin -----------------------------------------------------------------------

CBaseInputPin::CBaseInputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const char* name)
    : CBasePin(filter, lock, hr, name, PINDIR_INPUT) {}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (riid == IMemInputPin::kIid) return GetInterface(static_cast<IMemInputPin*>(this), object);
    return CBasePin::NonDelegatingQueryInterface(riid, object);
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
    if (sample == nullptr) return E_POINTER;
    if (filter_->IsStopped()) return VFW_E_WRONG_STATE;
    return flushing_ ? S_FALSE : S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    if (samples == nullptr || processed == nullptr) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() { return S_OK; }

HRESULT CBaseInputPin::BeginFlush() {
    CAutoLock lock(*lock_);
    flushing_ = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    CAutoLock lock(*lock_);
    flushing_ = false;
    return S_OK;
}

// ---- CPosPassThru ------------------------------------------------------------------------

CPosPassThru::CPosPassThru(IUnknown* outer, HRESULT* hr, IPin* pin) : CUnknown(outer), pin_(pin) {
    if (pin == nullptr && hr != nullptr) *hr = E_POINTER;
}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (riid == IMediaSeeking::kIid) return GetInterface(static_cast<IMediaSeeking*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CPosPassThru::PeerSeeking(ComPtr<IMediaSeeking>* seeking) {
    if (pin_ == nullptr) return E_POINTER;
    ComPtr<IPin> peer;
    const HRESULT hr = pin_->ConnectedTo(peer.Put());
    if (FAILED(hr)) return hr;
    return FAILED(peer.As(seeking)) ? E_NOTIMPL : S_OK;
}

HRESULT CPosPassThru::GetDuration(LONGLONG* duration) {
    ComPtr<IMediaSeeking> seeking;
    const HRESULT hr = PeerSeeking(&seeking);
    return FAILED(hr) ? hr : seeking->GetDuration(duration);
}

HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* position) {
    ComPtr<IMediaSeeking> seeking;
    const HRESULT hr = PeerSeeking(&seeking);
    return FAILED(hr) ? hr : seeking->GetCurrentPosition(position);
}

HRESULT CPosPassThru::GetStopPosition(LONGLONG* stop) {
    ComPtr<IMediaSeeking> seeking;
    const HRESULT hr = PeerSeeking(&seeking);
    return FAILED(hr) ? hr : seeking->GetStopPosition(stop);
}

HRESULT CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                   DWORD stopFlags) {
    ComPtr<IMediaSeeking> seeking;
    const HRESULT hr = PeerSeeking(&seeking);
    return FAILED(hr) ? hr : seeking->SetPositions(current, currentFlags, stop, stopFlags);
}

}  // namespace platform::dshow
