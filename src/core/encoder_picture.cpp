#include "core/encoder_picture.h"

#include <algorithm>
#include <cstring>

#include "core/codec_library.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace core {

namespace {

bool Refuse(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

void FillPlane(uint8_t* plane, int lineSize, int width, int height, int value) {
    for (int row = 0; row < height; ++row)
        std::memset(plane + static_cast<ptrdiff_t>(row) * lineSize, value, width);
}

// The caller's picture stays the caller's: the scaler only borrows it for one call.
void KeepCallersBits(void*, uint8_t*) {}

// Exact rounding: swscale's fast path from RGB to YUV at one size truncates, a level dark
// (mid-grey RGB 128 became Y 125 instead of 126), and the timeline delivers at the frame size.
constexpr int kScalerFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP;

// The conversion runs on the streaming thread between two pictures of the (slice-threaded)
// encoder: a 1080-line picture on one core would cost a third of the encoder's time, so large
// pictures are converted in horizontal bands on several cores, one band per half a megapixel.
// A picture of the disc's own size takes less time than waking threads for it and handing its
// rows to other cores' caches, so it stays on the streaming thread.
constexpr int64_t kPixelsPerBand = 1 << 19;
int ScalerBands(int sourceWidth, int sourceHeight) {
    const int64_t pixels = int64_t(sourceWidth) * sourceHeight;
    return int(std::clamp<int64_t>((pixels + kPixelsPerBand / 2) / kPixelsPerBand, 1,
                                   std::max(av_cpu_count(), 1)));
}

// Its YUV is swscale's default, BT.601 in video range: what players decode a
// standard-definition disc as.
SwsContext* CreateScaler(int sourceWidth, int sourceHeight, int innerWidth, int innerHeight) {
    SwsContext* scaler = sws_alloc_context();
    if (!scaler) return nullptr;
    const bool configured =
        av_opt_set_int(scaler, "srcw", sourceWidth, 0) >= 0 &&
        av_opt_set_int(scaler, "srch", sourceHeight, 0) >= 0 &&
        av_opt_set_pixel_fmt(scaler, "src_format", AV_PIX_FMT_BGR24, 0) >= 0 &&
        av_opt_set_int(scaler, "dstw", innerWidth, 0) >= 0 &&
        av_opt_set_int(scaler, "dsth", innerHeight, 0) >= 0 &&
        av_opt_set_pixel_fmt(scaler, "dst_format", AV_PIX_FMT_YUV420P, 0) >= 0 &&
        av_opt_set_int(scaler, "sws_flags", kScalerFlags, 0) >= 0 &&
        av_opt_set_int(scaler, "threads", ScalerBands(sourceWidth, sourceHeight), 0) >= 0;
    if (!configured || sws_init_context(scaler, nullptr, nullptr) < 0) {
        sws_freeContext(scaler);
        return nullptr;
    }
    return scaler;
}

}  // namespace

PictureConverter::~PictureConverter() { Release(); }

void PictureConverter::Release() {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_frame_free(&frame_);
    av_frame_free(&source_);
    av_frame_free(&inner_);
}

bool PictureConverter::Open(const PictureGeometry& geometry, int outputWidth, int outputHeight,
                            std::string* error) {
    Release();
    geometry_ = geometry;
    picturesSent_ = 0;
    const PictureGeometry& g = geometry_;
    if (g.SourceWidth <= 0 || g.SourceHeight <= 0 || outputWidth <= 0 || outputHeight <= 0 ||
        outputWidth % 2 != 0 || outputHeight % 2 != 0)
        return Refuse(error, "Picture sizes must be positive and the output size even (source " +
                                 std::to_string(g.SourceWidth) + "x" +
                                 std::to_string(g.SourceHeight) + ", output " +
                                 std::to_string(outputWidth) + "x" + std::to_string(outputHeight) +
                                 ")");
    const int croppedWidth = g.SourceWidth - g.CropLeft - g.CropRight;
    const int croppedHeight = g.SourceHeight - g.CropTop - g.CropBottom;
    const int innerWidth = outputWidth - g.PadLeft - g.PadRight;
    const int innerHeight = outputHeight - g.PadTop - g.PadBottom;
    if (g.CropLeft < 0 || g.CropRight < 0 || g.CropTop < 0 || g.CropBottom < 0 ||
        croppedWidth <= 0 || croppedHeight <= 0)
        return Refuse(error, "The crop bands leave no picture");
    if (g.PadLeft < 0 || g.PadRight < 0 || g.PadTop < 0 || g.PadBottom < 0 || innerWidth <= 0 ||
        innerHeight <= 0)
        return Refuse(error, "The pad bands leave no picture");
    if ((g.PadLeft | g.PadTop | innerWidth | innerHeight) & 1)
        return Refuse(error, "Pad bands must be even");

    frame_ = av_frame_alloc();
    source_ = av_frame_alloc();
    inner_ = av_frame_alloc();
    if (!frame_ || !source_ || !inner_)
        return Refuse(error, "Out of memory for the output picture");
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = outputWidth;
    frame_->height = outputHeight;
    if (const int err = av_frame_get_buffer(frame_, 0); err < 0)
        return Refuse(error, CodecFailure("Cannot allocate the output picture", err));
    if (!FillPadColour(error)) return false;

    scaler_ = CreateScaler(croppedWidth, croppedHeight, innerWidth, innerHeight);
    if (!scaler_) return Refuse(error, CodecFailure("Cannot create the picture scaler"));
    return true;
}

bool PictureConverter::FillPadColour(std::string* error) {
    const PictureGeometry& g = geometry_;
    if (g.PadY < 0 || g.PadY > 255 || g.PadU < 0 || g.PadU > 255 || g.PadV < 0 || g.PadV > 255)
        return Refuse(error, "The pad colour is out of range");
    FillPlane(frame_->data[0], frame_->linesize[0], frame_->width, frame_->height, g.PadY);
    FillPlane(frame_->data[1], frame_->linesize[1], frame_->width / 2, frame_->height / 2, g.PadU);
    FillPlane(frame_->data[2], frame_->linesize[2], frame_->width / 2, frame_->height / 2, g.PadV);
    return true;
}

AVFrame* PictureConverter::Convert(const uint8_t* bgrBits, int rowBytes, std::string* error) {
    const PictureGeometry& g = geometry_;
    if (!scaler_) return Refuse(error, "The picture converter is not open"), nullptr;
    if (!bgrBits) return Refuse(error, "No picture data"), nullptr;
    if (rowBytes == 0) rowBytes = DibRowBytes(g.SourceWidth);
    if (rowBytes < g.SourceWidth * 3)
        return Refuse(error, "Picture rows of " + std::to_string(rowBytes) +
                                 " bytes are shorter than " + std::to_string(g.SourceWidth) +
                                 " pixels"),
               nullptr;

    // The encoder may still hold this buffer for B-picture reordering; a shared buffer is
    // copied (pad bands included) before it is written over.
    if (const int err = av_frame_make_writable(frame_); err < 0)
        return Refuse(error, CodecFailure("Cannot reuse the output picture", err)), nullptr;

    // Bottom-up rows: start at the last stored row (the picture's top after the crop) and walk
    // backwards, so the picture comes out upright.
    const int topRow = g.SourceHeight - 1 - g.CropTop;
    source_->buf[0] = av_buffer_create(const_cast<uint8_t*>(bgrBits),
                                       static_cast<size_t>(rowBytes) * g.SourceHeight,
                                       KeepCallersBits, nullptr, AV_BUFFER_FLAG_READONLY);
    if (!source_->buf[0]) return Refuse(error, "Out of memory for the source picture"), nullptr;
    source_->format = AV_PIX_FMT_BGR24;
    source_->width = g.SourceWidth - g.CropLeft - g.CropRight;
    source_->height = g.SourceHeight - g.CropTop - g.CropBottom;
    source_->data[0] = const_cast<uint8_t*>(bgrBits) + static_cast<ptrdiff_t>(topRow) * rowBytes +
                       static_cast<ptrdiff_t>(g.CropLeft) * 3;
    source_->linesize[0] = -rowBytes;

    // The scaler writes the inner rectangle only, a view into the output picture.
    int err = av_frame_ref(inner_, frame_);
    if (err >= 0) {
        inner_->width = frame_->width - g.PadLeft - g.PadRight;
        inner_->height = frame_->height - g.PadTop - g.PadBottom;
        inner_->data[0] += static_cast<ptrdiff_t>(g.PadTop) * inner_->linesize[0] + g.PadLeft;
        for (int plane : {1, 2})
            inner_->data[plane] +=
                static_cast<ptrdiff_t>(g.PadTop / 2) * inner_->linesize[plane] + g.PadLeft / 2;
        ForgetCodecLibraryMessage();
        err = sws_scale_frame(scaler_, inner_, source_);
    }
    av_frame_unref(inner_);
    av_frame_unref(source_);
    if (err < 0) return Refuse(error, CodecFailure("Cannot convert the picture", err)), nullptr;
    return frame_;
}

bool PictureConverter::EncodeRepeated(AVCodecContext* encoder, const uint8_t* bgrBits, int repeat,
                                      int rowBytes, const PacketHandler& handler,
                                      std::string* error) {
    AVFrame* picture = Convert(bgrBits, rowBytes, error);
    if (!picture) return false;
    for (int i = 0; i < repeat; ++i) {
        picture->pts = picturesSent_++;
        if (!EncodeAndDeliver(encoder, picture, handler, error)) return false;
    }
    return true;
}

}  // namespace core
