#include "platform/dshow/stamp_mender.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

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
// A stream whose stamps come back to its run within this many packets of leaving it had them
// damaged: a piece of a spliced recording lasts longer than that.
constexpr size_t kOutlierRun = 8;

double TimeBase(const AVFormatContext* format, int stream) {
    if (stream < 0 || unsigned(stream) >= format->nb_streams) return 0.0;
    const AVRational tb = format->streams[stream]->time_base;
    return tb.den != 0 ? double(tb.num) / tb.den : 0.0;
}

int64_t Shifted(int64_t stamp, double seconds, double timeBase) {
    if (stamp == AV_NOPTS_VALUE || seconds == 0.0) return stamp;
    return stamp + std::llround(seconds / timeBase);
}

// No coding reorders its pictures deeper than this (H.264's limit).
constexpr double kMostReorderedPictures = 16;

// How far reordering may move the stamps of pictures of `length` from their decoding order.
double ReorderReach(double length) {
    const double picture = length > 0.0 ? length : kFallbackLength;
    return std::min(kLongestStep, kMostReorderedPictures * picture + kLargestStepBack);
}

// Whether a picture of `length` may be shown `seconds` after it is decoded: reordering holds
// none back by more pictures than it reorders, and shows none before it is decoded.
bool PlausibleLead(double seconds, double length) {
    return seconds >= -kLargestStepBack && seconds <= ReorderReach(length);
}

bool ComesBefore(const StampOutlier& a, const StampOutlier& b) {
    return std::pair(a.position, a.stream) < std::pair(b.position, b.stream);
}

}  // namespace

StampMender::StampMender(const AVFormatContext* format, int video, int audio)
    : StampMender(format, video, audio, {}) {
    discover_ = true;
}

StampMender::StampMender(const AVFormatContext* format, int video, int audio, StampRepairs known)
    : outliers_(std::move(known.outliers)) {
    const int streams[2] = {video, audio};
    for (size_t k = 0; k < lanes_.size(); ++k) {
        lanes_[k].stream = streams[k];
        lanes_[k].timeBase = TimeBase(format, streams[k]);
    }
    for (const StampJump& jump : known.jumps) steps_.push_back(Step{jump, {true, true}});
    std::sort(outliers_.begin(), outliers_.end(), ComesBefore);
}

void StampMender::Mend(AVPacket* packet) {
    for (size_t k = 0; k < lanes_.size(); ++k) {
        Lane& lane = lanes_[k];
        if (packet->stream_index != lane.stream || !(lane.timeBase > 0.0)) continue;
        if (!discover_) Repair(packet);
        const int64_t raw = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (raw != AV_NOPTS_VALUE) Follow(k, packet, raw);
        const double offset = OffsetOf(lane.piece);
        const double shownOffset = PresentationOffset(lane, packet);
        // A picture placed by a step this stream has yet to take: whether that step is the
        // clock's is known only at the end.
        if (discover_ && shownOffset != offset) mendedOtherwise_ = true;
        packet->pts = Shifted(packet->pts, shownOffset, lane.timeBase);
        packet->dts = Shifted(packet->dts, offset, lane.timeBase);
        return;
    }
}

// The probe found this packet's stamps damaged: it gets the ones the probe gave it.
void StampMender::Repair(AVPacket* packet) const {
    StampOutlier key;
    key.stream = packet->stream_index;
    key.position = packet->pos;
    const auto found = std::lower_bound(outliers_.begin(), outliers_.end(), key, ComesBefore);
    if (found == outliers_.end() || found->position != key.position || found->stream != key.stream ||
        found->pts != packet->pts || found->dts != packet->dts) {
        return;
    }
    packet->pts = found->placedPts;
    packet->dts = found->placedDts;
}

