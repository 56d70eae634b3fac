// Elementary-stream encoders: one coded stream per file, for the program-stream multiplexer.
#pragma once

#include <cstdio>
#include <string>

#include "core/encoder_host.h"
#include "core/encoder_packets.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace core {

// The libavcodec context and the output file that the video and audio encoders share.
//
// Calling order per clip: construct, SetOutputFile, Open (after the source's formats are known),
// encode calls on one streaming thread, Finish, then the job closes the file and deletes the
// encoder. Finish must come before the file is closed: the codec holds back the last pictures
// (B-picture reordering) and the last partial audio frame until then.
//
// A failure is logged, kept in Error(), and every later call fails at once, so a clip whose
// disk is full stops costing time and its caller can tell.
class Encoder {
public:
    Encoder(const EncoderHost* host, AVCodecID codecId);
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    virtual ~Encoder();

    // file points at the job's field holding the open file; the job closes it. Returns 1.
    int SetOutputFile(std::FILE** file);

    // Drains the codec into the file and flushes it: 0 on success, 1 on failure.
    virtual int Finish() = 0;

    const std::string& Error() const { return error_; }
    bool Failed() const { return !error_.empty(); }
    const AVCodecContext* CodecContext() const { return context_; }

protected:
    // A fresh context for the codec id, freeing any previous one.
    bool AllocateContext();
    bool OpenContext(const char* what);
    // Writes each packet to the output file as it stands now.
    PacketHandler FileWriter() const;
    // Sends frame (null drains) and writes what comes out to the file.
    bool EncodeToFile(const AVFrame* frame);
    bool FlushFile();
    // Records the first failure and logs it; returns false.
    bool Fail(const std::string& reason);

    const EncoderHost* host_;
    AVCodecID codecId_;
    const AVCodec* codec_ = nullptr;
    AVCodecContext* context_ = nullptr;
    std::FILE** outputFile_ = nullptr;
    bool finished_ = false;

private:
    std::string error_;
};

}  // namespace core
