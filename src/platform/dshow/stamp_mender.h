// Closes up the time-stamp discontinuities of the formats that may hold them (transport and
// program streams: a broadcast recording spliced from pieces, a camera that restarts its
// clock). Left as they are, a jump forward would hold one picture for the length of the gap,
// and a jump back would drop everything up to where the clock was.
//
// A forward step of more than a few seconds between consecutive packets of a stream, or a step
// back, starts a new piece of the file's clock; every stream must take the step for it to count
// as the clock's (a gap in one stream alone is that stream's, and stays). Each piece's stamps
// move by one offset, the same for pictures and sound, so that the piece follows on from the
// one before and the sound stays with its pictures.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace platform::dshow {

// A step of the file's clock.
struct StampJump {
    double rawStart = 0.0;  // seconds, on the file's own clock, where the new piece starts
    double offset = 0.0;    // seconds added to the stamps of the piece from here on
};

class StampMender {
public:
    // Mends the packets of the streams `video` and `audio` (-1: none) of format, finding the
    // jumps as it goes: the probe's reading of the whole file.
    StampMender(const AVFormatContext* format, int video, int audio);
    // Places the packets into the pieces of the `known` jumps only (the probe's ClockJumps), so
    // that a reader closes up what the probe counted and nothing else.
    StampMender(const AVFormatContext* format, int video, int audio, std::vector<StampJump> known);

    // Rewrites the packet's stamps into the closed-up clock; other streams' packets pass.
    void Mend(AVPacket* packet);

    // After a seek: the next packet of each stream goes into the piece that brings it nearest
    // `seconds` on the closed-up clock (the file's own clock, time zero not taken off).
    void Restart(double seconds);

    // The steps every stream took: the file's clock's own jumps.
    std::vector<StampJump> ClockJumps() const;
    // True when some stream stepped alone (its jumps are in the pieces this mender used).
    bool SteppedAlone() const;

private:
    struct Lane {
        int stream = -1;
        double timeBase = 0.0;
        bool started = false;
        double last = 0.0;        // raw seconds of the last stamp
        double lastLength = 0.0;  // seconds the last packet lasted
        size_t piece = 0;         // jumps_[piece - 1] is the last step taken
    };
    struct Step {
        StampJump jump;
        std::array<bool, 2> takenBy{false, false};
    };

    double OffsetOf(size_t piece) const { return piece == 0 ? 0.0 : steps_[piece - 1].jump.offset; }
    void PlaceFirst(Lane& lane, double stamp) const;
    void TakeStep(size_t laneIndex, double stamp);

    std::array<Lane, 2> lanes_;
    std::vector<Step> steps_;
    bool discover_ = false;
    bool restarted_ = false;
    double target_ = 0.0;
};

}  // namespace platform::dshow
