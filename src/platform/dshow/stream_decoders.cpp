#include "platform/dshow/stream_decoders.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include "platform/dshow/media_file.h"
#include "platform/dshow/picture_to_rgb.h"

namespace platform::dshow {
namespace {

struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

CodecPtr OpenCodec(const AVStream* stream) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) return nullptr;
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
        return nullptr;
    }
    context->pkt_timebase = stream->time_base;
    // Let the codec spread its work over the cores; the delivery threads stay free.
    context->thread_count = 0;
    context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    return context;
}

REFERENCE_TIME ToUnits(double seconds) {
    if (!std::isfinite(seconds)) return 0;
    return REFERENCE_TIME(std::llround(std::clamp(seconds, -1e9, 1e9) * kUnitsPerSecond));
}

// Sends packet (or the drain request) and hands every frame that comes out to take.
// Corrupt packets are skipped: the decoder's complaint does not end the stream.
template <typename Take>
bool DecodePacket(AVCodecContext* context, AVFrame* frame, const AVPacket* packet, Take take) {
    const int sent = avcodec_send_packet(context, packet);
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF) return true;
    while (true) {
        const int received = avcodec_receive_frame(context, frame);
        if (received < 0) return true;  // EAGAIN, EOF, or a frame that could not be decoded
        const bool more = take(frame);
        av_frame_unref(frame);
        if (!more) return false;
    }
}

class VideoDecoder : public StreamDecoder {
public:
    VideoDecoder(const MediaFile& file, CodecPtr codec, int width, int height, Segment segment)
        : file_(file),
          stream_(file.VideoStream()),
          codec_(std::move(codec)),
          frame_(av_frame_alloc()),
          height_(height),
          stride_(Rgb24Stride(width)),
          segment_(segment),
          frameDuration_(file.FrameRate() > 0 ? ToUnits(1.0 / file.FrameRate()) : kUnitsPerSecond / 25),
          toRgb_(file.VideoOrientation(), PictureSize{width, height}) {}

    bool Valid() const { return frame_ != nullptr; }

    bool Decode(const AVPacket* packet, const SampleEmitter& emit) override {
        return DecodePacket(codec_.get(), frame_.get(), packet,
                            [&](AVFrame* frame) { return TakeFrame(frame, emit); });
    }

private:
    bool TakeFrame(AVFrame* frame, const SampleEmitter& emit) {
        REFERENCE_TIME start = nextStart_;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
            start = ToUnits(file_.Seconds(stream_, frame->best_effort_timestamp)) - ReorderDelay();
        }
        // Pictures that come without a stamp (the last ones, drained) follow on.
        nextStart_ = start + frameDuration_;
        if (start >= segment_.stop) return false;
        // Deliver from the picture that contains the segment start: every earlier one ends
        // at or before it. Two units absorb the rounding of exact frame boundaries.
        if (start + frameDuration_ <= segment_.start + 2) return true;

        com::ComPtr<MediaSample> sample = MediaSample::Create(size_t(stride_) * height_, pool_);
        if (!sample || !toRgb_.Convert(frame, sample->Data())) return true;
        sample->SetActualDataLength(long(stride_) * height_);
        const REFERENCE_TIME relative = start - segment_.start;
        const REFERENCE_TIME end = relative + frameDuration_;
        sample->SetTime(&relative, &end);
        return emit(std::move(sample));
    }

    // How far a picture's stamp lies after its own time where the stamps follow the decoding
    // order: the decoder's reorder delay, in pictures.
    REFERENCE_TIME ReorderDelay() const {
        return file_.StampsInDecodingOrder() ? codec_->has_b_frames * frameDuration_ : 0;
    }

    const MediaFile& file_;
    const int stream_;
    CodecPtr codec_;
    FramePtr frame_;
    // Enough for the pictures queued, in delivery and in the sink's hands.
    const std::shared_ptr<SampleBufferPool> pool_ = std::make_shared<SampleBufferPool>(8);
    const int height_;
    const uint32_t stride_;
    const Segment segment_;
    const REFERENCE_TIME frameDuration_;
    PictureToRgb toRgb_;
    REFERENCE_TIME nextStart_ = 0;
};

// Keeps the sound continuous from the segment start: gaps in the time stamps become silence,
// overlaps are cut, so that sample count and time agree for whoever counts samples.
class AudioDecoder : public StreamDecoder {
public:
    AudioDecoder(const MediaFile& file, CodecPtr codec, int channels, Segment segment)
        : file_(file),
          stream_(file.AudioStream()),
          codec_(std::move(codec)),
          frame_(av_frame_alloc()),
          channels_(channels),
          segmentStart_(double(segment.start) / kUnitsPerSecond),
          limit_(int64_t(double(segment.stop - segment.start) * kOutputSampleRate / kUnitsPerSecond)) {}

    ~AudioDecoder() override {
        swr_free(&resampler_);
        av_channel_layout_uninit(&inLayout_);
    }

    bool Valid() const { return frame_ != nullptr; }

    bool Decode(const AVPacket* packet, const SampleEmitter& emit) override {
        const bool more = DecodePacket(codec_.get(), frame_.get(), packet,
                                       [&](AVFrame* frame) { return TakeFrame(frame, emit); });
        if (!more) return false;
        if (packet == nullptr && resampler_ != nullptr) return Resample(nullptr, 0, emit);
        return true;
    }

private:
    // Gaps and overlaps below 5 ms are time-stamp jitter, not missing or doubled sound.
    static constexpr double kTolerance = kOutputSampleRate * 0.005;
    static constexpr int64_t kSilenceChunk = kOutputSampleRate / 10;

