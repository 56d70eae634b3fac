// The send/receive loop of an opened encoder, shared by the file encoders and the direct writer.
#pragma once

#include <functional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace core {

// Takes one coded packet; returns false (with its reason in *error) to stop.
using PacketHandler = std::function<bool(AVPacket* packet, std::string* error)>;

// Sends frame to the encoder (null drains it: everything held back for reordering or look-ahead
// comes out) and hands every packet it returns to handler. False with a reason on failure.
bool EncodeAndDeliver(AVCodecContext* context, const AVFrame* frame, const PacketHandler& handler,
                      std::string* error);

}  // namespace core
