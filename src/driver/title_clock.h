// The title plays on one clock: each clip's VOB starts it where the VOBs of the clips made
// before it ended (90 kHz ticks), measured on what they hold, and never before the last pack of
// the VOB before it was read, so the system clock reference never steps back at a chapter and
// players need not resynchronise there.
#pragma once

#include <cstdint>

#include "driver/title_limit.h"

namespace driver {

// The VOBs' timestamps count kTitleClockRate ticks; the multiplexer's clock runs 300 times as fast.
constexpr int64_t kMuxTicksPerVobTick = 300;
// How long a 2048-byte pack takes to read at the DVD's 10.08 Mbit/s, rounded up: a clip's first
// pack comes at least this long after the previous clip's last.
constexpr int64_t kPackReadTicks = 147;

// How far `frames` pictures at rateNum/rateDen pictures a second run on the VOB's clock; 0
// without a rate.
int64_t PicturesClockLength(int64_t frames, int64_t rateNum, int64_t rateDen);

class TitleClock {
public:
    // A new title starts its clock at 0.
    void Reset();
    // A clip whose range lasts rangeSeconds (0 when it runs to its file's end) starts where the
    // clips made before it ended; one that would carry the clock past the engine's range starts
    // it again at 0, as a discontinuity the cells are marked for. Answers the clip's start.
    int64_t BeginClip(double rangeSeconds);
    // Where the running clip's clock starts, in 90 kHz ticks.
    int64_t ClipStart() const { return clipStart_; }
    // How far the running clip's VOB runs on the clock and the SCR of its last pack, once its
    // outputs are finished.
    void SetClipEnd(int64_t lengthTicks, int64_t lastPackScr);
    // The running clip became a chapter: the next one starts where its pictures and sound
    // ended, or once its last pack has been read where that comes later (the multiplexer
    // sends a clip's last packs ahead of their time, by about its start-up delay).
    void ClipMade();

private:
    int64_t clipStart_ = 0;
    int64_t clipLength_ = 0;
    int64_t lastPackScr_ = 0;
};

}  // namespace driver
