// Replays the program-stream decoder model over a multiplexed file, independently of the
// multiplexer's own model: each byte arrives at the time its pack's SCR and declared mux rate
// give it, the decoder buffers have the sizes the system headers announce, and every access
// unit (found by ffprobe, or cut from the LPCM header) leaves its buffer at its decode time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace psmux_test {

struct DecoderModelReport {
    std::vector<std::string> errors;
    int packs = 0;
    int units = 0;
    int lateUnits = 0;
    double worstLateMs = 0;         // of the last byte of a unit after its decode time
    double worstFullness = 0;       // largest share of a buffer in use (1.0 = full)
    bool Ok() const { return errors.empty(); }
    std::string Summary() const;
};

// Fails on a buffer that overflows, a unit none of whose bytes are there at its decode time
// (underflow), a unit whose last byte arrives after it (late), a pack whose bytes would need
// a faster rate than its header declares, and a system header that does not follow a pack
// header.
DecoderModelReport ReplayDecoderModel(const std::string& path);

}  // namespace psmux_test
