#include "platform/dshow/stamp_mender.h"

#include <cmath>
#include <limits>

extern "C" {
#include <libavformat/avformat.h>
}

namespace platform::dshow {
namespace {

// Consecutive pictures (or blocks of sound) further apart than this belong to different pieces
// of the clock: no stream of these formats leaves a picture standing that long.
constexpr double kLongestStep = 5.0;
// Stamps in decoding order never step back; a packet stamped with its presentation time alone
// may, by the pictures reordered around it.
constexpr double kLargestStepBack = 0.1;
// The streams of one piece start this close together on its clock.
constexpr double kSameJump = kLongestStep;
// What a packet of unknown length lasts when nothing better is known yet.
constexpr double kFallbackLength = 0.04;

double TimeBase(const AVFormatContext* format, int stream) {
    if (stream < 0 || unsigned(stream) >= format->nb_streams) return 0.0;
    const AVRational tb = format->streams[stream]->time_base;
    return tb.den != 0 ? double(tb.num) / tb.den : 0.0;
}

int64_t Shifted(int64_t stamp, int64_t ticks) {
    return stamp == AV_NOPTS_VALUE ? stamp : stamp + ticks;
}

}  // namespace

StampMender::StampMender(const AVFormatContext* format, int video, int audio)
    : StampMender(format, video, audio, {}) {
    discover_ = true;
}

StampMender::StampMender(const AVFormatContext* format, int video, int audio,
                         std::vector<StampJump> known) {
    const int streams[2] = {video, audio};
    for (size_t k = 0; k < lanes_.size(); ++k) {
        lanes_[k].stream = streams[k];
        lanes_[k].timeBase = TimeBase(format, streams[k]);
    }
    for (const StampJump& jump : known) steps_.push_back(Step{jump, {true, true}});
}

void StampMender::Mend(AVPacket* packet) {
    for (size_t k = 0; k < lanes_.size(); ++k) {
        Lane& lane = lanes_[k];
        if (packet->stream_index != lane.stream || !(lane.timeBase > 0.0)) continue;
        const int64_t raw = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (raw != AV_NOPTS_VALUE) {
            const double stamp = double(raw) * lane.timeBase;
            if (!lane.started) {
                PlaceFirst(lane, stamp);
            } else {
                const double step = stamp - lane.last;
                if (step > kLongestStep || step < -kLargestStepBack) {
                    TakeStep(k, stamp);
                } else if (step > 0.0 && packet->duration <= 0) {
                    lane.lastLength = step;
                }
            }
            lane.last = stamp;
            if (packet->duration > 0) lane.lastLength = double(packet->duration) * lane.timeBase;
        }
        const double offset = OffsetOf(lane.piece);
        if (offset != 0.0) {
            const int64_t ticks = std::llround(offset / lane.timeBase);
            packet->pts = Shifted(packet->pts, ticks);
            packet->dts = Shifted(packet->dts, ticks);
        }
        return;
    }
}

void StampMender::Restart(double seconds) {
    for (Lane& lane : lanes_) lane.started = false;
    restarted_ = true;
    target_ = seconds;
}

// Read from the start, the first packet is in the first piece. After a seek, the piece is the
// one that puts it nearest where the seek went: the seek lands a little before its target.
void StampMender::PlaceFirst(Lane& lane, double stamp) const {
    lane.started = true;
    lane.piece = 0;
    if (!restarted_) return;
    double nearest = std::numeric_limits<double>::infinity();
    for (size_t piece = 0; piece <= steps_.size(); ++piece) {
        const double distance = std::fabs(stamp + OffsetOf(piece) - target_);
        if (distance < nearest) {
            nearest = distance;
            lane.piece = piece;
        }
    }
}

// A stream steps: into the next piece another stream already stepped into near the same place
// of the clock, or (when finding them) into a piece of its own that follows on from its last
// packet.
void StampMender::TakeStep(size_t laneIndex, double stamp) {
    Lane& lane = lanes_[laneIndex];
    for (size_t next = lane.piece; next < steps_.size(); ++next) {
        if (std::fabs(steps_[next].jump.rawStart - stamp) <= kSameJump) {
            steps_[next].takenBy[laneIndex] = true;
            lane.piece = next + 1;
            return;
        }
    }
    if (!discover_) return;
    const double length = lane.lastLength > 0.0 ? lane.lastLength : kFallbackLength;
    Step step;
    step.jump.rawStart = stamp;
    step.jump.offset = lane.last + OffsetOf(lane.piece) + length - stamp;
    step.takenBy[laneIndex] = true;
    steps_.push_back(step);
    lane.piece = steps_.size();
}

std::vector<StampJump> StampMender::ClockJumps() const {
    std::vector<StampJump> jumps;
    for (const Step& step : steps_) {
        bool everyStream = true;
        for (size_t k = 0; k < lanes_.size(); ++k) {
            if (lanes_[k].stream >= 0 && !step.takenBy[k]) everyStream = false;
        }
        if (everyStream) jumps.push_back(step.jump);
    }
    return jumps;
}

bool StampMender::SteppedAlone() const { return ClockJumps().size() != steps_.size(); }

}  // namespace platform::dshow
