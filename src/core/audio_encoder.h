// MPEG-1 Layer II or AC-3 audio elementary stream from interleaved 16-bit PCM.
#pragma once

#include <cstdint>

#include "core/encoder.h"
#include "core/encoder_pcm.h"

namespace core {

class AudioEncoder : public Encoder {
public:
    // codecId is AV_CODEC_ID_MP2 or AV_CODEC_ID_AC3.
    AudioEncoder(const EncoderHost* host, AVCodecID codecId);

    // Opens the encoder at 48 kHz with the source's channel count and the settings' audio
    // rate, held to the DVD ceiling of the codec. 0 on success, 1 on failure (see Error()).
    int Open();

    // count interleaved 16-bit values at the source rate. 0 on success, 1 on failure.
    int EncodeSamples(const int16_t* samples, int count);

    // Pads the last partial frame with silence, drains the codec into the file and flushes it.
    // 0 on success, 1 on failure.
    int Finish() override;

private:
    PcmFramer framer_;
};

// The audio encoder as the job creates it: MP2 when AudioFormat is 0, AC-3 otherwise.
class JobAudioEncoder : public AudioEncoder {
public:
    explicit JobAudioEncoder(const EncoderHost* host);
};

// The bit-rate an audio codec gets for a wanted one: DVD-Video allows at most 448 kbit/s of
// AC-3 and 384 kbit/s of MP2, and Layer II allows only some rates per channel mode (one
// channel up to 192 kbit/s; two from 64 kbit/s, without 80). The nearest allowed rate at or
// below the wanted one is taken, or the lowest allowed when none is.
int64_t DvdAudioBitRate(AVCodecID codecId, int64_t wanted, int channels);

}  // namespace core
