// Bottom-up BGR24 pictures into the YUV 4:2:0 frame the video encoder takes.
#pragma once

#include <cstdint>
#include <string>

#include "core/encoder_host.h"
#include "core/encoder_packets.h"

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

namespace core {

// Row length of a 24-bit device-independent bitmap: rows are padded to a multiple of 4 bytes,
// so a 854-pixel row takes 2,564 bytes, not 2,562.
constexpr int DibRowBytes(int width) { return (width * 3 + 3) & ~3; }

// One scaler from the cropped source into the inner rectangle of an output frame whose pad
// bands are filled once with the pad colour; pictures the same size as the frame take
// swscale's unscaled path through the same code.
class PictureConverter {
public:
    PictureConverter() = default;
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;
    ~PictureConverter();

    // Prepares for pictures of geometry's source size into an outputWidth x outputHeight frame.
    // Bands that leave no picture, odd pad bands (they would split chroma samples) or sizes
    // that are not positive are refused with a reason in *error.
    bool Open(const PictureGeometry& geometry, int outputWidth, int outputHeight,
              std::string* error);

    // Converts one bottom-up picture whose rows are rowBytes apart (0: bitmap rows,
    // DibRowBytes). The frame returned stays valid until the next call; the encoder may keep
    // references to earlier ones, which are never written over. Null with a reason on failure.
    AVFrame* Convert(const uint8_t* bgrBits, int rowBytes, std::string* error);

    // Converts one picture and sends it to encoder `repeat` times: each repeat is its own
    // picture in time, stamped with the next picture number (from 0 at Open), while the
    // conversion is done once.
    bool EncodeRepeated(AVCodecContext* encoder, const uint8_t* bgrBits, int repeat, int rowBytes,
                        const PacketHandler& handler, std::string* error);

private:
    void Release();
    bool FillPadColour(std::string* error);

    PictureGeometry geometry_;
    SwsContext* scaler_ = nullptr;
    AVFrame* frame_ = nullptr;   // the output picture, pad bands included
    AVFrame* source_ = nullptr;  // the caller's picture during one conversion
    AVFrame* inner_ = nullptr;   // the output picture less its pad bands, during one conversion
    int64_t picturesSent_ = 0;
};

}  // namespace core
