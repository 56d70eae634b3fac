// The media detector: reports the streams the source filter would deliver, as stored.
#pragma once

#include "platform/com/com.h"

namespace platform::dshow {

// Class-table factory for CLSID_MediaDet.
com::HRESULT CreateMediaDet(com::IUnknown* outer, com::REFIID riid, void** object);

}  // namespace platform::dshow
