// Rewrites the PES time stamps of a transport stream in its bytes, as reception errors and
// encoders whose clock jumps leave them: the fixtures of the stamp-mending tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/program_stream_fields.h"

namespace reader_test {

constexpr size_t kTsPacket = 188;
constexpr uint8_t kVideoStreamId = 0xE0;
constexpr uint8_t kAudioStreamId = 0xC0;

// A PES header that starts in a transport packet: its stream id and its stamps (null where it
// has none).
struct PesHeader {
    uint8_t streamId = 0;
    uint8_t* pts = nullptr;
    uint8_t* dts = nullptr;
};

// Calls visit on every PES header of the audio and video streams, in the order of the file.
inline void ForEachPesHeader(std::vector<uint8_t>& ts, const std::function<void(PesHeader&)>& visit) {
    for (size_t at = 0; at + kTsPacket <= ts.size(); at += kTsPacket) {
        uint8_t* packet = ts.data() + at;
        const bool unitStart = (packet[1] & 0x40) != 0;
        const int adaptation = (packet[3] >> 4) & 3;
        if (packet[0] != 0x47 || !unitStart || !(adaptation & 1)) continue;
        size_t payload = 4 + ((adaptation & 2) ? 1 + size_t(packet[4]) : 0);
        uint8_t* pes = packet + payload;
        if (payload + 19 > kTsPacket || pes[0] != 0 || pes[1] != 0 || pes[2] != 1) continue;
        if (pes[3] != kVideoStreamId && pes[3] != kAudioStreamId) continue;
        const int flags = pes[7] >> 6;
        PesHeader header{pes[3], (flags & 2) ? pes + 9 : nullptr, flags == 3 ? pes + 14 : nullptr};
        visit(header);
    }
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

// Which stamp of a video PES a reception error hits.
enum class DamagedStamp {
    ReorderedPts,  // the PTS of a picture that carries a DTS as well (shown after it is decoded)
    Dts,           // the DTS of such a picture
    LonePts,       // the PTS of a picture that carries no DTS (a B-picture)
};

// Copies from to to with one bit flipped in one stamp of a video PES: the first of the kind
// asked for from the `first`-th video PES on. False when there is none.
inline bool FlipStampBit(const std::string& from, const std::string& to, int first, int bit,
                         DamagedStamp which) {
    std::vector<uint8_t> ts = ReadBytes(from);
    int index = 0;
    bool flipped = false;
    ForEachPesHeader(ts, [&](PesHeader& pes) {
        if (pes.streamId != kVideoStreamId || flipped || index++ < first) return;
        uint8_t* field = which == DamagedStamp::Dts ? pes.dts : pes.pts;
        const bool lone = pes.dts == nullptr;
        if (field == nullptr || lone != (which == DamagedStamp::LonePts)) return;
        core::SetTimestamp(field, core::ReadTimestamp(field) ^ (int64_t(1) << bit));
        flipped = true;
    });
    return flipped && WriteBytes(to, ts);
}

// Copies from to to with the clock of every stream stepping by `step` seconds at `at` on the
// file's own clock: every stamp from there on, presentation and decoding stamps each by its own
// value, as an encoder stamps the pictures of one continuous encode whose clock jumps.
inline bool StepClockAt(const std::string& from, const std::string& to, double at, double step) {
    std::vector<uint8_t> ts = ReadBytes(from);
    const int64_t threshold = int64_t(at * 90000);
    const int64_t ticks = int64_t(step * 90000);
    ForEachPesHeader(ts, [&](PesHeader& pes) {
        for (uint8_t* field : {pes.pts, pes.dts}) {
            if (field == nullptr) continue;
            if (core::ReadTimestamp(field) >= threshold) core::ShiftTimestamp(field, ticks);
        }
    });
    return !ts.empty() && WriteBytes(to, ts);
}

}  // namespace reader_test
