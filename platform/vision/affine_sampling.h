// SPDX-License-Identifier: Apache-2.0
// Sampling of an 8-bit image over an affine rectangle: the 1-D profiles that calipers search
// for edges, with a choice of interpolation.
//
// Cancellation: ccAttention::check() every few thousand samples; a raised deadline or cancel
// throws ccTimeout.
#ifndef PLATFORM_VISION_AFFINE_SAMPLING_H
#define PLATFORM_VISION_AFFINE_SAMPLING_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/affine_rect.h"
#include "platform/foundation/pel_buffer.h"

// Where and how densely to sample. The rectangle is in the client coordinates of the image
// it is applied to. Its x side (cornerPo to cornerPx) is the profile direction and carries
// xSamples samples; its y side (cornerPo to cornerPy) carries ySamples samples, which are
// averaged into one profile value. Samples sit at the centres of an xSamples by ySamples
// grid of cells: unit-square coordinates ((i + 0.5) / xSamples, (j + 0.5) / ySamples).
class CCALIB_EXPORT ccAffineSamplingParams {
 public:
  // How a grey value is read between pixel centres.
  enum Interpolation {
    eNearest = 0,   // the pixel whose area holds the point
    eBilinear = 1,  // linear in x and y over the 2 x 2 nearest pixels
    eBicubic = 2,   // cubic convolution (Keys, a = -0.5) over the 4 x 4 nearest pixels
    eLanczos3 = 4,  // Lanczos windowed sinc of three lobes over the 6 x 6 nearest pixels,
                    // weights normalised to sum 1: the most faithful of these to a smooth
                    // image; for edges blurred by about a pixel the sampling phase moves
                    // positions read from it by a few thousandths of a pixel (cubic
                    // convolution: up to a few hundredths)
  };

  // Throws ccBadArgument for a rectangle without area, sample counts outside
  // [1, kMaxSamples] or an interpolation other than 0, 1, 2 or 4 (3 is not defined).
  ccAffineSamplingParams(const ccAffineRectangle& rect, int xSamples, int ySamples,
                         int interpolation);

  const ccAffineRectangle& affineRectangle() const { return rect_; }
  // Replaces the rectangle; throws ccBadArgument for a rectangle without area.
  void affineRectangle(const ccAffineRectangle& rect);
  int xSamples() const { return xSamples_; }
  int ySamples() const { return ySamples_; }
  int interpolation() const { return interpolation_; }

  static constexpr int kMaxSamples = 1 << 16;

 private:
  ccAffineRectangle rect_;
  int xSamples_;
  int ySamples_;
  int interpolation_;
};

// The profile of `image` over the sampling grid: xSamples values, each the mean of the
// ySamples samples across, in grey levels. The rectangle is mapped from client to image
// coordinates through the image's client transform (any kind). Support pixels beyond the
// window repeat the nearest window pixel, but every sample point must lie on the window's
// pixel area [x0 - 0.5, x0 + width - 0.5] x [y0 - 0.5, y0 + height - 0.5].
// Throws ccPel::UnboundWindow for an unbound image, ccPel::BadWindow for an empty window or
// a sample outside it, and ccMathError when the client transform cannot be inverted.
CCALIB_EXPORT std::vector<double> cfAffineSampleProfile(
    const ccPelBuffer_const<unsigned char>& image, const ccAffineSamplingParams& params);

#endif  // PLATFORM_VISION_AFFINE_SAMPLING_H
