#include "driver/title_sound.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "reader/clip_record.h"

namespace driver {

namespace {

constexpr int64_t kSilenceChunkFrames = 4800;

}  // namespace

std::vector<int16_t> ToTitleChannels(const int16_t* samples, int64_t frames, long channels) {
    std::vector<int16_t> title(size_t(frames) * kTitleChannels);
    for (int64_t i = 0; i < frames; ++i) {
        title[size_t(2 * i)] = samples[i * channels];
        title[size_t(2 * i + 1)] = samples[i * channels + channels - 1];
    }
    return title;
}

void TitleSound::BeginClip(int sampleRate, Output output) {
    output_ = std::move(output);
    sampleRate_ = sampleRate;
    framesReceived_ = 0;
    framesWritten_ = 0;
}

int64_t TitleSound::Frames(double seconds) const {
    return reader::TruncateToInt64(std::round(seconds * sampleRate_));
}

int64_t TitleSound::Receive(int64_t frames, double rangeSeconds) {
    if (rangeSeconds > 0.0) frames = std::min(frames, Frames(rangeSeconds) - framesReceived_);
    if (frames <= 0) return 0;
    framesReceived_ += frames;
    return frames;
}

bool TitleSound::Write(const int16_t* samples, int64_t frames) {
    const bool written = output_ && output_(samples, int(frames * kTitleChannels));
    if (written) framesWritten_ += frames;
    return written;
}

bool TitleSound::FillTo(int64_t frames) {
    static const std::vector<int16_t> silence(size_t(kSilenceChunkFrames) * kTitleChannels, 0);
    while (framesWritten_ < frames) {
        if (!Write(silence.data(), std::min(frames - framesWritten_, kSilenceChunkFrames))) {
            return false;
        }
    }
    return true;
}

void TitleSound::Queue(AudioPacket packet) {
    platform::AutoLock lock(queueLock_);
    queue_.push_back(std::move(packet));
}

void TitleSound::Drain(int64_t upToTime, int64_t limit) {
    platform::AutoLock lock(queueLock_);
    while (!queue_.empty() && queue_.front().StartTime <= upToTime && framesWritten_ < limit) {
        const AudioPacket& packet = queue_.front();
        const int64_t frames = std::min<int64_t>(int64_t(packet.Samples.size()) / kTitleChannels,
                                                 limit - framesWritten_);
        Write(packet.Samples.data(), frames);
        queue_.pop_front();
    }
}

void TitleSound::DiscardQueue() {
    platform::AutoLock lock(queueLock_);
    queue_.clear();
}

bool TitleSound::EndWithPictures(double picturesSeconds, int64_t lastPictureEnd) {
    const int64_t frames = Frames(picturesSeconds);
    Drain(lastPictureEnd - 1, frames);
    return FillTo(frames);
}

}  // namespace driver
