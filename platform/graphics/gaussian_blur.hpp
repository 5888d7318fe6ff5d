#pragma once

// The one Gaussian blur the graphics stand-ins draw with (Core Image's
// filters and the view layer's blur and shadow): a standard deviation in
// pixels approximated, as SVG's filter effects specify, by three passes
// of a box filter along each axis. With d = floor(sigma × 3 √(2π) / 4 + ½):
// an odd d gives three boxes of d pixels centred on the pixel; an even d
// gives a box of d pixels centred on the pixel's left edge, one centred on
// its right edge and one of d + 1 pixels centred on the pixel. The passes
// are sums of whole pixels, so the result is symmetric, keeps the total of
// a buffer whose edges are clear, and a d of 1 or less changes nothing.
//
// Pixels outside the buffer count as clear (zero): a blur fades at the
// buffer's edges, and a caller that wants an edge extended renders its
// input over a margin of gaussianReach pixels first.

#include <cstddef>

namespace platform {

// d above; 0 for a deviation that is not finite and above 0.
int gaussianBoxSize(double sigma);
// How far a blurred pixel's value reaches: what a pixel can take from
// pixels this far away, and no farther.
int gaussianReach(double sigma);

// Blurs `channels` interleaved floats per pixel of a width × height buffer
// (rows of width × channels floats) in place, along x by sigmaX and along y
// by sigmaY.
void gaussianBlur(float* pixels, int width, int height, int channels, double sigmaX, double sigmaY);

}  // namespace platform
