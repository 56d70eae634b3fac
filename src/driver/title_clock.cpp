#include "driver/title_clock.h"

#include "reader/clip_record.h"

namespace driver {

int64_t PicturesClockLength(int64_t frames, int64_t rateNum, int64_t rateDen) {
    if (rateNum == 0) return 0;
    return frames * kVobClockRate * rateDen / rateNum;
}

void TitleClock::Reset() {
    clipStart_ = 0;
    clipLength_ = 0;
}

int64_t TitleClock::BeginClip(double rangeSeconds) {
    const int64_t rangeTicks = reader::TruncateToInt64(rangeSeconds * kVobClockRate);
    if (rangeTicks > kTitleClockLimit - clipStart_) clipStart_ = 0;
    clipLength_ = 0;
    return clipStart_;
}

void TitleClock::ClipMade() {
    clipStart_ += clipLength_;
    clipLength_ = 0;
}

}  // namespace driver
