// The arithmetic of the sample sink: fitting the source picture into the output frame, holding
// the output frame rate by dropping and repeating pictures, and what the progress line says.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dshow/types.h"

namespace driver {

// Pad bands of the output frame around the scaled source picture.
struct PadBands {
    int Top = 0;
    int Bottom = 0;
    int Left = 0;
    int Right = 0;
    bool NeedsScaling = false;
};

// Keeps the source's displayed proportions inside the output frame by padding the short side
// (both bands even, the first one taking the odd pixel), each picture's pixel shape counted;
// with stretch the picture fills the frame. A source of the output size and shape needs no
// scaling and no bands; a source without a size gets no bands.
PadBands ComputePadBands(int sourceWidth, int sourceHeight, platform::dshow::PixelAspect sourcePixel,
                         int outputWidth, int outputHeight, platform::dshow::PixelAspect outputPixel,
                         bool stretch);

struct PacingState {
    int32_t FramesReceived = 0;
    int32_t FramesDelivered = 0;  // pictures handed to the encoder, repeats included
    int32_t FramesDropped = 0;
    int32_t FramesRepeated = 0;
};

// How many times the picture whose last output frame starts `seconds` after the clip's start
// is encoded so that the output keeps pace with the time stamps: 0 drops it. Updates the
// delivered, dropped and repeated counts (FramesReceived is the caller's). A picture is
// repeated as often as the time requires, but never past the end of the range (rangeLength
// seconds) nor, where the range's length is unknown (0), longer than 5 s: a gap that long is
// a fault of the stamps, not a picture to show. The first 13 pictures are never dropped, and
// an output more than 10 pictures ahead is not corrected (a time-stamp jump backwards).
int PacePicture(PacingState& state, double seconds, uint32_t rateNum, uint32_t rateDen,
                double rangeLength);

// The log line for picture number `picture`, stamped `seconds`, encoded `repeat` times at the
// output rate: empty unless it is held longer than 3 s, which only a gap in the stamps or a
// slow slide show asks for.
std::string LongHoldNote(int32_t picture, double seconds, int repeat, uint32_t rateNum,
                         uint32_t rateDen);

// The time a picture of `length` seconds stamped `start` is paced at: the start of the last
// output frame it covers, its end held to the range's end (rangeLength; 0 for none). Pacing
// by its start alone would leave the last picture of a slow clip a single output frame, and
// the clip short of its range.
double PacingTime(double start, double length, double rangeLength, uint32_t rateNum,
                  uint32_t rateDen);

// The expected output pictures of a range, truncated; 0 for an empty or reversed range.
int32_t ExpectedFrames(double rangeStart, double rangeEnd, double frameRate);

// The pictures the editing-services timeline delivers for a range at the output rate
// rateNum/rateDen: every output frame that starts inside it. 0 for an empty or reversed range
// or a rate without a denominator.
int32_t TimelineFrames(double rangeStart, double rangeEnd, uint32_t rateNum, uint32_t rateDen);

// Percentage of a clip done: `done` of `whole`, both seconds of its length or both pictures of
// its total; truncated and held to 0..100, and 0 when the whole is nothing.
int ClipPercent(double done, double whole);

// "Encoded r / t frames - f FPS - Total time : h:mm:ss" (without " / t" when the total is
// unknown); the rate is 0 until time has passed.
std::string ProgressStatusText(int32_t received, int32_t total, int32_t delivered,
                               uint32_t elapsedMs);

}  // namespace driver
