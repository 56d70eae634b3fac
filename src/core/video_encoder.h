// MPEG-2 video elementary stream from bottom-up BGR24 pictures.
#pragma once

#include <cstdint>

#include "core/encoder.h"
#include "core/encoder_picture.h"

namespace core {

class VideoEncoder : public Encoder {
public:
    explicit VideoEncoder(const EncoderHost* host);

    // Reads the source geometry and the settings from host and opens the encoder with the DVD
    // parameter set. 1 on success, 0 on failure (reason in Error()).
    int Open(const EncoderHost* host);

    // Encodes one bottom-up BGR24 picture of the source size `repeat` times, each repeat with
    // the next picture time. rowBytes is the distance between rows (0: bitmap rows padded to
    // 4 bytes). 0 on success, 1 on failure.
    int EncodeFrame(const uint8_t* bgrBits, int repeat, int rowBytes = 0);

    // Writes the pictures held back for B-picture reordering. 0 on success, 1 on failure.
    int Finish() override;

private:
    PictureConverter converter_;
};

}  // namespace core
