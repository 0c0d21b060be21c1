// SPDX-License-Identifier: Apache-2.0
// Checkerboard vertex features: the labelled vertices of a checkerboard plate image, each
// paired with its position on the plate.
#ifndef CAL_CALIBFTR_VERTEX_FEATURE_EXTRACT_H
#define CAL_CALIBFTR_VERTEX_FEATURE_EXTRACT_H

#include <vector>

#include "cal/calibftr/vertex_feature_params.h"
#include "ccalib_export.h"
#include "platform/foundation/crsp_pair.h"
#include "platform/foundation/diag.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"

// Finds the checkerboard vertices in `srcImg` and labels them with grid indices anchored as
// params.labelMode() says: label (0, 0) at the valid vertex nearest the image window's
// centre (eNone) or nearest params.origin() (eUseOrigin, client coordinates), or label
// (-2, -2) at the vertex next to the plate's two-bar fiducial, with the axes the bars give
// (eUseFiducial). Replaces `features` by one pair per labelled vertex: first the vertex in
// the client coordinates of `srcImg`, second its plate position (label times
// params.physicalGridPitch(), per axis), with the default weight; the standard algorithm
// sorts them by plate row (y), then by plate x.
//
// Afterwards records into `diagObj` (which may be null) what `diagFlags` ask for:
// ccDiagDefs::eRecordInput the image and the parameters, eRecordResult the features and
// their plate coordinates, eRecordIntermediate the grid links per plate row and column.
//
// Throws ccPel::UnboundWindow for an image without pixels and
// ccCalib2VertexFeatureDefs::BadParam when its client transform is not linear (both before
// `features` is touched); FiducialNotFound when eUseFiducial finds no fiducial;
// FailedCorrespondence when no vertex can be labelled; whatever ccAttention::check() throws.
// On those failures after the checks `features` is empty and nothing is recorded.
CCALIB_EXPORT void cfCalib2VertexFeatureExtract(const ccPelBuffer_const<unsigned char>& srcImg,
                                                const ccCalib2VertexFeatureParams& params,
                                                std::vector<ccCrspPairWeighted>& features,
                                                ccDiagObject* diagObj = nullptr,
                                                unsigned long diagFlags = 0);

// The same without weights: `features` is emptied first, then holds the same points in the
// same order.
CCALIB_EXPORT void cfCalib2VertexFeatureExtract(const ccPelBuffer_const<unsigned char>& srcImg,
                                                const ccCalib2VertexFeatureParams& params,
                                                std::vector<ccPair<ccVector<2>>>& features,
                                                ccDiagObject* diagObj = nullptr,
                                                unsigned long diagFlags = 0);

#endif  // CAL_CALIBFTR_VERTEX_FEATURE_EXTRACT_H
