// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/point_fitter.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/foundation/exception.h"

namespace {

::testing::AssertionResult XformNear(const ccXform<2>& a, const ccXform<2>& b, double tol) {
  double worst = 0.0;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      worst = std::max(worst, std::fabs(a.matrix().element(r, c) - b.matrix().element(r, c)));
  worst = std::max(worst, a.trans().distance(b.trans()));
  if (worst <= tol) return ::testing::AssertionSuccess();
  auto text = [](const ccXform<2>& x) {
    const ccMatrix<2>& m = x.matrix();
    return "[" + std::to_string(m.element(0, 0)) + " " + std::to_string(m.element(0, 1)) + "; " +
           std::to_string(m.element(1, 0)) + " " + std::to_string(m.element(1, 1)) + "] + (" +
           std::to_string(x.trans().x()) + ", " + std::to_string(x.trans().y()) + ")";
  };
  return ::testing::AssertionFailure()
         << text(a) << " vs " << text(b) << ", worst " << worst << " > " << tol;
}

TEST(LSPointToPointFitter, RecoversKnownTransforms) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-500.0, 500.0);
  std::normal_distribution<double> noise(0.0, 1e-3);
  const ccXform<2> affine(ccMatrix<2>(0.021, -0.004, 0.003, 0.019), ccVector<2>(-12.5, 7.25));
  const ccXform<2> similarity(ccVector<2>(3, -4), 1.7, 1.7, ccRadian(0.0), ccRadian(0.6));
  std::vector<ccVector<2>> from, toAffine, toSimilar, toNoisy;
  for (int i = 0; i < 100; ++i) {
    ccVector<2> p(u(rng) + 1000.0, u(rng) + 2000.0);  // far from the origin
    from.push_back(p);
    toAffine.push_back(affine.mapPoint(p));
    toSimilar.push_back(similarity.mapPoint(p));
    toNoisy.push_back(affine.mapPoint(p) + ccVector<2>(noise(rng), noise(rng)));
  }
  EXPECT_TRUE(XformNear(ccLSPointToPointFitter(toAffine, from).fit(6), affine, 1e-12));
  EXPECT_TRUE(XformNear(ccLSPointToPointFitter(toSimilar, from).fit(4), similarity, 1e-9));
  EXPECT_TRUE(XformNear(ccLSPointToPointFitter(toSimilar, from).fit(6), similarity, 1e-9));
  ccLSPointToPointFitter noisy(toNoisy, from);
  ccXform<2> fit = noisy.fit(6);
  EXPECT_NEAR(noisy.rmsError(fit), std::sqrt(2.0) * 1e-3, 3e-4);
  EXPECT_NEAR(
      fit.mapPoint(ccVector<2>(1000, 2000)).distance(affine.mapPoint(ccVector<2>(1000, 2000))), 0.0,
      1e-3);

  std::vector<ccVector<2>> shifted;
  for (const ccVector<2>& p : from) shifted.push_back(p + ccVector<2>(2, -1));
  EXPECT_TRUE(XformNear(ccLSPointToPointFitter(shifted, from).fit(2),
                        ccXform<2>(ccMatrix<2>(), ccVector<2>(2, -1)), 1e-12));
}

TEST(LSPointToPointFitter, RefusesDegenerateInput) {
  const std::vector<ccVector<2>> three = {{0, 0}, {1, 0}, {0, 1}};
  const std::vector<ccVector<2>> collinear = {{0, 0}, {1, 1}, {2, 2}, {3, 3}};
  const std::vector<ccVector<2>> same = {{0.1, 0.7}, {0.1, 0.7}, {0.1, 0.7}};
  EXPECT_THROW(ccLSPointToPointFitter(three, {{0, 0}, {1, 0}}).fit(6),
               ccMathError);  // sizes differ
  EXPECT_THROW(ccLSPointToPointFitter({{0, 0}, {1, 0}}, {{0, 0}, {1, 0}}).fit(6),
               ccMathError);  // too few
  EXPECT_THROW(ccLSPointToPointFitter(collinear, collinear).fit(6), ccMathError);
  EXPECT_THROW(ccLSPointToPointFitter(same, same).fit(4), ccMathError);
  EXPECT_THROW(ccLSPointToPointFitter(same, same).fit(6), ccMathError);
  EXPECT_THROW(ccLSPointToPointFitter(three, three).fit(5), ccBadArgument);
  EXPECT_NO_THROW(ccLSPointToPointFitter(three, three).fit(6));
}

}  // namespace
