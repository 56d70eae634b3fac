// The source-and-decoder filter: opens a file through FFmpeg and offers one output pin for its
// video (bottom-up RGB24) and one for its audio (16-bit PCM at 48 kHz), each delivered on its
// own streaming thread while demultiplexing and decoding run on threads of their own.
#pragma once

#include "platform/com/com.h"
#include "platform/dshow/interfaces.h"

namespace platform::dshow {

// Class-table factory for CLSID_FfmpegSource (and the Windows Media reader it stands in for).
HRESULT CreateFfmpegSource(IUnknown* outer, com::REFIID riid, void** object);

}  // namespace platform::dshow
