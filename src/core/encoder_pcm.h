// Interleaved 16-bit PCM at the source rate into whole codec frames at 48 kHz.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/encoder_packets.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

struct SwrContext;
struct AVAudioFifo;

namespace core {

// Converts to the opened encoder's sample format, rate and channel layout (mp2 takes 16-bit
// interleaved frames of 1152 samples, ac3 float planar frames of 1536) and sends every whole
// frame, stamped with its first sample's index in the encoder's 1/48000 time base.
class PcmFramer {
public:
    PcmFramer() = default;
    PcmFramer(const PcmFramer&) = delete;
    PcmFramer& operator=(const PcmFramer&) = delete;
    ~PcmFramer();

    // encoder is opened and outlives the framer; the input is interleaved signed 16-bit.
    bool Open(AVCodecContext* encoder, int sourceChannels, int sourceRate, std::string* error);

    // count interleaved values; a sample split across two calls is joined.
    bool Push(const int16_t* samples, int count, const PacketHandler& handler, std::string* error);

    // Sends what is left padded with silence to a whole frame, then drains the encoder. No
    // frame goes out that would end after `endLimit` samples (counted from the first, at the
    // encoder's rate): the sound that would still play then is left out.
    bool Finish(const PacketHandler& handler, std::string* error, int64_t endLimit = INT64_MAX);

private:
    void Release();
    bool Convert(const int16_t* samples, int sampleCount, std::string* error);
    bool SendFrame(int validSamples, const PacketHandler& handler, std::string* error);

    AVCodecContext* encoder_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    int sourceChannels_ = 0;
    int64_t nextPts_ = 0;
    std::vector<int16_t> splitSample_;  // values of a sample whose rest is still to come
    uint8_t** converted_ = nullptr;
    int convertedCapacity_ = 0;  // samples per channel
};

}  // namespace core
