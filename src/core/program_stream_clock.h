// Moves the clock of a finished DVD program stream file: libavformat's "dvd" muxer always
// starts its clock at 0, whatever times its packets carry.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// Adds `ticks` (90 kHz) to every pack's SCR and to the PTS and DTS of every video, MPEG audio
// and private-stream-1 packet of the file at `path`, in place; all else stays as it is. The
// file must be made of 2048-byte MPEG-2 packs. False, with the reason in `error`, when it is
// not or cannot be read or written, or when `path` is a link (never followed).
bool ShiftProgramStreamClock(const std::string& path, int64_t ticks, std::string* error);

}  // namespace core
