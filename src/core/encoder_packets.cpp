#include "core/encoder_packets.h"

#include <memory>

#include "core/codec_library.h"

namespace core {

namespace {

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

}  // namespace

bool EncodeAndDeliver(AVCodecContext* context, const AVFrame* frame, const PacketHandler& handler,
                      std::string* error) {
    ForgetCodecLibraryMessage();
    if (const int err = avcodec_send_frame(context, frame); err < 0) {
        if (error)
            *error = CodecFailure(
                frame ? "The encoder refused a frame" : "The encoder cannot be drained", err);
        return false;
    }
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) {
        if (error) *error = "Out of memory for a coded packet";
        return false;
    }
    for (;;) {
        const int err = avcodec_receive_packet(context, packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return true;
        if (err < 0) {
            if (error) *error = CodecFailure("The encoder failed", err);
            return false;
        }
        const bool delivered = handler(packet.get(), error);
        av_packet_unref(packet.get());
        if (!delivered) return false;
    }
}

}  // namespace core
