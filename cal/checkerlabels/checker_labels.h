// SPDX-License-Identifier: Apache-2.0
// The labelling stages of the checkerboard detection: the checker-area mask and background
// flattening for the fiducial retry, the fiducial search, the start corner and label axes,
// label propagation through the corner mesh, and the conversion of labelled corners into
// (image position, plate position) pairs in plate row order. Positions are pixel
// coordinates of the working image (its client transform is the identity).
#ifndef CAL_CHECKERLABELS_CHECKER_LABELS_H
#define CAL_CHECKERLABELS_CHECKER_LABELS_H

#include <vector>

#include "cal/calibftr/vertex_feature_params.h"
#include "cal/checkertiles/checker_types.h"
#include "platform/foundation/affine_rect.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"
#include "platform/foundation/xform.h"

// Mask of the checker area: 255 inside the convex hull of the valid corners that have 3 or
// 4 linked corners, 0 outside, over the pixel box of those corners. `count` is the number of
// such corners; with none the mask is left unbound.
void cfCheckerCreateMask(const std::vector<cc_Corner>& corners, ccPelBuffer<unsigned char>& mask,
                         unsigned long& count);

// Median window (odd, at most 181 per side) spanning about five grid pitches of a mask
// window of that many corners. Precondition: count >= 1.
ccPair<long> cfCheckerMedianSize(const ccPelRect& window, unsigned long count);

// The image minus its median background (under the mask when bound), re-centred on mid
// grey, over the image window cut to the mask's.
ccPelBuffer<unsigned char> cfCheckerFlattenBackground(const ccPelBuffer_const<unsigned char>& image,
                                                      const ccPelBuffer<unsigned char>& mask,
                                                      const ccPair<long>& medianSize);

// Looks for the two-bar fiducial. Found: the bar rectangles, the unit label axes (from the
// bars' crossing towards each bar's centre) and the crossing point, and true. Not found:
// all five outputs reset (degenerate rectangles, zero vectors) and false. Never throws of
// its own.
bool cfCheckerFindFiducial(const ccPelBuffer_const<unsigned char>& image,
                           const ccPelBuffer<unsigned char>& mask,
                           const ccCalib2VertexFeatureParams& params,
                           ccAffineRectangle& fiducialRect1, ccAffineRectangle& fiducialRect2,
                           ccVector<2>& xStep, ccVector<2>& yStep, ccVector<2>& fiducialPoint);

// The valid corner nearest `target` (label (0, 0) for eNone / eUseOrigin), and label axes
// from the mesh (image axes when no corner has four valid linked corners), xStep with
// positive x and yStep with positive y. Throws FailedCorrespondence without a valid corner.
cc_Corner* cfCheckerStartCorner(const ccVector<2>& target, std::vector<cc_Corner>& corners,
                                ccVector<2>& xStep, ccVector<2>& yStep);

// Index of the corner next to the fiducial (label (-2, -2)), or -1.
long cfCheckerFiducialCorner(const ccAffineRectangle& fiducialRect1,
                             const ccAffineRectangle& fiducialRect2,
                             const ccVector<2>& fiducialPoint, const ccVector<2>& xStep,
                             const ccVector<2>& yStep, const std::vector<cc_Corner>& corners,
                             const std::vector<cc_Checker>& tiles,
                             const ccCalib2VertexFeatureParams& params);

// The corner mirrored from the start corner across the first bar's axis (label (-2, -5)),
// written to `anchor`; `anchor` is left unchanged when none qualifies.
void cfCheckerSecondAnchor(std::vector<cc_Corner>& corners, const ccVector<2>& fiducialPoint,
                           const ccVector<2>& xStep, const ccVector<2>& yStep,
                           const ccVector<2>& startPosition,
                           const ccCalib2VertexFeatureParams& params, cc_Corner*& anchor);

// Breadth-first label propagation from the queue's labelled first corner through the mesh;
// `gridFromImage` maps an image displacement to its components along xStep and yStep.
// Leaves the queue empty.
void cfCheckerPropagateLabels(std::vector<cc_Corner*>& queue, const ccXform<2>& gridFromImage);

// Clears `valid` of every valid corner with fewer than 4 lines or an error above the
// threshold (an error equal to it passes). A threshold of +infinity filters nothing.
void cfCheckerPrecisionFilter(std::vector<cc_Corner>& corners, double precisionThreshold);

// One (position, label * pitch) pair per valid and labelled corner, in corner list order.
void cfCheckerFeaturePairs(const std::vector<cc_Corner>& corners,
                           const ccCalib2VertexFeatureParams& params,
                           std::vector<ccPair<ccVector<2>>>& features);

// Plate row order: ascending plate y, then (for y equal within 1e-15) ascending plate x.
bool plateRowMajorLess(const ccPair<ccVector<2>>& a, const ccPair<ccVector<2>>& b);

#endif  // CAL_CHECKERLABELS_CHECKER_LABELS_H
