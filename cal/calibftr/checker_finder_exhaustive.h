// SPDX-License-Identifier: Apache-2.0
// The exhaustive algorithm of the checkerboard vertex extraction: the whole search is done
// by the checker finder (platform/checkerfinder) behind its C interface; this side
// translates parameters, results and failure statuses.
#ifndef CAL_CALIBFTR_CHECKER_FINDER_EXHAUSTIVE_H
#define CAL_CALIBFTR_CHECKER_FINDER_EXHAUSTIVE_H

#include <cstdint>
#include <vector>

#include "cal/calibftr/vertex_feature_params.h"
#include "ccalib_export.h"
#include "platform/foundation/crsp_pair.h"
#include "platform/foundation/pel_buffer.h"

// Facility number of the checker finder's statuses.
constexpr std::uint32_t kCheckerFinderFacility = 111;

// Runs the checker finder on `srcImg` and replaces `features` by its vertices, in the
// finder's order (by label y, then label x) with the finder's weights: first = vertex in
// the client coordinates of srcImg, second = label times params.physicalGridPitch().
// Labels: eUseFiducial gives the plate's own labels from its fiducial; eNone puts (0, 0) at
// the vertex nearest the centre of the image window, eUseOrigin at the vertex nearest
// params.origin() taken as an image position as it stands (not mapped from client
// coordinates). precisionThreshold() bounds each vertex's position standard deviation in
// pixels. Throws ccCalib2VertexFeatureDefs::FailedCorrespondence (no board),
// FiducialNotFound, ccPel::UnboundWindow, and whatever ccAttention::check() throws (passed
// through unchanged). `features` is empty after any exception.
CCALIB_EXPORT void cfCheckerFinderExhaustive(const ccPelBuffer_const<unsigned char>& srcImg,
                                             const ccCalib2VertexFeatureParams& params,
                                             std::vector<ccCrspPairWeighted>& features);

// Converter of the finder's failure statuses, registered for facility 111 when the library
// loads: 0x80000DE1 ccPel::UnboundWindow, 0x80000DE2 BadParam ("Exhaustive mode does not
// work for images with nonlinear transforms"), 0x80000DE3 FiducialNotFound, 0x80000DE4
// FailedCorrespondence (empty message). Returns without throwing for any other status.
CCALIB_EXPORT void cfCalib2VertexFeatureConvertError(std::uint32_t status);

#endif  // CAL_CALIBFTR_CHECKER_FINDER_EXHAUSTIVE_H
