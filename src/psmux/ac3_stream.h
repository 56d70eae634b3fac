// AC-3 audio in private stream 1 (sub-streams 0x80 + n).
#pragma once

#include "psmux/audio_stream.h"

namespace psmux {

struct Ac3Header {
    int sampleRate = 0;
    int bitRateKbps = 0;
    uint32_t frameLength = 0;  // bytes
};

// Parses the first six bytes of an AC-3 frame; false for a missing sync word, reserved sample
// rate or frame-size codes, or a bit-stream id this format does not cover (E-AC-3).
bool ParseAc3Header(const uint8_t* bytes, Ac3Header& out);

class Ac3Stream : public SubstreamAudioStream {
public:
    Ac3Stream(FileBitReader* reader, Multiplexor* mux);
    static bool Detect(BitReader& reader);
    bool Open(int n) override { return OpenSubstream(n); }

protected:
    bool ReadFrameHeader(AudioFrame& frame) override;
};

}  // namespace psmux
