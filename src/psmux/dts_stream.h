// DTS audio in private stream 1 (sub-streams 0x88 + n), 16-bit big-endian core frames.
#pragma once

#include "psmux/audio_stream.h"

namespace psmux {

using DtsHeader = SubstreamFrameHeader;

// Parses the first ten bytes of a DTS core frame; false for a missing sync word, a sample
// frequency or bit rate outside the tables, or frame sizes the format does not allow.
bool ParseDtsHeader(const uint8_t* bytes, DtsHeader& out);

extern const SubstreamHeaderFormat kDtsHeaderFormat;

class DtsStream : public SubstreamAudioStream {
public:
    DtsStream(FileBitReader* reader, Multiplexor* mux);
    static bool Detect(BitReader& reader) { return SubstreamAudioStream::Detect(reader, kDtsHeaderFormat); }
};

}  // namespace psmux