    bool TakeFrame(AVFrame* frame, const SampleEmitter& emit) {
        if (frame->sample_rate <= 0 || frame->nb_samples <= 0) return true;
        if (!PrepareResampler(frame)) return true;
        const double length = double(frame->nb_samples) * kOutputSampleRate / frame->sample_rate;
        double position = expected_;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
            const double seconds = file_.Seconds(stream_, frame->best_effort_timestamp);
            if (std::isfinite(seconds)) position = (seconds - segmentStart_) * kOutputSampleRate;
        }
        const double gap = position - expected_;
        if (gap > kTolerance) {
            if (!EmitSilence(int64_t(std::llround(gap)), emit)) return false;
            expected_ = position + length;
        } else if (gap < -kTolerance) {
            skip_ += int64_t(std::llround(std::min(-gap, length)));
            expected_ = std::max(expected_, position + length);
        } else {
            expected_ += length;
        }
        return Resample(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples, emit);
    }

    bool PrepareResampler(const AVFrame* frame) {
        if (resampler_ != nullptr && frame->format == inFormat_ && frame->sample_rate == inRate_ &&
            av_channel_layout_compare(&frame->ch_layout, &inLayout_) == 0) {
            return true;
        }
        swr_free(&resampler_);
        av_channel_layout_uninit(&inLayout_);
        // Kept as the frames give it, so that the next frame compares equal: a resampler made
        // anew drops the samples the old one still held, a little at every frame.
        if (av_channel_layout_copy(&inLayout_, &frame->ch_layout) < 0) return false;
        AVChannelLayout resampledLayout{};
        if (inLayout_.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&resampledLayout, frame->ch_layout.nb_channels);
        } else if (av_channel_layout_copy(&resampledLayout, &inLayout_) < 0) {
            return false;
        }
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, channels_);
        const int made = swr_alloc_set_opts2(&resampler_, &outLayout, AV_SAMPLE_FMT_S16,
                                             kOutputSampleRate, &resampledLayout,
                                             AVSampleFormat(frame->format), frame->sample_rate, 0,
                                             nullptr);
        av_channel_layout_uninit(&outLayout);
        av_channel_layout_uninit(&resampledLayout);
        if (made < 0 || swr_init(resampler_) < 0) {
            swr_free(&resampler_);
            return false;
        }
        inFormat_ = frame->format;
        inRate_ = frame->sample_rate;
        return true;
    }

    bool Resample(const uint8_t** input, int count, const SampleEmitter& emit) {
        const int room = swr_get_out_samples(resampler_, count);
        if (room <= 0) return true;
        buffer_.resize(size_t(room) * channels_);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(buffer_.data())};
        const int made = swr_convert(resampler_, out, room, input, count);
        if (made <= 0) return true;
        int64_t first = std::min<int64_t>(skip_, made);
        skip_ -= first;
        return Emit(buffer_.data() + first * channels_, made - first, emit);
    }

    bool EmitSilence(int64_t count, const SampleEmitter& emit) {
        std::vector<int16_t> silence;
        while (count > 0) {
            const int64_t piece = std::min(count, kSilenceChunk);
            silence.assign(size_t(piece) * channels_, 0);
            if (!Emit(silence.data(), piece, emit)) return false;
            count -= piece;
        }
        return true;
    }

    // Stamps and hands over count sample frames; false once the segment's end is reached.
    bool Emit(const int16_t* data, int64_t count, const SampleEmitter& emit) {
        count = std::min(count, limit_ - emitted_);
        if (count <= 0) return emitted_ < limit_;
        const size_t bytes = size_t(count) * channels_ * sizeof(int16_t);
        com::ComPtr<MediaSample> sample = MediaSample::Create(bytes);
        if (!sample) return true;
        std::memcpy(sample->Data(), data, bytes);
        sample->SetActualDataLength(long(bytes));
        const REFERENCE_TIME start = emitted_ * kUnitsPerSecond / kOutputSampleRate;
        emitted_ += count;
        const REFERENCE_TIME stop = emitted_ * kUnitsPerSecond / kOutputSampleRate;
        sample->SetTime(&start, &stop);
        return emit(std::move(sample)) && emitted_ < limit_;
    }

    const MediaFile& file_;
    const int stream_;
    CodecPtr codec_;
    FramePtr frame_;
    const int channels_;
    const double segmentStart_;  // seconds
    const int64_t limit_;        // sample frames up to the segment's stop
    SwrContext* resampler_ = nullptr;
    AVChannelLayout inLayout_{};
    int inFormat_ = -1;
    int inRate_ = 0;
    double expected_ = 0.0;  // where the next frame should start, in output sample frames
    int64_t skip_ = 0;       // output sample frames still to cut for an overlap
    int64_t emitted_ = 0;
    std::vector<int16_t> buffer_;
};

}  // namespace

std::unique_ptr<StreamDecoder> CreateVideoDecoder(const MediaFile& file, int width, int height,
                                                  Segment segment) {
    if (file.VideoStream() < 0) return nullptr;
    CodecPtr codec = OpenCodec(file.Stream(file.VideoStream()));
    if (!codec) return nullptr;
    auto decoder = std::make_unique<VideoDecoder>(file, std::move(codec), width, height, segment);
    return decoder->Valid() ? std::move(decoder) : nullptr;
}

std::unique_ptr<StreamDecoder> CreateAudioDecoder(const MediaFile& file, int channels,
                                                  Segment segment) {
    if (file.AudioStream() < 0) return nullptr;
    CodecPtr codec = OpenCodec(file.Stream(file.AudioStream()));
    if (!codec) return nullptr;
    auto decoder = std::make_unique<AudioDecoder>(file, std::move(codec), channels, segment);
    return decoder->Valid() ? std::move(decoder) : nullptr;
}

}  // namespace platform::dshow
