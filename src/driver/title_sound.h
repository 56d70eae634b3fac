// A chapter's sound fitted to its pictures: every chapter's sound has the title's two channels
// and lasts as long as its pictures, cut where the reader gave more and made up with silence
// where it gave less (or none).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "platform/critical_section.h"

namespace driver {

// Every chapter's sound has the channels the title announces.
constexpr int kTitleChannels = 2;
// The DVD's rate, for the silence of a clip without sound.
constexpr int kSilenceSampleRate = 48000;

// Sound waiting for the direct writer until the picture stream reaches its time.
struct AudioPacket {
    int64_t StartTime = 0;  // 100-ns units, as the graph stamped it (0 when unstamped)
    std::vector<int16_t> Samples;  // interleaved, in the title's channels
};

// frames of interleaved sound with `channels` as the title's two: a mono source plays on both.
std::vector<int16_t> ToTitleChannels(const int16_t* samples, int64_t frames, long channels);

class TitleSound {
public:
    // Takes `count` interleaved 16-bit values of the title's channels; false when it failed.
    using Output = std::function<bool(const int16_t* samples, int count)>;

    // A new clip whose sound runs at sampleRate sample frames a second goes to `output`.
    void BeginClip(int sampleRate, Output output);
    // Sample frames of the clip's sound that `seconds` hold.
    int64_t Frames(double seconds) const;
    // Of a block of `frames` sample frames from the reader, those the clip takes: on a road
    // that runs on past the range (rangeSeconds > 0), the reader's sound comes without gaps
    // from the range's start, so the range ends after as many sample frames as it lasts.
    int64_t Receive(int64_t frames, double rangeSeconds);
    // Sample frames the reader gave the clip.
    int64_t FramesReceived() const { return framesReceived_; }
    // Sample frames handed to the output.
    int64_t FramesWritten() const { return framesWritten_; }

    // Hands sound to the output; false when it failed.
    bool Write(const int16_t* samples, int64_t frames);
    // Silence until the clip's sound holds `frames` sample frames; false when writing failed.
    bool FillTo(int64_t frames);

    // Direct road: the sound waits until the pictures reach its time (any thread).
    void Queue(AudioPacket packet);
    // Writes the queued sound that starts by upToTime, at most up to `limit` sample frames of
    // the clip's sound in all.
    void Drain(int64_t upToTime, int64_t limit = INT64_MAX);
    void DiscardQueue();

    // The clip's end: the sound its pictures cover may still wait in the queue (the sound
    // thread can trail the pictures), up to the pictures' length; what lies beyond them has no
    // pictures to go with and is dropped. Sound that ends early (or a clip without any) is made
    // up with silence. False when writing failed.
    bool EndWithPictures(double picturesSeconds, int64_t lastPictureEnd);

private:
    Output output_;
    int sampleRate_ = kSilenceSampleRate;
    int64_t framesReceived_ = 0;  // taken from the reader (its thread)
    int64_t framesWritten_ = 0;   // handed to the output

    platform::CriticalSection queueLock_;
    std::deque<AudioPacket> queue_;
};

}  // namespace driver
