// SPDX-License-Identifier: Apache-2.0
// What a successful vertex feature extraction records into the caller's diagnostics object.
#ifndef CAL_CALIBFTR_VERTEX_FEATURE_DIAG_H
#define CAL_CALIBFTR_VERTEX_FEATURE_DIAG_H

#include <vector>

#include "cal/calibftr/vertex_feature_params.h"
#include "platform/foundation/crsp_pair.h"
#include "platform/foundation/diag.h"
#include "platform/foundation/pel_buffer.h"

// Records, as `diagFlags` ask (nothing for a null `diagObj`):
// - any of the three categories: the image, labelled "image";
// - ccDiagDefs::eRecordInput: the parameter listing, "params";
// - eRecordIntermediate: one level with the image ("Neighbors x") and the links between
//   vertices one plate row apart, one graphic list per plate column ("Neighbors at x = X");
//   a second level likewise per plate row ("Neighbors y", "Neighbors at y = Y");
// - eRecordResult: one level with the image ("Results"), the graphic lists "Features",
//   "Plate coordinates", "Neighbors", "Origin" (plate axes three pitches long from plate
//   (0, 0)) and "Bounding box", and the coordinate listing.
// Graphics are in the client coordinates of `srcImg`, as the features' first points are.
void cfCalib2VertexFeatureDiag(ccDiagObject* diagObj, unsigned long diagFlags,
                               const ccCalib2VertexFeatureParams& params,
                               const ccPelBuffer_const<unsigned char>& srcImg,
                               const std::vector<ccCrspPairWeighted>& features);

#endif  // CAL_CALIBFTR_VERTEX_FEATURE_DIAG_H
