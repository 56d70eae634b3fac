// Decoded pictures into the bottom-up BGR24 pictures the source filter delivers, as players
// show them: in the colours the stream's YUV values mean, and turned by its display matrix.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/dshow/picture_orientation.h"

struct AVFrame;
struct SwsContext;

namespace platform::dshow {

class PictureToRgb {
public:
    // shown: the size of the pictures to make, as shown (scaled from the decoded size).
    PictureToRgb(PictureOrientation orientation, PictureSize shown);
    ~PictureToRgb();
    PictureToRgb(const PictureToRgb&) = delete;
    PictureToRgb& operator=(const PictureToRgb&) = delete;

    // Writes frame into target, a bottom-up picture of the shown size with rows of
    // Rgb24Stride bytes. False when the frame cannot be converted.
    bool Convert(const AVFrame* frame, uint8_t* target);

private:
    // What the scalers were made for; a frame that differs in any of them needs new ones.
    struct ScalerKey {
        int width = 0;
        int height = 0;
        int format = -1;
        int matrix = -1;
        bool fullRange = false;
        bool operator==(const ScalerKey&) const = default;
    };
    bool PrepareScalers(const AVFrame* frame);
    void ReleaseScalers();
    bool Scale(const AVFrame* frame, uint8_t* top, int stride);

    const PictureOrientation orientation_;
    const PictureSize shown_;
    const PictureSize stored_;  // the scaled picture before it is turned
    // Scales the decoded YUV (or grey) to 8-bit YUV 4:2:0 at the stored size, when the
    // picture changes size or is grey; null when the decoded picture goes to RGB as it is.
    SwsContext* sizer_ = nullptr;
    AVFrame* sized_ = nullptr;  // what sizer_ makes
    SwsContext* toRgb_ = nullptr;
    ScalerKey key_;
    std::vector<uint8_t> turning_;  // the scaled picture as stored, when it must be turned
};

}  // namespace platform::dshow
