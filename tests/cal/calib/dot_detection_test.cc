// SPDX-License-Identifier: Apache-2.0
// Threshold estimation of the dot detection: the threshold sits between the two grey levels
// and the edge strength it reports follows the contrast (the soft band is built from it).
#include "cal/calib/dot_detection.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/pel_ops.h"
#include "tests/support/synthetic.h"

namespace {

// Dark discs of radius 8 px every 32 px on a light ground.
ccPelBuffer<unsigned char> discs(double dark, double light) {
  ccSyntheticSpec spec;
  spec.width = 160;
  spec.height = 128;
  spec.foreground = dark;
  spec.background = light;
  spec.blurSigma = 1.0;
  return cfSyntheticImage(spec, [](double x, double y) {
    const double u = std::fmod(x, 32.0) - 16.0, v = std::fmod(y, 32.0) - 16.0;
    return u * u + v * v < 64.0;
  });
}

TEST(DotThreshold, ThresholdBetweenLevelsAndStrengthFollowsContrast) {
  constexpr double kPreset = -1.0;  // a value the estimate can never report
  double strength[2] = {kPreset, kPreset};
  const double contrasts[2] = {80.0, 160.0};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(contrasts[k]);
    const double light = 200.0, dark = light - contrasts[k];
    ccRLEBuffer edges;
    const int t = cfCalibEstimateThreshold(discs(dark, light), 0.25, 0.35, edges, strength[k]);
    EXPECT_NEAR(t, 0.5 * (dark + light), 0.15 * contrasts[k]);
    EXPECT_GT(strength[k], 0.0);
    EXPECT_FALSE(edges.image().window().isNull());
  }
  // Twice the contrast gives about twice the edge strength.
  EXPECT_NEAR(strength[1] / strength[0], 2.0, 0.3);
}

TEST(DotThreshold, BlankImageHasNoThresholdAndKeepsTheStrength) {
  ccPelBuffer<unsigned char> blank(ccPelRect(0, 0, 64, 48));
  cfPelSet(blank, static_cast<unsigned char>(128));
  double strength = 8.0;
  ccRLEBuffer edges;
  EXPECT_EQ(cfCalibEstimateThreshold(blank, 0.25, 0.35, edges, strength), -1);
  EXPECT_EQ(strength, 8.0);
}

}  // namespace
