// Field readers shared by the test-side program-stream parsers.
#pragma once

#include <cstdint>

#include "core/program_stream_fields.h"

namespace psmux_test {

inline uint32_t Be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

inline bool StartCode(const uint8_t* p, uint8_t code) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code; }

// A 33-bit PES timestamp (or MPEG-1 SCR) in 90 kHz units from its five bytes.
using core::ReadTimestamp;
// The MPEG-2 pack header's SCR in 27 MHz ticks from its six bytes.
using core::ReadMpeg2Scr;

}  // namespace psmux_test
