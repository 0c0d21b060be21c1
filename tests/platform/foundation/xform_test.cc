// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/xform.h"

#include <gtest/gtest.h>

namespace {

TEST(Xform, ScaleSkewRotationRoundTrip) {
  ccXform<2> x(ccVector<2>(3, -2), 2.0, 0.5, ccRadian(0.1), ccRadian(0.7));
  EXPECT_NEAR(x.xScale(), 2.0, 1e-12);
  EXPECT_NEAR(x.yScale(), 0.5, 1e-12);
  EXPECT_NEAR(x.rotation().toDouble(), 0.7, 1e-12);
  EXPECT_NEAR(x.skew().toDouble(), 0.1, 1e-12);
  EXPECT_NEAR(x.matrix().determinant(), 2.0 * 0.5 * std::cos(0.1), 1e-12);
  ccVector<2> p(1.5, -4.0);
  ccVector<2> q = x.inverse().mapPoint(x.mapPoint(p));
  EXPECT_NEAR(q.x(), p.x(), 1e-12);
  EXPECT_NEAR(q.y(), p.y(), 1e-12);
}

TEST(Xform, ReflectionHasSkewPi) {
  ccXform<2> x(ccMatrix<2>(1, 0, 0, -1), ccVector<2>());
  EXPECT_NEAR(std::fabs(x.skew().toDouble()), ccPi, 1e-12);
  EXPECT_NEAR(x.rotation().toDouble(), 0.0, 1e-12);
  EXPECT_FALSE(x.isSingular());
  EXPECT_TRUE(ccXform<2>(ccMatrix<2>(1, 2, 2, 4), ccVector<2>()).isSingular());
}

TEST(Rounding, HalvesAwayFromZero) {
  EXPECT_EQ(iRound(2.5), 3);
  EXPECT_EQ(iRound(-2.5), -3);
  EXPECT_EQ(iRound(2.49), 2);
  EXPECT_EQ(iRound(-0.5), -1);
  EXPECT_EQ(ccRadian(-0.1).norm().toDouble(), 2 * ccPi - 0.1);
  EXPECT_NEAR(ccRadian(3 * ccPi).signedNorm().toDouble(), ccPi, 1e-12);
  EXPECT_NEAR(ccRadian(-ccPi).signedNorm().toDouble(), ccPi, 1e-12);
}

}  // namespace
