#include "driver/title_clock.h"

#include <algorithm>

#include "reader/clip_record.h"

namespace driver {

int64_t PicturesClockLength(int64_t frames, int64_t rateNum, int64_t rateDen) {
    if (rateNum == 0) return 0;
    return frames * kTitleClockRate * rateDen / rateNum;
}

void TitleClock::Reset() { *this = TitleClock{}; }

int64_t TitleClock::BeginClip(double rangeSeconds) {
    const int64_t rangeTicks = reader::TruncateToInt64(rangeSeconds * kTitleClockRate);
    if (rangeTicks > kTitleClockLimit - clipStart_) clipStart_ = 0;
    clipLength_ = 0;
    lastPackScr_ = 0;
    return clipStart_;
}

void TitleClock::SetClipEnd(int64_t lengthTicks, int64_t lastPackScr) {
    clipLength_ = lengthTicks;
    lastPackScr_ = lastPackScr;
}

void TitleClock::ClipMade() {
    clipStart_ = std::max(clipStart_ + clipLength_, lastPackScr_ + kPackReadTicks);
    clipLength_ = 0;
    lastPackScr_ = 0;
}

}  // namespace driver
