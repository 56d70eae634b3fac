// Direct program-stream writer: encodes a clip and multiplexes it into a VOB in one pass
// through libavformat's "dvd" muxer.
#pragma once

#include <cstdint>
#include <string>

#include "core/encoder_host.h"
#include "core/encoder_pcm.h"
#include "core/encoder_picture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace core {

class OutputWriter;
int ConfigureVobWriter(OutputWriter& writer, const EncoderHost& host, const char* vobPath,
                       int64_t clockStart);

// Calling order per clip (all on one thread at a time; the two writes on the video thread):
// Open, AddVideoStream, AddAudioStream, parameters into VideoCodecContext, SetParameters,
// OpenCodecs, OpenFile, WriteHeader, WriteVideo/WriteAudio in time order, Close, delete.
// ConfigureVobWriter above runs the steps up to WriteHeader the way the job does.
//
// Every step returns its own result and keeps the first failure's reason in Error(); once a
// step has failed, later steps fail at once instead of writing into a half-built VOB.
class OutputWriter {
public:
    explicit OutputWriter(const EncoderHost* host);
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;
    // Releases what Close did not; writes nothing.
    ~OutputWriter();

    // formatName "dvd" (the job's), "svcd" or "vcd", with that format's pack size, mux rate
    // and delays.
    bool Open(const char* formatName, const char* fileName);
    // rateCode: 23 24000/1001, 25, 29 30000/1001, 50, 59 60000/1001, 60; any other code leaves
    // the rate unset and the codec then refuses to open. 1 on success, 0 on failure.
    int AddVideoStream(AVCodecID codecId, int srcWidth, int srcHeight, int outWidth, int outHeight,
                       int rateCode);
    // The stream is always 48 kHz (other source rates are resampled) at most at the DVD
    // ceiling of the codec. 1 on success, 0 on failure.
    int AddAudioStream(AVCodecID codecId, int bitRate, int channels, int sampleRate);
    // The video encoder's context, for the caller's parameters before OpenCodecs; null without
    // a video stream.
    AVCodecContext* VideoCodecContext() const { return videoContext_; }
    bool SetParameters();
    bool OpenCodecs();
    // Creates the VOB anew (core::CreateNewFile): never through a link standing under its name.
    bool OpenFile();
    // OpenFile created the VOB's file (it may since have failed, or been closed).
    bool CreatedFile() const { return createdFile_; }
    // 0 on success, a negative libavformat error otherwise.
    int WriteHeader();
    // The VOB's clock starts at `ticks` (90 kHz) instead of 0, so that it continues the clock
    // of the VOB played before it; Close moves it once the file is written.
    void SetClockStart(int64_t ticks) { clockStart_ = ticks; }

    // One bottom-up BGR24 picture of the source size, encoded `repeat` times; rowBytes as for
    // VideoEncoder::EncodeFrame.
    bool WriteVideo(const uint8_t* bgrBits, int repeat, int rowBytes = 0);
    // count interleaved 16-bit values at the source rate.
    bool WriteAudio(const int16_t* samples, int count);

    // Drains both encoders (the last audio frame padded with silence, or left out where it
    // would play on after the last picture), writes the trailer and closes the file. False
    // when any of it failed or an earlier step had.
    bool Close();

    // How far the VOB's clock runs: the longer of its pictures and its sound, each from its
    // first timestamp to the end of its last frame, in 90 kHz ticks. A VOB that starts its
    // clock that much later than this one's continues it without either stream stepping back.
    int64_t ClockLength() const;

    const std::string& Error() const { return error_; }
    bool Failed() const { return !error_.empty(); }
    const AVCodecContext* AudioCodecContext() const { return audioContext_; }

private:
    friend int ConfigureVobWriter(OutputWriter&, const EncoderHost&, const char*, int64_t);

    bool OpenVideoCodec();
    bool OpenAudioCodec();
    // The pictures and sound the encoders still hold, then the trailer.
    bool DrainAndFinish();
    // Once the pictures are all written, how many samples the sound may hold: the next clip's
    // pictures and sound follow these pictures, so an audio frame that would still play after
    // the last picture is left out (its sound then ends less than a frame early).
    int64_t SoundLimit() const;
    PacketHandler MuxerWriter(AVStream* stream, const AVCodecContext* context);
    void CoverPacket(const AVStream* stream, const AVCodecContext* context, const AVPacket* packet);
    bool Fail(const std::string& reason);
    // Where one stream's timestamps started and how far its frames reached, in 90 kHz ticks.
    struct StreamSpan {
        int64_t first = INT64_MAX;
        int64_t end = INT64_MIN;
        void Cover(int64_t start, int64_t stop);
        int64_t Length() const { return end > first ? end - first : 0; }
    };
    void Release();
    bool FileOpen() const { return fd_ >= 0; }
    // Frees the output context and closes the descriptor; 0, or the close's error.
    int CloseFile();

    const EncoderHost* host_;
    AVFormatContext* format_ = nullptr;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    AVCodecContext* videoContext_ = nullptr;
    AVCodecContext* audioContext_ = nullptr;
    PictureConverter converter_;
    PcmFramer framer_;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int sourceChannels_ = 0;
    int sourceRate_ = 0;
    int64_t clockStart_ = 0;
    StreamSpan videoSpan_;
    StreamSpan audioSpan_;
    int fd_ = -1;  // the VOB's descriptor while its file is open
    bool createdFile_ = false;
    bool headerWritten_ = false;
    bool closed_ = false;
    std::string error_;
};

// The job's configuration of a writer for one clip: "dvd" into vobPath, MPEG-2 video at the
// settings' size and rate with the DVD parameter set (closed GOPs), MP2 or AC-3 by the
// settings (no audio stream when the source has no sound: 0 channels at 0 Hz), then the
// codecs, the file and the header, with the VOB's clock starting at clockStart (90 kHz). Stops
// at the first failing step. Returns WriteHeader's result (0), or a negative value when a step
// failed (reason in writer.Error()).
int ConfigureVobWriter(OutputWriter& writer, const EncoderHost& host, const char* vobPath,
                       int64_t clockStart = 0);

}  // namespace core
