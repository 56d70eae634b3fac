// The time fields of MPEG program streams, in one place for everything that writes, reads or
// moves them: the 5-byte PES timestamp (PTS, DTS, and the MPEG-1 pack's SCR, which shares its
// layout) and the 6-byte SCR of the MPEG-2 pack header.
//
// Values are 33-bit counts of the 90 kHz clock and wrap modulo 2^33, as a decoder reads them;
// the MPEG-2 SCR adds a 9-bit extension of 27 MHz ticks (0-299) below its 90 kHz base.
#pragma once

#include <cstddef>
#include <cstdint>

namespace core {

constexpr size_t kTimestampFieldSize = 5;
constexpr size_t kMpeg2ScrFieldSize = 6;
constexpr int64_t kTimestampModulus = int64_t(1) << 33;
// The 27 MHz system clock (the SCR's, and the multiplexer's inside) runs this many times as fast
// as the 90 kHz clock of the timestamps and the SCR's base; the SCR's extension counts up to it.
constexpr int64_t kSystemClockTicksPerTick = 300;

// The four bits ahead of a PES timestamp. The MPEG-1 pack's SCR carries kPtsAlone too.
enum class TimestampPrefix : uint8_t { kDtsAfterPts = 0x1, kPtsAlone = 0x2, kPtsBeforeDts = 0x3 };

// Any count of 90 kHz ticks, negative ones too, as the 33-bit field holds it.
int64_t WrapTimestamp(int64_t ticks);

// PES timestamp: bits 32..30 in byte 0 bits 3-1, 29..22 in byte 1, 21..15 in byte 2 bits 7-1,
// 14..7 in byte 3, 6..0 in byte 4 bits 7-1; the low bit of bytes 0, 2 and 4 is a marker.
int64_t ReadTimestamp(const uint8_t* field);
// The whole field: prefix, the wrapped value and marker bits set.
void WriteTimestamp(uint8_t* field, int64_t ticks, TimestampPrefix prefix);
// Only the value bits; the prefix and marker bits stay as they are.
void SetTimestamp(uint8_t* field, int64_t ticks);
void ShiftTimestamp(uint8_t* field, int64_t ticks);

// MPEG-2 SCR: the bits 01, base bits 32..30 in byte 0 bits 5-3 and 29..28 in bits 1-0, 27..20
// in byte 1, 19..15 in byte 2 bits 7-3 and 14..13 in bits 1-0, 12..5 in byte 3, 4..0 in byte 4
// bits 7-3; extension bits 8..7 in byte 4 bits 1-0 and 6..0 in byte 5 bits 7-1. Bit 2 of bytes
// 0, 2 and 4 and bit 0 of byte 5 are markers.
int64_t ReadMpeg2ScrBase(const uint8_t* field);
// Base and extension as one count of 27 MHz ticks.
int64_t ReadMpeg2Scr(const uint8_t* field);
// The whole field from a count of 27 MHz ticks, with the leading bits and the markers.
void WriteMpeg2Scr(uint8_t* field, int64_t systemClockTicks);
// Only the base bits; the extension, the leading bits and the markers stay as they are.
void SetMpeg2ScrBase(uint8_t* field, int64_t ticks);
void ShiftMpeg2ScrBase(uint8_t* field, int64_t ticks);

}  // namespace core
