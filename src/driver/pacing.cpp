#include "driver/pacing.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/file_utils.h"
#include "platform/des/group_filters.h"
#include "reader/clip_record.h"

namespace driver {
namespace {

// Below this many delivered pictures nothing is dropped, so a clip always starts with its
// first pictures even when their stamps begin late.
constexpr int32_t kPicturesNeverDropped = 12;
// How far the output may drift from the stamps, in pictures, before it is corrected.
constexpr double kPacingTolerance = 1.1;
// A lead larger than this is a time-stamp jump backwards, not something to drop away.
constexpr double kLargestCorrectableLead = 10.0;
// Where the range's length is unknown, no picture is held longer than this.
constexpr double kLongestHoldWithoutRange = 5.0;
// A hold longer than this is worth a line in the log.
constexpr double kLongHoldSeconds = 3.0;
// Shapes this close show alike: a frame of the output size is taken as it is.
constexpr double kSameShape = 1e-3;
// Media times count in 100-ns units.
constexpr double kUnitsPerSecond = 1e7;

int32_t SaturatingAdd(int32_t a, int64_t b) {
    const int64_t sum = int64_t(a) + b;
    return int32_t(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

// v split into two even bands around the picture, the first taking the odd pixel.
void SplitBand(int v, int& first, int& second) {
    first = v;
    second = v;
    if (v % 2 != 0) {
        first = v + 1;
        second = v - 1;
    }
}

// The most output frames the next picture may fill: up to the range's end, or a few seconds'
// worth where its length is unknown; always at least the one frame of the picture itself.
int64_t LongestHold(const PacingState& state, double rangeLength, double rate) {
    const double frames = rangeLength > 0.0 ? std::round(rangeLength * rate) - state.FramesDelivered
                                            : kLongestHoldWithoutRange * rate;
    return std::max<int64_t>(1, reader::TruncateToInt64(frames));
}

}  // namespace

PadBands ComputePadBands(int sourceWidth, int sourceHeight, platform::dshow::PixelAspect sourcePixel,
                         int outputWidth, int outputHeight, platform::dshow::PixelAspect outputPixel,
                         bool stretch) {
    PadBands bands;
    const double sourceAspect = platform::dshow::DisplayAspect(sourceWidth, sourceHeight, sourcePixel);
    const double outputAspect = platform::dshow::DisplayAspect(outputWidth, outputHeight, outputPixel);
    const bool sameSize = sourceWidth == outputWidth && sourceHeight == outputHeight;
    if (sameSize && (stretch || std::fabs(sourceAspect - outputAspect) <= kSameShape * outputAspect)) {
        return bands;
    }
    bands.NeedsScaling = true;
    if (stretch || sourceAspect <= 0.0 || outputAspect <= 0.0) return bands;
    const double tw = outputWidth, th = outputHeight;
    if (outputAspect < sourceAspect) {
        SplitBand(reader::TruncateToInt32((th - th * outputAspect / sourceAspect) * 0.5), bands.Top,
                  bands.Bottom);
    } else {
        SplitBand(reader::TruncateToInt32((tw - tw * sourceAspect / outputAspect) * 0.5), bands.Left,
                  bands.Right);
    }
    return bands;
}

int PacePicture(PacingState& state, double seconds, uint32_t rateNum, uint32_t rateDen,
                double rangeLength) {
    int repeat = 1;
    if (rateDen != 0 && std::isfinite(seconds)) {
        const double diff = double(rateNum) * seconds / double(rateDen) - state.FramesDelivered;
        if (diff < -kLargestCorrectableLead) {
            repeat = 1;
        } else if (diff < -kPacingTolerance && state.FramesDelivered > kPicturesNeverDropped) {
            state.FramesDropped = SaturatingAdd(state.FramesDropped, 1);
            return 0;
        } else if (diff > kPacingTolerance) {
            // The frames missing before the picture's last one, and that one.
            const int64_t wanted = std::min(reader::TruncateToInt64(1.0 + std::round(diff)),
                                            LongestHold(state, rangeLength, rateNum / double(rateDen)));
            state.FramesRepeated = SaturatingAdd(state.FramesRepeated, wanted - 1);
            repeat = int(std::min<int64_t>(wanted, std::numeric_limits<int32_t>::max()));
        }
    }
    state.FramesDelivered = SaturatingAdd(state.FramesDelivered, repeat);
    return repeat;
}

std::string LongHoldNote(int32_t picture, double seconds, int repeat, uint32_t rateNum,
                         uint32_t rateDen) {
    if (rateNum == 0) return {};
    const double held = double(repeat) * rateDen / rateNum;
    if (!(held > kLongHoldSeconds)) return {};
    return core::FormatString("Picture %d at %.3f s held for %d frames (%.1f s): its clip's time "
                              "stamps leave a gap\n",
                              picture, seconds, repeat, held);
}

double PacingTime(double start, double length, double rangeLength, uint32_t rateNum,
                  uint32_t rateDen) {
    double end = start + length;
    if (rangeLength > 0.0) end = std::min(end, rangeLength);
    const double frame = rateNum != 0 ? double(rateDen) / rateNum : 0.0;
    return std::max(start, end - frame);
}

int32_t ExpectedFrames(double rangeStart, double rangeEnd, double frameRate) {
    return std::max(0, reader::TruncateToInt32((rangeEnd - rangeStart) * frameRate));
}

int32_t TimelineFrames(double rangeStart, double rangeEnd, uint32_t rateNum, uint32_t rateDen) {
    if (rateDen == 0 || !(rangeEnd > rangeStart)) return 0;
    // Counted the way the render engine counts them, so the total is the one it delivers.
    const double units = std::round((rangeEnd - rangeStart) * double(kUnitsPerSecond));
    if (!(units < double(std::numeric_limits<int64_t>::max()))) return 0;
    const int64_t frames = platform::des::OutputFrameCount(int64_t(units), double(rateNum) / rateDen);
    return int32_t(std::min<int64_t>(frames, std::numeric_limits<int32_t>::max()));
}

int ClipPercent(double done, double whole) {
    if (!(whole > 0.0)) return 0;
    return std::clamp(reader::TruncateToInt32(done / whole * 100.0), 0, 100);
}

std::string ProgressStatusText(int32_t received, int32_t total, int32_t delivered,
                               uint32_t elapsedMs) {
    const double seconds = elapsedMs * 0.001;
    const int h = int(seconds / 3600);
    const int m = int((seconds - 3600.0 * h) / 60);
    const int s = int(seconds - 3600.0 * h - 60.0 * m);
    const int fps = seconds > 0.0 ? reader::TruncateToInt32(delivered / seconds) : 0;
    if (total == 0) {
        return core::FormatString("Encoded %d frames - %d FPS - Total time : %d:%02d:%02d",
                                  received, fps, h, m, s);
    }
    return core::FormatString("Encoded %d / %d frames - %d FPS - Total time : %d:%02d:%02d",
                              received, total, fps, h, m, s);
}

}  // namespace driver
