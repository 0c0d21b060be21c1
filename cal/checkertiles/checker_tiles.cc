// SPDX-License-Identifier: Apache-2.0
// Checker tile detection: segments the detection image into candidate light squares, by a
// global automatic threshold when the board is evenly lit, or by the regions between edges
// (watershed of the edge map) when it is not, and turns the blobs into tiles.
#include <algorithm>
#include <vector>

#include "cal/checkertiles/checker_stages.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/pel_ops.h"
#include "platform/vision/edge.h"
#include "platform/vision/morphology.h"
#include "platform/vision/threshold.h"
#include "platform/vision/watershed.h"

namespace {

// Blob segmentation.
constexpr int kAutomaticThreshold = -1;
constexpr long kMinBlobPels = 16;
constexpr unsigned char kRegionThreshold = 128;  // region image: 255 inside regions, 0 elsewhere
// Automatic threshold: the cut keeps just over this share of the pixels at or above the
// minimum-variance threshold (so it sits a little below the light class's bulk).
constexpr double kBrightShare = 0.8;
// Edge map: gradient smoothing (pixels), weakest edgelet (grey levels per pixel), thin
// (peak) edgelets.
constexpr double kEdgeSigma = 0.89;
constexpr double kEdgeMinMagnitude = 20.0;
constexpr int kPeakEdgelets = ccEdgeletParams::ePeakEdgelets;
constexpr int kEdgeMapRowAlignment = 32;  // bytes
constexpr unsigned char kEdgePel = 0;
constexpr unsigned char kNoEdgePel = 255;
// Watershed of the edge map: smallest region (pixels), merge of basins whose saddle lies
// within this distance (pixels) of the lower peak; no merge by peak distance.
constexpr long kWatershedMinPels = 16;
constexpr double kWatershedLevelMerge = 3.0;
constexpr double kWatershedDistMerge = 0.0;
// Regions the watershed missed: at least this many pixels (the minimum pixel count itself is
// the constant plus one).
constexpr long kMissedRegionMinPels = 10 + 1;
// The smallest window the non-uniform path works on: the region image is one pixel smaller
// than the edge map on every side and needs a pixel.
constexpr long kMinNonUniformSide = 3;

// The largest grey level t such that more than kBrightShare of the pixels at or above the
// minimum-variance threshold lie above t.
int automaticThreshold(const ccPelBuffer_const<unsigned char>& image) {
  const std::vector<unsigned long> hist = cfPelHistogram(image);
  ccThresholdResult wgv;
  cfThresholdWGV(hist, wgv, 0, 256);
  const int t = wgv.threshold();
  double bright = 0.0;
  for (int v = t; v < 256; ++v) bright += static_cast<double>(hist[static_cast<std::size_t>(v)]);
  const double target = kBrightShare * bright;
  double sum = 0.0;
  int v = 255;
  for (; v >= 0; --v) {
    sum += static_cast<double>(hist[static_cast<std::size_t>(v)]);
    if (sum > target) break;
  }
  // An image whose only level is 0 would give -1, which the blob tool refuses.
  return std::max(v - 1, 0);
}

// Blob segmentation of `image` at `threshold` (kAutomaticThreshold: automatic, with two
// openings to cut thin bridges between squares). Keeps unclipped blobs: with `invert` false
// the foreground blobs without holes, with `invert` true the background components.
void segmentBlobs(const ccPelBuffer_const<unsigned char>& image, int threshold, bool invert,
                  ccBlobResults& results, std::vector<const ccBlob*>& blobList) {
  ccBlobParams params;
  if (threshold < 0) {
    threshold = automaticThreshold(image);
    params.morph(eBlobMorphOpen);
    params.morph(eBlobMorphOpen);
  }
  params.connectivityCleanup(ccBlobParams::eCleanupFill);
  params.connectivityMinPels(kMinBlobPels);
  params.setSegmentationHardThresh(threshold, invert);
  cfBlobAnalysis(image, params, results);

  ccBlobSceneDescription& scene = results.connectedBlobs();
  scene.clearFilters();
  scene.setFilter(ccBlob::eNotClipped, 1.0, 1.0, false);
  if (!invert) {
    scene.setFilter(ccBlob::eHoles, 0.0, 0.0, false);
    scene.setFilter(ccBlob::eLabel, 1.0, 1.0, false);
  } else {
    scene.setFilter(ccBlob::eLabel, 0.0, 0.0, false);
  }
  scene.disableSort();
  blobList = scene.allBlobs(true);
}

void findTilesUniform(const ccPelBuffer_const<unsigned char>& image,
                      const ccAffineRectangle& fiducialRect1,
                      const ccAffineRectangle& fiducialRect2, std::vector<cc_Checker>& tiles) {
  tiles.clear();
  ccBlobResults results;
  std::vector<const ccBlob*> blobList;
  segmentBlobs(image, kAutomaticThreshold, false, results, blobList);
  ccAttention::check();
  cfCheckerTilesFromBlobs(image, image, fiducialRect1, fiducialRect2, blobList, true, tiles);
  ccAttention::check();
}

// 255 everywhere over the image's window except 0 at the pixels of peak edgelets.
ccPelBuffer<unsigned char> edgeMapOf(const ccPelBuffer_const<unsigned char>& image) {
  ccEdgeletSet edges;
  cfEdgeDetect(image, ccEdgeletParams(kEdgeSigma, kEdgeMinMagnitude, kPeakEdgelets), edges);
  ccPelBuffer<unsigned char> map(image.window(), kEdgeMapRowAlignment);
  map.copyXforms(image);
  cfPelSet(map, kNoEdgePel);
  const ccPelRect win = map.window();
  for (const ccEdgelet& e : edges.edges()) {
    const long x = e.get_i() - win.x(), y = e.get_j() - win.y();
    cstd_assert_(x >= 0 && y >= 0 && x < win.width() && y < win.height());
    if (x >= 0 && y >= 0 && x < win.width() && y < win.height()) map.row(y)[x] = kEdgePel;
  }
  return map;
}

// The watershed regions of the edge map as 255 on 0, over the edge map's window shrunk by
// one pixel on every side (so that a one-pixel ring around any region stays on the map).
ccPelBuffer<unsigned char> watershedRegions(const ccPelBuffer_const<unsigned char>& edgeMap,
                                            const ccPelRect& inputWindow) {
  ccWatershedRunParams wp(50, 5.0, 9.0, false, false);
  wp.minPels(kWatershedMinPels);
  wp.levelMergeThresh(kWatershedLevelMerge);
  wp.distMergeThresh(kWatershedDistMerge);
  ccPelBuffer<unsigned int> labels = cfWatershedTransform(edgeMap, wp);
  labels.offset(edgeMap.offset());
  labels.window(labels.window().trim(1, 1, 1, 1));
  cstd_assert_(inputWindow.encloses(labels.window()));

  ccPelBuffer<unsigned char> regions(labels.window());
  regions.copyXforms(edgeMap);
  for (long y = 0; y < labels.height(); ++y) {
    const unsigned int* in = labels.row(y);
    unsigned char* out = regions.row(y);
    for (long x = 0; x < labels.width(); ++x) {
      out[x] =
          in[x] == ccWatershedDefs::eLineLabel || in[x] == ccWatershedDefs::eEdgeLabel ? 0 : 255;
    }
  }
  return regions;
}

// The edge map with every edge pixel widened to its 3 x 3 neighbourhood, over the same
// window (pixels beyond it count as no edge).
void thickenEdges(const ccPelBuffer_const<unsigned char>& edgeMap,
                  ccPelBuffer<unsigned char>& thickOut) {
  ccPelBuffer<unsigned char> padded(edgeMap.window().trim(-1, -1, -1, -1));
  padded.copyXforms(edgeMap);
  cfPelSet(padded, kNoEdgePel);
  ccPelBuffer<unsigned char> inner = padded;
  inner.window(edgeMap.window());
  cfPelCopy(edgeMap, inner);
  thickOut = ccPelBuffer<unsigned char>();
  ccGMorphElement(ccGMorph3x3Element(ccGMorphDefs::eSquare)).erode(padded, thickOut);
  cstd_assert_(thickOut.window() == edgeMap.window());
}

// Adds to the region image the patches of at least kMissedRegionMinPels pixels that lie away
// from every edge yet belong to no watershed region.
void addMissedRegions(const ccPelBuffer_const<unsigned char>& thickEdges,
                      ccPelBuffer<unsigned char>& regions) {
  const ccPelBuffer<unsigned char> missed = cfPelSub(thickEdges, regions, ePelSubClampZero);
  ccBlobParams params;
  params.connectivityCleanup(ccBlobParams::eCleanupFill);
  params.connectivityMinPels(kMissedRegionMinPels);
  params.setSegmentationHardThresh(128, false);
  ccBlobResults results;
  cfBlobAnalysis(missed, params, results);
  ccBlobSceneDescription& scene = results.connectedBlobs();
  scene.clearFilters();
  scene.setFilter(ccBlob::eLabel, 1.0, 1.0, false);
  ccPelBuffer<unsigned char> patches = scene.makeImage(true, 0);
  std::vector<unsigned char> toRegion(256, 0);
  toRegion[1] = 255;
  cfPelMap(patches, toRegion, patches);
  cfPelMax(regions, patches, regions);
}

void findTilesNonUniform(const ccPelBuffer_const<unsigned char>& image,
                         const ccAffineRectangle& fiducialRect1,
                         const ccAffineRectangle& fiducialRect2, std::vector<cc_Checker>& tiles,
                         ccPelBuffer<unsigned char>& edgeMapOut, ccBlobResults& blobResults,
                         std::vector<const ccBlob*>& blobList) {
  tiles.clear();
  const ccPelBuffer<unsigned char> edgeMap = edgeMapOf(image);
  ccPelBuffer<unsigned char> regions = watershedRegions(edgeMap, image.window());
  ccAttention::check();
  thickenEdges(edgeMap, edgeMapOut);
  addMissedRegions(edgeMapOut, regions);
  segmentBlobs(regions, kRegionThreshold, true, blobResults, blobList);
  ccAttention::check();
  cfCheckerTilesFromBlobs(image, edgeMapOut, fiducialRect1, fiducialRect2, blobList, false, tiles);
}

}  // namespace

void cfCheckerFindTiles(const ccPelBuffer_const<unsigned char>& image,
                        const ccAffineRectangle& fiducialRect1,
                        const ccAffineRectangle& fiducialRect2, bool uniformLighting,
                        std::vector<cc_Checker>& tiles, ccPelBuffer<unsigned char>& edgeMapOut,
                        ccBlobResults& blobResults, std::vector<const ccBlob*>& blobList) {
  image.requireBound();
  if (image.width() <= 0 || image.height() <= 0) {
    tiles.clear();
    return;
  }
  if (uniformLighting) {
    findTilesUniform(image, fiducialRect1, fiducialRect2, tiles);
    return;
  }
  if (image.width() < kMinNonUniformSide || image.height() < kMinNonUniformSide) {
    // Too small to hold a region with a ring of edge pixels around it.
    tiles.clear();
    blobList.clear();
    return;
  }
  findTilesNonUniform(image, fiducialRect1, fiducialRect2, tiles, edgeMapOut, blobResults,
                      blobList);
}
