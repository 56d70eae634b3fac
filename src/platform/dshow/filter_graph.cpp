#include "platform/dshow/filter_graph.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/com/class_table.h"
#include "platform/dshow/base_classes.h"
#include "platform/dshow/renderers.h"

namespace platform::dshow {
namespace {

using com::E_POINTER;
using com::FAILED;
using com::GetInterface;
using com::S_FALSE;
using com::S_OK;
using com::SUCCEEDED;

constexpr HRESULT VFW_S_PARTIAL_RENDER = 0x00040242;

struct GraphEvent {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> enumerator;
    if (FAILED(filter->EnumPins(enumerator.Put()))) return pins;
    ComPtr<IPin> pin;
    while (enumerator->Next(1, pin.Put(), nullptr) == S_OK) pins.push_back(pin);
    return pins;
}

bool IsConnected(IPin* pin) {
    ComPtr<IPin> peer;
    return SUCCEEDED(pin->ConnectedTo(peer.Put()));
}

PIN_DIRECTION DirectionOf(IPin* pin) {
    PIN_DIRECTION direction = PINDIR_INPUT;
    pin->QueryDirection(&direction);
    return direction;
}

// A renderer, for completion: a filter that takes a stream and passes none on.
bool IsRenderer(IBaseFilter* filter) {
    bool takes = false;
    for (const ComPtr<IPin>& pin : PinsOf(filter)) {
        if (!IsConnected(pin.Get())) continue;
        if (DirectionOf(pin.Get()) == PINDIR_OUTPUT) return false;
        takes = true;
    }
    return takes;
}

// Sources first when stopping, so that no sample reaches a renderer that has stopped;
// renderers first when starting, so that they are ready for the first sample.
bool FeedsOthers(IBaseFilter* filter) {
    for (const ComPtr<IPin>& pin : PinsOf(filter)) {
        if (DirectionOf(pin.Get()) == PINDIR_OUTPUT && IsConnected(pin.Get())) return true;
    }
    return false;
}

class FilterGraph : public com::CUnknown,
                    public IGraphBuilder,
                    public IMediaControl,
                    public IMediaEventEx,
                    public IMediaEventSink,
                    public IMediaSeeking,
                    public IMediaFilter {
public:
    FilterGraph() : CUnknown(nullptr) {
        CreateSystemClock(nullptr, IReferenceClock::kIid, clock_.PutVoid());
    }

    ~FilterGraph() override {
        Stop();
        for (Entry& entry : filters_) {
            for (const ComPtr<IPin>& pin : PinsOf(entry.filter.Get())) pin->Disconnect();
        }
        for (Entry& entry : filters_) entry.filter->JoinFilterGraph(nullptr, nullptr);
    }

    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IGraphBuilder::kIid || riid == IFilterGraph::kIid) {
            return GetInterface(static_cast<IGraphBuilder*>(this), object);
        }
        if (riid == IMediaControl::kIid) return GetInterface(static_cast<IMediaControl*>(this), object);
        if (riid == IMediaEventEx::kIid) return GetInterface(static_cast<IMediaEventEx*>(this), object);
        if (riid == IMediaEventSink::kIid) return GetInterface(static_cast<IMediaEventSink*>(this), object);
        if (riid == IMediaSeeking::kIid) return GetInterface(static_cast<IMediaSeeking*>(this), object);
        if (riid == IMediaFilter::kIid || riid == IPersist::kIid) {
            return GetInterface(static_cast<IMediaFilter*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    // ---- IFilterGraph ----

    HRESULT AddFilter(IBaseFilter* filter, const char* name) override {
        if (filter == nullptr) return E_POINTER;
        CAutoLock lock(lock_);
        for (const Entry& entry : filters_) {
            if (entry.filter.Get() == filter) return com::E_INVALIDARG;
        }
        const std::string unique = UniqueName(name);
        HRESULT hr = filter->JoinFilterGraph(this, unique.c_str());
        if (FAILED(hr)) return hr;
        filter->SetSyncSource(clock_.Get());
        filters_.push_back(Entry{ComPtr<IBaseFilter>(filter), unique});
        return S_OK;
    }

    HRESULT RemoveFilter(IBaseFilter* filter) override {
        CAutoLock lock(lock_);
        for (auto it = filters_.begin(); it != filters_.end(); ++it) {
            if (it->filter.Get() != filter) continue;
            for (const ComPtr<IPin>& pin : PinsOf(filter)) DisconnectBoth(pin.Get());
            filter->JoinFilterGraph(nullptr, nullptr);
            filters_.erase(it);
            return S_OK;
        }
        return VFW_E_NOT_IN_GRAPH;
    }

    HRESULT FindFilterByName(const char* name, IBaseFilter** filter) override {
        if (name == nullptr || filter == nullptr) return E_POINTER;
        CAutoLock lock(lock_);
        *filter = nullptr;
        for (const Entry& entry : filters_) {
            if (entry.name == name) return GetInterface(entry.filter.Get(), reinterpret_cast<void**>(filter));
        }
        return VFW_E_NOT_IN_GRAPH;
    }

    HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) override {
        if (output == nullptr || input == nullptr) return E_POINTER;
        CAutoLock lock(lock_);
        return output->Connect(input, type);
    }

    HRESULT Disconnect(IPin* pin) override {
        if (pin == nullptr) return E_POINTER;
        CAutoLock lock(lock_);
        return pin->Disconnect();
    }

    // ---- IGraphBuilder ----

    HRESULT Connect(IPin* output, IPin* input) override { return ConnectDirect(output, input, nullptr); }

    HRESULT Render(IPin* output) override {
        if (output == nullptr) return E_POINTER;
        CAutoLock lock(lock_);
        if (DirectionOf(output) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
        if (IsConnected(output)) return VFW_E_ALREADY_CONNECTED;
        for (const Entry& entry : std::vector<Entry>(filters_)) {
            for (const ComPtr<IPin>& pin : PinsOf(entry.filter.Get())) {
                if (DirectionOf(pin.Get()) != PINDIR_INPUT || IsConnected(pin.Get())) continue;
                if (SUCCEEDED(output->Connect(pin.Get(), nullptr))) return S_OK;
            }
        }
        return RenderWithDefault(output);
    }

    HRESULT RenderFile(const char* file, const char*) override {
        if (file == nullptr) return E_POINTER;
        CAutoLock lock(lock_);
        ComPtr<IBaseFilter> source;
        HRESULT hr = com::CoCreateInstance(CLSID_FfmpegSource, nullptr, com::CLSCTX_INPROC_SERVER, &source);
        if (FAILED(hr)) return hr;
        ComPtr<IFileSourceFilter> loader;
        hr = source.As(&loader);
        if (SUCCEEDED(hr)) hr = loader->Load(file, nullptr);
        if (FAILED(hr)) return hr;
        hr = AddFilter(source.Get(), file);
        if (FAILED(hr)) return hr;
        int rendered = 0, failed = 0;
        for (const ComPtr<IPin>& pin : PinsOf(source.Get())) {
            if (DirectionOf(pin.Get()) != PINDIR_OUTPUT) continue;
            (SUCCEEDED(Render(pin.Get())) ? rendered : failed)++;
        }
        if (rendered == 0) {
            RemoveFilter(source.Get());
            return VFW_E_CANNOT_RENDER;
        }
        return failed == 0 ? S_OK : VFW_S_PARTIAL_RENDER;
    }

    // ---- IMediaControl and IMediaFilter ----

    HRESULT Run() override { return Run(0); }

    HRESULT Run(REFERENCE_TIME) override {
        CAutoLock lock(lock_);
        if (state_ == State_Running) return S_OK;
        const bool fromStopped = state_ == State_Stopped;
        if (fromStopped) {
            HRESULT hr = Pause();
            if (FAILED(hr)) return hr;
        }
        REFERENCE_TIME now = 0;
        if (clock_) clock_->GetTime(&now);
        // Stream time goes on from where a pause held it.
        const REFERENCE_TIME start = now + kStartLatency - pausedAt_;
        for (IBaseFilter* filter : InStartOrder()) {
            const HRESULT hr = filter->Run(start);
            if (FAILED(hr)) {
                Stop();
                return hr;
            }
        }
        runStart_ = start;
        SetState(State_Running);
        return S_OK;
    }

    HRESULT Pause() override {
        CAutoLock lock(lock_);
        if (state_ == State_Paused) return S_OK;
        if (state_ == State_Stopped) {
            ResetCompletion();
            pausedAt_ = 0;
        } else if (clock_) {
            REFERENCE_TIME now = 0;
            clock_->GetTime(&now);
            pausedAt_ = std::max<REFERENCE_TIME>(0, now - runStart_);
        }
        for (IBaseFilter* filter : InStartOrder()) {
            const HRESULT hr = filter->Pause();
            if (FAILED(hr)) {
                Stop();
                return hr;
            }
        }
        SetState(State_Paused);
        return S_OK;
    }

    HRESULT Stop() override {
        CAutoLock lock(lock_);
        HRESULT result = S_OK;
        std::vector<IBaseFilter*> order = InStartOrder();
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            const HRESULT hr = (*it)->Stop();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        SetState(State_Stopped);
        return result;
    }

    HRESULT GetState(long, long* state) override {
        if (state == nullptr) return E_POINTER;
        std::lock_guard lock(eventMutex_);
        *state = state_;
        return S_OK;
    }

    HRESULT GetState(DWORD, FILTER_STATE* state) override {
        if (state == nullptr) return E_POINTER;
        std::lock_guard lock(eventMutex_);
        *state = state_;
        return S_OK;
    }

    HRESULT GetClassID(GUID* clsid) override {
        if (clsid == nullptr) return E_POINTER;
        *clsid = CLSID_FilterGraph;
        return S_OK;
    }

    HRESULT SetSyncSource(IReferenceClock* clock) override {
        CAutoLock lock(lock_);
        clock_ = ComPtr<IReferenceClock>(clock);
        for (const Entry& entry : filters_) entry.filter->SetSyncSource(clock);
        return S_OK;
    }

    HRESULT GetSyncSource(IReferenceClock** clock) override {
        if (clock == nullptr) return E_POINTER;
        CAutoLock lock(lock_);
        *clock = clock_.Get();
        if (*clock) (*clock)->AddRef();
        return S_OK;
    }

    // ---- IMediaEventEx and IMediaEventSink ----

    HRESULT GetEvent(long* code, LONG_PTR* param1, LONG_PTR* param2, long timeoutMs) override {
        if (code == nullptr || param1 == nullptr || param2 == nullptr) return E_POINTER;
        std::unique_lock lock(eventMutex_);
        if (!WaitFor(lock, timeoutMs, [this] { return !events_.empty(); })) {
            *code = 0;
            return com::E_ABORT;
        }
        const GraphEvent event = events_.front();
        events_.pop_front();
        *code = event.code;
        *param1 = event.param1;
        *param2 = event.param2;
        return S_OK;
    }

    HRESULT WaitForCompletion(long timeoutMs, long* code) override {
        if (code == nullptr) return E_POINTER;
        *code = 0;
        std::unique_lock lock(eventMutex_);
        if (state_ != State_Running) return VFW_E_WRONG_STATE;
        const auto ending = [this] {
            for (const GraphEvent& event : events_) {
                if (IsEnding(event.code)) return true;
            }
            return state_ != State_Running;
        };
        if (!WaitFor(lock, timeoutMs, ending)) return com::E_ABORT;
        while (!events_.empty()) {
            const GraphEvent event = events_.front();
            events_.pop_front();
            if (IsEnding(event.code)) {
                *code = event.code;
                return S_OK;
            }
        }
        return VFW_E_WRONG_STATE;  // stopped while waiting
    }

    HRESULT FreeEventParams(long, LONG_PTR, LONG_PTR) override { return S_OK; }

    // Called on streaming threads, possibly while Stop waits for them: takes only the event
    // lock, never the graph lock.
    HRESULT Notify(long code, LONG_PTR param1, LONG_PTR param2) override {
        std::lock_guard lock(eventMutex_);
        if (code == EC_COMPLETE) {
            auto* reporter = reinterpret_cast<IBaseFilter*>(param2);
            if (renderers_.count(reporter) == 0) return S_OK;
            completed_.insert(reporter);
            if (completed_.size() != renderers_.size() || completeSent_) return S_OK;
            completeSent_ = true;
            events_.push_back({EC_COMPLETE, S_OK, 0});
        } else {
            events_.push_back({code, param1, param2});
        }
        eventChanged_.notify_all();
        return S_OK;
    }

    // ---- IMediaSeeking: answered by the first renderer that can ----

    HRESULT GetDuration(LONGLONG* duration) override {
        return AskRenderers([&](IMediaSeeking* s) { return s->GetDuration(duration); });
    }
    HRESULT GetCurrentPosition(LONGLONG* position) override {
        return AskRenderers([&](IMediaSeeking* s) { return s->GetCurrentPosition(position); });
    }
    HRESULT GetStopPosition(LONGLONG* stop) override {
        return AskRenderers([&](IMediaSeeking* s) { return s->GetStopPosition(stop); });
    }
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override {
        const HRESULT hr = AskRenderers(
            [&](IMediaSeeking* s) { return s->SetPositions(current, currentFlags, stop, stopFlags); });
        if (SUCCEEDED(hr)) {
            CAutoLock lock(lock_);
            pausedAt_ = 0;
            if (state_ != State_Stopped) ResetCompletion();
        }
        return hr;
    }

private:
    static constexpr REFERENCE_TIME kStartLatency = kUnitsPerSecond / 100;

    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::string name;
    };

    static bool IsEnding(long code) {
        return code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT;
    }

    template <typename Ready>
    bool WaitFor(std::unique_lock<std::mutex>& lock, long timeoutMs, Ready ready) {
        if (timeoutMs < 0) {
            eventChanged_.wait(lock, ready);
            return true;
        }
        return eventChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    }

    template <typename Ask>
    HRESULT AskRenderers(Ask ask) {
        std::vector<ComPtr<IBaseFilter>> filters;
        {
            CAutoLock lock(lock_);
            for (const Entry& entry : filters_) {
                if (IsRenderer(entry.filter.Get())) filters.push_back(entry.filter);
            }
        }
        HRESULT last = com::E_NOTIMPL;
        for (const ComPtr<IBaseFilter>& filter : filters) {
            ComPtr<IMediaSeeking> seeking;
            if (FAILED(filter.As(&seeking))) continue;
            last = ask(seeking.Get());
            if (SUCCEEDED(last)) return last;
        }
        return last;
    }

    std::string UniqueName(const char* name) const {
        const std::string base = name != nullptr && *name ? name : "Filter";
        std::string candidate = base;
        for (int n = 1; NameTaken(candidate); ++n) candidate = base + " " + std::to_string(n);
        return candidate;
    }

    bool NameTaken(const std::string& name) const {
        for (const Entry& entry : filters_) {
            if (entry.name == name) return true;
        }
        return false;
    }

    static void DisconnectBoth(IPin* pin) {
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(peer.Put()))) peer->Disconnect();
        pin->Disconnect();
    }

