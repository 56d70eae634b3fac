// The filters behind the render engine's group output pins. Each takes one decoded stream of
// a clip (or nothing, when the clip has no such stream) and delivers what the group promises
// for the whole render range: pictures at the group's frame size, one per output frame
// period, or 48 kHz stereo PCM without gaps. Before, after and around the clip the group
// shows black and plays silence.
#pragma once

#include <cstdint>

#include "platform/des/interfaces.h"
#include "platform/dshow/interfaces.h"
#include "platform/dshow/media_type.h"

namespace platform::des {

// Where the clip sits in the rendered range, in 100-ns units from the range's start.
struct GroupSpan {
    dshow::REFERENCE_TIME length = 0;     // the whole range
    dshow::REFERENCE_TIME clipStart = 0;  // the clip's first sample belongs here
    dshow::REFERENCE_TIME clipStop = 0;   // nothing of the clip is shown from here on
};

// Pin 0 is the input, pin 1 the group's output.
constexpr int kGroupInputPin = 0;
constexpr int kGroupOutputPin = 1;

// outputType: the group's RGB24 type; fps: the output frame rate; stretchMode: a RESIZEF_
// value the timeline accepted.
HRESULT CreateVideoGroupFilter(const dshow::CMediaType& outputType, double fps, int stretchMode,
                               GroupSpan span, com::ComPtr<dshow::IBaseFilter>* filter);
HRESULT CreateAudioGroupFilter(GroupSpan span, com::ComPtr<dshow::IBaseFilter>* filter);

// Output frames in a range of length units at fps: every frame that starts inside it.
int64_t OutputFrameCount(dshow::REFERENCE_TIME length, double fps);

// The rectangle a source picture takes in a frame, both described by their bitmap headers:
// the whole frame when stretched, else the largest centred rectangle that shows the source
// in its own displayed proportions, each picture's pixel shape counted.
struct FitRect {
    int x = 0, y = 0, width = 0, height = 0;
};
FitRect FitPicture(const dshow::BITMAPINFOHEADER& source, const dshow::BITMAPINFOHEADER& frame,
                   int stretchMode);

}  // namespace platform::des
