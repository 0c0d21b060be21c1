// SPDX-License-Identifier: Apache-2.0
// Median filtering of 8-bit images with large rectangular windows (up to 181 x 181), with an
// optional mask and a range of grey values that take part; used to estimate a slowly
// varying background.
//
// Cancellation: ccAttention::check() once per image row; on ccTimeout the output is left as
// it was.
#ifndef PLATFORM_VISION_MEDIAN_H
#define PLATFORM_VISION_MEDIAN_H

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"

// Parameters of cfPelMedian.
//  - size: window width and height in pixels, each odd and in [1, kMaxSize]; the window is
//    centred on the output pixel.
//  - valueRange: (low, high), inclusive grey levels. Only pixels whose value lies in
//    [low, high] take part in a median; the others are ignored as masked pixels are. Need
//    0 <= low <= high <= 255.
//  - keepInputWhenEmpty: what a pixel gets when its window holds no pixel that takes part:
//    true, its own input value; false, 0.
// The constructor throws ccBadArgument for a size or range outside these limits.
class CCALIB_EXPORT ccPelMedianParams {
 public:
  static constexpr long kMaxSize = 181;

  explicit ccPelMedianParams(const ccPair<long>& size = ccPair<long>(3, 3),
                             const ccPair<long>& valueRange = ccPair<long>(0, 255),
                             bool keepInputWhenEmpty = true);

  const ccPair<long>& size() const { return size_; }
  const ccPair<long>& valueRange() const { return range_; }
  bool keepInputWhenEmpty() const { return keepInput_; }

 private:
  ccPair<long> size_;
  ccPair<long> range_;
  bool keepInput_;
};

// out(p) = median of the pixels that take part in the window centred on p. The window is
// clipped to the image window (nothing is invented beyond it), so near the border fewer
// pixels take part. With n pixels taking part the median is the value of rank (n - 1) / 2
// in increasing order, counted from 0 (the lower median when n is even).
//
// Output: over the image window. An unbound out gets new pixels there with the image's
// client transform; a bound out must have the window's size and keeps its own offset and
// transform. out may share pixels with the image.
//
// Throws ccPel::UnboundWindow for an unbound image, ccPel::BadWindow for an empty image
// window, ccBadArgument for a bound out of another size.
CCALIB_EXPORT void cfPelMedian(const ccPelBuffer_const<unsigned char>& image,
                               const ccPelMedianParams& params, ccPelBuffer<unsigned char>& out);

// As above, where only pixels with a non-zero mask value take part. Mask and image are aligned
// in the image frame and may have different windows: the filter works on the overlap of the
// two windows, which is also the output window (pixels of the image outside the mask's
// window neither take part nor get an output). An unbound mask means no mask. Throws as above,
// and ccBadArgument when the windows do not overlap.
CCALIB_EXPORT void cfPelMedian(const ccPelBuffer_const<unsigned char>& image,
                               const ccPelBuffer_const<unsigned char>& mask,
                               const ccPelMedianParams& params, ccPelBuffer<unsigned char>& out);

#endif  // PLATFORM_VISION_MEDIAN_H
