// Small shared routines of the authoring engine: frame-rate tables, the playback-time encoding
// of information files, the audio track to stream slot mapping, VM instruction bytes, the
// option splitter and a directory listing.
#pragma once

#include <cstdint>
#include <memory>

namespace author {

struct VobGroup;

// 90 kHz ticks per timecode second of the group's frame-rate code (90090 for the 1001 rates).
int get_rate_denominator(const VobGroup* group);
// 90 kHz ticks per frame of the group's frame-rate code (integer quotient).
int get_frame_pts(const VobGroup* group);

// The 4-byte playback time (BCD hours, minutes, seconds, frames with the rate flag in bits 6-7
// of the frame byte), rounded to the nearest frame.
uint32_t build_time_bcd(int64_t ticks, int64_t rate_denominator);
uint32_t build_time_even(const VobGroup* group, int64_t ticks);

// The StreamPtsTable slot of the stream that feeds the audio track, or -1 when none does.
int get_audio_stream_id(const VobGroup* group, int track);

// Stores one 8-byte VM instruction.
void write8(uint8_t* buffer, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4,
            uint8_t b5, uint8_t b6, uint8_t b7);

// Splits *text at the next delimiter: returns the token (cut in place) or null when nothing is
// left. Two delimiters in a row give an empty token; a trailing delimiter gives none.
char* strsep(char** text, const char* delimiters);

// A directory listing; entries come back in the platform's order, "." and ".." included.
class DirListing;
struct DirListingCloser {
    void operator()(DirListing* listing) const;
};
using DirListingPtr = std::unique_ptr<DirListing, DirListingCloser>;

// Null (with errno set) when the directory cannot be listed; EINVAL for a null or empty name.
DirListingPtr opendir(const char* name);
// The next entry name, or null at the end (EBADF for no listing). Valid until the next call.
const char* readdir(DirListing* listing);

}  // namespace author
