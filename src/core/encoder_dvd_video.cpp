#include "core/encoder_dvd_video.h"

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

struct RateBounds {
    int64_t average;
    int64_t minimum;
    int64_t maximum;
};

// FFmpeg refuses to open with the average outside [minimum, maximum], and DVD players refuse
// video above their ceiling; keep the user's average and move the bounds around it.
RateBounds VariableRateBounds(int64_t average, int64_t minimum, int64_t maximum) {
    RateBounds bounds{average, minimum, maximum};
    if (bounds.maximum > kDvdMaxVideoBitRate) bounds.maximum = kDvdMaxVideoBitRate;
    if (bounds.maximum < bounds.average) bounds.maximum = bounds.average;
    if (bounds.minimum > bounds.average) bounds.minimum = bounds.average;
    if (bounds.minimum != minimum || bounds.maximum != maximum)
        LogPrintf("Video rate bounds %lld..%lld bit/s adjusted to %lld..%lld around %lld bit/s\n",
                  static_cast<long long>(minimum), static_cast<long long>(maximum),
                  static_cast<long long>(bounds.minimum), static_cast<long long>(bounds.maximum),
                  static_cast<long long>(average));
    return bounds;
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

void ApplyPictureParameters(AVCodecContext* ctx, const Settings& settings, VideoRoad road) {
    ctx->width = settings.OutputWidth;
    ctx->height = settings.OutputHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->sample_aspect_ratio = SampleAspectFor4x3(settings.OutputWidth, settings.OutputHeight);
    ctx->gop_size = GopSizeForIndex(settings.GOPSizeIndex);
    ctx->max_b_frames = BFramesForIndex(settings.BFramesIndex);
    ctx->b_quant_factor = 2.0f;
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
        const RateBounds bounds =
            VariableRateBounds(rate, static_cast<int64_t>(settings.MinBitrate) * 1000,
                               static_cast<int64_t>(settings.MaxBitrate) * 1000);
        ctx->rc_max_rate = bounds.maximum;
        ctx->rc_min_rate = bounds.minimum;
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

bool SetPrivateOptions(AVCodecContext* ctx, const PrivateRateOptions& options, std::string* error) {
    return SetPrivate(ctx, "lmin", options.lmin, error) &&
           (options.lmax < 0 || SetPrivate(ctx, "lmax", options.lmax, error)) &&
           SetPrivate(ctx, "rc_buf_aggressivity", options.aggressivity, error) &&
           SetPrivate(ctx, "qsquish", 1.0, error) &&
           SetPrivate(ctx, "rc_init_cplx", 500.0, error) &&
           SetPrivate(ctx, "b_strategy", int64_t{0}, error) &&
           SetPrivate(ctx, "sc_threshold", int64_t{1'000'000'000}, error);
}

}  // namespace

bool ApplyDvdVideoParameters(AVCodecContext* ctx, const Settings& settings, VideoRoad road,
                             std::string* error) {
    const int64_t requested = static_cast<int64_t>(settings.Bitrate) * 1000;
    int64_t rate = requested;
    if (rate > kDvdMaxVideoBitRate) {
        LogPrintf("Video bit-rate %lld bit/s lowered to the DVD ceiling of %lld bit/s\n",
                  static_cast<long long>(rate), static_cast<long long>(kDvdMaxVideoBitRate));
        rate = kDvdMaxVideoBitRate;
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
