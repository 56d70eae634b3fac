#include "core/audio_encoder.h"

#include "core/encoder_dvd_video.h"
#include "core/log.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace core {

namespace {

AVCodecID JobAudioCodec(const EncoderHost* host) {
    return host && host->EncoderSettings().AudioFormat == 0 ? AV_CODEC_ID_MP2 : AV_CODEC_ID_AC3;
}

}  // namespace

int64_t DvdAudioBitRate(AVCodecID codecId, int64_t wanted, int channels) {
    static constexpr int64_t kMp2Mono[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192};
    static constexpr int64_t kMp2Stereo[] = {64, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    int64_t allowed = wanted;
    if (codecId == AV_CODEC_ID_MP2) {
        const auto& rates = channels == 1 ? kMp2Mono : kMp2Stereo;
        allowed = rates[0] * 1000;
        for (int64_t kbps : rates)
            if (kbps * 1000 <= wanted) allowed = kbps * 1000;
    } else if (codecId == AV_CODEC_ID_AC3 && wanted > kDvdMaxAc3BitRate) {
        allowed = kDvdMaxAc3BitRate;
    }
    if (allowed != wanted)
        LogPrintf("%s bit-rate %lld bit/s for %d channel(s) changed to %lld bit/s\n",
                  avcodec_get_name(codecId), static_cast<long long>(wanted), channels,
                  static_cast<long long>(allowed));
    return allowed;
}

AudioEncoder::AudioEncoder(const EncoderHost* host, AVCodecID codecId) : Encoder(host, codecId) {}

JobAudioEncoder::JobAudioEncoder(const EncoderHost* host)
    : AudioEncoder(host, JobAudioCodec(host)) {}

int AudioEncoder::Open() {
    if (!host_) return Fail("The audio encoder has no job"), 1;
    if (!AllocateContext()) return 1;
    const SourceAudio source = host_->EncoderAudioInput();
    if (source.Channels < 1 || source.Channels > 2 || source.SampleRate <= 0)
        return Fail("Unsupported source sound: " + std::to_string(source.Channels) +
                    " channels at " + std::to_string(source.SampleRate) + " Hz"),
               1;
    if (source.SampleRate != kDvdAudioSampleRate)
        LogPrintf("Sound at %d Hz is resampled to %d Hz\n", source.SampleRate, kDvdAudioSampleRate);
    context_->sample_rate = kDvdAudioSampleRate;
    context_->time_base = {1, kDvdAudioSampleRate};
    context_->sample_fmt = codec_->sample_fmts ? codec_->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&context_->ch_layout, source.Channels);
    context_->bit_rate = DvdAudioBitRate(
        codecId_, static_cast<int64_t>(host_->EncoderSettings().AudioKbps) * 1000, source.Channels);
    if (!OpenContext(avcodec_get_name(codecId_))) return 1;
    std::string error;
    if (!framer_.Open(context_, source.Channels, source.SampleRate, &error)) return Fail(error), 1;
    return 0;
}

int AudioEncoder::EncodeSamples(const int16_t* samples, int count) {
    if (Failed()) return 1;
    if (!context_ || !avcodec_is_open(context_) || finished_)
        return Fail("The audio encoder is not open"), 1;
    std::string error;
    return framer_.Push(samples, count, FileWriter(), &error) ? 0 : (Fail(error), 1);
}

int AudioEncoder::Finish() {
    if (Failed()) return 1;
    if (!context_ || !avcodec_is_open(context_)) return Fail("The audio encoder is not open"), 1;
    if (finished_) return 0;
    finished_ = true;
    std::string error;
    if (!framer_.Finish(FileWriter(), &error)) return Fail(error), 1;
    return FlushFile() ? 0 : 1;
}

}  // namespace core
