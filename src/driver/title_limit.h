// How long the one title of a disc may play. The authoring engine counts a title's playing
// time, and every time stamp of its VOBs, in signed 32 bits of 90 kHz ticks: about 6.6 hours.
#pragma once

#include <cstdint>

namespace driver {

inline constexpr int64_t kTitleClockRate = 90000;  // ticks per second
inline constexpr int64_t kEngineClockTicks = INT32_MAX;
// A clip may run a little past its range (its last picture, the sound that goes with it); this
// much of the engine's count is kept free for that.
inline constexpr int64_t kTitleOverrunTicks = 60 * kTitleClockRate;
// The longest title the job makes. Start refuses a list whose ranges pass it; a title whose
// clips still pass it (a clip whose length was not known at Start) starts its clock again at 0
// rather than wrapping the engine's count.
inline constexpr int64_t kTitleClockLimit = kEngineClockTicks - kTitleOverrunTicks;

}  // namespace driver
