#include "platform/com/class_table.h"

#include <mutex>
#include <vector>

namespace platform::com {
namespace {

struct Entry {
    CLSID clsid;
    ClassFactory factory;
};

struct ClassTable {
    std::mutex mutex;
    std::vector<Entry> entries;
};

ClassTable& Table() {
    static ClassTable table;
    return table;
}

std::once_flag builtInsRegistered;

void EnsureBuiltIns() { std::call_once(builtInsRegistered, RegisterBuiltInClasses); }

ClassFactory FindFactory(REFCLSID clsid) {
    ClassTable& table = Table();
    std::lock_guard lock(table.mutex);
    for (const Entry& entry : table.entries) {
        if (entry.clsid == clsid) return entry.factory;
    }
    return {};
}

struct ThreadApartment {
    int initCount = 0;
    uint32_t model = 0;
};
thread_local ThreadApartment apartment;

}  // namespace

void InstallBuiltInClass(REFCLSID clsid, ClassFactory factory) {
    ClassTable& table = Table();
    std::lock_guard lock(table.mutex);
    table.entries.push_back({clsid, std::move(factory)});
}

ClassFactory RegisterClassFactory(REFCLSID clsid, ClassFactory factory) {
    // Built-ins first, so that a caller's override is not replaced by them later.
    EnsureBuiltIns();
    ClassTable& table = Table();
    std::lock_guard lock(table.mutex);
    for (auto it = table.entries.begin(); it != table.entries.end(); ++it) {
        if (it->clsid == clsid) {
            ClassFactory previous = std::move(it->factory);
            if (factory) {
                it->factory = std::move(factory);
            } else {
                table.entries.erase(it);
            }
            return previous;
        }
    }
    if (factory) table.entries.push_back({clsid, std::move(factory)});
    return {};
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, uint32_t context, REFIID riid,
                         void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsComInitialized()) return CO_E_NOTINITIALIZED;
    if ((context & CLSCTX_ALL) == 0) return E_INVALIDARG;
    // An aggregated object can only hand its inner unknown to the outer object.
    if (outer != nullptr && !(riid == IUnknown::kIid)) return CLASS_E_NOAGGREGATION;
    EnsureBuiltIns();
    const ClassFactory factory = FindFactory(clsid);
    if (!factory) return REGDB_E_CLASSNOTREG;
    const HRESULT hr = factory(outer, riid, object);
    if (FAILED(hr)) *object = nullptr;
    return hr;
}

HRESULT CoInitializeEx(void*, uint32_t model) {
    if (apartment.initCount > 0) {
        if (apartment.model != model) return RPC_E_CHANGED_MODE;
        ++apartment.initCount;
        return S_FALSE;
    }
    apartment.initCount = 1;
    apartment.model = model;
    return S_OK;
}

void CoUninitialize() {
    if (apartment.initCount > 0) --apartment.initCount;
}

bool IsComInitialized() { return apartment.initCount > 0; }

}  // namespace platform::com
