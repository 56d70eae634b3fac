// LPCM audio from a WAV file, in private stream 1 (sub-streams 0xA0 + n).
#pragma once

#include <vector>

#include "psmux/audio_stream.h"
#include "psmux/mux_job.h"

namespace psmux {

// Where a WAV file's samples lie and how they are coded.
struct WavFormat {
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;    // significant bits: 16, 20 or 24
    int containerBytes = 0;   // bytes per sample in the file: 2 or 3
    uint64_t dataOffset = 0;
    uint64_t dataSize = 0;
};

// Walks the RIFF chunks up to the data chunk; false when the file is no PCM WAV file.
bool ReadWavHeader(BitReader& reader, uint64_t fileSize, WavFormat& out);

class LpcmStream : public AudioStream {
public:
    // `requested` holds the parameters given on the command line, or none: the WAV header
    // decides, and a run whose request disagrees with it is refused.
    LpcmStream(FileBitReader* reader, Multiplexor* mux, const LpcmParams* requested);
    static bool Detect(const std::string& fileName);
    bool Open(int n) override;
    size_t ReadPayload(uint8_t* buffer, size_t maximum) override;
    int SubstreamHeaderSize() const override { return 7; }
    uint32_t BitRate() const override;
    // True when Open failed because the command line asked for other parameters than the
    // WAV file holds.
    bool RequestMismatch() const { return requestMismatch_; }
    // True when Open failed because the file holds 20- or 24-bit samples of more than two
    // channels, whose sample order in a DVD packet this stream does not know.
    bool LayoutUnsupported() const { return layoutUnsupported_; }

protected:
    bool ReadFrameHeader(AudioFrame& frame) override;
    size_t UsableAudioBytes(size_t space) const override;
    size_t PacketBytesOf(size_t fileBytes) const override;

private:
    // Reorders `length` bytes of WAV samples (little-endian, whole groups) into the DVD's
    // big-endian sample groups at `out`; answers the packed length, shorter for 20 bits.
    size_t PackSamples(const uint8_t* in, size_t length, uint8_t* out) const;
    // Bytes of one group of two sample frames in the file and in a packet.
    size_t GroupBytes() const;
    size_t PackedGroupBytes() const;

    const LpcmParams* requested_;
    WavFormat wav_;
    size_t bytesPerFrame_ = 0;  // one sample of every channel
    bool requestMismatch_ = false;
    bool layoutUnsupported_ = false;
    std::vector<uint8_t> fileBytes_;  // one packet's samples as the file holds them
};

}  // namespace psmux
