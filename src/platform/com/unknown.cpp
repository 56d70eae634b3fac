#include "platform/com/unknown.h"

namespace platform::com {

CUnknown::CUnknown(IUnknown* outer) : inner_(*this), owner_(outer ? outer : &inner_) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IUnknown::kIid) return GetInterface(static_cast<IUnknown*>(&inner_), object);
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return ++refs_; }

ULONG CUnknown::NonDelegatingRelease() {
    const ULONG left = --refs_;
    if (left == 0) {
        // A destructor that hands out and drops a reference must not delete us a second time.
        refs_ = 1;
        delete this;
    }
    return left;
}

}  // namespace platform::com