    HRESULT RenderWithDefault(IPin* output) {
        ComPtr<IBaseFilter> renderer;
        HRESULT hr = CreateNullRenderer(nullptr, IBaseFilter::kIid, renderer.PutVoid());
        if (FAILED(hr)) return hr;
        hr = AddFilter(renderer.Get(), "Null Renderer");
        if (FAILED(hr)) return hr;
        for (const ComPtr<IPin>& pin : PinsOf(renderer.Get())) {
            if (SUCCEEDED(output->Connect(pin.Get(), nullptr))) return S_OK;
        }
        RemoveFilter(renderer.Get());
        return VFW_E_CANNOT_RENDER;
    }

    std::vector<IBaseFilter*> InStartOrder() {
        std::vector<IBaseFilter*> order;
        for (const Entry& entry : filters_) {
            if (!FeedsOthers(entry.filter.Get())) order.push_back(entry.filter.Get());
        }
        for (const Entry& entry : filters_) {
            if (FeedsOthers(entry.filter.Get())) order.push_back(entry.filter.Get());
        }
        return order;
    }

    void ResetCompletion() {
        std::lock_guard lock(eventMutex_);
        renderers_.clear();
        completed_.clear();
        completeSent_ = false;
        for (const Entry& entry : filters_) {
            if (IsRenderer(entry.filter.Get())) renderers_.insert(entry.filter.Get());
        }
        events_.clear();
        if (renderers_.empty()) {
            // Nothing can report an end: the graph is complete as soon as it runs.
            completeSent_ = true;
            events_.push_back({EC_COMPLETE, S_OK, 0});
        }
    }

    void SetState(FILTER_STATE state) {
        std::lock_guard lock(eventMutex_);
        state_ = state;
        eventChanged_.notify_all();
    }

    CCritSec lock_;
    std::vector<Entry> filters_;
    ComPtr<IReferenceClock> clock_;
    REFERENCE_TIME runStart_ = 0;
    REFERENCE_TIME pausedAt_ = 0;

    std::mutex eventMutex_;
    std::condition_variable eventChanged_;
    FILTER_STATE state_ = State_Stopped;
    std::deque<GraphEvent> events_;
    std::set<IBaseFilter*> renderers_;
    std::set<IBaseFilter*> completed_;
    bool completeSent_ = false;
};

}  // namespace

HRESULT CreateFilterGraph(IUnknown* outer, com::REFIID riid, void** object) {
    return com::CreateStandalone<FilterGraph>(outer, riid, object);
}

}  // namespace platform::dshow
