// SPDX-License-Identifier: Apache-2.0
// Calipers: sub-pixel positions of straight edges crossing an affine search rectangle, found
// on the rectangle's projected grey-level profile.
//
// Cancellation: through the profile sampling and once per edge fitted (ccTimeout); the
// result set is then left empty.
#ifndef PLATFORM_VISION_CALIPER_H
#define PLATFORM_VISION_CALIPER_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/affine_rect.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/vision/affine_sampling.h"

class ccDiagObject;

// Which edges a caliper reports, by the grey-level change along the search direction (the
// rectangle's x side).
enum ceEdgePolarity {
  eDarkToLight = 0,     // grey level rises along the search direction (positive contrast)
  eLightToDark = 1,     // grey level falls (negative contrast)
  eEitherPolarity = 2,  // both
};

// How a caliper finds and scores edges.
//   filterHalfWidth: half width, in profile samples (rounded to whole samples), of the edge
//                    filter: the difference between the means of that many samples after and
//                    before each gap between samples. 0 selects kDefaultFilterHalfWidth (2:
//                    at about one sample per pixel it keeps the response of an edge blurred
//                    by 2 pixels clear of noise of a few grey levels). Wider filters suppress
//                    noise and fine texture but merge close edges.
//   polarity:        a ceEdgePolarity value.
//   contrastThreshold: smallest |contrast| of a reported edge, grey levels; default
//                    kDefaultContrastThreshold.
//   maxNumResults:   at most this many results, the highest scores first; default 1.
class CCALIB_EXPORT ccCaliperRunParams {
 public:
  // Throws ccBadArgument when filterHalfWidth is negative, not finite or above
  // kMaxFilterHalfWidth, or the polarity is not 0, 1 or 2.
  ccCaliperRunParams(double filterHalfWidth, int polarity);

  // The half width in samples actually used (never 0).
  int filterHalfWidth() const { return halfWidth_; }
  int polarity() const { return polarity_; }

  double contrastThreshold() const { return contrastThreshold_; }
  // Throws ccBadArgument for a negative or non-finite threshold.
  void contrastThreshold(double greyLevels);
  int maxNumResults() const { return maxNumResults_; }
  // Throws ccBadArgument for a count below 1.
  void maxNumResults(int count);

  static constexpr int kDefaultFilterHalfWidth = 2;
  static constexpr int kMaxFilterHalfWidth = 64;
  static constexpr double kDefaultContrastThreshold = 5.0;

 private:
  int halfWidth_;
  int polarity_;
  double contrastThreshold_ = kDefaultContrastThreshold;
  int maxNumResults_ = 1;
};

// One edge found by a caliper.
//   position: along the search direction, in the client units of the search rectangle,
//             measured from the rectangle's centre (negative towards cornerPo's side).
//   contrast: the edge filter's response at the edge (see ccCaliperRunParams), grey levels;
//             positive for dark to light along the search direction.
class CCALIB_EXPORT ccCaliperEdge {
 public:
  ccCaliperEdge() = default;
  ccCaliperEdge(double position, double contrast) : position_(position), contrast_(contrast) {}
  double position() const { return position_; }
  double contrast() const { return contrast_; }

 private:
  double position_ = 0.0;
  double contrast_ = 0.0;
};

// One caliper result: a single edge with its score (|contrast|) and the search rectangle,
// so that positions can be mapped back to points.
class CCALIB_EXPORT ccCaliperResult {
 public:
  ccCaliperResult(const ccCaliperEdge& edge, const ccAffineRectangle& searchRect)
      : edges_(1, edge),
        score_(edge.contrast() < 0 ? -edge.contrast() : edge.contrast()),
        rect_(searchRect) {}

  const std::vector<ccCaliperEdge>& edges() const { return edges_; }
  double score() const { return score_; }
  double position() const { return edges_.front().position(); }
  // The client-frame point at `position` on the search rectangle's centre line (the line
  // through its centre along the search direction).
  ccVector<2> mapPositionToPoint(double position) const;

 private:
  std::vector<ccCaliperEdge> edges_;
  double score_;
  ccAffineRectangle rect_;
};

class CCALIB_EXPORT ccCaliperResultSet {
 public:
  // Highest score first.
  const std::vector<ccCaliperResult>& results() const { return results_; }
  long nResults() const { return static_cast<long>(results_.size()); }
  // As ccCaliperResult::mapPositionToPoint, for the rectangle of the last run.
  ccVector<2> mapPositionToPoint(double position) const;
  void clear() { results_.clear(); }

 private:
  friend CCALIB_EXPORT void cfCaliperRun(const ccPelBuffer_const<unsigned char>&,
                                         const ccAffineSamplingParams&, const ccCaliperRunParams&,
                                         ccCaliperResultSet&, ccDiagObject*);
  std::vector<ccCaliperResult> results_;
  ccAffineRectangle rect_;
};

// Runs a caliper: samples the profile of `image` over `sampling` (see cfAffineSampleProfile),
// filters it, and reports the edges whose |contrast| reaches the threshold and whose polarity
// matches, best first, at most maxNumResults of them. One edge is reported once: a weaker
// response peak inside the lobe of a stronger one (same sign, at least half its height), or
// whose fitted position lands within two step widths of a stronger edge of the same sign, is
// the same edge split by noise. An edge needs a filter response on
// both sides of its peak, so edges within filterHalfWidth + 1 samples of either end of the
// profile are not reported.
//
// Sub-sample position: a Gaussian through the three filter responses around the peak gives a
// first estimate and the edge's width; then the profile of a Gaussian-blurred step (four
// parameters: the grey levels on both sides, the position and the blur) is fitted to the
// profile samples around the edge by least squares (Levenberg-Marquardt). The window reaches
// five step widths each side (at least 3 and at most 12 samples; widths below one sample
// count as one) and always holds the peak's lobe, but stops where the response climbs
// towards another edge (a rise above a quarter of the edge's response and three times the
// response noise, estimated from the median response); a fit may settle up to 1.5 step widths
// from its peak; when it fails or goes further the first estimate stands.
// Fitting the exact step model keeps the position free of any pull towards sample or pixel
// centres, and every sample in the window contributes against noise. The step is held no
// narrower than the spread of a one-pixel box (no edge of a pixel image is sharper), and its
// position is finally moved so that the step's continuous area over the window equals its
// sampled area: the sum of interpolated samples of a pixel image hardly depends on where a
// sharp edge falls between samples while a sampled narrow step does, and matching the two
// removes most of that phase bias (for edges blurred by 0.7 pixel or more nothing moves).
//
// `results` is cleared first. `diag` is accepted for recording and may be null; nothing is
// recorded into it yet. Throws what cfAffineSampleProfile throws.
CCALIB_EXPORT void cfCaliperRun(const ccPelBuffer_const<unsigned char>& image,
                                const ccAffineSamplingParams& sampling,
                                const ccCaliperRunParams& runParams, ccCaliperResultSet& results,
                                ccDiagObject* diag = nullptr);

#endif  // PLATFORM_VISION_CALIPER_H
