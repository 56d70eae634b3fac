// Class-table factories of the editing-services objects.
#pragma once

#include "platform/des/interfaces.h"

namespace platform::des {

HRESULT CreateTimeline(IUnknown* outer, com::REFIID riid, void** object);
HRESULT CreateRenderEngine(IUnknown* outer, com::REFIID riid, void** object);
HRESULT CreateCaptureGraphBuilder(IUnknown* outer, com::REFIID riid, void** object);
HRESULT CreateXmlConverter(IUnknown* outer, com::REFIID riid, void** object);

}  // namespace platform::des
