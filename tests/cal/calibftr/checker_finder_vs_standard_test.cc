// SPDX-License-Identifier: Apache-2.0
// Where the standard and the exhaustive algorithm both report a vertex of the same image in
// the same label mode, they must give it the same plate position.
#include <gtest/gtest.h>

#include <vector>

#include "cal/calibftr/vertex_feature_extract.h"
#include "tools/plate/plate_render.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

std::vector<ccCrspPairWeighted> extract(const ccPelBuffer_const<unsigned char>& image,
                                        ccCalib2VertexFeatureParams params,
                                        Defs::Algorithm algorithm) {
  params.algorithm(algorithm);
  std::vector<ccCrspPairWeighted> f;
  cfCalib2VertexFeatureExtract(image, params, f, nullptr, 0);
  return f;
}

TEST(CheckerFinderVsStandard, SameVertexSameLabel) {
  struct Case {
    const char* name;
    double rotation, tiltX;
    bool fiducial;
    Defs::CorrespondMethod mode;
  };
  const Case cases[] = {{"none, slight turn", 6, 0, false, Defs::eNone},
                        {"none, quarter turn and tilt", 97, 25, false, Defs::eNone},
                        {"origin, upside down", 185, 10, false, Defs::eUseOrigin},
                        {"fiducial", 8, 15, true, Defs::eUseFiducial}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ccCheckerPlate plate =
        cfCheckerPlate(c.fiducial ? 12 : 9, c.fiducial ? 10 : 7, c.fiducial);
    const ccPlateCamera cam =
        cfPlateCameraView(cfPaperRegion(plate), 800, 600, c.tiltX, 0, c.rotation, 0.9);
    ccPlateRenderParams rp;
    rp.width = 800;
    rp.height = 600;
    rp.blurSigma = 0.8;
    rp.noiseSigma = 1.0;
    const ccPelBuffer<unsigned char> image = cfRenderPlate(plate, cam, rp).image;
    ccCalib2VertexFeatureParams params(ccVector<2>(2.5, 2.5), c.mode);
    params.origin(ccVector<2>(330, 350));
    const auto standard = extract(image, params, Defs::eStandard);
    const auto exhaustive = extract(image, params, Defs::eExhaustive);
    int shared = 0;
    for (const auto& s : standard) {
      for (const auto& e : exhaustive) {
        if (s.first.distance(e.first) < 1.0) {
          ++shared;
          EXPECT_EQ(s.second, e.second) << "at (" << s.first.x() << ", " << s.first.y() << ")";
        }
      }
    }
    EXPECT_GE(shared, 20) << standard.size() << " standard, " << exhaustive.size() << " exhaustive";
  }
}

}  // namespace
