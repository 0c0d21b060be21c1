// SPDX-License-Identifier: Apache-2.0
// Gaussian smoothing with optional integer subsampling of 8-bit images: the low-pass step
// before segmentation of evenly lit plates, and a cheap image pyramid level.
//
// Cancellation: ccAttention::check() once per output row; on ccTimeout the output is left as
// it was.
#ifndef PLATFORM_VISION_GAUSS_SAMPLE_H
#define PLATFORM_VISION_GAUSS_SAMPLE_H

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"

// Settings of cfGaussSample.
//   subsample:       keep every subsample-th pixel along x and y (1 = full resolution);
//                    1 .. kMaxSubsample.
//   kernelHalfWidth: the kernel covers 2 * kernelHalfWidth + 1 input pixels along each axis;
//                    0 .. kMaxHalfWidth (0 = no smoothing, plain decimation).
//   sigma:           standard deviation of the Gaussian, input pixels; > 0 and finite. The
//                    kernel is the sampled Gaussian cut at the half width and scaled to sum 1.
//   keepFrame:       true: the output keeps the input's image frame, scaled by subsample:
//                    output pixel (X, Y) is the smoothed input at image-frame point
//                    (subsample X, subsample Y), so with subsample 1 the output has exactly the
//                    input's window (offset and size). false: the output window starts at
//                    (0, 0) and output pixel (X, Y) is the smoothed input at the input window's
//                    upper-left pixel plus (subsample X, subsample Y).
class CCALIB_EXPORT ccGaussSampleParams {
 public:
  // Throws ccBadArgument for values outside the ranges above.
  ccGaussSampleParams(int subsample, int kernelHalfWidth, double sigma, bool keepFrame);

  int subsample() const { return subsample_; }
  int kernelHalfWidth() const { return halfWidth_; }
  double sigma() const { return sigma_; }
  bool keepFrame() const { return keepFrame_; }

  static constexpr int kMaxSubsample = 64;
  static constexpr int kMaxHalfWidth = 64;

 private:
  int subsample_;
  int halfWidth_;
  double sigma_;
  bool keepFrame_;
};

// Smooths `image` over its window with the separable Gaussian of `params` and samples the
// result as `params` says; pixels beyond the window repeat the nearest window pixel, so a
// constant image stays constant and the mean is preserved up to rounding. Output values are
// rounded to the nearest grey level.
// `out` is replaced by a new buffer (it may be the input object itself). Its client transform
// maps every output pixel to the client position of the input point it samples: it is the
// input's transform itself when subsample is 1 and keepFrame is true, and otherwise that
// transform after the frame change, which needs a linear input transform.
// Throws ccPel::UnboundWindow for an unbound image and ccBadArgument when a non-linear client
// transform would have to be rescaled.
CCALIB_EXPORT void cfGaussSample(const ccPelBuffer_const<unsigned char>& image,
                                 const ccGaussSampleParams& params,
                                 ccPelBuffer<unsigned char>& out);

#endif  // PLATFORM_VISION_GAUSS_SAMPLE_H
