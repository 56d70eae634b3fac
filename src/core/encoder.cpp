#include "core/encoder.h"

#include <cerrno>
#include <cstring>

#include "core/codec_library.h"
#include "core/log.h"

namespace core {

Encoder::Encoder(const EncoderHost* host, AVCodecID codecId) : host_(host), codecId_(codecId) {
    InitCodecLibrary();
}

Encoder::~Encoder() { avcodec_free_context(&context_); }

int Encoder::SetOutputFile(std::FILE** file) {
    outputFile_ = file;
    return 1;
}

bool Encoder::Fail(const std::string& reason) {
    if (error_.empty()) {
        error_ = reason;
        LogPrintf("Encoder failure: %s\n", reason.c_str());
    }
    return false;
}

bool Encoder::AllocateContext() {
    avcodec_free_context(&context_);
    finished_ = false;
    codec_ = avcodec_find_encoder(codecId_);
    if (!codec_) return Fail(std::string("No encoder for ") + avcodec_get_name(codecId_));
    context_ = avcodec_alloc_context3(codec_);
    if (!context_) return Fail("Out of memory for the encoder");
    return true;
}

bool Encoder::OpenContext(const char* what) {
    ForgetCodecLibraryMessage();
    if (const int err = avcodec_open2(context_, codec_, nullptr); err < 0)
        return Fail(CodecFailure(std::string("Cannot open the ") + what + " encoder", err));
    return true;
}

PacketHandler Encoder::FileWriter() const {
    std::FILE* file = outputFile_ ? *outputFile_ : nullptr;
    return [file](AVPacket* packet, std::string* reason) {
        if (!file) {
            *reason = "No output file for the coded stream";
            return false;
        }
        if (std::fwrite(packet->data, 1, packet->size, file) == static_cast<size_t>(packet->size))
            return true;
        *reason = std::string("Cannot write the coded stream: ") + std::strerror(errno);
        return false;
    };
}

bool Encoder::EncodeToFile(const AVFrame* frame) {
    std::string error;
    return EncodeAndDeliver(context_, frame, FileWriter(), &error) || Fail(error);
}

bool Encoder::FlushFile() {
    std::FILE* file = outputFile_ ? *outputFile_ : nullptr;
    if (!file) return Fail("No output file for the coded stream");
    if (std::fflush(file) != 0)
        return Fail(std::string("Cannot write the coded stream: ") + std::strerror(errno));
    return true;
}

}  // namespace core
