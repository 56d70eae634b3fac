#include "core/encoder_dvd_video.h"

#include <algorithm>

#include "core/log.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace core {

namespace {

// Small pictures at low rates get a coarser floor so that rate control keeps headroom.
// The comparisons are strict on purpose: 352 x 240 is the smallest frame that counts.
bool NeedsCoarserFloor(int width, int height, int64_t rate) {
    return (width > 700 && height > 479 && rate < 2'900'000) ||
           ((width > 700 || height > 479) && rate < 1'700'000) ||
           (width > 351 && height > 239 && rate < 900'000);
}

// Each 2048-byte pack spends 14 bytes on its header and 9 on its PES header; a video pack
// that starts a picture adds 10 bytes of time stamps, a sound pack 5 and its 4-byte sub-stream
// header.
constexpr int kPackBytes = 2048;
constexpr int kVideoPayloadPerPack = kPackBytes - 14 - 9 - 10;
constexpr int kSoundPayloadPerPack = kPackBytes - 14 - 9 - 5 - 4;
// Packs the multiplexers leave part empty (the last one before each navigation pack, sound
// packs cut at a frame): a share of the video's packs kept free for them.
constexpr double kPaddingShare = 0.02;

double PicturesPerSecond(const Settings& settings) {
    return settings.Standard == 0 ? 30000.0 / 1001.0 : 25.0;
}

// Upper bound of what the sound encoders make of the setting: AC-3 is held to its DVD
// ceiling, and Layer II stereo starts at 64 kbit/s.
int64_t SoundBitRateBound(const Settings& settings) {
    const int64_t wanted = static_cast<int64_t>(settings.AudioKbps) * 1000;
    return settings.AudioFormat == 0 ? std::max<int64_t>(wanted, 64'000)
                                     : std::min(wanted, kDvdMaxAc3BitRate);
}

int DvdGopSize(const Settings& settings) {
    return std::min(GopSizeForIndex(settings.GOPSizeIndex), DvdGopLimit(settings));
}

// FFmpeg refuses to open with the average above the maximum, and the multiplex carries no
// more than the ceiling; keep the user's average and move the maximum.
int64_t VariableRateMaximum(int64_t average, int64_t maximum, int64_t ceiling) {
    const int64_t adjusted = std::max(std::min(maximum, ceiling), average);
    if (adjusted != maximum)
        LogPrintf("Maximum video bit-rate %lld bit/s adjusted to %lld bit/s around %lld bit/s\n",
                  static_cast<long long>(maximum), static_cast<long long>(adjusted),
                  static_cast<long long>(average));
    return adjusted;
}

bool SetPrivate(AVCodecContext* ctx, const char* name, double value, std::string* error) {
    if (av_opt_set_double(ctx->priv_data, name, value, 0) >= 0) return true;
    if (error) *error = std::string("The video encoder has no option \"") + name + "\"";
    return false;
}

bool SetPrivate(AVCodecContext* ctx, const char* name, int64_t value, std::string* error) {
    if (av_opt_set_int(ctx->priv_data, name, value, 0) >= 0) return true;
    if (error) *error = std::string("The video encoder has no option \"") + name + "\"";
    return false;
}

}  // namespace

int DvdGopLimit(const Settings& settings) {
    return settings.Standard == 0 ? kDvdMaxGopNtsc : kDvdMaxGopPal;
}

int64_t MultiplexVideoCeiling(const Settings& settings) {
    const double packsPerSecond = kDvdMuxRate / (8.0 * kPackBytes);
    const double navigationPacks = PicturesPerSecond(settings) / DvdGopSize(settings);
    const double soundPacks = SoundBitRateBound(settings) / (8.0 * kSoundPayloadPerPack);
    const double videoPacks = (packsPerSecond - navigationPacks - soundPacks) * (1.0 - kPaddingShare);
    const auto ceiling = static_cast<int64_t>(videoPacks * kVideoPayloadPerPack * 8.0);
    return std::min(ceiling, kDvdMaxVideoBitRate);
}

AVRational SampleAspectFor4x3(int width, int height) {
    AVRational aspect{0, 1};
    if (width > 0 && height > 0)
        av_reduce(&aspect.num, &aspect.den, 4LL * height, 3LL * width, 255);
    return aspect;
}

namespace {

// The rate-control values that FFmpeg keeps as the encoder's private options.
struct PrivateRateOptions {
    int64_t lmin = kLambdaPerQuantiser;
    int64_t lmax = -1;  // -1: the encoder's own
    double aggressivity = 0.5;
};

void ApplyGopParameters(AVCodecContext* ctx, const Settings& settings) {
    const int setGop = GopSizeForIndex(settings.GOPSizeIndex);
    const int setBFrames = BFramesForIndex(settings.BFramesIndex);
    ctx->gop_size = DvdGopSize(settings);
    if (ctx->gop_size != setGop)
        LogPrintf("GOP of %d pictures lowered to the DVD limit of %d for %s\n", setGop,
                  ctx->gop_size, settings.Standard == 0 ? "NTSC" : "PAL");
    // A run of B-pictures as long as the GOP would push the I-picture past its place.
    ctx->max_b_frames = std::min(setBFrames, ctx->gop_size - 1);
    if (ctx->max_b_frames != setBFrames)
        LogPrintf("%d B-pictures in a row lowered to %d, so that a GOP of %d pictures holds them\n",
                  setBFrames, ctx->max_b_frames, ctx->gop_size);
}

void ApplyPictureParameters(AVCodecContext* ctx, const Settings& settings, VideoRoad road) {
    ctx->width = settings.OutputWidth;
    ctx->height = settings.OutputHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->sample_aspect_ratio = SampleAspectFor4x3(settings.OutputWidth, settings.OutputHeight);
    ApplyGopParameters(ctx, settings);
    // B-pictures take their anchors' quantiser (and the encoder's own offset). At twice it, a
    // fade's B-pictures lose their residual once the rate control holds the average, and show
    // their anchors' mean: half a picture's step off, 4 luma levels in a fade of 8 a picture.
    ctx->b_quant_factor = 1.0f;
    ctx->mb_decision = FF_MB_DECISION_SIMPLE;
    ctx->rc_buffer_size = kDvdVbvBufferBits;
    ctx->rc_initial_buffer_occupancy = kDvdVbvInitialOccupancy;
    ctx->qblur = 0.0f;
    ctx->max_qdiff = 5;
    ctx->i_quant_factor = 0.5f;
    ctx->intra_dc_precision = 0;
    if (road == VideoRoad::DirectWriter) ctx->flags |= AV_CODEC_FLAG_CLOSED_GOP;
}

bool ApplyRateBounds(AVCodecContext* ctx, const Settings& settings, int64_t rate,
                     PrivateRateOptions* options, std::string* error) {
    if (settings.BitrateType == 1) {
        ctx->rc_max_rate = VariableRateMaximum(
            rate, static_cast<int64_t>(settings.MaxBitrate) * 1000, MultiplexVideoCeiling(settings));
        // No minimum: given one, FFmpeg's rate control spends towards the maximum whenever the
        // decoder's buffer is more than half full, which in variable rate it nearly always is,
        // and the average ends far above the one set.
        ctx->rc_min_rate = 0;
        ctx->bit_rate_tolerance = 5 * kDvdVbvBufferBits;
        return true;
    }
    if (rate == 0) {
        if (error) *error = "A constant video bit-rate of 0 kbit/s cannot be encoded";
        return false;
    }
    ctx->rc_max_rate = ctx->rc_min_rate = rate;
    ctx->bit_rate_tolerance = 4'000'000;
    options->aggressivity = 0.3;
    return true;
}

// A tiny average rate asks for a fixed quantiser; FFmpeg does that only through its
// fixed-quality flag, so rate control is bypassed rather than fed an impossible rate.
void ApplyFixedQuantiser(AVCodecContext* ctx, int q, PrivateRateOptions* options) {
    ctx->qmin = ctx->qmax = q;
    ctx->mb_lmin = ctx->mb_lmax = q * kLambdaPerQuantiser;
    options->lmin = options->lmax = q * kLambdaPerQuantiser;
    ctx->b_quant_factor = ctx->b_quant_offset = 1.0f;
    ctx->i_quant_factor = ctx->i_quant_offset = 1.0f;
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = q * kLambdaPerQuantiser;
}

// Without it the encoder starts a GOP early whenever a run of B-pictures would cross the GOP
// length, so GOPs come out shorter than set (6 for 8 with 2 B-pictures); with it the last run
// of a GOP is cut short instead.
bool SetGopStrictly(AVCodecContext* ctx, std::string* error) {
    if (av_opt_set(ctx->priv_data, "mpv_flags", "+strict_gop", 0) >= 0) return true;
    if (error) *error = "The video encoder has no option \"mpv_flags\"";
    return false;
}

bool SetPrivateOptions(AVCodecContext* ctx, const PrivateRateOptions& options, std::string* error) {
    return SetPrivate(ctx, "lmin", options.lmin, error) &&
           (options.lmax < 0 || SetPrivate(ctx, "lmax", options.lmax, error)) &&
           SetPrivate(ctx, "rc_buf_aggressivity", options.aggressivity, error) &&
           SetPrivate(ctx, "qsquish", 1.0, error) &&
           SetPrivate(ctx, "rc_init_cplx", 500.0, error) &&
           SetPrivate(ctx, "b_strategy", int64_t{0}, error) &&
           SetPrivate(ctx, "sc_threshold", int64_t{1'000'000'000}, error) &&
           SetGopStrictly(ctx, error);
}

}  // namespace

bool ApplyDvdVideoParameters(AVCodecContext* ctx, const Settings& settings, VideoRoad road,
                             std::string* error) {
    const int64_t requested = static_cast<int64_t>(settings.Bitrate) * 1000;
    int64_t rate = requested;
    if (const int64_t ceiling = MultiplexVideoCeiling(settings); rate > ceiling) {
        LogPrintf("Video bit-rate %lld bit/s lowered to the DVD ceiling of %lld bit/s beside "
                  "%lld bit/s of sound\n",
                  static_cast<long long>(rate), static_cast<long long>(ceiling),
                  static_cast<long long>(SoundBitRateBound(settings)));
        rate = ceiling;
    }
    ApplyPictureParameters(ctx, settings, road);
    ctx->bit_rate = rate;

    PrivateRateOptions options;
    int qmin = 1;
    if (road == VideoRoad::DirectWriter) options.lmin = 1;
    if (NeedsCoarserFloor(settings.OutputWidth, settings.OutputHeight, rate)) {
        qmin = 2;
        options.lmin = 2 * kLambdaPerQuantiser;
    }
    ctx->qmin = qmin;
    ctx->mb_lmin = qmin * kLambdaPerQuantiser;
    if (!ApplyRateBounds(ctx, settings, rate, &options, error)) return false;
    if (requested <= kFixedQuantiserMaxRate && requested / 1000 != 0)
        ApplyFixedQuantiser(ctx, static_cast<int>(requested / 1000), &options);
    return SetPrivateOptions(ctx, options, error);
}

void UseSliceThreads(AVCodecContext* ctx) {
    ctx->thread_count = 0;  // one per core
    ctx->thread_type = FF_THREAD_SLICE;
}

}  // namespace core
