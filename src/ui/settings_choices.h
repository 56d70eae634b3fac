// The rows the settings dialog offers for the frame size, the GOP length and the audio
// bit-rate. They are read from the settings' own tables (through ApplyVideoStandard) and the
// encoder's limits, so the dialog can never offer a row the job would encode differently.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// "%d x %d" for each frame size of the standard (0 NTSC, anything else PAL).
std::vector<std::string> FrameSizeChoices(uint32_t standard);
// The GOP lengths in pictures the encoder applies for the standard, from 1 (row n is
// GOPSizeIndex n): the stored table goes on past the DVD's limit, which the encoder holds to.
std::vector<int> GopSizeChoices(uint32_t standard);
// The kbit/s rates of the audio format (0 MPEG Layer 2, anything else AC-3).
std::vector<uint32_t> AudioBitrateChoices(uint32_t audioFormat);

}  // namespace ui
