// The title plays on one clock: each clip's VOB starts it where the VOBs of the clips made
// before it ended (90 kHz ticks), measured on what they hold, so that every chapter's pictures
// and sound follow the previous chapter's without a pause. Each VOB is multiplexed on its own
// and sends its first packs ahead of its first pictures, so the system clock steps back at a
// join; the cells there are marked as a clock discontinuity, where players take up the new clock.
#pragma once

#include <cstdint>

#include "driver/title_limit.h"

namespace driver {

// How far `frames` pictures at rateNum/rateDen pictures a second run on the VOB's clock; 0
// without a rate.
int64_t PicturesClockLength(int64_t frames, int64_t rateNum, int64_t rateDen);

// A clip range of `seconds` on the title's clock, truncated to whole ticks: the one measure of
// a list's length, for Start's refusal and for the clock's restart alike.
int64_t RangeClockTicks(double seconds);

class TitleClock {
public:
    // A new title starts its clock at 0.
    void Reset();
    // A clip whose range lasts rangeSeconds (0 when it runs to its file's end) starts where the
    // clips made before it ended; one whose range would carry the title past kTitleClockLimit,
    // counted as Start counts it, starts the clock again at 0, as a discontinuity the cells are
    // marked for. Answers the clip's start.
    int64_t BeginClip(double rangeSeconds);
    // Where the running clip's clock starts, in 90 kHz ticks.
    int64_t ClipStart() const { return clipStart_; }
    // How far the running clip's VOB runs on the clock, once its outputs are finished.
    void SetClipLength(int64_t ticks) { clipLength_ = ticks; }
    // The running clip became a chapter: the next one starts where its pictures ended.
    void ClipMade();

private:
    int64_t clipStart_ = 0;
    int64_t clipLength_ = 0;
    int64_t clipRange_ = 0;
    // The title's length as Start counts it: each clip made by its range, or by what it held
    // where that was shorter or the range unknown. What clips hold past their ranges (up to a
    // picture) comes out of the engine's overrun reserve.
    int64_t countedLength_ = 0;
};

}  // namespace driver
