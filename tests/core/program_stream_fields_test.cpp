// The PES timestamp and MPEG-2 SCR fields against bytes laid out by hand from the standard's
// bit order, and the in-place writers against fields whose other bits are set oddly.
#include "core/program_stream_fields.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using core::TimestampPrefix;
using Timestamp = std::array<uint8_t, core::kTimestampFieldSize>;
using Scr = std::array<uint8_t, core::kMpeg2ScrFieldSize>;

constexpr int64_t kBit32 = int64_t(1) << 32;
constexpr int64_t kLargest = core::kTimestampModulus - 1;

// The bits of each field that are no part of its value: prefix and markers, and for the SCR
// the leading bits, the markers and the extension.
constexpr Timestamp kTimestampFrame = {0xF1, 0x00, 0x01, 0x00, 0x01};
constexpr Scr kScrFrame = {0xC4, 0x00, 0x04, 0x00, 0x07, 0xFF};

// The bytes' frame bits (keep) or their value bits (!keep).
template <size_t N>
std::array<uint8_t, N> Masked(const std::array<uint8_t, N>& bytes, const std::array<uint8_t, N>& mask, bool keep) {
    std::array<uint8_t, N> out{};
    for (size_t i = 0; i < N; ++i) out[i] = static_cast<uint8_t>(bytes[i] & (keep ? mask[i] : ~mask[i]));
    return out;
}

const struct TimestampCase {
    int64_t ticks;
    TimestampPrefix prefix;
    Timestamp bytes;
    int64_t readBack;
} kTimestampCases[] = {
    {0, TimestampPrefix::kPtsAlone, {0x21, 0x00, 0x01, 0x00, 0x01}, 0},
    {1, TimestampPrefix::kPtsAlone, {0x21, 0x00, 0x01, 0x00, 0x03}, 1},
    {90000, TimestampPrefix::kPtsBeforeDts, {0x31, 0x00, 0x05, 0xBF, 0x21}, 90000},
    {0x123456789, TimestampPrefix::kPtsBeforeDts, {0x39, 0x8D, 0x15, 0xCF, 0x13}, 0x123456789},
    {kBit32, TimestampPrefix::kPtsAlone, {0x29, 0x00, 0x01, 0x00, 0x01}, kBit32},
    {kLargest, TimestampPrefix::kDtsAfterPts, {0x1F, 0xFF, 0xFF, 0xFF, 0xFF}, kLargest},
    {-1, TimestampPrefix::kPtsAlone, {0x2F, 0xFF, 0xFF, 0xFF, 0xFF}, kLargest},
    {core::kTimestampModulus + 5, TimestampPrefix::kPtsAlone, {0x21, 0x00, 0x01, 0x00, 0x0B}, 5},
};

TEST(TimestampField, WritesTheStandardLayoutAndReadsItBack) {
    for (const TimestampCase& c : kTimestampCases) {
        Timestamp field{};
        core::WriteTimestamp(field.data(), c.ticks, c.prefix);
        EXPECT_EQ(field, c.bytes) << c.ticks;
        EXPECT_EQ(core::ReadTimestamp(c.bytes.data()), c.readBack) << c.ticks;
    }
}

