#include "platform/dshow/picture_orientation.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace platform::dshow {
namespace {

constexpr int kMatrixEntries = 9;
constexpr int kBytesPerPixel = 3;
constexpr double kRightAngle = 90.0;
constexpr double kAngleTolerance = 1.0;  // degrees: what fixed-point rounding leaves of a turn

// The matrix (FFmpeg's layout: a b u / c d v / x y w, 16.16 fixed point) maps a stored point
// (p, q) to the shown point (p a + q c, p b + q d), moved by x and y to keep it in the frame.
// After a right-angle turn, with or without a mirror, either a and d or b and c are zero.
PictureOrientation OrientationOfMatrix(const int32_t* matrix) {
    const double angle = av_display_rotation_get(matrix);
    if (!std::isfinite(angle)) return {};
    const double turns = angle / kRightAngle;
    if (std::fabs(turns - std::round(turns)) * kRightAngle > kAngleTolerance) return {};
    const int32_t a = matrix[0], b = matrix[1], c = matrix[3], d = matrix[4];
    PictureOrientation orientation;
    orientation.transposed = std::llabs(a) < std::llabs(b);
    // Shown x comes from p a (upright) or q c (transposed); shown y from q d or p b.
    orientation.mirrorX = orientation.transposed ? c < 0 : a < 0;
    orientation.mirrorY = orientation.transposed ? b < 0 : d < 0;
    return orientation;
}

}  // namespace

PictureOrientation OrientationOf(const AVStream* stream) {
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (data == nullptr || size < kMatrixEntries * sizeof(int32_t)) return {};
    int32_t matrix[kMatrixEntries];
    std::memcpy(matrix, data, sizeof matrix);
    return OrientationOfMatrix(matrix);
}

PictureSize ShownSize(PictureOrientation orientation, PictureSize stored) {
    return orientation.transposed ? PictureSize{stored.height, stored.width} : stored;
}

// Shown pixel (x, y) is read at stored + origin + x * stepX + y * stepY: a transposed picture
// walks a stored column along each shown row, a mirrored axis walks backwards from its end.
void OrientPicture(const uint8_t* stored, ptrdiff_t storedStride, PictureSize storedSize,
                   PictureOrientation orientation, uint8_t* shown, ptrdiff_t shownStride) {
    const ptrdiff_t lastColumn = ptrdiff_t(storedSize.width - 1) * kBytesPerPixel;
    const ptrdiff_t lastRow = ptrdiff_t(storedSize.height - 1) * storedStride;
    const ptrdiff_t alongRow = orientation.transposed ? storedStride : kBytesPerPixel;
    const ptrdiff_t alongColumn = orientation.transposed ? kBytesPerPixel : storedStride;
    const ptrdiff_t endOfRow = orientation.transposed ? lastRow : lastColumn;
    const ptrdiff_t endOfColumn = orientation.transposed ? lastColumn : lastRow;
    const ptrdiff_t stepX = orientation.mirrorX ? -alongRow : alongRow;
    const ptrdiff_t stepY = orientation.mirrorY ? -alongColumn : alongColumn;
    const uint8_t* origin = stored + (orientation.mirrorX ? endOfRow : 0) +
                            (orientation.mirrorY ? endOfColumn : 0);
    const PictureSize size = ShownSize(orientation, storedSize);
    for (int y = 0; y < size.height; ++y) {
        const uint8_t* from = origin + y * stepY;
        uint8_t* to = shown + y * shownStride;
        for (int x = 0; x < size.width; ++x, from += stepX, to += kBytesPerPixel) {
            std::memcpy(to, from, kBytesPerPixel);
        }
    }
}

}  // namespace platform::dshow
