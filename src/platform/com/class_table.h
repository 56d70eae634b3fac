// Object creation by class identifier and the per-thread COM initialisation it requires.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/com/com.h"

namespace platform::com {

constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;
constexpr uint32_t CLSCTX_ALL = 0x17;

constexpr uint32_t COINIT_MULTITHREADED = 0x0;
constexpr uint32_t COINIT_APARTMENTTHREADED = 0x2;

// Creates an object (aggregated by outer when given) and queries riid into *object.
using ClassFactory = std::function<HRESULT(IUnknown* outer, REFIID riid, void** object)>;

// Installs factory for clsid and returns the factory it replaces (empty when none), so that a
// caller can put the previous one back. An empty factory removes the class.
ClassFactory RegisterClassFactory(REFCLSID clsid, ClassFactory factory);

// For RegisterBuiltInClasses only: adds a class without first registering the built-ins.
void InstallBuiltInClass(REFCLSID clsid, ClassFactory factory);

// Fills the class table with the objects this program provides (the graph manager, the source
// filter, the media detector, ...); defined next to those objects, called once before the
// first creation.
void RegisterBuiltInClasses();

// The calling thread must have called CoInitializeEx: CO_E_NOTINITIALIZED otherwise.
// Unknown class: REGDB_E_CLASSNOTREG. *object is null on every failure.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, uint32_t context, REFIID riid,
                         void** object);

template <typename T>
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, uint32_t context, ComPtr<T>* out) {
    if (out == nullptr) return E_POINTER;
    return CoCreateInstance(clsid, outer, context, T::kIid, out->PutVoid());
}

// S_OK on the thread's first call, S_FALSE on nested calls of the same model,
// RPC_E_CHANGED_MODE when the thread already chose the other model (that call needs no
// CoUninitialize). Every successful call is balanced by one CoUninitialize.
HRESULT CoInitializeEx(void* reserved, uint32_t model);
void CoUninitialize();
bool IsComInitialized();

// Initialises COM for the current scope and undoes it on every road out.
class ScopedComInit {
public:
    explicit ScopedComInit(uint32_t model = COINIT_APARTMENTTHREADED)
        : result_(CoInitializeEx(nullptr, model)) {}
    ~ScopedComInit() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

}  // namespace platform::com
