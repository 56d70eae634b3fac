// The two roads by which a clip's pictures and sound become its VOB in the output folder: the
// video and audio elementary streams ("Chapter%02d.m2v" with ".mp2" or ".ac3") that the
// multiplexer then joins into "Lumivane%02d.vob", or the VOB written at once through
// libavformat's "dvd" muxer (the DirectVOB setting).
//
// Every file is created anew (core::CreateNewFile), so no clip, whenever it was added to the
// list, writes through a link standing under one of its names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/audio_encoder.h"
#include "core/encoder_host.h"
#include "core/output_writer.h"
#include "core/video_encoder.h"

namespace platform {
class ProgressTarget;
}  // namespace platform

namespace driver {

class ClipOutputs {
public:
    // A clip's files; the streams' names are empty on the direct road.
    struct Files {
        std::string vob, video, audio;
    };
    // A file that could not be created, and the system's reason.
    struct CreateFailure {
        std::string path, reason;
    };

    // host gives the job's settings (road, audio format, output folder) and, when the outputs
    // open, the picture and sound formats.
    explicit ClipOutputs(const core::EncoderHost* host) : host_(host) {}
    ~ClipOutputs() { Release(); }
    ClipOutputs(const ClipOutputs&) = delete;
    ClipOutputs& operator=(const ClipOutputs&) = delete;

    // Makes the outputs of the clip at `index` in the list: the two encoders and their files,
    // or the writer (whose VOB is created when it opens). False when a stream file cannot be
    // created; a stream file created before is removed again.
    bool Create(int index, CreateFailure& failure);
    // The clip is written by the direct road (from Create on, also once closed).
    bool Direct() const { return direct_; }
    // The encoders exist (elementary-stream road, from Create to Close).
    bool EncodesStreams() const { return audio_ != nullptr; }
    const Files& Names() const { return names_; }
    // What this clip's outputs created so far, by name; a name stays empty until its file is
    // created, so that whoever cleans up never removes what stood there before.
    const Files& Created() const { return created_; }

    // Opens the encoders, or the writer with the VOB's clock starting at clockStart (90 kHz),
    // once the clip's formats are known. False with the reason in `error`.
    bool Open(int64_t clockStart, std::string& error);
    // One picture, encoded `repeat` times; false when the encoder or the writer failed.
    bool WriteVideo(const uint8_t* bgrBits, int repeat);
    // count interleaved 16-bit values of the title's channels; false when writing failed.
    bool WriteSound(const int16_t* samples, int count);

    // Drains the encoders or the writer and closes the files; false with the reason.
    bool Close(std::string& error);
    // Direct road, after Close: how far the VOB's clock runs (OutputWriter::ClockLength).
    int64_t DirectClockLength() const { return directClockLength_; }
    // Elementary-stream road, after Close: joins the two streams into the VOB, its clock
    // starting at clockStart (the multiplexer's ticks). False with the reason, which names the
    // VOB; the multiplexer then leaves no VOB.
    bool Multiplex(platform::ProgressTarget* progress, int64_t clockStart, std::string& error);

    // Drops the encoders, the writer and the open files without finishing them; the files
    // stay for the caller to keep or remove.
    void Release();

private:
    bool CreateStreamFiles(CreateFailure& failure);

    const core::EncoderHost* host_;
    Files names_;
    Files created_;
    bool direct_ = false;
    std::unique_ptr<core::VideoEncoder> video_;
    std::unique_ptr<core::JobAudioEncoder> audio_;
    std::FILE* videoFile_ = nullptr;
    std::FILE* audioFile_ = nullptr;
    std::unique_ptr<core::OutputWriter> writer_;
    int64_t directClockLength_ = 0;
};

}  // namespace driver
