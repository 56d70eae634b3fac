// AC-3 audio in private stream 1 (sub-streams 0x80 + n).
#pragma once

#include "psmux/audio_stream.h"

namespace psmux {

using Ac3Header = SubstreamFrameHeader;

// Parses the first six bytes of an AC-3 frame; false for a missing sync word, reserved sample
// rate or frame-size codes, or a bit-stream id this format does not cover (E-AC-3).
bool ParseAc3Header(const uint8_t* bytes, Ac3Header& out);

extern const SubstreamHeaderFormat kAc3HeaderFormat;

class Ac3Stream : public SubstreamAudioStream {
public:
    Ac3Stream(FileBitReader* reader, Multiplexor* mux);
    static bool Detect(BitReader& reader) { return SubstreamAudioStream::Detect(reader, kAc3HeaderFormat); }
};

}  // namespace psmux
