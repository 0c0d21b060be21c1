// SPDX-License-Identifier: Apache-2.0
// Grey-level histograms (optionally under a mask) and automatic thresholds from them by
// minimum within-group variance, with a score telling whether thresholding makes sense.
#ifndef PLATFORM_VISION_THRESHOLD_H
#define PLATFORM_VISION_THRESHOLD_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"

// The 256-bin histogram of the pixels of `image` where `mask` is non-zero; hist is resized
// to 256 and overwritten. Mask and image are aligned in the image frame: only pixels inside
// both windows count, so a mask over part of the image restricts the histogram to that part
// and a mask that does not overlap the image gives an all-zero histogram. An unbound mask
// means the whole image window. Throws ccPel::UnboundWindow for an unbound image and
// ccPel::BadWindow for an empty image window.
CCALIB_EXPORT void cf_MaskedPelHistogram(const ccPelBuffer_const<unsigned char>& image,
                                         const ccPelBuffer_const<unsigned char>& mask,
                                         std::vector<unsigned long>& hist);

// Outcome of an automatic threshold. Default: not computed.
class CCALIB_EXPORT ccThresholdResult {
 public:
  ccThresholdResult() = default;
  ccThresholdResult(int threshold, double score)
      : threshold_(threshold), score_(score), computed_(true) {}

  // False when the histogram range held no pixels or pixels of a single value only; then
  // threshold() is 0 and score() 0.
  bool isComputed() const { return computed_; }
  // The first bin of the bright class: values below it are dark, values at or above it
  // bright.
  int threshold() const { return threshold_; }
  // How clearly the histogram splits into two classes at the threshold, in [0, 1]: near 1
  // for two well-separated modes, near 0 for one mode or an even spread.
  double score() const { return score_; }

 private:
  int threshold_ = 0;
  double score_ = 0.0;
  bool computed_ = false;
};

// Minimum within-group variance (Otsu) threshold of hist over the bins [low, high); bins
// outside are ignored. A negative high, or one above hist.size(), means hist.size(). Among
// thresholds with equal between-class variance (an empty stretch between the classes) the middle
// one is taken, so the threshold lies halfway across a gap.
//
// Score: the geometric mean of two terms, each in [0, 1].
//  - Valley depth: the histogram is smoothed with a Gaussian of 3 bins (wider when it holds
//    fewer than about 7300 pixels, whose bins are mostly counting noise); with p the lower of
//    the two class peaks and v the lowest smoothed value between the peaks, the term is
//    1 - v / p. One mode, however skewed, or an even spread leave no valley and give 0.
//  - Separability: eta = between-class variance / total variance (1 for two spikes, 0.64
//    for one Gaussian, 0.75 for an even spread) mapped linearly from [0.65, 0.80] to [0, 1].
//    It keeps ragged histograms, whose smoothed curve still has valleys, from scoring high.
// Typical scores: two clean levels with blur and noise 0.99; a checkerboard lit 2:1 from one
// side to the other 0.73; one Gaussian mode 0; an even spread 0.16.
// Throws ccBadArgument when low is negative or the range is empty.
CCALIB_EXPORT void cfThresholdWGV(const std::vector<unsigned long>& hist, ccThresholdResult& result,
                                  int low, int high);

#endif  // PLATFORM_VISION_THRESHOLD_H
