// Placeholder of the exhaustive checkerboard algorithm until the search itself is built in.
#include "cal/calibftr/checker_finder_exhaustive.h"

void cfCheckerFinderExhaustive(const ccPelBuffer_const<unsigned char>&, const ccCalib2VertexFeatureParams&,
                               std::vector<ccCrspPairWeighted>& features) {
  features.clear();
  throw ccCalib2VertexFeatureDefs::BadParam(L"The exhaustive algorithm is not available in this build.");
}