// Follows the lane's run of stamps to the packet whose run stamp is `raw`: the steps it takes,
// and, when finding them, the damaged stamps it comes back from.
void StampMender::Follow(size_t laneIndex, AVPacket* packet, int64_t raw) {
    Lane& lane = lanes_[laneIndex];
    Recent current;
    current.position = packet->pos;
    current.pts = packet->pts;
    current.dts = packet->dts;
    current.runTicks = raw;
    current.stamp = double(raw) * lane.timeBase;
    bool stepped = false;
    if (!lane.started) {
        PlaceFirst(lane, current.stamp);
    } else {
        const double step = current.stamp - lane.last;
        current.broke = std::fabs(step - lane.lastLength) > kLargestStepBack;
        if (discover_ && current.broke && CameBack(laneIndex, current)) {
            // The run goes on from where it was left.
        } else if (step > kLongestStep || step < -kLargestStepBack) {
            const size_t before = lane.piece;
            TakeStep(laneIndex, current.stamp);
            stepped = lane.piece != before;
        } else if (step > 0.0 && packet->duration <= 0) {
            lane.lastLength = step;
        }
    }
    lane.last = current.stamp;
    if (packet->duration > 0) lane.lastLength = double(packet->duration) * lane.timeBase;
    current.length = lane.lastLength;
    current.piece = lane.piece;
    if (discover_) {
        WatchPresentation(lane, current, stepped);
        Remember(lane, current);
    }
}

