// A display matrix written into an MP4 at test time, as a phone writes one for the pictures it
// stores on their side.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace reader_test {

// The upper-left 2x2 of a display matrix in whole units, each -1, 0 or 1: a stored point
// (p, q) is shown at (p a + q c, p b + q d), moved back into the frame.
struct DisplayTurn {
    int a = 1, b = 0, c = 0, d = 1;
};

// Writes the turn into the header of an MP4's first track, which must be its video, as a phone
// does for pictures it stores on their side (FFmpeg 5.1's tools write only plain rotations, no
// mirrors). The translation stays 0, as FFmpeg's own muxer leaves it. False when the file holds
// no track header.
inline bool SetDisplayTurn(const std::string& path, DisplayTurn turn) {
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const size_t type = bytes.find("tkhd");
    if (type == std::string::npos) return false;
    // After the box type: version and flags, then times, track id and duration (32 or 64
    // bits by version), 8 reserved bytes, layer, group, volume and 2 reserved bytes.
    constexpr size_t kTimesVersion0 = 20, kTimesVersion1 = 32, kBeforeMatrix = 16;
    const size_t matrix = type + 8 + (bytes[type + 4] == 1 ? kTimesVersion1 : kTimesVersion0) + kBeforeMatrix;
    constexpr int32_t kOne = 1 << 16;      // 1.0 in the 16.16 entries
    constexpr int32_t kOneW = 1 << 30;     // 1.0 in the 2.30 corner
    const int32_t values[9] = {turn.a * kOne, turn.b * kOne, 0, turn.c * kOne, turn.d * kOne, 0, 0, 0, kOneW};
    if (matrix + sizeof values > bytes.size()) return false;
    for (int i = 0; i < 9; ++i) {  // big-endian, as every MP4 number
        for (int k = 0; k < 4; ++k) bytes[matrix + 4 * i + k] = char(uint32_t(values[i]) >> (24 - 8 * k));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out);
}

}  // namespace reader_test
