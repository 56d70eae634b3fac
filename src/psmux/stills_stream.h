// Still-picture video of the video-CD formats: every picture is a still shown until the next.
//
// The first still is decoded at the start of the run, whose start-up delay lets its buffer
// fill, so that it is shown together with the start of the audio; every later still is decoded
// once the whole decoder buffer could have been delivered after the previous one was shown.
// Each is shown one frame after its decoding and stays until the next: how long a still holds
// is the player's choice (the disc's play lists), so no more time is spent on it here.
#pragma once

#include "psmux/video_stream.h"

namespace psmux {

class StillsStream : public VideoStream {
public:
    using VideoStream::VideoStream;
    // Opens the stream as still stream n and sets its id and decoder buffer for the format.
    bool Open(int n);

protected:
    virtual void ConfigureStills() = 0;
    void ComputeDtsPts(AccessUnit& unit) override;

private:
    int64_t lastPts_ = 0;
};

// Format 6: standard (up to 352 wide) and high-resolution stills, muxed still by still in step
// when both are present. The size decides the stream id, so a run holds at most one of each.
class VcdStillsStream : public StillsStream {
public:
    using StillsStream::StillsStream;
    void PairWith(const VcdStillsStream* sibling) { sibling_ = sibling; }
    // Known once the stream is open.
    bool IsStandardSize() const;
    // "standard" or "high-resolution", for messages.
    const char* SizeName() const;
    bool CanMuxAt(int64_t scr) const override;

protected:
    void ConfigureStills() override;

private:
    const VcdStillsStream* sibling_ = nullptr;
};

// Format 7.
class SvcdStillsStream : public StillsStream {
public:
    using StillsStream::StillsStream;

protected:
    void ConfigureStills() override;
};

}  // namespace psmux
