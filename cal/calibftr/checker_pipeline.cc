// SPDX-License-Identifier: Apache-2.0
// The standard checkerboard algorithm as a list of named steps. The pipeline owns the tile
// and corner lists; they point into each other, so neither may reallocate once filled (the
// stages reserve their room).
#include "cal/calibftr/checker_pipeline.h"

#include <algorithm>

#include "cal/checkerlabels/checker_labels.h"
#include "cal/checkertiles/checker_stages.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/vision/blob.h"
#include "platform/vision/gauss_sample.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

// Smoothing of the detection image under even lighting: full resolution, a 5-tap kernel of
// sigma 1 pixel, the input's frame kept.
constexpr int kSmoothSubsample = 1;
constexpr int kSmoothHalfWidth = 2;
constexpr double kSmoothSigma = 1.0;

// Labels of the anchors: the start corner of eNone / eUseOrigin, the corner next to the
// fiducial, and the corner mirrored from it across the fiducial's first bar.
const ccPair<long> kOriginLabel(0, 0);
const ccPair<long> kFiducialAnchorLabel(-2, -2);
const ccPair<long> kSecondAnchorLabel(-2, -5);

// The fiducial as known so far: the two bar rectangles (degenerate while unknown), the unit
// label axes and the crossing point of the bars' axes, image coordinates.
struct FiducialRecord {
  ccAffineRectangle rect1;
  ccAffineRectangle rect2;
  ccVector<2> xStep;
  ccVector<2> yStep;
  ccVector<2> point;
};

// What one detection pass leaves: tiles, corners, and for a second pass under uneven
// lighting the thickened edge map and the blobs of the first.
struct Detection {
  std::vector<cc_Checker> tiles;
  std::vector<cc_Corner> corners;
  ccPelBuffer<unsigned char> edgeMap;
  ccBlobResults blobResults;
  std::vector<const ccBlob*> blobList;
};

ccPelBuffer_const<unsigned char> withIdentityXform(const ccPelBuffer_const<unsigned char>& image) {
  ccPelBuffer_const<unsigned char> copy(image);
  copy.clientFromImageXform(ccXform<2>());
  return copy;
}

// The image the tiles and the fiducial are found in: smoothed under even lighting, where the
// tiles come from a global threshold; as it is otherwise.
ccPelBuffer_const<unsigned char> detectionImage(const ccPelBuffer_const<unsigned char>& working,
                                                bool uniform) {
  if (!uniform) return working;
  ccPelBuffer<unsigned char> smoothed;
  cfGaussSample(working,
                ccGaussSampleParams(kSmoothSubsample, kSmoothHalfWidth, kSmoothSigma, true),
                smoothed);
  return smoothed;
}

// Measures and fits the corners of the mesh just built.
void measureCorners(const ccPelBuffer_const<unsigned char>& working,
                    const ccCalib2VertexFeatureParams& params, Detection& d) {
  cfCheckerRefineCorners(working, params, d.tiles, d.corners);
  ccAttention::check();
  cfCheckerFitCorners(params, d.corners);
  ccAttention::check();
}

void firstDetectionPass(const ccPelBuffer_const<unsigned char>& working,
                        const ccPelBuffer_const<unsigned char>& detection,
                        const ccCalib2VertexFeatureParams& params, const FiducialRecord& fiducial,
                        Detection& d) {
  cfCheckerFindTiles(detection, fiducial.rect1, fiducial.rect2, params.uniformLighting(), d.tiles,
                     d.edgeMap, d.blobResults, d.blobList);
  ccAttention::check();
  cfCheckerBuildMesh(working, false, d.tiles, d.corners);
  ccAttention::check();
  measureCorners(working, params, d);
}

// The fiducial search restricted to the board found by the first pass, then on the
// background-flattened board. True when either finds it.
bool searchFiducialOnBoard(const ccPelBuffer_const<unsigned char>& detection,
                           const ccCalib2VertexFeatureParams& params,
                           const std::vector<cc_Corner>& corners, FiducialRecord& f) {
  ccPelBuffer<unsigned char> mask;
  unsigned long count = 0;
  cfCheckerCreateMask(corners, mask, count);
  ccAttention::check();
  if (cfCheckerFindFiducial(detection, mask, params, f.rect1, f.rect2, f.xStep, f.yStep, f.point))
    return true;
  ccAttention::check();
  if (count < 1) return false;
  const ccPair<long> medianSize = cfCheckerMedianSize(mask.window(), count);
  const ccPelBuffer<unsigned char> flat = cfCheckerFlattenBackground(detection, mask, medianSize);
  ccAttention::check();
  return cfCheckerFindFiducial(flat, mask, params, f.rect1, f.rect2, f.xStep, f.yStep, f.point);
}

// Tiles again from the first pass's blobs, now leaving out those on the fiducial bars.
void secondDetectionPass(const ccPelBuffer_const<unsigned char>& working,
                         const ccPelBuffer_const<unsigned char>& detection,
                         const ccCalib2VertexFeatureParams& params, const FiducialRecord& fiducial,
                         Detection& d) {
  d.corners.clear();
  d.tiles.clear();
  cfCheckerTilesFromBlobs(detection, d.edgeMap, fiducial.rect1, fiducial.rect2, d.blobList, false,
                          d.tiles);
  ccAttention::check();
  cfCheckerBuildMesh(working, true, d.tiles, d.corners);
  ccAttention::check();
  measureCorners(working, params, d);
}

