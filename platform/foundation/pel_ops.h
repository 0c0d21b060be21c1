// SPDX-License-Identifier: Apache-2.0
// Whole-image pixel operations: fill, copy, table mapping, subtraction, maximum and
// histograms. Every operation works on the windows of its arguments (image-frame aligned
// where two images meet) and throws ccPel::UnboundWindow for an image without pixels.
#ifndef PLATFORM_FOUNDATION_PEL_OPS_H
#define PLATFORM_FOUNDATION_PEL_OPS_H

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "platform/foundation/pel_buffer.h"

// Sets every pixel of the window to `value`.
template <class T>
void cfPelSet(ccPelBuffer<T>& image, T value) {
  image.requireBound();
  for (long j = 0; j < image.height(); ++j)
    std::fill(image.row(j), image.row(j) + image.width(), value);
}

// Copies the pixels of `src` into `dst`. An unbound `dst` first gets new pixels with the
// window, offset and client transform of `src`; a bound one must have the same size, and
// keeps its own offset and transform.
template <class T>
void cfPelCopy(const ccPelBuffer_const<T>& src, ccPelBuffer<T>& dst) {
  src.requireBound();
  if (!dst.isBound()) {
    dst = ccPelBuffer<T>(src.window());
    dst.copyXforms(src);
  } else if (dst.width() != src.width() || dst.height() != src.height()) {
    throw ccBadArgument(L"cfPelCopy: the destination differs in size from the source");
  }
  for (long j = 0; j < src.height(); ++j)
    std::copy(src.row(j), src.row(j) + src.width(), dst.row(j));
}

// A deep copy of `src` (same window, offset and client transform, new pixels).
template <class T>
ccPelBuffer<T> cfPelCopy(const ccPelBuffer_const<T>& src) {
  ccPelBuffer<T> dst;
  cfPelCopy(src, dst);
  return dst;
}

// dst(p) = table[src(p)] for 8-bit images; dst gets the source's window when unbound and
// must match its size otherwise. dst may be src itself.
CCALIB_EXPORT void cfPelMap(const ccPelBuffer_const<unsigned char>& src,
                            const std::vector<unsigned char>& table,
                            ccPelBuffer<unsigned char>& dst);

// How cfPelSub combines the two pixel values a and b.
enum ccPelSubMode {
  ePelSubWrap = 0,       // (a - b) modulo 256
  ePelSubAbsolute = 1,   // |a - b|
  ePelSubOffset = 2,     // clamp(a - b + 128) to [0, 255]
  ePelSubClampZero = 3,  // max(a - b, 0): what a has above b
};

// a - b over the part of the image frame where both windows overlap; the result has that
// window and a's client transform. Throws ccBadArgument when the windows do not overlap.
CCALIB_EXPORT ccPelBuffer<unsigned char> cfPelSub(const ccPelBuffer_const<unsigned char>& a,
                                                  const ccPelBuffer_const<unsigned char>& b,
                                                  int mode);

// dst(p) = max(a(p), b(p)) over the overlap of the three windows in the image frame.
// dst may be a or b.
CCALIB_EXPORT void cfPelMax(const ccPelBuffer_const<unsigned char>& a,
                            const ccPelBuffer_const<unsigned char>& b,
                            ccPelBuffer<unsigned char>& dst);

// 256-bin histogram of the window.
CCALIB_EXPORT std::vector<unsigned long> cfPelHistogram(
    const ccPelBuffer_const<unsigned char>& image);
CCALIB_EXPORT void cfPelHistogram(const ccPelBuffer_const<unsigned char>& image,
                                  std::vector<unsigned long>& histogram);

#endif  // PLATFORM_FOUNDATION_PEL_OPS_H
