// SPDX-License-Identifier: Apache-2.0
// The vertex feature entry points and driver: every failure they report, each produced by a
// concrete image or parameter, and what the caller's list holds afterwards.
#include "cal/calibftr/vertex_feature_extract.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/foundation/attention.h"
#include "platform/foundation/xform_poly.h"
#include "tests/support/synthetic.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

ccPelBuffer<unsigned char> blank() {
  ccPelBuffer<unsigned char> img(160, 120);
  for (long y = 0; y < 120; ++y)
    for (long x = 0; x < 160; ++x)
      img.at(x, y) = static_cast<unsigned char>(100 + (x * 7 + y * 3) % 5);
  return img;
}

// Only the fiducial's two bars, light on dark: found, but there is no board around them.
ccPelBuffer<unsigned char> barsOnly() {
  ccSyntheticSpec spec;
  spec.width = 320, spec.height = 240, spec.supersample = 2, spec.blurSigma = 0.7;
  return cfSyntheticImage(spec, [](double x, double y) {
    const bool a = x >= 60 && x <= 190 && y >= 55 && y <= 65;
    const bool b = x >= 75 && x <= 85 && y >= 70 && y <= 145;
    return a || b;
  });
}

ccCalib2VertexFeatureParams withMode(Defs::CorrespondMethod mode, bool uniform = true) {
  ccCalib2VertexFeatureParams p;
  p.labelMode(mode);
  p.uniformLighting(uniform);
  return p;
}

// A cubic client transform: not linear.
ccPelBuffer<unsigned char> withPolynomialXform(ccPelBuffer<unsigned char> img) {
  std::vector<ccVector<2>> from, to;
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 6; ++i) {
      const ccVector<2> p(30.0 * i, 20.0 * j);
      from.push_back(p);
      to.push_back(p + ccVector<2>(1e-5 * p.x() * p.x() * p.x(), 0.0));
    }
  img.clientFromImageXformBase(std::make_shared<cc2XformPoly>(to, from, 3));
  return img;
}

template <class Error, class List>
void expectFailure(const ccPelBuffer_const<unsigned char>& img,
                   const ccCalib2VertexFeatureParams& params, List& features,
                   const wchar_t* message = nullptr) {
  ccDiagObject diag;
  try {
    cfCalib2VertexFeatureExtract(img, params, features, &diag, ccDiagDefs::eRecordAll);
    ADD_FAILURE() << "no exception";
  } catch (const Error& e) {
    if (message) {
      EXPECT_EQ(e.message(), message);
    }
  }
  EXPECT_TRUE(diag.empty());  // the dump runs only after a success
}

TEST(VertexFeatureExtract, ImageChecksComeFirstAndLeaveTheWeightedListAlone) {
  const std::vector<ccCrspPairWeighted> before(
      2, ccCrspPairWeighted(ccVector<2>(1, 2), ccVector<2>(3, 4), 0.5));
  std::vector<ccCrspPairWeighted> weighted = before;
  std::vector<ccPair<ccVector<2>>> pairs(3);
  expectFailure<ccPel::UnboundWindow>(ccPelBuffer<unsigned char>(), ccCalib2VertexFeatureParams(),
                                      weighted);
  EXPECT_EQ(weighted, before);
  expectFailure<ccPel::UnboundWindow>(ccPelBuffer<unsigned char>(), ccCalib2VertexFeatureParams(),
                                      pairs);
  EXPECT_TRUE(pairs.empty());

  const ccPelBuffer<unsigned char> curved = withPolynomialXform(blank());
  for (Defs::Algorithm a : {Defs::eStandard, Defs::eExhaustive}) {
    ccCalib2VertexFeatureParams p;
    p.algorithm(a);
    expectFailure<Defs::BadParam>(curved, p, weighted,
                                  L"Client transform of srcImg must be linear.");
    EXPECT_EQ(weighted, before);
  }
}

TEST(VertexFeatureExtract, FailuresOfTheSearchEmptyTheList) {
  std::vector<ccCrspPairWeighted> f(2);
  // No fiducial under even lighting: the driver's search fails.
  expectFailure<Defs::FiducialNotFound>(blank(), withMode(Defs::eUseFiducial), f);
  EXPECT_TRUE(f.empty());
  // Under uneven lighting the pipeline searches the board again, and finds no board.
  f.resize(2);
  expectFailure<Defs::FiducialNotFound>(blank(), withMode(Defs::eUseFiducial, false), f);
  EXPECT_TRUE(f.empty());
  // No corner to start from.
  for (Defs::CorrespondMethod m : {Defs::eNone, Defs::eUseOrigin}) {
    f.resize(2);
    expectFailure<Defs::FailedCorrespondence>(blank(), withMode(m), f,
                                              L"Failed to establish correspondence.");
    EXPECT_TRUE(f.empty());
  }
  // The fiducial alone: found, but no tile next to it.
  f.resize(2);
  expectFailure<Defs::FailedCorrespondence>(barsOnly(), withMode(Defs::eUseFiducial), f,
                                            L"Failed to establish correspondence.");
  EXPECT_TRUE(f.empty());
}

TEST(VertexFeatureExtract, CancellationPassesThrough) {
  std::vector<ccPair<ccVector<2>>> f;
  const ccAttention::Scope expired(std::chrono::steady_clock::duration::zero());
  expectFailure<ccTimeout>(barsOnly(), withMode(Defs::eUseFiducial), f);
}

}  // namespace