// Where label (0, 0) goes for eNone and eUseOrigin, image coordinates: the caller's origin
// mapped into the image, or the centre of the image window (label modes an archive may carry
// beyond the enumeration are treated as eNone).
ccVector<2> startPoint(const ccPelBuffer_const<unsigned char>& srcImg,
                       const ccPelBuffer_const<unsigned char>& working,
                       const ccCalib2VertexFeatureParams& params) {
  if (params.labelMode() == Defs::eUseOrigin)
    return srcImg.imageFromClientXform().mapPoint(params.origin());
  const ccPelRect window = working.window();
  const ccPair<long> sum = window.ul() + window.lr();
  return ccVector<2>(static_cast<double>(sum.x()), static_cast<double>(sum.y())) * 0.5;
}

// Maps an image displacement to its components along xStep and yStep.
ccXform<2> gridFromImage(const ccVector<2>& xStep, const ccVector<2>& yStep) {
  const ccXform<2> imageFromGrid(ccMatrix<2>(xStep.x(), yStep.x(), xStep.y(), yStep.y()),
                                 ccVector<2>());
  cstd_assert_(!imageFromGrid.isSingular());
  return imageFromGrid.inverse();
}

void propagateFrom(cc_Corner& anchor, const ccPair<long>& label, const ccXform<2>& grid) {
  anchor.label = label;
  std::vector<cc_Corner*> queue(1, &anchor);
  cfCheckerPropagateLabels(queue, grid);
}

// With the fiducial, the rows beyond its first bar may be cut off from the start corner;
// they are labelled from the corner mirrored across the bar, unless the first walk got there.
void labelBeyondFirstBar(Detection& d, const FiducialRecord& f, const cc_Corner& start,
                         const ccCalib2VertexFeatureParams& params, const ccXform<2>& grid) {
  const bool reached = std::any_of(d.corners.begin(), d.corners.end(), [](const cc_Corner& c) {
    return c.isLabelled() && c.label == kSecondAnchorLabel;
  });
  if (reached) return;
  cc_Corner* anchor = nullptr;
  cfCheckerSecondAnchor(d.corners, f.point, f.xStep, f.yStep, start.position, params, anchor);
  if (anchor != nullptr) propagateFrom(*anchor, kSecondAnchorLabel, grid);
}

}  // namespace

void cfCheckerPipelineRun(const ccPelBuffer_const<unsigned char>& srcImg,
                          const ccCalib2VertexFeatureParams& params,
                          const ccAffineRectangle& fiducialRect1,
                          const ccAffineRectangle& fiducialRect2, const ccVector<2>& xStep,
                          const ccVector<2>& yStep, const ccVector<2>& fiducialPoint,
                          std::vector<ccPair<ccVector<2>>>& labelled) {
  const ccPelBuffer_const<unsigned char> working = withIdentityXform(srcImg);
  FiducialRecord fiducial{fiducialRect1, fiducialRect2, xStep, yStep, fiducialPoint};
  ccAttention::check();
  const ccPelBuffer_const<unsigned char> detection =
      detectionImage(working, params.uniformLighting());
  ccAttention::check();

  Detection d;
  firstDetectionPass(working, detection, params, fiducial, d);

  const bool useFiducial = params.labelMode() == Defs::eUseFiducial;
  if (!params.uniformLighting() && useFiducial && fiducial.rect1.degen()) {
    if (!searchFiducialOnBoard(detection, params, d.corners, fiducial))
      throw Defs::FiducialNotFound();
    ccAttention::check();
    secondDetectionPass(working, detection, params, fiducial, d);
  }

  cc_Corner* start = nullptr;
  if (useFiducial) {
    const long index =
        cfCheckerFiducialCorner(fiducial.rect1, fiducial.rect2, fiducial.point, fiducial.xStep,
                                fiducial.yStep, d.corners, d.tiles, params);
    if (index >= 0) start = &d.corners[static_cast<std::size_t>(index)];
  } else {
    start = cfCheckerStartCorner(startPoint(srcImg, working, params), d.corners, fiducial.xStep,
                                 fiducial.yStep);
  }
  ccAttention::check();
  if (start == nullptr) throw Defs::FailedCorrespondence(L"Failed to establish correspondence.");

  const ccXform<2> grid = gridFromImage(fiducial.xStep, fiducial.yStep);
  for (cc_Checker& tile : d.tiles) tile.polygon = ccPolyline();  // outlines are no longer needed
  ccAttention::check();

  propagateFrom(*start, useFiducial ? kFiducialAnchorLabel : kOriginLabel, grid);
  ccAttention::check();
  if (useFiducial) {
    labelBeyondFirstBar(d, fiducial, *start, params, grid);
    ccAttention::check();
  }

  cfCheckerPrecisionFilter(d.corners, params.precisionThreshold());
  ccAttention::check();
  cfCheckerFeaturePairs(d.corners, params, labelled);
  std::sort(labelled.begin(), labelled.end(), plateRowMajorLess);
  ccAttention::check();
}