// Setting the value leaves the prefix and every marker bit as it found them, whatever they
// were, and changes every value bit.
TEST(TimestampField, SettingTheValueKeepsPrefixAndMarkers) {
    for (const Timestamp& before : {Timestamp{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Timestamp{0x30, 0x5A, 0x00, 0xA5, 0x00}}) {
        for (const TimestampCase& c : kTimestampCases) {
            Timestamp field = before;
            core::SetTimestamp(field.data(), c.ticks);
            EXPECT_EQ(Masked(field, kTimestampFrame, true), Masked(before, kTimestampFrame, true)) << c.ticks;
            EXPECT_EQ(Masked(field, kTimestampFrame, false), Masked(c.bytes, kTimestampFrame, false)) << c.ticks;
            EXPECT_EQ(core::ReadTimestamp(field.data()), c.readBack) << c.ticks;
        }
    }
}

const struct ShiftCase {
    int64_t from;
    int64_t ticks;
    int64_t to;
} kShiftCases[] = {
    {90000, -90000, 0},
    {0, -1, kLargest},                     // before the clock's start: the field wraps
    {kLargest, 1, 0},
    {kBit32 - 1, 1, kBit32},               // the carry into bit 32 is kept
    {kBit32 + 1000, -kBit32, 1000},
    {1000, core::kTimestampModulus, 1000},
    {kLargest - 99, 200, 100},
};

TEST(TimestampField, ShiftWrapsAtThirtyThreeBitsAndKeepsTheFrame) {
    for (const ShiftCase& c : kShiftCases) {
        Timestamp field{};
        core::WriteTimestamp(field.data(), c.from, TimestampPrefix::kPtsBeforeDts);
        core::ShiftTimestamp(field.data(), c.ticks);
        EXPECT_EQ(core::ReadTimestamp(field.data()), c.to) << c.from << " + " << c.ticks;
        EXPECT_EQ(Masked(field, kTimestampFrame, true), (Timestamp{0x31, 0x00, 0x01, 0x00, 0x01})) << c.from;
    }
}

const struct ScrCase {
    int64_t systemClock;  // 27 MHz
    Scr bytes;
} kScrCases[] = {
    {0, {0x44, 0x00, 0x04, 0x00, 0x04, 0x01}},
    {299, {0x44, 0x00, 0x04, 0x00, 0x06, 0x57}},
    {27000000LL * 3600 + 150, {0x45, 0x34, 0xFE, 0xC8, 0x05, 0x2D}},
    {0x123456789LL * 300 + 123, {0x66, 0x34, 0x57, 0x3C, 0x4C, 0xF7}},
    {kBit32 * 300, {0x64, 0x00, 0x04, 0x00, 0x04, 0x01}},
    {kLargest * 300 + 299, {0x7F, 0xFF, 0xFF, 0xFF, 0xFE, 0x57}},
};

TEST(Mpeg2ScrField, WritesTheStandardLayoutAndReadsItBack) {
    for (const ScrCase& c : kScrCases) {
        Scr field{};
        core::WriteMpeg2Scr(field.data(), c.systemClock);
        EXPECT_EQ(field, c.bytes) << c.systemClock;
        EXPECT_EQ(core::ReadMpeg2Scr(c.bytes.data()), c.systemClock);
        EXPECT_EQ(core::ReadMpeg2ScrBase(c.bytes.data()), c.systemClock / 300);
    }
}

// The clock base alone moves: the leading bits, the markers and the 27 MHz extension stay.
TEST(Mpeg2ScrField, SettingTheBaseKeepsExtensionAndMarkers) {
    for (const Scr& before : {Scr{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Scr{0x40, 0xA5, 0x00, 0x5A, 0x02, 0x2C}}) {
        for (const ScrCase& c : kScrCases) {
            Scr field = before;
            core::SetMpeg2ScrBase(field.data(), c.systemClock / 300);
            EXPECT_EQ(Masked(field, kScrFrame, true), Masked(before, kScrFrame, true)) << c.systemClock;
            EXPECT_EQ(Masked(field, kScrFrame, false), Masked(c.bytes, kScrFrame, false)) << c.systemClock;
        }
    }
}

TEST(Mpeg2ScrField, ShiftWrapsAtThirtyThreeBitsAndKeepsTheExtension) {
    for (const ShiftCase& c : kShiftCases) {
        Scr field{};
        core::WriteMpeg2Scr(field.data(), c.from * 300 + 299);
        core::ShiftMpeg2ScrBase(field.data(), c.ticks);
        EXPECT_EQ(core::ReadMpeg2ScrBase(field.data()), c.to) << c.from << " + " << c.ticks;
        EXPECT_EQ(core::ReadMpeg2Scr(field.data()) % 300, 299) << c.from;
        EXPECT_EQ(field[0] & 0xC4, 0x44) << c.from;
    }
}

}  // namespace
