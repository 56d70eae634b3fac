#include "core/program_stream_clock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/new_file.h"
#include "core/program_stream_fields.h"

namespace core {

namespace {

constexpr size_t kPackSize = 2048;
constexpr size_t kPacksPerBlock = 256;  // read and written back half a megabyte at a time

// MPEG-2 pack header: start code, 6 bytes of SCR, mux rate, and a stuffing length in the low
// bits of byte 13.
constexpr uint8_t kPackStartCode[4] = {0x00, 0x00, 0x01, 0xBA};
constexpr size_t kScrAt = 4;
constexpr uint8_t kMpeg2PackBits = 0x40;  // the SCR field starts with the bits 01
constexpr uint8_t kMpeg2PackMask = 0xC0;
constexpr size_t kPackStuffingAt = 13;
constexpr uint8_t kPackStuffingMask = 0x07;
constexpr size_t kPackHeaderSize = 14;

// PES packet: start code prefix, stream id, 16-bit length; the MPEG-2 header's flags byte
// tells whether a PTS and a DTS follow its header-data length byte.
constexpr size_t kStreamIdAt = 3;
constexpr size_t kPacketLengthAt = 4;
constexpr size_t kPacketHeaderSize = 6;
constexpr size_t kTimestampFlagsAt = 7;
constexpr size_t kPtsAt = 9;
constexpr size_t kDtsAt = 14;
constexpr uint8_t kPtsFlag = 0x80;
constexpr uint8_t kDtsFlag = 0x40;
constexpr uint8_t kProgramEndId = 0xB9;
constexpr uint8_t kPrivateStream1 = 0xBD;
constexpr uint8_t kFirstAudioId = 0xC0;  // MPEG audio 0xC0-0xDF, video 0xE0-0xEF
constexpr uint8_t kLastVideoId = 0xEF;

uint32_t Be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

bool IsTimedStream(uint8_t id) { return id == kPrivateStream1 || (id >= kFirstAudioId && id <= kLastVideoId); }

bool IsMpeg2Pack(const uint8_t* pack) {
    return std::memcmp(pack, kPackStartCode, sizeof kPackStartCode) == 0 &&
           (pack[kScrAt] & kMpeg2PackMask) == kMpeg2PackBits;
}

// Shifts the timestamps of the packets in one pack; false when the pack is not an MPEG-2 pack.
bool ShiftPack(uint8_t* pack, int64_t ticks) {
    if (!IsMpeg2Pack(pack)) return false;
    ShiftMpeg2ScrBase(pack + kScrAt, ticks);
    size_t at = kPackHeaderSize + (pack[kPackStuffingAt] & kPackStuffingMask);
    while (at + kPacketHeaderSize <= kPackSize && pack[at] == 0 && pack[at + 1] == 0 && pack[at + 2] == 1) {
        const uint8_t id = pack[at + kStreamIdAt];
        if (id == kProgramEndId) break;
        const size_t end = at + kPacketHeaderSize + Be16(pack + at + kPacketLengthAt);
        if (IsTimedStream(id) && at + kDtsAt + kTimestampFieldSize <= kPackSize) {
            const uint8_t flags = pack[at + kTimestampFlagsAt];
            if (flags & kPtsFlag) ShiftTimestamp(pack + at + kPtsAt, ticks);
            if (flags & kDtsFlag) ShiftTimestamp(pack + at + kDtsAt, ticks);
        }
        at = end;
    }
    return true;
}

// Shifts `size` bytes of whole packs; false at the first that is no MPEG-2 pack.
bool ShiftPacks(uint8_t* packs, size_t size, int64_t ticks) {
    for (size_t at = 0; at < size; at += kPackSize)
        if (!ShiftPack(packs + at, ticks)) return false;
    return true;
}

// Answers why the file could not be shifted, or nothing when it was.
std::string ShiftOpenFile(int file, const std::string& path, int64_t ticks) {
    std::vector<uint8_t> block(kPackSize * kPacksPerBlock);
    for (off_t position = 0;;) {
        const ssize_t got = ::pread(file, block.data(), block.size(), position);
        if (got < 0) return FileFailure("Cannot read", path);
        if (got == 0) return {};
        if (size_t(got) % kPackSize != 0) return path + " does not end on a whole pack";
        if (!ShiftPacks(block.data(), size_t(got), ticks)) return path + " holds a sector that is no MPEG-2 pack";
        const ssize_t put = ::pwrite(file, block.data(), size_t(got), position);
        if (put < 0) return FileFailure("Cannot write", path);
        if (put != got) return "Cannot write all of " + path;
        position += got;
    }
}

}  // namespace

bool ShiftProgramStreamClock(const std::string& path, int64_t ticks, std::string* error) {
    // The job only ever shifts the file it has just written: a link put in its place is not it.
    const int file = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    std::string reason = file < 0 ? FileFailure("Cannot open", path) : ShiftOpenFile(file, path, ticks);
    if (file >= 0 && ::close(file) != 0 && reason.empty()) reason = FileFailure("Cannot write", path);
    if (!reason.empty() && error) *error = reason;
    return reason.empty();
}

}  // namespace core
