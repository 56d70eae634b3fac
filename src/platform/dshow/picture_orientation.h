// How a stream's pictures are turned to be shown the way players show them. A phone filming
// upright stores its pictures on their side and says so in the container's display matrix;
// every player turns them back, and so must we, before anyone measures or fits the picture.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVStream;

namespace platform::dshow {

// The eight ways of laying a picture onto a grid of right angles: columns and rows swapped
// (a quarter turn, with or without a mirror) and each shown axis reversed or not.
struct PictureOrientation {
    bool transposed = false;  // the shown rows are the stored columns
    bool mirrorX = false;     // the shown columns run right to left over their stored pixels
    bool mirrorY = false;     // the shown rows run bottom to top over their stored pixels

    bool Upright() const { return !transposed && !mirrorX && !mirrorY; }
};

// The orientation the stream's display-matrix side data asks for; upright without one. Turns
// that are not a multiple of a right angle are not applied: such a picture stays as stored,
// since no frame holds it without cutting its corners.
PictureOrientation OrientationOf(const AVStream* stream);

// The size of a picture as shown, from its stored size.
struct PictureSize {
    int width = 0;
    int height = 0;
};
PictureSize ShownSize(PictureOrientation orientation, PictureSize stored);

// Copies a stored BGR24 picture (top row first, rows storedStride bytes apart) into the shown
// picture of ShownSize, whose top row is at shown and whose rows lie shownStride bytes apart
// (negative for a bottom-up bitmap).
void OrientPicture(const uint8_t* stored, ptrdiff_t storedStride, PictureSize storedSize,
                   PictureOrientation orientation, uint8_t* shown, ptrdiff_t shownStride);

}  // namespace platform::dshow
