// The exhaustive checkerboard algorithm: the whole vertex extraction done by a search over
// the image instead of the standard checker pipeline.
#ifndef CAL_CALIBFTR_CHECKER_FINDER_EXHAUSTIVE_H
#define CAL_CALIBFTR_CHECKER_FINDER_EXHAUSTIVE_H

#include <vector>

#include "cal/calibftr/vertex_feature_params.h"
#include "platform/foundation/crsp_pair.h"
#include "platform/foundation/pel_buffer.h"

// Replaces `features` by the labelled vertices of `srcImg`: first points in the image's
// client coordinates, second points in plate units (grid position times the pitch), each
// with the search's weight, in the search's order. On any exception `features` is empty.
void cfCheckerFinderExhaustive(const ccPelBuffer_const<unsigned char>& srcImg, const ccCalib2VertexFeatureParams& params,
                               std::vector<ccCrspPairWeighted>& features);

#endif  // CAL_CALIBFTR_CHECKER_FINDER_EXHAUSTIVE_H
