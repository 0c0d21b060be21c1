// SPDX-License-Identifier: Apache-2.0
// Assertions on points and transforms that print both values on failure:
//   EXPECT_TRUE(cfPointsNear(actual, expected, 1e-9));
//   EXPECT_TRUE(cfXformsNear(actual, expected, 1e-9));
#ifndef TESTS_SUPPORT_MATCHERS_H
#define TESTS_SUPPORT_MATCHERS_H

#include <gtest/gtest.h>

#include "platform/foundation/vector.h"
#include "platform/foundation/xform.h"

// Passes when |actual - expected| <= tolerance.
inline ::testing::AssertionResult cfPointsNear(const ccVector<2>& actual,
                                               const ccVector<2>& expected, double tolerance) {
  const double d = (actual - expected).length();
  if (d <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << actual << " is " << d << " from " << expected << " (tolerance " << tolerance << ")";
}

// Passes when every matrix element and translation component agrees within tolerance.
inline ::testing::AssertionResult cfXformsNear(const ccXform<2>& actual, const ccXform<2>& expected,
                                               double tolerance) {
  double worst = (actual.trans() - expected.trans()).length();
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      worst = std::max(worst,
                       std::fabs(actual.matrix().element(r, c) - expected.matrix().element(r, c)));
  if (worst <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " differs by " << worst << " from " << expected
                                       << " (tolerance " << tolerance << ")";
}

#endif  // TESTS_SUPPORT_MATCHERS_H
