// The filter graph manager.
#pragma once

#include "platform/com/com.h"

namespace platform::dshow {

// Class-table factory for CLSID_FilterGraph.
com::HRESULT CreateFilterGraph(com::IUnknown* outer, com::REFIID riid, void** object);

}  // namespace platform::dshow
