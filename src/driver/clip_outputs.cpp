#include "driver/clip_outputs.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/file_utils.h"
#include "core/log.h"
#include "core/new_file.h"
#include "driver/temp_files.h"
#include "psmux/multiplexer.h"

namespace driver {

namespace {

// Closes a file an encoder wrote; false when the last buffered bytes could not be written.
bool CloseFile(std::FILE*& file) {
    if (file == nullptr) return true;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    return closed;
}

}  // namespace

bool ClipOutputs::Create(int index, CreateFailure& failure) {
    Release();
    names_ = created_ = Files{};
    const core::Settings& settings = host_->EncoderSettings();
    const auto inFolder = [&](const char* name) {
        return core::PathInFolder(settings.OutputFolder, core::FormatString(name, index));
    };
    names_.vob = inFolder(kClipVobName);
    direct_ = settings.DirectVOB != 0;
    if (direct_) {
        writer_ = std::make_unique<core::OutputWriter>(host_);
        return true;
    }
    video_ = std::make_unique<core::VideoEncoder>(host_);
    audio_ = std::make_unique<core::JobAudioEncoder>(host_);
    names_.video = inFolder(kClipVideoName);
    names_.audio = inFolder(settings.AudioFormat == 0 ? kClipMp2Name : kClipAc3Name);
    return CreateStreamFiles(failure);
}

bool ClipOutputs::CreateStreamFiles(CreateFailure& failure) {
    videoFile_ = core::CreateNewStream(names_.video);
    if (videoFile_ != nullptr) {
        created_.video = names_.video;
        audioFile_ = core::CreateNewStream(names_.audio);
    }
    if (audioFile_ != nullptr) {
        created_.audio = names_.audio;
        video_->SetOutputFile(&videoFile_);
        audio_->SetOutputFile(&audioFile_);
        return true;
    }
    failure = {videoFile_ != nullptr ? names_.audio : names_.video, std::strerror(errno)};
    Release();
    if (!created_.video.empty()) ::unlink(created_.video.c_str());  // ours, and empty
    created_ = Files{};
    return false;
}

bool ClipOutputs::Open(int64_t clockStart, std::string& error) {
    if (!writer_ && !video_) {
        error = "The clip's outputs were not created";
        return false;
    }
    if (direct_) {
        const bool opened =
            core::ConfigureVobWriter(*writer_, *host_, names_.vob.c_str(), clockStart) >= 0;
        if (writer_->CreatedFile()) created_.vob = names_.vob;
        if (!opened) error = writer_->Error();
        return opened;
    }
    if (video_->Open(host_) != 1) {
        error = video_->Error();
        return false;
    }
    if (audio_->Open() != 0) {
        error = audio_->Error();
        return false;
    }
    return true;
}

bool ClipOutputs::WriteVideo(const uint8_t* bgrBits, int repeat) {
    if (writer_) return writer_->WriteVideo(bgrBits, repeat);
    return video_ && video_->EncodeFrame(bgrBits, repeat) == 0;
}

bool ClipOutputs::WriteSound(const int16_t* samples, int count) {
    if (writer_) return writer_->WriteAudio(samples, count);
    return audio_ && audio_->EncodeSamples(samples, count) == 0;
}

bool ClipOutputs::Close(std::string& error) {
    if (writer_) {
        const bool closed = writer_->Close();
        if (!closed) error = writer_->Error();
        // The writer ends the sound within the pictures: its length is the pictures'.
        directClockLength_ = writer_->ClockLength();
        writer_.reset();
        return closed;
    }
    if (!video_) {
        error = "The clip's outputs are not open";
        return false;
    }
    bool finished = video_->Finish() == 0;
    if (!finished) error = video_->Error();
    if (audio_->Finish() != 0 && finished) {
        finished = false;
        error = audio_->Error();
    }
    const bool videoClosed = CloseFile(videoFile_);
    const bool audioClosed = CloseFile(audioFile_);
    if (finished && !(videoClosed && audioClosed)) {
        finished = false;
        error = "Cannot finish writing " + (videoClosed ? names_.audio : names_.video);
    }
    video_.reset();
    audio_.reset();
    return finished;
}

bool ClipOutputs::Multiplex(platform::ProgressTarget* progress, int64_t clockStart,
                            std::string& error) {
    // The clip is fully encoded: its multiplex is never cut (no cancel event), since a VOB cut
    // there ends its chapter in a damaged picture. A Stop meanwhile takes effect once the VOB
    // is whole.
    std::string muxFailure;
    const int muxResult =
        psmux::RunMultiplexer(names_.vob.c_str(), names_.video.c_str(), names_.audio.c_str(),
                              progress, nullptr, clockStart, &muxFailure);
    if (muxResult != 0) {
        error = core::FormatString("Multiplexing into %s failed: %s", names_.vob.c_str(),
                                   muxFailure.c_str());
        core::LogPrintf("%s\n", error.c_str());
        return false;
    }
    created_.vob = names_.vob;
    return true;
}

void ClipOutputs::Release() {
    video_.reset();
    audio_.reset();
    CloseFile(videoFile_);
    CloseFile(audioFile_);
    writer_.reset();
}

}  // namespace driver
