// Big-endian stores for the byte layouts of packs, PES headers and sub-stream headers.
#pragma once

#include <cstdint>

namespace psmux {

inline void PutBe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint32_t GetBe16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

inline uint32_t GetBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

inline uint32_t GetLe16(const uint8_t* p) { return static_cast<uint32_t>(p[1]) << 8 | p[0]; }

inline uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[1]) << 8 | p[0];
}

// MPEG start-code values shared by the scanners and the sector writer.
constexpr uint32_t kStartCodePrefix = 0x000001;
constexpr uint32_t kPictureStartCode = 0x100;
constexpr uint32_t kSequenceHeaderCode = 0x1B3;
constexpr uint32_t kExtensionStartCode = 0x1B5;
constexpr uint32_t kSequenceEndCode = 0x1B7;
constexpr uint32_t kGroupStartCode = 0x1B8;
constexpr uint32_t kProgramEndCode = 0x1B9;
constexpr uint32_t kPackStartCode = 0x1BA;
constexpr uint32_t kSystemHeaderCode = 0x1BB;

// The 27 MHz system clock that every time inside the multiplexer is counted in.
constexpr int64_t kClock = 27000000;

}  // namespace psmux
