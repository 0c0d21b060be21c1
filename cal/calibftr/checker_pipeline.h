// SPDX-License-Identifier: Apache-2.0
// The standard checkerboard algorithm: tile detection, mesh, edge measurement and corner fit,
// the fiducial retry under uneven lighting, labelling from the start corner, the precision
// filter and the labelled pairs in plate row order.
#ifndef CAL_CALIBFTR_CHECKER_PIPELINE_H
#define CAL_CALIBFTR_CHECKER_PIPELINE_H

#include <vector>

#include "cal/calibftr/vertex_feature_params.h"
#include "platform/foundation/affine_rect.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"

// Fills `labelled` with one (image position, plate position) pair per labelled vertex of
// `srcImg`, sorted by plate row, then plate x. Image positions are pixel coordinates
// (the image's client transform is ignored, except to map params.origin() into the image
// for eUseOrigin). The fiducial rectangles and vectors are the driver's first search
// (degenerate rectangles when it found nothing); they are copied, never written.
// Throws ccCalib2VertexFeatureDefs::FiducialNotFound when, with eUseFiducial under uneven
// lighting, the retries on the board find no fiducial either; FailedCorrespondence
// ("Failed to establish correspondence.") without a start corner; whatever a stage or
// ccAttention::check() throws. `labelled` is only written at the end.
void cfCheckerPipelineRun(const ccPelBuffer_const<unsigned char>& srcImg,
                          const ccCalib2VertexFeatureParams& params,
                          const ccAffineRectangle& fiducialRect1,
                          const ccAffineRectangle& fiducialRect2, const ccVector<2>& xStep,
                          const ccVector<2>& yStep, const ccVector<2>& fiducialPoint,
                          std::vector<ccPair<ccVector<2>>>& labelled);

#endif  // CAL_CALIBFTR_CHECKER_PIPELINE_H
