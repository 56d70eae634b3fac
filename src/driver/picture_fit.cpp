#include "driver/picture_fit.h"

#include <cstdlib>

#include "driver/pacing.h"

namespace driver {

using platform::dshow::BITMAPINFOHEADER;

namespace {

int InnerWidth(const core::PictureGeometry& g, const OutputFrame& frame) {
    return frame.Width - g.PadLeft - g.PadRight;
}

int InnerHeight(const core::PictureGeometry& g, const OutputFrame& frame) {
    return frame.Height - g.PadTop - g.PadBottom;
}

}  // namespace

core::PictureGeometry FitGeometry(const BITMAPINFOHEADER& picture, const OutputFrame& frame) {
    const int width = picture.biWidth;
    const int height = std::abs(picture.biHeight);
    const PadBands bands = ComputePadBands(width, height, platform::dshow::PixelAspectOf(picture),
                                           frame.Width, frame.Height, frame.Pixel, frame.Stretch);
    core::PictureGeometry geometry;
    geometry.SourceWidth = width;
    geometry.SourceHeight = height;
    geometry.PadTop = bands.Top;
    geometry.PadBottom = bands.Bottom;
    geometry.PadLeft = bands.Left;
    geometry.PadRight = bands.Right;
    geometry.NeedsScaling = bands.NeedsScaling;
    return geometry;
}

BITMAPINFOHEADER PictureFitRequest::Ask(const BITMAPINFOHEADER& offered, const OutputFrame& frame) {
    asked_.reset();
    const core::PictureGeometry fit = FitGeometry(offered, frame);
    const int width = InnerWidth(fit, frame), height = InnerHeight(fit, frame);
    if (!fit.NeedsScaling || width <= 0 || height <= 0) return offered;
    asked_ = fit;
    BITMAPINFOHEADER wanted = offered;
    wanted.biWidth = width;
    wanted.biHeight = height;
    SetPixelAspect(wanted, frame.Pixel);
    return wanted;
}

core::PictureGeometry PictureFitRequest::Settle(const BITMAPINFOHEADER& delivered,
                                                const OutputFrame& frame) {
    std::optional<core::PictureGeometry> asked;
    asked.swap(asked_);
    if (!asked || delivered.biWidth != InnerWidth(*asked, frame) ||
        std::abs(delivered.biHeight) != InnerHeight(*asked, frame)) {
        return FitGeometry(delivered, frame);
    }
    core::PictureGeometry geometry = *asked;
    geometry.SourceWidth = delivered.biWidth;
    geometry.SourceHeight = std::abs(delivered.biHeight);
    geometry.NeedsScaling = false;
    return geometry;
}

}  // namespace driver
