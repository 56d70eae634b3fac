#include "platform/dshow/renderers.h"

#include <chrono>
#include <memory>

#include "platform/dshow/base_classes.h"

namespace platform::dshow {
namespace {

using com::GetInterface;
using com::S_OK;

class NullRenderer;

class NullInputPin : public CBaseInputPin {
public:
    NullInputPin(CBaseFilter* filter, CCritSec* lock)
        : CBaseInputPin(filter, lock, nullptr, "In") {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT EndOfStream() override;
};

class NullRenderer : public CBaseFilter {
public:
    NullRenderer() : CBaseFilter(nullptr, &lock_, CLSID_NullRenderer), pin_(this, &lock_) {}
    ~NullRenderer() override { delete passThru_; }

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IMediaSeeking::kIid) {
            CAutoLock lock(lock_);
            if (passThru_ == nullptr) {
                HRESULT hr = S_OK;
                passThru_ = new (std::nothrow) CPosPassThru(GetOwner(), &hr, &pin_);
                if (passThru_ == nullptr) return com::E_OUTOFMEMORY;
            }
            return passThru_->NonDelegatingQueryInterface(riid, object);
        }
        return CBaseFilter::NonDelegatingQueryInterface(riid, object);
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

private:
    CCritSec lock_;
    NullInputPin pin_;
    CPosPassThru* passThru_ = nullptr;
};

HRESULT NullInputPin::EndOfStream() {
    auto* filter = static_cast<NullRenderer*>(filter_);
    filter->NotifyEvent(EC_COMPLETE, S_OK, LONG_PTR(static_cast<IBaseFilter*>(filter)));
    return S_OK;
}

class AudioConverter : public CBaseFilter {
public:
    AudioConverter() : CBaseFilter(nullptr, &lock_, CLSID_ACMWrapper) {}
    int GetPinCount() override { return 0; }
    CBasePin* GetPin(int) override { return nullptr; }

private:
    CCritSec lock_;
};

class SystemClock : public com::CUnknown, public IReferenceClock {
public:
    SystemClock() : CUnknown(nullptr) {}
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IReferenceClock::kIid) {
            return GetInterface(static_cast<IReferenceClock*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }
    HRESULT GetTime(REFERENCE_TIME* time) override {
        if (time == nullptr) return com::E_POINTER;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        *time = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
        return S_OK;
    }
};

}  // namespace

HRESULT CreateNullRenderer(IUnknown* outer, com::REFIID riid, void** object) {
    return com::CreateStandalone<NullRenderer>(outer, riid, object);
}

HRESULT CreateAudioConverter(IUnknown* outer, com::REFIID riid, void** object) {
    return com::CreateStandalone<AudioConverter>(outer, riid, object);
}

HRESULT CreateSystemClock(IUnknown* outer, com::REFIID riid, void** object) {
    return com::CreateStandalone<SystemClock>(outer, riid, object);
}

}  // namespace platform::dshow
