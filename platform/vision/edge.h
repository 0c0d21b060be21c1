// SPDX-License-Identifier: Apache-2.0
// Gradient edge detection on 8-bit images: magnitude and direction images, thin peak
// edgelets with sub-pixel positions, and non-maximum suppression of a magnitude image.
//
// Cancellation: every function here looks at ccAttention::check() once per image row and
// throws ccTimeout when the calling thread's deadline has passed or its token is raised; the
// output images are then partly written (a peak image written over its input leaves that
// input partly overwritten).
#ifndef PLATFORM_VISION_EDGE_H
#define PLATFORM_VISION_EDGE_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/angle.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"

// Settings of the gradient operator and of edgelet selection.
//
// The gradient is the derivative of a Gaussian of standard deviation sigma (pixels), applied
// separably with taps sampled out to round(2.5 sigma) pixels (5 taps for sigma 0.89), scaled
// so that a linear ramp of slope 1 grey level per pixel reads as 1. A step of contrast C
// therefore peaks near C / (2.507 s), with s^2 = sigma^2 + (image blur)^2 + 1/12 (pixel area).
// Edgelets are pixels whose gradient magnitude is at least minMagnitude (grey levels per
// pixel). The edge type request chooses which of them are reported:
//   eAllEdgelets  (0): every pixel at or above minMagnitude, at its pixel centre;
//   ePeakEdgelets (1): only peaks of the magnitude along the gradient direction, chosen as
//                      cfTruePeak chooses them (thin edges), each placed at the sub-pixel
//                      peak of a parabola through the three magnitudes along the test axis.
// The request does not change the magnitude and angle images; thinning those is cfTruePeak's job.
class CCALIB_EXPORT ccEdgeletParams {
 public:
  enum EdgeTypeRequest { eAllEdgelets = 0, ePeakEdgelets = 1 };

  // Throws ccBadArgument when sigma is not in [kMinSigma, kMaxSigma], minMagnitude is
  // negative or not finite, or the request is not 0 or 1.
  ccEdgeletParams(double sigma, double minMagnitude, int edgeTypeRequest);

  double sigma() const { return sigma_; }
  double minMagnitude() const { return minMagnitude_; }
  int edgeTypeRequest() const { return request_; }

  static constexpr double kMinSigma = 0.3;  // pixels; below this the kernel is a plain difference
  static constexpr double kMaxSigma = 8.0;  // pixels; wider smoothing belongs in a filter pass

 private:
  double sigma_;
  double minMagnitude_;
  int request_;
};

// One edge pixel. Positions are in the image frame of the detected image (pixel centres at
// integer coordinates).
class CCALIB_EXPORT ccEdgelet {
 public:
  ccEdgelet() = default;
  ccEdgelet(long i, long j, const ccVector<2>& position, double magnitude, ccRadian angle)
      : i_(i), j_(j), position_(position), magnitude_(magnitude), angle_(angle) {}

  // Column and row of the edge pixel.
  long get_i() const { return i_; }
  long get_j() const { return j_; }
  // Sub-pixel edge position (the pixel centre for eAllEdgelets).
  const ccVector<2>& position() const { return position_; }
  // Gradient magnitude, grey levels per pixel (not clamped).
  double magnitude() const { return magnitude_; }
  // Gradient direction (towards the lighter side), image frame, in [0, 2 pi): 0 points
  // along +x, pi/2 along +y (down the image).
  ccRadian angle() const { return angle_; }

 private:
  long i_ = 0;
  long j_ = 0;
  ccVector<2> position_;
  double magnitude_ = 0.0;
  ccRadian angle_;
};

class CCALIB_EXPORT ccEdgeletSet {
 public:
  long nEdges() const { return static_cast<long>(edges_.size()); }
  // In raster order of their pixels.
  const std::vector<ccEdgelet>& edges() const { return edges_; }
  std::vector<ccEdgelet>& edges() { return edges_; }
  void clear() { edges_.clear(); }

 private:
  std::vector<ccEdgelet> edges_;
};

// Detects edgelets over the window of `image` and replaces the contents of `edges`.
// Pixels beyond the window are taken as copies of the nearest window pixel; peak edgelets
// are not reported on the window's outermost rows and columns, where the peak test lacks a
// neighbour. Throws ccPel::UnboundWindow for an unbound image.
CCALIB_EXPORT void cfEdgeDetect(const ccPelBuffer_const<unsigned char>& image,
                                const ccEdgeletParams& params, ccEdgeletSet& edges);

// Gradient images over the window of `image`: both outputs get new pixels with the input's
// window (same offset and size) and client transform.
//   magnitude: gradient magnitude rounded to grey levels per pixel, clamped to 255; 0 where
//              the magnitude is below params.minMagnitude().
//   angle:     gradient direction as a binary angle (256 = full turn, 0 = +x, 64 = +y), to
//              within one unit; 0 wherever the magnitude image is 0.
// Throws ccPel::UnboundWindow for an unbound image.
CCALIB_EXPORT void cfEdgeDetect(const ccPelBuffer_const<unsigned char>& image,
                                const ccEdgeletParams& params,
                                ccPelBuffer<unsigned char>& magnitude,
                                ccPelBuffer<unsigned char>& angle);

// Non-maximum suppression along the gradient direction. Each pixel is compared with its two
// neighbours along the image axis nearer to its gradient direction (x for binary angles
// within 32 units of 0 or 128, y otherwise): it is a peak when its magnitude is at least
// `threshold` (and not 0), strictly greater than the neighbour behind it (against the
// gradient) and not less than the neighbour ahead. A straight or smoothly curved edge thus
// keeps one pixel per row where it is steeper than 45 degrees and one per column elsewhere
// (an 8-connected chain one pixel thick), and a plateau keeps one pixel. The outermost rows
// and columns of the window are never peaks.
// `out` receives the magnitude at peaks and 0 elsewhere; an unbound `out` gets new pixels with
// the magnitude image's window and client transform, a bound one must have the same size and
// may be either input image itself. `count` receives the number of peak pixels.
// Throws ccPel::UnboundWindow for an unbound input and ccBadArgument when the two inputs, or a
// bound `out`, differ in size.
CCALIB_EXPORT void cfTruePeak(const ccPelBuffer_const<unsigned char>& magnitude,
                              const ccPelBuffer_const<unsigned char>& angle,
                              unsigned char threshold, ccPelBuffer<unsigned char>& out,
                              long& count);

#endif  // PLATFORM_VISION_EDGE_H
