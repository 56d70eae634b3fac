// Where a clip's pictures go in the disc's frame, and the picture the plain graph asks its
// source for, so that the pictures reach the encoder at the size it uses them: the source
// scales them in YUV while it converts, and the encoder's conversion keeps to one size.
#pragma once

#include <optional>

#include "core/encoder_host.h"
#include "platform/dshow/types.h"

namespace driver {

// The output frame a job's pictures are fitted into.
struct OutputFrame {
    int Width = 0;
    int Height = 0;
    platform::dshow::PixelAspect Pixel;
    bool Stretch = false;  // fill the frame rather than keep the picture's proportions
};

// The encoder's geometry for pictures of picture's size and pixel shape inside frame (a
// negative height counts as its size).
core::PictureGeometry FitGeometry(const platform::dshow::BITMAPINFOHEADER& picture,
                                  const OutputFrame& frame);

// One clip's picture asked of the source and the geometry it was asked for. The bands are
// those of the picture the source offered: worked out again from the scaled picture, whose
// proportions have lost a little to rounding, they could come out a pixel apart.
class PictureFitRequest {
public:
    // Records the fit of the offered picture and returns the picture to ask for: the part of
    // the frame inside the bands, of the frame's pixel shape; the offered picture itself when
    // it needs no scaling.
    platform::dshow::BITMAPINFOHEADER Ask(const platform::dshow::BITMAPINFOHEADER& offered,
                                          const OutputFrame& frame);
    // The geometry for the picture the source delivers: the asked fit when it comes at the
    // asked size, else its own. Forgets the request.
    core::PictureGeometry Settle(const platform::dshow::BITMAPINFOHEADER& delivered,
                                 const OutputFrame& frame);

private:
    std::optional<core::PictureGeometry> asked_;
};

}  // namespace driver
