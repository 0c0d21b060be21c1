// SPDX-License-Identifier: Apache-2.0
// The geometric stages of the checkerboard detection, in the order the pipeline runs them:
// tiles from the image (and again from the first pass's blobs once the fiducial is known),
// the mesh of diagonally touching tiles with one corner per touching pair, edge lines
// measured by calipers along every tile side, and each corner's least-squares position.
// All positions are pixel coordinates of the working image (its client transform is the
// identity). ccAttention::check() runs between steps; whatever it throws passes on.
#ifndef CAL_CHECKERTILES_CHECKER_STAGES_H
#define CAL_CHECKERTILES_CHECKER_STAGES_H

#include <vector>

#include "cal/calibftr/vertex_feature_params.h"
#include "cal/checkertiles/checker_types.h"
#include "platform/foundation/affine_rect.h"
#include "platform/foundation/graphics.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/polyline.h"
#include "platform/vision/blob.h"

// Finds the tiles of `image` (the detection image). Uniform lighting: automatic-threshold
// blob segmentation; `edgeMapOut`, `blobResults` and `blobList` are left untouched.
// Non-uniform lighting: edge map, watershed regions, regions the watershed missed; fills
// the thickened edge map, the blob results and the blob list for a second pass. Fiducial
// rectangles are client coordinates, both degenerate when no fiducial is known.
void cfCheckerFindTiles(const ccPelBuffer_const<unsigned char>& image,
                        const ccAffineRectangle& fiducialRect1,
                        const ccAffineRectangle& fiducialRect2, bool uniformLighting,
                        std::vector<cc_Checker>& tiles, ccPelBuffer<unsigned char>& edgeMapOut,
                        ccBlobResults& blobResults, std::vector<const ccBlob*>& blobList);

// Replaces the tile list by the blobs that pass the tile filters (holes, fiducial overlap,
// elongation; in the non-uniform case also the edge ring and brightness tests). The list
// reserves one slot per blob and never reallocates afterwards.
void cfCheckerTilesFromBlobs(const ccPelBuffer_const<unsigned char>& image,
                             const ccPelBuffer_const<unsigned char>& edgeMap,
                             const ccAffineRectangle& fiducialRect1,
                             const ccAffineRectangle& fiducialRect2,
                             const std::vector<const ccBlob*>& blobList, bool uniformLighting,
                             std::vector<cc_Checker>& tiles);

// Area of the intersection of the closed convex polygon `p` with the closed polygon `q`.
// With `boxPreTest` a pair whose bounding boxes do not meet gives 0 without clipping.
double cfCheckerPolygonOverlapArea(const ccPolyline& p, const ccPolyline& q, bool boxPreTest);

// Links diagonally touching tiles and appends one corner per link to `corners` (which it
// reserves at four per tile); recovers nearly touching links, rejects inconsistent tiles,
// and orders each tile's links by angle. Throws ccCalib2VertexFeatureDefs::FailedCorrespondence
// when a tile's neighbour and corner counts disagree. `image` is not used.
void cfCheckerBuildMesh(const ccPelBuffer_const<unsigned char>& image, bool secondPass,
                        std::vector<cc_Checker>& tiles, std::vector<cc_Corner>& corners);

// Measures each usable tile's four sides with calipers on the working image, fits a line
// per side and adds it to the corners at the side's ends, linking those corners. With
// params.needBothCheckers() false, also makes single-tile corners at a tile's outer quad
// points (appended to `corners`, which must have room).
void cfCheckerRefineCorners(const ccPelBuffer_const<unsigned char>& image,
                            const ccCalib2VertexFeatureParams& params,
                            std::vector<cc_Checker>& tiles, std::vector<cc_Corner>& corners);

// Gives every qualifying corner its least-squares position (homogeneous intersection of its
// lines), its RMS residual as error, and marks it valid. `graphics` is accepted and not used.
void cfCheckerFitCorners(const ccCalib2VertexFeatureParams& params, std::vector<cc_Corner>& corners,
                         ccGraphicList* graphics = nullptr);

#endif  // CAL_CHECKERTILES_CHECKER_STAGES_H
