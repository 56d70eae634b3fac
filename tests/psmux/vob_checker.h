// A byte-level reader of the multiplexer's DVD program streams, written from the MPEG-2
// systems and DVD layouts, that collects every rule a sector breaks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace psmux_test {

struct PesPacketInfo {
    int sector = 0;
    int streamId = 0;
    int substreamId = -1;   // private stream 1 only
    bool hasPts = false;
    bool hasDts = false;
    int64_t pts = 0;        // 90 kHz
    int64_t dts = 0;
    size_t payloadOffset = 0;  // offset of its payload within the stream's demuxed bytes
    size_t payloadSize = 0;
    int frameCount = -1;       // AC-3/DTS/LPCM sub-stream header fields
    int firstUnitPointer = -1;
};

struct VobReport {
    std::vector<std::string> errors;
    int sectors = 0;
    int navSectors = 0;
    std::vector<int64_t> scrs;  // 27 MHz
    std::vector<PesPacketInfo> packets;
    std::vector<uint8_t> video;   // demuxed payloads
    std::vector<uint8_t> audio;   // sub-stream headers removed
    bool Ok() const { return errors.empty(); }
    std::string Summary() const;
};

// Checks a DVD program stream: 2048-byte sectors, each with an MPEG-2 pack header at the given
// rate bound and rising SCR, packets that fill the sector (stuffing of 1 to 9 bytes inside the
// PES header, a padding packet for more), a navigation placeholder sector before every sector
// that starts an I-picture and nowhere else, and the end sector last.
VobReport CheckDvdVob(const std::vector<uint8_t>& bytes, uint32_t rateBound = 25200);

}  // namespace psmux_test
