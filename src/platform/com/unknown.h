// Reference counting and aggregation for the objects of our own COM.
//
// An object derives from CUnknown and puts LUMIVANE_DECLARE_IUNKNOWN in its class body: its
// interfaces' QueryInterface, AddRef and Release then go to the controlling unknown, which is
// the aggregating outer object when there is one and the object's own inner unknown otherwise.
// Objects start with a count of 0; the creator takes the first reference.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "platform/com/com.h"

namespace platform::com {

struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown {
public:
    // outer: the aggregating object, or null when the object stands alone.
    explicit CUnknown(IUnknown* outer);
    virtual ~CUnknown() = default;
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    IUnknown* GetOwner() const { return owner_; }
    // The object's own IUnknown, the one an aggregating outer object holds.
    IUnknown* InnerUnknown() { return &inner_; }

    // Answers IUnknown only; derived classes add their interfaces and defer here for the rest.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    ULONG ReferenceCount() const { return refs_.load(); }

private:
    // Forwards to the non-delegating operations so that a stand-alone object is its own owner.
    class Inner : public IUnknown {
    public:
        explicit Inner(CUnknown& self) : self_(self) {}
        HRESULT QueryInterface(REFIID riid, void** object) override {
            return self_.NonDelegatingQueryInterface(riid, object);
        }
        ULONG AddRef() override { return self_.NonDelegatingAddRef(); }
        ULONG Release() override { return self_.NonDelegatingRelease(); }

    private:
        CUnknown& self_;
    };

    Inner inner_;
    IUnknown* const owner_;
    std::atomic<ULONG> refs_{0};
};

#define LUMIVANE_DECLARE_IUNKNOWN                                                                 \
    ::platform::com::HRESULT QueryInterface(::platform::com::REFIID riid, void** object) override { \
        return GetOwner()->QueryInterface(riid, object);                                          \
    }                                                                                             \
    ::platform::com::ULONG AddRef() override { return GetOwner()->AddRef(); }                      \
    ::platform::com::ULONG Release() override { return GetOwner()->Release(); }

// Creates a stand-alone object of type T and queries riid from it; the object is destroyed
// when the query fails. For class-table factories that do not support aggregation.
template <typename T, typename... Args>
HRESULT CreateStandalone(IUnknown* outer, REFIID riid, void** object, Args&&... args) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    T* created = new (std::nothrow) T(std::forward<Args>(args)...);
    if (created == nullptr) return E_OUTOFMEMORY;
    created->NonDelegatingAddRef();
    const HRESULT hr = created->NonDelegatingQueryInterface(riid, object);
    created->NonDelegatingRelease();
    return hr;
}

}  // namespace platform::com
