// The MPEG-2 parameter set both roads give the video encoder, and the DVD-Video limits.
#pragma once

#include <cstdint>
#include <string>

#include "core/settings.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace core {

// What DVD-Video players accept; the settings may ask for more.
constexpr int64_t kDvdMaxVideoBitRate = 9'800'000;  // bit/s
constexpr int64_t kDvdMaxAc3BitRate = 448'000;
constexpr int kDvdAudioSampleRate = 48'000;
constexpr int kDvdMaxGopNtsc = 18;  // pictures
constexpr int kDvdMaxGopPal = 15;
// The longest GOP the settings' standard allows; longer settings are shortened to it.
int DvdGopLimit(const Settings& settings);

// The program stream's rate, which video, sound and their packing share.
constexpr int64_t kDvdMuxRate = 10'080'000;  // bit/s

// The highest video rate that still fits the multiplex beside the settings' sound, one
// navigation pack per GOP and the headers of every pack.
int64_t MultiplexVideoCeiling(const Settings& settings);

// Video buffer of the DVD decoder model, and how full it starts.
constexpr int kDvdVbvBufferBits = 1'835'008;  // 224 KiB
constexpr int kDvdVbvInitialOccupancy = kDvdVbvBufferBits / 4 * 3;

// One quantiser step in the encoder's lambda units.
constexpr int kLambdaPerQuantiser = FF_QP2LAMBDA;  // 118

// Average rates of up to this many bit/s mean "a fixed quantiser of rate / 1000".
constexpr int64_t kFixedQuantiserMaxRate = 31'000;

// The elementary-stream road and the direct writer differ in their lowest lambda and in
// closing every GOP (the muxer cuts the stream there).
enum class VideoRoad { ElementaryStream, DirectWriter };

// The sample aspect that makes a W x H frame display at 4:3 (8:9 at 720 x 480, 16:15 at
// 720 x 576, ...). The encoders always signal 4:3; the AspectRatio setting is kept but not
// applied.
AVRational SampleAspectFor4x3(int width, int height);

// Writes the DVD parameter set into ctx, which must have been allocated for the mpeg2video
// encoder so that its private options exist. Sets the frame size and the rate control; the
// frame rate is the caller's. Adjustments to the settings (rates above what the multiplex
// carries, GOPs longer than the standard allows, more B-pictures than a GOP holds) are
// logged; the settings themselves are not changed. Every GOP but a clip's last has exactly
// the GOP length. Returns false with a reason in *error when an option cannot be set.
bool ApplyDvdVideoParameters(AVCodecContext* ctx, const Settings& settings, VideoRoad road,
                             std::string* error);

// Slice threads where they help: same stream syntax, more pictures per second.
void UseSliceThreads(AVCodecContext* ctx);

}  // namespace core
