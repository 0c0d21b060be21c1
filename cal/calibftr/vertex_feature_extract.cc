// SPDX-License-Identifier: Apache-2.0
// The exported checkerboard vertex feature entry points: the driver, then the diagnostics.
#include "cal/calibftr/vertex_feature_extract.h"

#include "cal/calibftr/vertex_feature_diag.h"
#include "cal/calibftr/vertex_feature_run.h"

void cfCalib2VertexFeatureExtract(const ccPelBuffer_const<unsigned char>& srcImg,
                                  const ccCalib2VertexFeatureParams& params,
                                  std::vector<ccCrspPairWeighted>& features, ccDiagObject* diagObj,
                                  unsigned long diagFlags) {
  cfCalib2VertexFeatureRun(srcImg, params, features);
  cfCalib2VertexFeatureDiag(diagObj, diagFlags, params, srcImg, features);
}

void cfCalib2VertexFeatureExtract(const ccPelBuffer_const<unsigned char>& srcImg,
                                  const ccCalib2VertexFeatureParams& params,
                                  std::vector<ccPair<ccVector<2>>>& features, ccDiagObject* diagObj,
                                  unsigned long diagFlags) {
  features.clear();
  std::vector<ccCrspPairWeighted> weighted;
  cfCalib2VertexFeatureRun(srcImg, params, weighted);
  cfCalib2VertexFeatureDiag(diagObj, diagFlags, params, srcImg, weighted);
  features.clear();
  features.reserve(weighted.size());
  for (const ccCrspPairWeighted& w : weighted) features.push_back(w.pair());
}
