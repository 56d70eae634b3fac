#include "core/video_encoder.h"

#include "core/encoder_dvd_video.h"

namespace core {

VideoEncoder::VideoEncoder(const EncoderHost* host) : Encoder(host, AV_CODEC_ID_MPEG2VIDEO) {}

int VideoEncoder::Open(const EncoderHost* host) {
    host_ = host;
    if (!host_) return Fail("The video encoder has no job"), 0;
    const Settings& settings = host_->EncoderSettings();
    std::string error;
    if (!converter_.Open(host_->EncoderPicture(), settings.OutputWidth, settings.OutputHeight,
                         &error))
        return Fail(error), 0;
    if (!AllocateContext()) return 0;
    if (settings.FrameRateNum == 0 || settings.FrameRateDen == 0)
        return Fail("The output frame rate is not set"), 0;
    context_->framerate = {static_cast<int>(settings.FrameRateNum),
                           static_cast<int>(settings.FrameRateDen)};
    context_->time_base = av_inv_q(context_->framerate);
    UseSliceThreads(context_);
    if (!ApplyDvdVideoParameters(context_, settings, VideoRoad::ElementaryStream, &error))
        return Fail(error), 0;
    return OpenContext("MPEG-2 video") ? 1 : 0;
}

int VideoEncoder::EncodeFrame(const uint8_t* bgrBits, int repeat, int rowBytes) {
    if (Failed()) return 1;
    if (!context_ || !avcodec_is_open(context_) || finished_)
        return Fail("The video encoder is not open"), 1;
    std::string error;
    if (!converter_.EncodeRepeated(context_, bgrBits, repeat, rowBytes, FileWriter(), &error))
        return Fail(error), 1;
    return 0;
}

int VideoEncoder::Finish() {
    if (Failed()) return 1;
    if (!context_ || !avcodec_is_open(context_)) return Fail("The video encoder is not open"), 1;
    if (finished_) return 0;
    finished_ = true;
    return EncodeToFile(nullptr) && FlushFile() ? 0 : 1;
}

}  // namespace core
