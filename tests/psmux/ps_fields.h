// Field readers shared by the test-side program-stream parsers.
#pragma once

#include <cstdint>

namespace psmux_test {

inline uint32_t Be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

inline bool StartCode(const uint8_t* p, uint8_t code) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code; }

// A 33-bit PES timestamp (or MPEG-1 SCR) in 90 kHz units from its five bytes.
inline int64_t ReadTimestamp(const uint8_t* p) {
    return (static_cast<int64_t>(p[0] >> 1) & 7) << 30 | static_cast<int64_t>(p[1]) << 22 |
           static_cast<int64_t>(p[2] >> 1) << 15 | static_cast<int64_t>(p[3]) << 7 | (p[4] >> 1);
}

// The MPEG-2 pack header's SCR in 27 MHz ticks from its six bytes.
inline int64_t ReadMpeg2Scr(const uint8_t* p) {
    const int64_t base = (static_cast<int64_t>(p[0] >> 3) & 7) << 30 | (static_cast<int64_t>(p[0]) & 3) << 28 |
                         static_cast<int64_t>(p[1]) << 20 | (static_cast<int64_t>(p[2]) >> 3) << 15 |
                         (static_cast<int64_t>(p[2]) & 3) << 13 | static_cast<int64_t>(p[3]) << 5 | (p[4] >> 3);
    const int64_t ext = (static_cast<int64_t>(p[4]) & 3) << 7 | (p[5] >> 1);
    return base * 300 + ext;
}

}  // namespace psmux_test
