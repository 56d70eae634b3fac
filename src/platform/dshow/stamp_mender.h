// Closes up the time-stamp discontinuities of the formats that may hold them (transport and
// program streams: a broadcast recording spliced from pieces, a camera that restarts its
// clock). Left as they are, a jump forward would hold one picture for the length of the gap,
// and a jump back would drop everything up to where the clock was.
//
// A forward step of more than a few seconds between consecutive packets of a stream, or a step
// back, starts a new piece of the file's clock; every stream must take the step for it to count
// as the clock's (a gap in one stream alone is that stream's, and stays). Each piece's stamps
// move by one offset, the same for pictures and sound, so that the piece follows on from the
// one before and the sound stays with its pictures. A picture decoded before a step but shown
// after it (a jump inside a group of pictures) is shown in the piece after the step.
//
// A stamp that leaves its stream's run and comes back within a few packets was damaged (a bit
// flipped in reception): it is no step, and its packet is placed by its neighbours.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace platform::dshow {

// A step of the file's clock.
struct StampJump {
    double rawStart = 0.0;  // seconds, on the file's own clock, where the new piece starts
    double offset = 0.0;    // seconds added to the stamps of the piece from here on
};

// A packet whose stamps were damaged, and the stamps its neighbours give it (stream ticks;
// AV_NOPTS_VALUE where the packet has none).
struct StampOutlier {
    int stream = -1;
    int64_t position = -1;  // byte position of the packet, which finds it again
    int64_t pts = 0;        // as read
    int64_t dts = 0;
    int64_t placedPts = 0;  // as it is to be read
    int64_t placedDts = 0;
};

// What reading a whole file found to mend in its stamps: all a reader of it needs.
struct StampRepairs {
    std::vector<StampJump> jumps;        // the clock's own, in the order of the file
    std::vector<StampOutlier> outliers;  // in the order of the file
    bool Empty() const { return jumps.empty() && outliers.empty(); }
};

class StampMender {
public:
    // Mends the packets of the streams `video` and `audio` (-1: none) of format, finding the
    // jumps and the damaged stamps as it goes: the probe's reading of the whole file.
    StampMender(const AVFormatContext* format, int video, int audio);
    // Mends the packets with the `known` repairs only (the probe's Repairs), so that a reader
    // closes up what the probe counted and nothing else.
    StampMender(const AVFormatContext* format, int video, int audio, StampRepairs known);

    // Rewrites the packet's stamps into the closed-up clock; other streams' packets pass.
    void Mend(AVPacket* packet);

    // After a seek: the next packet of each stream goes into the piece that brings it nearest
    // `seconds` on the closed-up clock (the file's own clock, time zero not taken off).
    void Restart(double seconds);

    // The steps every stream took (the file's clock's own jumps) and the damaged stamps.
    StampRepairs Repairs() const;
    // False when some packets were mended otherwise than Repairs() mends them: a stream that
    // stepped alone, a damaged stamp found only after its packet, a picture shown after a step
    // that came after it. The file is then read again with Repairs() for what a reader gets.
    bool MendedAsRepairs() const;

private:
    // One of a lane's last packets, as read.
    struct Recent {
        int64_t position = -1;
        int64_t pts = 0;
        int64_t dts = 0;
        int64_t runTicks = 0;  // the stamp of the lane's run: the decoding stamp, else the other
        double stamp = 0.0;    // the same in seconds
        double length = 0.0;
        size_t piece = 0;
        bool broke = false;  // it did not follow on from the packet before
        // Raw seconds it is shown at: its presentation stamp, else its run's.
        double Shown(double timeBase) const;
    };
    // A packet shown far from where it is decoded: damaged, or decoded before a step that
    // follows within a few packets.
    struct Suspect {
        StampOutlier outlier;
        double decoded = 0.0;            // raw seconds
        double length = 0.0;             // of one picture
        std::vector<double> neighbours;  // raw presentation seconds of the packets around it
        size_t after = 0;                // packets of its lane read since
    };
    struct Lane {
        int stream = -1;
        double timeBase = 0.0;
        bool started = false;
        double last = 0.0;        // raw seconds of the last stamp
        double lastLength = 0.0;  // seconds the last packet lasted
        size_t piece = 0;         // steps_[piece - 1] is the last step taken
        std::deque<Recent> recent;
        std::vector<Suspect> suspects;
    };
    struct Step {
        StampJump jump;
        std::array<bool, 2> takenBy{false, false};
    };

    double OffsetOf(size_t piece) const { return piece == 0 ? 0.0 : steps_[piece - 1].jump.offset; }
    std::vector<StampJump> ClockJumps() const;
    void Repair(AVPacket* packet) const;
    void Follow(size_t laneIndex, AVPacket* packet, int64_t raw);
    void PlaceFirst(Lane& lane, double stamp) const;
    void TakeStep(size_t laneIndex, double stamp);
    bool CameBack(size_t laneIndex, const Recent& current);
    void SetAside(size_t laneIndex, size_t left, const Recent& current);
    void Remember(Lane& lane, const Recent& current);
    void WatchPresentation(Lane& lane, const Recent& current, bool stepped);
    static StampOutlier Placed(const Suspect& suspect, double timeBase);
    double PresentationOffset(const Lane& lane, const AVPacket* packet) const;

    std::array<Lane, 2> lanes_;
    std::vector<Step> steps_;
    std::vector<StampOutlier> outliers_;  // sorted by position when known, else as found
    bool discover_ = false;
    bool mendedOtherwise_ = false;
    bool restarted_ = false;
    double target_ = 0.0;
};

}  // namespace platform::dshow
