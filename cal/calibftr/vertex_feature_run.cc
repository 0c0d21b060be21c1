// SPDX-License-Identifier: Apache-2.0
// The vertex feature driver: checks the image, runs the exhaustive algorithm or the first
// fiducial search and the standard pipeline, and maps the result into client coordinates.
#include "cal/calibftr/vertex_feature_run.h"

#include "cal/calibftr/checker_finder_exhaustive.h"
#include "cal/calibftr/checker_pipeline.h"
#include "cal/checkerlabels/checker_labels.h"
#include "platform/foundation/attention.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

void checkImage(const ccPelBuffer_const<unsigned char>& srcImg) {
  if (!srcImg.isBound()) throw ccPel::UnboundWindow();
  if (!srcImg.clientFromImageXformBase()->isLinear())
    throw Defs::BadParam(L"Client transform of srcImg must be linear.");
}

}  // namespace

void cfCalib2VertexFeatureRun(const ccPelBuffer_const<unsigned char>& srcImg,
                              const ccCalib2VertexFeatureParams& params,
                              std::vector<ccCrspPairWeighted>& features) {
  checkImage(srcImg);
  if (params.algorithm() == Defs::eExhaustive) {
    cfCheckerFinderExhaustive(srcImg, params, features);
    return;
  }
  features.clear();

  ccPelBuffer_const<unsigned char> working(srcImg);
  working.clientFromImageXform(ccXform<2>());
  const ccAffineRectangle degenerate(ccXform<2>(ccMatrix<2>(0, 0, 0, 0), ccVector<2>()));
  ccAffineRectangle fiducialRect1 = degenerate, fiducialRect2 = degenerate;
  ccVector<2> xStep, yStep, fiducialPoint;

  if (params.labelMode() == Defs::eUseFiducial) {
    const bool found =
        cfCheckerFindFiducial(working, ccPelBuffer<unsigned char>(), params, fiducialRect1,
                              fiducialRect2, xStep, yStep, fiducialPoint);
    // Under uneven lighting a whole-image threshold may miss the bars; the pipeline then
    // searches again on the board it found.
    if (!found && params.uniformLighting()) throw Defs::FiducialNotFound();
    ccAttention::check();
  }

  std::vector<ccPair<ccVector<2>>> labelled;
  cfCheckerPipelineRun(srcImg, params, fiducialRect1, fiducialRect2, xStep, yStep, fiducialPoint,
                       labelled);
  ccAttention::check();

  const ccXform<2> clientFromImage = srcImg.clientFromImageXform();
  features.clear();
  features.reserve(labelled.size());
  for (ccPair<ccVector<2>>& pair : labelled) {
    pair.first = clientFromImage.mapPoint(pair.first);
    features.emplace_back(pair);
  }
}
