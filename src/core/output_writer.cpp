#include "core/output_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/audio_encoder.h"
#include "core/codec_library.h"
#include "core/encoder_dvd_video.h"
#include "core/encoder_packets.h"
#include "core/log.h"
#include "core/new_file.h"
#include "core/program_stream_clock.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace core {

namespace {

// Pack size, mux rate and buffering of the program-stream formats the writer knows.
struct MuxerProfile {
    const char* name;
    int64_t muxRate;  // bit/s; 0 keeps the muxer's own
    int packetSize;   // bytes per pack
    int64_t preload;  // µs before the first presentation
    int maxDelay;     // µs
};

constexpr MuxerProfile kMuxerProfiles[] = {
    {"dvd", 10'080'000, 2048, 500'000, 700'000},
    {"svcd", 0, 2324, 500'000, 700'000},
    {"vcd", 1'411'200, 2324, 440'000, 700'000},
};

constexpr AVRational kVobClock = {1, 90000};

constexpr int kVideoStreamId = 0;
constexpr int kAudioStreamId = 1;
constexpr int kIoBufferSize = 64 * 1024;

const MuxerProfile* FindMuxerProfile(const char* name) {
    for (const MuxerProfile& profile : kMuxerProfiles)
        if (name && std::strcmp(profile.name, name) == 0) return &profile;
    return nullptr;
}

bool FrameRateForCode(int rateCode, AVRational* rate) {
    switch (rateCode) {
        case 23:
            *rate = {24000, 1001};
            return true;
        case 25:
            *rate = {25, 1};
            return true;
        case 29:
            *rate = {30000, 1001};
            return true;
        case 50:
            *rate = {50, 1};
            return true;
        case 59:
            *rate = {60000, 1001};
            return true;
        case 60:
            *rate = {60, 1};
            return true;
        default:
            return false;
    }
}

// The muxer sizes its video buffer from the encoder's coded-picture-buffer properties.
bool PassCpbProperties(const AVCodecContext* context, AVStream* stream) {
    for (int i = 0; i < context->nb_coded_side_data; ++i) {
        const AVPacketSideData& side = context->coded_side_data[i];
        if (side.type != AV_PKT_DATA_CPB_PROPERTIES) continue;
        auto* copy = static_cast<uint8_t*>(av_memdup(side.data, side.size));
        if (!copy) return false;
        if (av_stream_add_side_data(stream, side.type, copy, side.size) < 0) {
            av_free(copy);
            return false;
        }
    }
    return true;
}

// The VOB's output over the descriptor the writer created: libavformat's own file protocol
// would open the name itself, following a link that stands under it.
int WriteToFile(void* opaque, uint8_t* bytes, int size) {
    const int fd = *static_cast<const int*>(opaque);
    for (int done = 0; done < size;) {
        const ssize_t put = ::write(fd, bytes + done, size_t(size - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return AVERROR(put < 0 ? errno : EIO);
        done += int(put);
    }
    return size;
}

int64_t SeekInFile(void* opaque, int64_t offset, int whence) {
    const int fd = *static_cast<const int*>(opaque);
    if (whence == AVSEEK_SIZE) {
        const off_t here = ::lseek(fd, 0, SEEK_CUR);
        const off_t size = ::lseek(fd, 0, SEEK_END);
        if (here < 0 || size < 0 || ::lseek(fd, here, SEEK_SET) < 0) return AVERROR(errno);
        return size;
    }
    const off_t at = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

// A clip without a sound track reports no channels and no rate; its VOB has pictures only.
bool HasSound(const SourceAudio& audio) { return audio.Channels != 0 || audio.SampleRate != 0; }

}  // namespace

OutputWriter::OutputWriter(const EncoderHost* host) : host_(host) { InitCodecLibrary(); }

OutputWriter::~OutputWriter() { Release(); }

void OutputWriter::Release() {
    avcodec_free_context(&videoContext_);
    avcodec_free_context(&audioContext_);
    if (FileOpen()) CloseFile();
    avformat_free_context(format_);
    format_ = nullptr;
    videoStream_ = audioStream_ = nullptr;
}

bool OutputWriter::Fail(const std::string& reason) {
    if (error_.empty()) {
        error_ = reason;
        LogPrintf("VOB writer failure: %s\n", reason.c_str());
    }
    return false;
}

bool OutputWriter::Open(const char* formatName, const char* fileName) {
    if (Failed()) return false;
    if (format_) return Fail("The VOB writer is already open");
    const MuxerProfile* profile = FindMuxerProfile(formatName);
    if (!profile)
        return Fail(std::string("Unknown program-stream format \"") +
                    (formatName ? formatName : "") + "\"");
    if (!fileName || !*fileName) return Fail("No VOB file name");
    ForgetCodecLibraryMessage();
    if (const int err = avformat_alloc_output_context2(&format_, nullptr, formatName, fileName);
        err < 0)
        return Fail(CodecFailure(std::string("No \"") + formatName + "\" muxer", err));
    format_->packet_size = profile->packetSize;
    format_->max_delay = profile->maxDelay;
    if ((profile->muxRate != 0 &&
         av_opt_set_int(format_->priv_data, "muxrate", profile->muxRate, 0) < 0) ||
        av_opt_set_int(format_->priv_data, "preload", profile->preload, 0) < 0)
        return Fail(std::string("The \"") + formatName + "\" muxer lacks its rate options");
    return true;
}

int OutputWriter::AddVideoStream(AVCodecID codecId, int srcWidth, int srcHeight, int outWidth,
                                 int outHeight, int rateCode) {
    if (Failed()) return 0;
    if (!format_) return Fail("The VOB writer is not open"), 0;
    if (videoStream_) return Fail("The VOB already has a video stream"), 0;
    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (!codec) return Fail(std::string("No encoder for ") + avcodec_get_name(codecId)), 0;
    videoStream_ = avformat_new_stream(format_, nullptr);
    videoContext_ = avcodec_alloc_context3(codec);
    if (!videoStream_ || !videoContext_) return Fail("Out of memory for the video stream"), 0;
    videoStream_->id = kVideoStreamId;
    videoContext_->width = outWidth;
    videoContext_->height = outHeight;
    AVRational rate;
    if (FrameRateForCode(rateCode, &rate)) {
        videoContext_->framerate = rate;
        videoContext_->time_base = av_inv_q(rate);
    }
    sourceWidth_ = srcWidth;
    sourceHeight_ = srcHeight;
    return 1;
}

int OutputWriter::AddAudioStream(AVCodecID codecId, int bitRate, int channels, int sampleRate) {
    if (Failed()) return 0;
    if (!format_) return Fail("The VOB writer is not open"), 0;
    if (audioStream_) return Fail("The VOB already has an audio stream"), 0;
    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (!codec) return Fail(std::string("No encoder for ") + avcodec_get_name(codecId)), 0;
    if (channels < 1 || channels > 2 || sampleRate <= 0)
        return Fail("Unsupported source sound: " + std::to_string(channels) + " channels at " +
                    std::to_string(sampleRate) + " Hz"),
               0;
    audioStream_ = avformat_new_stream(format_, nullptr);
    audioContext_ = avcodec_alloc_context3(codec);
    if (!audioStream_ || !audioContext_) return Fail("Out of memory for the audio stream"), 0;
    audioStream_->id = kAudioStreamId;
    audioContext_->bit_rate = DvdAudioBitRate(codecId, bitRate, channels);
    audioContext_->sample_rate = kDvdAudioSampleRate;
    audioContext_->time_base = {1, kDvdAudioSampleRate};
    audioContext_->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&audioContext_->ch_layout, channels);
    if (sampleRate != kDvdAudioSampleRate)
        LogPrintf("Sound at %d Hz is resampled to %d Hz\n", sampleRate, kDvdAudioSampleRate);
    sourceChannels_ = channels;
    sourceRate_ = sampleRate;
    return 1;
}

bool OutputWriter::SetParameters() {
    if (Failed()) return false;
    if (!format_) return Fail("The VOB writer is not open");
    if (!videoStream_ && !audioStream_) return Fail("The VOB has no streams");
    return true;
}

bool OutputWriter::OpenCodecs() {
    if (Failed()) return false;
    return (!videoStream_ || OpenVideoCodec()) && (!audioStream_ || OpenAudioCodec());
}

bool OutputWriter::OpenVideoCodec() {
    if (!host_) return Fail("The VOB writer has no job");
    PictureGeometry geometry = host_->EncoderPicture();
    geometry.SourceWidth = sourceWidth_;
    geometry.SourceHeight = sourceHeight_;
    std::string error;
    if (!converter_.Open(geometry, videoContext_->width, videoContext_->height, &error))
        return Fail(error);
    ForgetCodecLibraryMessage();
    if (const int err = avcodec_open2(videoContext_, nullptr, nullptr); err < 0)
        return Fail(CodecFailure("Cannot open the video encoder", err));
    if (const int err = avcodec_parameters_from_context(videoStream_->codecpar, videoContext_);
        err < 0)
        return Fail(CodecFailure("Cannot describe the video stream", err));
    videoStream_->time_base = videoContext_->time_base;
    if (!PassCpbProperties(videoContext_, videoStream_))
        return Fail("Out of memory for the video buffer properties");
    return true;
}

bool OutputWriter::OpenAudioCodec() {
    ForgetCodecLibraryMessage();
    if (const int err = avcodec_open2(audioContext_, nullptr, nullptr); err < 0)
        return Fail(CodecFailure("Cannot open the audio encoder", err));
    if (const int err = avcodec_parameters_from_context(audioStream_->codecpar, audioContext_);
        err < 0)
        return Fail(CodecFailure("Cannot describe the audio stream", err));
    audioStream_->time_base = audioContext_->time_base;
    std::string error;
    return framer_.Open(audioContext_, sourceChannels_, sourceRate_, &error) || Fail(error);
}

bool OutputWriter::OpenFile() {
    if (Failed()) return false;
    if (!format_) return Fail("The VOB writer is not open");
    if (format_->oformat->flags & AVFMT_NOFILE) return true;
    fd_ = CreateNewFile(format_->url);
    if (fd_ < 0) return Fail(FileFailure("Cannot create", format_->url));
    createdFile_ = true;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    format_->pb = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, &fd_, nullptr, WriteToFile,
                                              SeekInFile)
                         : nullptr;
    if (!format_->pb) {
        av_free(buffer);
        return Fail("Out of memory for the VOB's output");
    }
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    return true;
}

int OutputWriter::CloseFile() {
    if (format_ && format_->pb) {
        av_freep(&format_->pb->buffer);
        avio_context_free(&format_->pb);
    }
    const int closed = ::close(fd_) == 0 ? 0 : AVERROR(errno);
    fd_ = -1;
    return closed;
}

int OutputWriter::WriteHeader() {
    if (Failed()) return AVERROR(EINVAL);
    if (!format_ || (!FileOpen() && !(format_->oformat->flags & AVFMT_NOFILE)))
        return Fail("The VOB file is not open"), AVERROR(EINVAL);
    ForgetCodecLibraryMessage();
    const int err = avformat_write_header(format_, nullptr);
    if (err < 0) return Fail(CodecFailure("Cannot write the VOB header", err)), err;
    headerWritten_ = true;
    return 0;
}

void OutputWriter::StreamSpan::Cover(int64_t start, int64_t stop) {
    first = std::min(first, start);
    end = std::max(end, stop);
}

int64_t OutputWriter::ClockLength() const { return std::max(videoSpan_.Length(), audioSpan_.Length()); }

void OutputWriter::CoverPacket(const AVStream* stream, const AVCodecContext* context,
                               const AVPacket* packet) {
    if (packet->pts == AV_NOPTS_VALUE) return;
    // A packet without a duration holds one frame: one tick of the video's time base, one
    // codec frame of sound.
    const bool video = stream == videoStream_;
    const int64_t duration = packet->duration > 0 ? packet->duration : video ? 1 : context->frame_size;
    (video ? videoSpan_ : audioSpan_)
        .Cover(av_rescale_q(packet->pts, context->time_base, kVobClock),
               av_rescale_q(packet->pts + duration, context->time_base, kVobClock));
}

PacketHandler OutputWriter::MuxerWriter(AVStream* stream, const AVCodecContext* context) {
    return [this, stream, context](AVPacket* packet, std::string* reason) {
        CoverPacket(stream, context, packet);
        // The encoders' own stamps: B-picture delay and the audio codec's priming make the
        // first ones negative, which the muxer shifts for every stream alike.
        av_packet_rescale_ts(packet, context->time_base, stream->time_base);
        packet->stream_index = stream->index;
        ForgetCodecLibraryMessage();
        if (const int err = av_interleaved_write_frame(format_, packet); err < 0) {
            *reason = CodecFailure("Cannot write to the VOB", err);
            return false;
        }
        return true;
    };
}

bool OutputWriter::WriteVideo(const uint8_t* bgrBits, int repeat, int rowBytes) {
    if (Failed()) return false;
    if (!headerWritten_ || closed_ || !videoStream_)
        return Fail("The VOB is not ready for pictures");
    std::string error;
    return converter_.EncodeRepeated(videoContext_, bgrBits, repeat, rowBytes,
                                     MuxerWriter(videoStream_, videoContext_), &error) ||
           Fail(error);
}

bool OutputWriter::WriteAudio(const int16_t* samples, int count) {
    if (Failed()) return false;
    if (!headerWritten_ || closed_ || !audioStream_) return Fail("The VOB is not ready for sound");
    std::string error;
    return framer_.Push(samples, count, MuxerWriter(audioStream_, audioContext_), &error) ||
           Fail(error);
}

bool OutputWriter::Close() {
    if (closed_) return !Failed();
    closed_ = true;
    if (headerWritten_ && !Failed()) DrainAndFinish();
    if (FileOpen()) {
        int pending = 0;
        if (format_->pb) {
            avio_flush(format_->pb);
            pending = format_->pb->error;
        }
        const int err = CloseFile();
        if (pending < 0 || err < 0)
            Fail(CodecFailure("Cannot write the VOB", pending < 0 ? pending : err));
        std::string error;
        if (!Failed() && clockStart_ != 0 && !ShiftProgramStreamClock(format_->url, clockStart_, &error))
            Fail(error);
    }
    Release();
    return !Failed();
}

int64_t OutputWriter::SoundLimit() const {
    if (!videoStream_) return INT64_MAX;
    return av_rescale_q_rnd(videoSpan_.Length(), kVobClock, audioContext_->time_base, AV_ROUND_DOWN);
}

bool OutputWriter::DrainAndFinish() {
    std::string error;
    if (videoStream_ &&
        !EncodeAndDeliver(videoContext_, nullptr, MuxerWriter(videoStream_, videoContext_), &error))
        return Fail(error);
    if (audioStream_ && !framer_.Finish(MuxerWriter(audioStream_, audioContext_), &error, SoundLimit()))
        return Fail(error);
    ForgetCodecLibraryMessage();
    if (const int err = av_write_trailer(format_); err < 0)
        return Fail(CodecFailure("Cannot finish the VOB", err));
    return true;
}

int ConfigureVobWriter(OutputWriter& writer, const EncoderHost& host, const char* vobPath,
                       int64_t clockStart) {
    const Settings& settings = host.EncoderSettings();
    const PictureGeometry picture = host.EncoderPicture();
    const SourceAudio audio = host.EncoderAudioInput();
    const int rateCode = settings.Standard == 0 ? 29 : 25;
    const AVCodecID audioCodec = settings.AudioFormat == 0 ? AV_CODEC_ID_MP2 : AV_CODEC_ID_AC3;
    std::string error;
    const bool configured =
        writer.Open("dvd", vobPath) &&
        writer.AddVideoStream(AV_CODEC_ID_MPEG2VIDEO, picture.SourceWidth, picture.SourceHeight,
                              settings.OutputWidth, settings.OutputHeight, rateCode) &&
        (!HasSound(audio) ||
         writer.AddAudioStream(audioCodec, static_cast<int>(settings.AudioKbps) * 1000,
                               audio.Channels, audio.SampleRate)) &&
        ApplyDvdVideoParameters(writer.VideoCodecContext(), settings, VideoRoad::DirectWriter,
                                &error);
    if (!configured) {
        if (!error.empty()) writer.Fail(error);
        return AVERROR(EINVAL);
    }
    UseSliceThreads(writer.VideoCodecContext());
    writer.SetClockStart(clockStart);
    if (!writer.SetParameters() || !writer.OpenCodecs() || !writer.OpenFile())
        return AVERROR(EINVAL);
    return writer.WriteHeader();
}

}  // namespace core
