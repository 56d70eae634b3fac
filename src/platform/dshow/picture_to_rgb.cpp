#include "platform/dshow/picture_to_rgb.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/dshow/types.h"

namespace platform::dshow {
namespace {

constexpr int kStandardDefinitionLines = 576;
constexpr int kUnitGain = 1 << 16;  // contrast and saturation unchanged, in 16.16

// Full horizontal chroma on the way to RGB: swscale's subsampled RGB output rounds through
// tables that leave scaled pictures about two levels dark (mid-grey 126 came out as 124).
// Pictures that keep their size take swscale's unscaled conversion where it has one (4:2:0
// and 4:2:2 at even heights), which rounds mid-grey right as well.
constexpr int kToRgbFlags = SWS_BICUBIC | SWS_FULL_CHR_H_INT;

// Sizing in YUV: what the encoder makes of the RGB is 4:2:0 again, so no chroma detail is lost
// that the disc would keep.
constexpr AVPixelFormat kSizedFormat = AV_PIX_FMT_YUV420P;
constexpr int kSizerFlags = SWS_BICUBIC;

bool HoldsRgb(int format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(format));
    return desc == nullptr || (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
}

// The matrix the YUV values were made with, as an SWS_CS_ value (which sws_getCoefficients
// shares with AVColorSpace): the stream's own word, else the convention players follow, BT.709
// above standard definition's 576 lines and BT.601 at or below.
int SourceMatrix(const AVFrame* frame) {
    switch (frame->colorspace) {
        case AVCOL_SPC_BT709:
        case AVCOL_SPC_FCC:
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
        case AVCOL_SPC_SMPTE240M:
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return frame->colorspace;
        default:
            return frame->height > kStandardDefinitionLines ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

// Full-range YUV (what phones and JPEG write) spans 0 to 255, the rest 16 to 235 (240 for
// chroma). The YUVJ formats are the plain ones in full range: swscale takes the plain format
// with the range said apart, and warns of the old names.
struct ScalerInput {
    AVPixelFormat format;
    bool fullRange;
};
ScalerInput InputOf(const AVFrame* frame) {
    switch (frame->format) {
        case AV_PIX_FMT_YUVJ420P: return {AV_PIX_FMT_YUV420P, true};
        case AV_PIX_FMT_YUVJ422P: return {AV_PIX_FMT_YUV422P, true};
        case AV_PIX_FMT_YUVJ444P: return {AV_PIX_FMT_YUV444P, true};
        case AV_PIX_FMT_YUVJ440P: return {AV_PIX_FMT_YUV440P, true};
        case AV_PIX_FMT_YUVJ411P: return {AV_PIX_FMT_YUV411P, true};
        default: return {AVPixelFormat(frame->format), frame->color_range == AVCOL_RANGE_JPEG};
    }
}

bool HoldsGrey(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && desc->nb_components < 3;
}

// Sizing keeps the YUV values as they are: the same range on both sides, the matrix the
// conversion to RGB applies afterwards.
SwsContext* CreateSizer(const AVFrame* frame, const ScalerInput& input, int matrix,
                        PictureSize stored) {
    SwsContext* sizer = sws_getContext(frame->width, frame->height, input.format, stored.width,
                                       stored.height, kSizedFormat, kSizerFlags, nullptr, nullptr,
                                       nullptr);
    const int* coefficients = sws_getCoefficients(matrix);
    const int range = input.fullRange ? 1 : 0;
    if (sizer != nullptr && sws_setColorspaceDetails(sizer, coefficients, range, coefficients,
                                                     range, 0, kUnitGain, kUnitGain) < 0) {
        sws_freeContext(sizer);
        return nullptr;
    }
    return sizer;
}

// The picture's colours are made in RGB from its own matrix and range (none for RGB input);
// the encoder's way back to YUV is the standard-definition BT.601 of the disc, so what players
// show matches.
SwsContext* CreateToRgb(PictureSize from, AVPixelFormat format, PictureSize stored, int matrix,
                        bool fullRange) {
    SwsContext* toRgb = sws_getContext(from.width, from.height, format, stored.width,
                                       stored.height, AV_PIX_FMT_BGR24, kToRgbFlags, nullptr,
                                       nullptr, nullptr);
    if (toRgb != nullptr && matrix >= 0 &&
        sws_setColorspaceDetails(toRgb, sws_getCoefficients(matrix), fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, kUnitGain,
                                 kUnitGain) < 0) {
        sws_freeContext(toRgb);
        return nullptr;
    }
    return toRgb;
}

AVFrame* AllocateSized(PictureSize stored) {
    AVFrame* sized = av_frame_alloc();
    if (sized == nullptr) return nullptr;
    sized->format = kSizedFormat;
    sized->width = stored.width;
    sized->height = stored.height;
    if (av_frame_get_buffer(sized, 0) < 0) av_frame_free(&sized);
    return sized;
}

}  // namespace

PictureToRgb::PictureToRgb(PictureOrientation orientation, PictureSize shown)
    : orientation_(orientation), shown_(shown), stored_(ShownSize(orientation, shown)) {}

PictureToRgb::~PictureToRgb() { ReleaseScalers(); }

void PictureToRgb::ReleaseScalers() {
    sws_freeContext(sizer_);
    sizer_ = nullptr;
    av_frame_free(&sized_);
    sws_freeContext(toRgb_);
    toRgb_ = nullptr;
}

// YUV that changes size is sized in YUV first and made RGB at the size it is used: converting
// a 1080-line picture to RGB whole and interpolating its chroma costs several times the
// scaling. Grey goes the same way, since swscale copies grey of one size into RGB as if it
// were full range.
bool PictureToRgb::PrepareScalers(const AVFrame* frame) {
    const bool rgb = HoldsRgb(frame->format);
    const ScalerInput input = InputOf(frame);
    const ScalerKey key{frame->width, frame->height, frame->format, rgb ? -1 : SourceMatrix(frame),
                        !rgb && input.fullRange};
    if (toRgb_ != nullptr && key == key_) return true;
    ReleaseScalers();
    key_ = key;
    const bool resized = frame->width != stored_.width || frame->height != stored_.height;
    const bool viaSizedYuv = !rgb && (resized || HoldsGrey(input.format));
    if (!viaSizedYuv) {
        toRgb_ = CreateToRgb({frame->width, frame->height}, input.format, stored_, key.matrix,
                             key.fullRange);
        return toRgb_ != nullptr;
    }
    sizer_ = CreateSizer(frame, input, key.matrix, stored_);
    sized_ = AllocateSized(stored_);
    if (sizer_ == nullptr || sized_ == nullptr) return false;
    toRgb_ = CreateToRgb(stored_, kSizedFormat, stored_, key.matrix, key.fullRange);
    return toRgb_ != nullptr;
}

bool PictureToRgb::Scale(const AVFrame* frame, uint8_t* top, int stride) {
    const AVFrame* input = frame;
    if (sizer_ != nullptr) {
        if (sws_scale(sizer_, frame->data, frame->linesize, 0, frame->height, sized_->data,
                      sized_->linesize) != stored_.height) {
            return false;
        }
        input = sized_;
    }
    uint8_t* planes[4] = {top, nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    return sws_scale(toRgb_, input->data, input->linesize, 0, input->height, planes, strides) ==
           stored_.height;
}

// Bottom-up BGR rows: the shown picture is written from its last row upwards.
bool PictureToRgb::Convert(const AVFrame* frame, uint8_t* target) {
    if (!PrepareScalers(frame)) return false;
    const int stride = int(Rgb24Stride(shown_.width));
    uint8_t* shownTop = target + size_t(stride) * size_t(shown_.height - 1);
    if (orientation_.Upright()) return Scale(frame, shownTop, -stride);
    const int storedStride = int(Rgb24Stride(stored_.width));
    turning_.resize(size_t(storedStride) * size_t(stored_.height));
    if (!Scale(frame, turning_.data(), storedStride)) return false;
    OrientPicture(turning_.data(), storedStride, stored_, orientation_, shownTop, -stride);
    return true;
}

}  // namespace platform::dshow
