// The small COM underneath the DirectShow stand-ins: result codes, IUnknown and a smart pointer.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/com/guid.h"

namespace platform::com {

using HRESULT = int32_t;
using ULONG = uint32_t;

constexpr HRESULT MakeHresult(uint32_t code) { return static_cast<HRESULT>(code); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002);
constexpr HRESULT E_POINTER = MakeHresult(0x80004003);
constexpr HRESULT E_ABORT = MakeHresult(0x80004004);
constexpr HRESULT E_FAIL = MakeHresult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHresult(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHresult(0x800401F0);
constexpr HRESULT RPC_E_CHANGED_MODE = MakeHresult(0x80010106);

// A system error number carried as a result, as the file services report them.
constexpr HRESULT HresultFromErrno(int error) {
    return error <= 0 ? E_FAIL : MakeHresult(0x80070000u | (uint32_t(error) & 0xFFFF));
}
// HresultFromErrno's inverse; 0 for a result that carries no system error number.
constexpr int ErrnoFromHresult(HRESULT result) {
    const uint32_t code = uint32_t(result);
    return (code & 0xFFFF0000u) == 0x80070000u ? int(code & 0xFFFF) : 0;
}

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Every interface names its identifier as kIid so that ComPtr can query for it.
struct IUnknown {
    static constexpr IID kIid = MakeGuid("00000000-0000-0000-c000-000000000046");
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;  // objects die through Release, never through an interface pointer
};

// Holds one reference and gives it back on every road out of its scope.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For out-parameters: drops the current reference and hands out the slot.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    // QueryInterface for U into out (which is emptied first).
    template <typename U>
    HRESULT As(ComPtr<U>* out) const {
        if (out == nullptr) return E_POINTER;
        if (p_ == nullptr) {
            out->Reset();
            return E_POINTER;
        }
        return p_->QueryInterface(U::kIid, out->PutVoid());
    }

private:
    T* p_ = nullptr;
};

// Hands out interface I of object after AddRef, the usual tail of a QueryInterface.
template <typename I>
HRESULT GetInterface(I* object, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = object;
    object->AddRef();
    return S_OK;
}

}  // namespace platform::com
