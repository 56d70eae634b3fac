#include "core/encoder_pcm.h"

#include <algorithm>

#include "core/codec_library.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace core {

namespace {

bool Refuse(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

}  // namespace

PcmFramer::~PcmFramer() { Release(); }

void PcmFramer::Release() {
    swr_free(&resampler_);
    if (fifo_) av_audio_fifo_free(fifo_);
    fifo_ = nullptr;
    if (converted_) av_freep(&converted_[0]);
    av_freep(&converted_);
    convertedCapacity_ = 0;
    splitSample_.clear();
    nextPts_ = 0;
    encoder_ = nullptr;
}

bool PcmFramer::Open(AVCodecContext* encoder, int sourceChannels, int sourceRate,
                     std::string* error) {
    Release();
    if (!encoder || encoder->frame_size <= 0) return Refuse(error, "The audio encoder is not open");
    if (sourceChannels < 1 || sourceChannels > 2 || sourceRate <= 0)
        return Refuse(error, "Unsupported source sound: " + std::to_string(sourceChannels) +
                                 " channels at " + std::to_string(sourceRate) + " Hz");
    encoder_ = encoder;
    sourceChannels_ = sourceChannels;

    AVChannelLayout sourceLayout;
    av_channel_layout_default(&sourceLayout, sourceChannels);
    int err = swr_alloc_set_opts2(&resampler_, &encoder->ch_layout, encoder->sample_fmt,
                                  encoder->sample_rate, &sourceLayout, AV_SAMPLE_FMT_S16,
                                  sourceRate, 0, nullptr);
    if (err >= 0) err = swr_init(resampler_);
    if (err < 0) return Refuse(error, CodecFailure("Cannot set up the audio resampler", err));

    fifo_ = av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels,
                                encoder->frame_size * 2);
    if (!fifo_) return Refuse(error, "Out of memory for the audio frame buffer");
    return true;
}

bool PcmFramer::Convert(const int16_t* samples, int sampleCount, std::string* error) {
    const int room = swr_get_out_samples(resampler_, sampleCount);
    if (room < 0) return Refuse(error, CodecFailure("The audio resampler failed", room));
    if (room > convertedCapacity_) {
        if (converted_) av_freep(&converted_[0]);
        av_freep(&converted_);
        convertedCapacity_ = 0;
        const int err = av_samples_alloc_array_and_samples(
            &converted_, nullptr, encoder_->ch_layout.nb_channels, room, encoder_->sample_fmt, 0);
        if (err < 0) return Refuse(error, "Out of memory for converted sound");
        convertedCapacity_ = room;
    }
    const uint8_t* input[1] = {reinterpret_cast<const uint8_t*>(samples)};
    const int made = swr_convert(resampler_, converted_, convertedCapacity_,
                                 samples ? input : nullptr, sampleCount);
    if (made < 0) return Refuse(error, CodecFailure("The audio resampler failed", made));
    if (made > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(converted_), made) < made)
        return Refuse(error, "Out of memory for buffered sound");
    return true;
}

bool PcmFramer::SendFrame(int validSamples, const PacketHandler& handler, std::string* error) {
    AVFrame* frame = av_frame_alloc();
    if (!frame) return Refuse(error, "Out of memory for an audio frame");
    frame->nb_samples = encoder_->frame_size;
    frame->format = encoder_->sample_fmt;
    frame->sample_rate = encoder_->sample_rate;
    bool sent = av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout) >= 0 &&
                av_frame_get_buffer(frame, 0) >= 0;
    if (!sent) {
        av_frame_free(&frame);
        return Refuse(error, "Out of memory for an audio frame");
    }
    av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame->data), validSamples);
    if (validSamples < frame->nb_samples)
        av_samples_set_silence(frame->data, validSamples, frame->nb_samples - validSamples,
                               encoder_->ch_layout.nb_channels, encoder_->sample_fmt);
    frame->pts = nextPts_;
    nextPts_ += frame->nb_samples;
    sent = EncodeAndDeliver(encoder_, frame, handler, error);
    av_frame_free(&frame);
    return sent;
}

bool PcmFramer::Push(const int16_t* samples, int count, const PacketHandler& handler,
                     std::string* error) {
    if (!encoder_) return Refuse(error, "The audio encoder is not open");
    if (count < 0 || (count > 0 && !samples)) return Refuse(error, "No sound data");

    // Finish a sample that the previous block split, then keep any new partial one back.
    if (!splitSample_.empty()) {
        const int missing = std::min<int>(sourceChannels_ - splitSample_.size(), count);
        splitSample_.insert(splitSample_.end(), samples, samples + missing);
        samples += missing;
        count -= missing;
        if (static_cast<int>(splitSample_.size()) < sourceChannels_) return true;
        if (!Convert(splitSample_.data(), 1, error)) return false;
        splitSample_.clear();
    }
    const int whole = count / sourceChannels_;
    splitSample_.assign(samples + whole * sourceChannels_, samples + count);
    if (whole > 0 && !Convert(samples, whole, error)) return false;

    while (av_audio_fifo_size(fifo_) >= encoder_->frame_size)
        if (!SendFrame(encoder_->frame_size, handler, error)) return false;
    return true;
}

bool PcmFramer::Finish(const PacketHandler& handler, std::string* error, int64_t endLimit) {
    if (!encoder_) return Refuse(error, "The audio encoder is not open");
    splitSample_.clear();                           // half a sample cannot be played
    if (!Convert(nullptr, 0, error)) return false;  // what the resampler holds back
    while (av_audio_fifo_size(fifo_) > 0 && nextPts_ + encoder_->frame_size <= endLimit) {
        const int valid = std::min(av_audio_fifo_size(fifo_), encoder_->frame_size);
        if (!SendFrame(valid, handler, error)) return false;
    }
    return EncodeAndDeliver(encoder_, nullptr, handler, error);
}

}  // namespace core