void StampMender::Restart(double seconds) {
    for (Lane& lane : lanes_) {
        lane.started = false;
        lane.recent.clear();
        lane.suspects.clear();
    }
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

// A stamp that breaks from the one before may end a run of damaged ones: the lane's last few
// packets, from one that broke away from the run, all lie off the line from where the run was
// left to where this stamp takes it up, further than reordered pictures stray. They are set
// aside as outliers.
bool StampMender::CameBack(size_t laneIndex, const Recent& current) {
    const std::deque<Recent>& recent = lanes_[laneIndex].recent;
    for (size_t left = recent.size(); left-- > 1;) {
        const Recent& before = recent[left - 1];
        const double resumed = current.stamp - before.stamp;
        if (!recent[left].broke || resumed < -kLargestStepBack || resumed > kLongestStep) continue;
        const double reach = ReorderReach(before.length);
        const bool allOff = std::all_of(recent.begin() + long(left), recent.end(), [&](const Recent& r) {
            return r.stamp < before.stamp - reach || r.stamp > current.stamp + reach;
        });
        if (allOff) {
            SetAside(laneIndex, left, current);
            return true;
        }
    }
    return false;
}

// The lane's recent packets from `left` on are outliers: spread evenly along the run from the
// packet before them to `current`, and the steps they took are undone.
void StampMender::SetAside(size_t laneIndex, size_t left, const Recent& current) {
    Lane& lane = lanes_[laneIndex];
    std::deque<Recent>& recent = lane.recent;
    const Recent& before = recent[left - 1];
    const double spaces = double(recent.size() - left + 1);
    for (size_t i = left; i < recent.size(); ++i) {
        const Recent& damaged = recent[i];
        const int64_t placed = before.runTicks + std::llround(double(current.runTicks - before.runTicks) *
                                                              double(i - left + 1) / spaces);
        StampOutlier outlier{lane.stream, damaged.position, damaged.pts,
                             damaged.dts, damaged.pts,      damaged.dts};
        if (damaged.dts != AV_NOPTS_VALUE) outlier.placedDts = placed;
        // A picture stamped once (the demultiplexer gives the one stamp as both) had that stamp
        // damaged; one stamped twice keeps a presentation stamp that fits.
        const bool stampedOnce = damaged.dts == AV_NOPTS_VALUE || damaged.pts == damaged.dts;
        const double lead = double(damaged.pts - placed) * lane.timeBase;
        if (damaged.pts != AV_NOPTS_VALUE && (stampedOnce || !PlausibleLead(lead, before.length))) {
            outlier.placedPts = placed;
        }
        outliers_.push_back(outlier);
        std::erase_if(lane.suspects,
                      [&](const Suspect& s) { return s.outlier.position == damaged.position; });
    }
    for (size_t s = before.piece; s < lane.piece; ++s) steps_[s].takenBy[laneIndex] = false;
    while (!steps_.empty() && !steps_.back().takenBy[0] && !steps_.back().takenBy[1]) steps_.pop_back();
    lane.piece = before.piece;
    lane.lastLength = before.length;
    recent.erase(recent.begin() + long(left), recent.end());
    mendedOtherwise_ = true;
}

double StampMender::Recent::Shown(double timeBase) const {
    return pts != AV_NOPTS_VALUE ? double(pts) * timeBase : stamp;
}

void StampMender::Remember(Lane& lane, const Recent& current) {
    lane.recent.push_back(current);
    if (lane.recent.size() > kOutlierRun + 1) lane.recent.pop_front();
}

namespace {

// The first place on the picture grid from where a picture is decoded that none of the
// pictures around it is shown at: where it was shown before its stamp was damaged.
int64_t FreePlace(double decoded, double length, const std::vector<double>& neighbours, double timeBase,
                  int64_t fallback) {
    for (size_t k = 0; k <= 2 * kOutlierRun + 1; ++k) {
        const double place = decoded + double(k) * length;
        const bool taken = std::any_of(neighbours.begin(), neighbours.end(),
                                       [&](double shown) { return std::fabs(shown - place) < length / 2; });
        if (!taken) return std::llround(place / timeBase);
    }
    return fallback;
}

}  // namespace

StampOutlier StampMender::Placed(const Suspect& suspect, double timeBase) {
    StampOutlier outlier = suspect.outlier;
    outlier.placedPts = FreePlace(suspect.decoded, suspect.length, suspect.neighbours, timeBase, outlier.dts);
    return outlier;
}

// A packet shown far from where it is decoded is watched for a few packets more: a step of the
// run that brings it near was a jump inside a group of pictures, and it is shown after it;
// else its presentation stamp was damaged, and it is shown in its place among its neighbours.
void StampMender::WatchPresentation(Lane& lane, const Recent& current, bool stepped) {
    const double shown = current.Shown(lane.timeBase);
    std::erase_if(lane.suspects, [&](Suspect& suspect) {
        if (stepped &&
            std::fabs(double(suspect.outlier.pts) * lane.timeBase - current.stamp) <= kLongestStep) {
            mendedOtherwise_ = true;
            return true;
        }
        suspect.neighbours.push_back(shown);
        if (++suspect.after < kOutlierRun) return false;
        outliers_.push_back(Placed(suspect, lane.timeBase));
        mendedOtherwise_ = true;
        return true;
    });
    if (current.pts == AV_NOPTS_VALUE || current.dts == AV_NOPTS_VALUE ||
        PlausibleLead(double(current.pts - current.dts) * lane.timeBase, current.length)) {
        return;
    }
    Suspect suspect;
    suspect.outlier =
        StampOutlier{lane.stream, current.position, current.pts, current.dts, current.pts, current.dts};
    suspect.decoded = current.stamp;
    suspect.length = current.length > 0.0 ? current.length : kFallbackLength;
    for (const Recent& r : lane.recent) {
        suspect.neighbours.push_back(r.Shown(lane.timeBase));
    }
    lane.suspects.push_back(std::move(suspect));
}

// A picture decoded before a step of the clock but shown after it moves with the piece after
// the step: the offset that puts it a plausible while after where it is decoded.
double StampMender::PresentationOffset(const Lane& lane, const AVPacket* packet) const {
    const double offset = OffsetOf(lane.piece);
    if (packet->pts == AV_NOPTS_VALUE || packet->dts == AV_NOPTS_VALUE || lane.piece >= steps_.size()) {
        return offset;
    }
    const double lead = double(packet->pts - packet->dts) * lane.timeBase;
    if (PlausibleLead(lead, lane.lastLength)) return offset;
    const double next = OffsetOf(lane.piece + 1);
    return PlausibleLead(lead + next - offset, lane.lastLength) ? next : offset;
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

StampRepairs StampMender::Repairs() const {
    StampRepairs repairs;
    repairs.jumps = ClockJumps();
    repairs.outliers = outliers_;
    // Suspects still watched at the end of the file have no step left to come.
    for (const Lane& lane : lanes_) {
        for (const Suspect& suspect : lane.suspects)
            repairs.outliers.push_back(Placed(suspect, lane.timeBase));
    }
    std::sort(repairs.outliers.begin(), repairs.outliers.end(), ComesBefore);
    return repairs;
}

bool StampMender::MendedAsRepairs() const {
    const bool watching =
        std::any_of(lanes_.begin(), lanes_.end(), [](const Lane& lane) { return !lane.suspects.empty(); });
    return !mendedOtherwise_ && !watching && ClockJumps().size() == steps_.size();
}

}  // namespace platform::dshow
