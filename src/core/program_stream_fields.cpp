#include "core/program_stream_fields.h"

namespace core {

namespace {

constexpr uint8_t kMarkerBit = 0x01;
constexpr int kPrefixShift = 4;
constexpr uint8_t kTimestampFirstByteKept = 0xF1;  // prefix and marker
constexpr uint8_t kMpeg2ScrLeadingBits = 0x40;     // '01' ahead of the base
constexpr uint8_t kMpeg2ScrMarker = 0x04;
constexpr uint8_t kMpeg2ScrFirstByteKept = 0xC4;   // leading bits and marker
constexpr uint8_t kMpeg2ScrLastBaseByteKept = 0x07;  // marker and extension bits 8..7
constexpr uint64_t kScrExtensionMask = 0x1FF;

}  // namespace

int64_t WrapTimestamp(int64_t ticks) { return int64_t(uint64_t(ticks) & uint64_t(kTimestampModulus - 1)); }

int64_t ReadTimestamp(const uint8_t* p) {
    return int64_t((p[0] >> 1) & 0x07) << 30 | int64_t(p[1]) << 22 | int64_t(p[2] >> 1) << 15 |
           int64_t(p[3]) << 7 | int64_t(p[4] >> 1);
}

void SetTimestamp(uint8_t* p, int64_t ticks) {
    const uint64_t v = uint64_t(WrapTimestamp(ticks));
    p[0] = uint8_t((p[0] & kTimestampFirstByteKept) | ((v >> 29) & 0x0E));
    p[1] = uint8_t(v >> 22);
    p[2] = uint8_t((p[2] & kMarkerBit) | ((v >> 14) & 0xFE));
    p[3] = uint8_t(v >> 7);
    p[4] = uint8_t((p[4] & kMarkerBit) | ((v << 1) & 0xFE));
}

void WriteTimestamp(uint8_t* p, int64_t ticks, TimestampPrefix prefix) {
    p[0] = uint8_t(uint8_t(prefix) << kPrefixShift | kMarkerBit);
    p[2] = kMarkerBit;
    p[4] = kMarkerBit;
    SetTimestamp(p, ticks);
}

void ShiftTimestamp(uint8_t* p, int64_t ticks) { SetTimestamp(p, ReadTimestamp(p) + ticks); }

int64_t ReadMpeg2ScrBase(const uint8_t* p) {
    return int64_t((p[0] >> 3) & 0x07) << 30 | int64_t(p[0] & 0x03) << 28 | int64_t(p[1]) << 20 |
           int64_t(p[2] >> 3) << 15 | int64_t(p[2] & 0x03) << 13 | int64_t(p[3]) << 5 | int64_t(p[4] >> 3);
}

int64_t ReadMpeg2Scr(const uint8_t* p) {
    const int64_t extension = int64_t(p[4] & 0x03) << 7 | int64_t(p[5] >> 1);
    return ReadMpeg2ScrBase(p) * kSystemClockTicksPerTick + extension;
}

void SetMpeg2ScrBase(uint8_t* p, int64_t ticks) {
    const uint64_t v = uint64_t(WrapTimestamp(ticks));
    p[0] = uint8_t((p[0] & kMpeg2ScrFirstByteKept) | ((v >> 27) & 0x38) | ((v >> 28) & 0x03));
    p[1] = uint8_t(v >> 20);
    p[2] = uint8_t((p[2] & kMpeg2ScrMarker) | ((v >> 12) & 0xF8) | ((v >> 13) & 0x03));
    p[3] = uint8_t(v >> 5);
    p[4] = uint8_t((p[4] & kMpeg2ScrLastBaseByteKept) | ((v << 3) & 0xF8));
}

void WriteMpeg2Scr(uint8_t* p, int64_t systemClockTicks) {
    const uint64_t extension = uint64_t(systemClockTicks % kSystemClockTicksPerTick) & kScrExtensionMask;
    p[0] = kMpeg2ScrLeadingBits | kMpeg2ScrMarker;
    p[2] = kMpeg2ScrMarker;
    p[4] = uint8_t(kMpeg2ScrMarker | (extension >> 7));
    p[5] = uint8_t((extension << 1 & 0xFE) | kMarkerBit);
    SetMpeg2ScrBase(p, systemClockTicks / kSystemClockTicksPerTick);
}

void ShiftMpeg2ScrBase(uint8_t* p, int64_t ticks) { SetMpeg2ScrBase(p, ReadMpeg2ScrBase(p) + ticks); }

}  // namespace core
