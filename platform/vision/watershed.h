// SPDX-License-Identifier: Apache-2.0
// Segmentation of a binary edge map into the regions between the edges by a watershed of
// the distance to the nearest edge pixel, so that short gaps in the edge lines are closed.
//
// Cancellation: ccAttention::check() once per image row of every pass and every few thousand
// plateau cells or merges; a raised deadline or cancel throws ccTimeout.
#ifndef PLATFORM_VISION_WATERSHED_H
#define PLATFORM_VISION_WATERSHED_H

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"

// Values of the label image.
struct ccWatershedDefs {
  enum Label : unsigned int {
    eLineLabel = 0,    // watershed line: where two regions meet without an edge between them
    eEdgeLabel = 1,    // edge pixel, or pixel of a region smaller than minPels
    eFirstRegion = 2,  // regions are numbered from here, in raster order of their first pixel
  };
};

// Parameters of cfWatershedTransform. Distances are Euclidean, in pixels.
//  - minPels: regions with fewer pixels (line pixels not counted) are dropped: their pixels
//    get eEdgeLabel, line pixels around them keep eLineLabel.
//  - levelMergeThresh: two basins meeting at a saddle are merged when the saddle lies within
//    this distance below the lower basin's peak (its dynamics); a region whose distance map
//    has several bumps, as a square with ragged edges does, stays one region. Flat ties
//    (peak equal to saddle) are always merged.
//  - distMergeThresh: two basins meeting at a saddle are also merged when their peaks are
//    less than this apart; 0 disables the test.
//  - edgesBright: which pixels are edges. false: pixels below 128 (an edge map that is 255
//    with 0 on the edges); true: pixels of 128 and above.
//  - fillLines: false, watershed lines keep eLineLabel and separate the regions (no two
//    pixels of different regions are 8-neighbours); true, each line pixel joins the
//    neighbouring region whose peak is highest, so regions touch.
// Setters throw ccBadArgument for a negative or non-finite value.
class CCALIB_EXPORT ccWatershedRunParams {
 public:
  explicit ccWatershedRunParams(long minPels = 50, double levelMergeThresh = 5.0,
                                double distMergeThresh = 9.0, bool edgesBright = false,
                                bool fillLines = false);

  long minPels() const { return minPels_; }
  void minPels(long n);
  double levelMergeThresh() const { return levelMerge_; }
  void levelMergeThresh(double d);
  double distMergeThresh() const { return distMerge_; }
  void distMergeThresh(double d);
  bool edgesBright() const { return edgesBright_; }
  void edgesBright(bool b) { edgesBright_ = b; }
  bool fillLines() const { return fillLines_; }
  void fillLines(bool b) { fillLines_ = b; }

 private:
  long minPels_ = 50;
  double levelMerge_ = 5.0;
  double distMerge_ = 9.0;
  bool edgesBright_ = false;
  bool fillLines_ = false;
};

// Labels the regions between the edges of `edgeMap`. Method: Euclidean distance of every
// non-edge pixel to the nearest edge pixel (pixels beyond the window are not edges); every
// pixel drains uphill (8-connected) to a regional maximum of the distance, whose basin it
// joins; touching basins are merged in order of decreasing saddle (the highest level at which
// they touch) as the parameters say, and where basins stay apart the lower pixel of every
// touching pair becomes a watershed-line pixel (so lines are mostly one pixel wide and also
// cross gaps in the edge lines). An edge map without edge pixels gives one region.
//
// Returns the label image (values as in ccWatershedDefs) over the edge map's window, with
// its offset and client transform. Its pixels are allocated with a one-pixel frame of
// eEdgeLabel around the window (visible through rootWindow()). Throws ccPel::UnboundWindow
// for an unbound image, ccPel::BadWindow for an empty window and ccBadArgument for an image
// side above 46340 pixels.
CCALIB_EXPORT ccPelBuffer<unsigned int> cfWatershedTransform(
    const ccPelBuffer_const<unsigned char>& edgeMap, const ccWatershedRunParams& params);

#endif  // PLATFORM_VISION_WATERSHED_H
