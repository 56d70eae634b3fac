// Small filters the graph manager needs besides the source: the default renderer for streams
// nobody takes, the audio converter slot, and the reference clock.
#pragma once

#include "platform/com/com.h"
#include "platform/dshow/interfaces.h"

namespace platform::dshow {

// Takes any stream and drops its samples; reports EC_COMPLETE at its end of stream.
HRESULT CreateNullRenderer(IUnknown* outer, com::REFIID riid, void** object);
// The audio converter slot of a graph. Our source already delivers 16-bit PCM at 48 kHz, so
// the converter has nothing to do and offers no pins.
HRESULT CreateAudioConverter(IUnknown* outer, com::REFIID riid, void** object);
// Monotonic time in 100-ns units.
HRESULT CreateSystemClock(IUnknown* outer, com::REFIID riid, void** object);

}  // namespace platform::dshow
