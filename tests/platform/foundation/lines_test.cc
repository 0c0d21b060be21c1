// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/foundation/exception.h"

namespace {

::testing::AssertionResult PointNear(const ccVector<2>& a, const ccVector<2>& b, double tol) {
  if (a.distance(b) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x() << ", " << a.y() << ") vs (" << b.x() << ", "
                                       << b.y() << "), distance " << a.distance(b) << " > " << tol;
}

TEST(FLine, SignedDistanceFollowsTheLineEquation) {
  // Through (2, 1) at 30 degrees: points along the direction lie on it, the left normal side
  // is positive.
  ccFLine line(ccVector<2>(2, 1), ccDegree(30));
  ccVector<2> dir(std::cos(ccPi / 6), std::sin(ccPi / 6));
  EXPECT_NEAR(line.signedDistance(ccVector<2>(2, 1) + dir * 7.5), 0.0, 1e-12);
  EXPECT_NEAR(line.signedDistance(ccVector<2>(2, 1) + dir.perp() * 3.0), 3.0, 1e-12);
  EXPECT_NEAR(line.cosAngle() * 1.0 - line.sinAngle() * 2.0 - line.distance(), 0.0, 1e-12);

  ccFLine fromSeg(ccLineSeg(ccVector<2>(0, 5), ccVector<2>(4, 5)));  // y = 5, directed along +x
  EXPECT_NEAR(fromSeg.signedDistance(ccVector<2>(-3, 2)), -3.0, 1e-15);
  EXPECT_TRUE(PointNear(fromSeg.project(ccVector<2>(1, 9)), ccVector<2>(1, 5), 1e-15));
  EXPECT_THROW(ccFLine(ccLineSeg(ccVector<2>(1, 1), ccVector<2>(1, 1))), ccBadArgument);
}

TEST(FLine, IntersectionGivesOnePointOrNone) {
  ccVector<2> p(-3.5, 12.25);
  auto hits = ccFLine(p, ccDegree(10)).intersection(ccFLine(p, ccDegree(95)));
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_TRUE(PointNear(hits[0], p, 1e-12));

  EXPECT_TRUE(ccFLine(p, ccDegree(10))
                  .intersection(ccFLine(ccVector<2>(0, 0), ccDegree(190)))
                  .empty());  // parallel
  EXPECT_TRUE(
      ccFLine(p, ccDegree(10)).intersection(ccFLine(p, ccDegree(10))).empty());  // coincident

  // Point-direction lines: the crossing of the x axis through (1, 1) and a vertical line.
  auto cross = ccLine(ccVector<2>(2, 0), ccVector<2>(1, 1))
                   .intersection(ccLine(ccVector<2>(0, -3), ccVector<2>(4, 7)));
  ASSERT_EQ(cross.size(), 1u);
  EXPECT_TRUE(PointNear(cross[0], ccVector<2>(4, 1), 1e-15));
  EXPECT_THROW(ccLine(ccVector<2>(0, 0), ccVector<2>(1, 1)), ccBadArgument);
}

TEST(LSLineFitter, RecoversNoisyLineAndReportsRmsDistance) {
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 0.05);
  const ccRadian angle(2.2);
  const ccVector<2> through(100.0, -40.0), dir(1.0, angle);
  ccLSLineFitter fitter;
  for (int i = 0; i < 400; ++i)
    fitter.addPoint(through + dir * (i * 0.25 - 50.0) + dir.perp() * noise(rng));
  ccFLine line;
  double error = 0.0;
  ASSERT_TRUE(fitter.fitAndError(line, error));
  // Directed along the data (first point to last), so the angle itself is recovered.
  EXPECT_NEAR(ccRadian(line.angle() - angle).signedNorm().toDouble(), 0.0, 2e-4);
  EXPECT_NEAR(line.signedDistance(through), 0.0, 0.02);
  EXPECT_NEAR(error, 0.05, 0.005);

  std::vector<ccVector<2>> exact = {{0, 1}, {1, 3}, {2, 5}};
  ASSERT_TRUE(fitter.fitAndError(exact, line, error));
  EXPECT_NEAR(error, 0.0, 1e-14);
  EXPECT_NEAR(line.signedDistance(ccVector<2>(10, 21)), 0.0, 1e-12);
}

TEST(LSLineFitter, RefusesDegeneratePointSets) {
  ccLSLineFitter fitter;
  ccFLine line;
  double error = 0.0;
  const std::vector<std::vector<ccVector<2>>> bad = {
      {},
      {{1, 2}},
      {{1, 2}, {1, 2}, {1, 2}},
      {{0, 0}, {1, 0}, {1, 1}, {0, 1}},  // no preferred direction
      {{0, 0}, {1, std::nan("")}},
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(fitter.fitAndError(bad[i], line, error));
  }
}

}  // namespace
