// Decoders that turn one stream's packets into the samples the source filter delivers:
// bottom-up RGB24 pictures and 16-bit PCM at 48 kHz, stamped in 100-ns units from the seek
// position.
#pragma once

#include <functional>
#include <memory>

#include "platform/dshow/media_sample.h"

struct AVPacket;

namespace platform::dshow {

class MediaFile;

// Takes each finished sample; false means the consumer is gone and decoding should stop.
using SampleEmitter = std::function<bool(com::ComPtr<MediaSample> sample)>;

class StreamDecoder {
public:
    virtual ~StreamDecoder() = default;
    // Decodes packet (null: the stream ended, drain what is buffered). False when no more
    // samples are wanted: the stop position was passed or the emitter refused one.
    virtual bool Decode(const AVPacket* packet, const SampleEmitter& emit) = 0;
};

// The segment of media time being decoded, in 100-ns units from the file's time zero.
struct Segment {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
};

// Null when the stream's decoder cannot be opened.
std::unique_ptr<StreamDecoder> CreateVideoDecoder(const MediaFile& file, int width, int height,
                                                  Segment segment);
std::unique_ptr<StreamDecoder> CreateAudioDecoder(const MediaFile& file, int channels,
                                                  Segment segment);

constexpr int kOutputSampleRate = 48000;

}  // namespace platform::dshow
