#include "driver/title_clock.h"

#include <algorithm>

#include "reader/clip_record.h"

namespace driver {

int64_t PicturesClockLength(int64_t frames, int64_t rateNum, int64_t rateDen) {
    if (rateNum == 0) return 0;
    return frames * kTitleClockRate * rateDen / rateNum;
}

int64_t RangeClockTicks(double seconds) { return reader::TruncateToInt64(seconds * kTitleClockRate); }

void TitleClock::Reset() { *this = TitleClock{}; }

int64_t TitleClock::BeginClip(double rangeSeconds) {
    clipRange_ = RangeClockTicks(rangeSeconds);
    if (clipRange_ > kTitleClockLimit - countedLength_) {
        clipStart_ = 0;
        countedLength_ = 0;
    }
    clipLength_ = 0;
    return clipStart_;
}

void TitleClock::ClipMade() {
    clipStart_ += clipLength_;
    countedLength_ += clipRange_ > 0 ? std::min(clipRange_, clipLength_) : clipLength_;
    clipLength_ = 0;
}

}  // namespace driver
