// SPDX-License-Identifier: Apache-2.0
// The driver behind both vertex feature entry points: image checks, algorithm choice, the
// first fiducial search, and the result in client coordinates.
#ifndef CAL_CALIBFTR_VERTEX_FEATURE_RUN_H
#define CAL_CALIBFTR_VERTEX_FEATURE_RUN_H

#include <vector>

#include "cal/calibftr/vertex_feature_params.h"
#include "platform/foundation/crsp_pair.h"
#include "platform/foundation/pel_buffer.h"

// Throws ccPel::UnboundWindow or BadParam ("Client transform of srcImg must be linear.")
// before anything else. params.algorithm() eExhaustive hands the job to the exhaustive
// algorithm; every other value runs the standard pipeline: with eUseFiducial the fiducial is
// looked for on the whole image first (FiducialNotFound when that fails under uniform
// lighting; under uneven lighting the pipeline retries on the board). `features` is replaced
// by the labelled vertices with first points in client coordinates and the default weight.
void cfCalib2VertexFeatureRun(const ccPelBuffer_const<unsigned char>& srcImg,
                              const ccCalib2VertexFeatureParams& params,
                              std::vector<ccCrspPairWeighted>& features);

#endif  // CAL_CALIBFTR_VERTEX_FEATURE_RUN_H
