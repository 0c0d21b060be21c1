// SPDX-License-Identifier: Apache-2.0
// Segmentation thresholds that follow uneven lighting. Each region of the image gets the
// mean grey value on its own strongest edges (the edges between dots and ground sit halfway
// between the two levels, whatever the lighting there); thresholds are interpolated between
// region centres. Vignetting and lighting gradients then no longer merge dots with a ground
// that one global threshold would call dark.
#ifndef CAL_CALIB_REGIONAL_THRESHOLD_H
#define CAL_CALIB_REGIONAL_THRESHOLD_H

#include <vector>

#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/rle_buffer.h"

class ccRegionalThreshold {
 public:
  // Estimates the thresholds over the window of `image` (image frame). A region whose edges
  // are few, or weak against the image's strongest, takes the mean of its neighbours'.
  // Throws what the edge tools throw (ccPel::UnboundWindow for an unbound image).
  explicit ccRegionalThreshold(const ccPelBuffer_const<unsigned char>& image);

  // False when no region has strong edges (a blank image): then nothing can be segmented.
  bool valid() const { return valid_; }
  // The threshold at image-frame position (x, y), bilinear between region centres.
  double at(double x, double y) const;
  // Median of the region thresholds (rounded), for reporting.
  int typical() const { return typical_; }

  // A two-level image over the image's window (same offset): 255 where the grey value is at
  // or above the local threshold, 0 below. A region whose levels alternate along its rows
  // more often than any measurable dot grid can (more than kMaxTransitionDensity changes
  // per pixel: noise or fine texture) is set to 0 throughout, which keeps the blob analysis
  // of such images cheap.
  ccPelBuffer<unsigned char> binarise(const ccPelBuffer_const<unsigned char>& image) const;

  // The strong edges that set the thresholds: 255 on them, 0 elsewhere, over the window.
  ccRLEBuffer strongEdges() const;

  // Two-level changes per pixel along rows above which a region counts as texture. A grid of
  // dots 3 pixels wide at a 6 pixel pitch has about 0.17.
  static constexpr double kMaxTransitionDensity = 0.2;

 private:
  struct Region {
    double threshold = 0.0;
    int cutoff = 256;  // weakest strong-edge magnitude
    bool valid = false;
  };
  const Region& region(long i, long j) const {
    return regions_[static_cast<std::size_t>(j * nx_ + i)];
  }
  Region& region(long i, long j) { return regions_[static_cast<std::size_t>(j * nx_ + i)]; }
  // First column and row of each region, and one past the last.
  void regionBounds(std::vector<long>& xs, std::vector<long>& ys) const;
  void fillInvalidRegions();

  ccPelRect window_;
  long nx_ = 1, ny_ = 1;
  double regionW_ = 1.0, regionH_ = 1.0;
  std::vector<Region> regions_;
  ccPelBuffer<unsigned char> peaks_;  // edge magnitude at edge peaks, 0 elsewhere
  bool valid_ = false;
  int typical_ = 0;
};

#endif  // CAL_CALIB_REGIONAL_THRESHOLD_H
