// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/threshold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "platform/foundation/exception.h"
#include "tests/platform/vision/vision_test_images.h"
#include "tests/support/synthetic.h"

namespace {

ccThresholdResult wgv(const std::vector<unsigned long>& h, int low = 0, int high = -1) {
  ccThresholdResult r;
  cfThresholdWGV(h, r, low, high);
  return r;
}

ccThresholdResult wgvOfImage(const ccPelBuffer_const<unsigned char>& image) {
  std::vector<unsigned long> h;
  cf_MaskedPelHistogram(image, ccPelBuffer_const<unsigned char>(), h);
  return wgv(h);
}

TEST(ThresholdWGV, BimodalImagesScoreHighAndSplitBetweenModes) {
  ccSyntheticSpec spec;
  spec.blurSigma = 1.5;
  spec.noiseSigma = 4.0;
  spec.foreground = 190.0;
  spec.background = 60.0;
  const ccThresholdResult r = wgvOfImage(
      cfSyntheticImage(spec, [](double x, double y) { return std::hypot(x - 128, y - 128) < 70; }));
  EXPECT_TRUE(r.isComputed());
  EXPECT_TRUE(r.threshold() > 80 && r.threshold() < 170) << r.threshold();
  EXPECT_GE(r.score(), 0.85);

  // Two spikes: every split in 51..200 is as good; the middle one is taken.
  std::vector<unsigned long> spikes(256, 0);
  spikes[50] = 300;
  spikes[200] = 100;
  EXPECT_EQ(wgv(spikes).threshold(), 126);
  EXPECT_NEAR(wgv(spikes).score(), 1.0, 1e-9);

  // A checkerboard of 32-pixel squares (40 and 110), blurred, lit from 1x at the left to 2x
  // at the right, with noise: the classes overlap in grey level across the image.
  ccPelBuffer<double> cov = cfSyntheticCoverage(320, 240, 4, [](double x, double y) {
    return ((static_cast<long>(std::floor(x / 32)) + static_cast<long>(std::floor(y / 32))) & 1) !=
           0;
  });
  cfSyntheticBlur(cov, 1.2);
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 3.0);
  ccPelBuffer<unsigned char> lit(320, 240);
  for (long y = 0; y < 240; ++y)
    for (long x = 0; x < 320; ++x)
      lit.at(x, y) = static_cast<unsigned char>(std::clamp(
          std::lround((40.0 + 70.0 * cov.at(x, y)) * (1.0 + x / 319.0) + noise(rng)), 0L, 255L));
  EXPECT_GE(wgvOfImage(lit).score(), 0.6);
}

TEST(ThresholdWGV, UnimodalFlatAndSparseHistogramsScoreLow) {
  std::mt19937 rng(3);
  std::normal_distribution<double> gauss(128.0, 20.0);
  std::uniform_int_distribution<int> uni(0, 255);
  std::vector<unsigned long> g(256, 0), flat(256, 0), sparse(256, 0);
  for (int i = 0; i < 200000; ++i) {
    ++g[std::clamp(std::lround(gauss(rng)), 0L, 255L)];
    ++flat[uni(rng)];
  }
  for (int i = 0; i < 300; ++i) ++sparse[uni(rng)];
  EXPECT_LE(wgv(g).score(), 0.4);
  EXPECT_NEAR(wgv(g).threshold(), 128, 3);
  EXPECT_LE(wgv(flat).score(), 0.5);
  EXPECT_LE(wgv(sparse).score(), 0.5);
}

TEST(ThresholdWGV, RangeLimitsAndDegenerateHistograms) {
  std::vector<unsigned long> h(256, 0);
  EXPECT_FALSE(wgv(h).isComputed());
  h[77] = 1000;
  h[20] = 500;
  EXPECT_FALSE(wgv(h, 50, 256).isComputed()) << "a single value inside the range";
  h[100] = 500;
  const ccThresholdResult r = wgv(h, 50, 256);
  EXPECT_TRUE(r.isComputed() && r.threshold() > 77 && r.threshold() <= 100) << r.threshold();
  EXPECT_EQ(wgv(h, 50, 1000).threshold(), r.threshold());
  EXPECT_THROW(wgv(h, -1, 10), ccBadArgument);
  EXPECT_THROW(wgv(h, 30, 30), ccBadArgument);
  EXPECT_THROW(wgv(std::vector<unsigned long>(), 0, -1), ccBadArgument);
}

TEST(MaskedPelHistogram, CountsMaskedPixelsInsideBothWindows) {
  std::mt19937 rng(11);
  const ccPelBuffer<unsigned char> image = cfRandomImage(ccPelRect(5, 7, 40, 30), rng);
  const ccPelBuffer<unsigned char> mask = cfRandomImage(ccPelRect(20, 0, 50, 20), rng, 2);
  std::vector<unsigned long> masked(256, 0), whole(256, 0), got;
  for (long y = 7; y < 37; ++y)
    for (long x = 5; x < 45; ++x) {
      ++whole[image.at(x, y)];
      if (x >= 20 && y < 20 && mask.at(x, y)) ++masked[image.at(x, y)];
    }
  cf_MaskedPelHistogram(image, mask, got);
  EXPECT_EQ(got, masked);
  cf_MaskedPelHistogram(image, ccPelBuffer<unsigned char>(), got);
  EXPECT_EQ(got, whole);
  cf_MaskedPelHistogram(image, cfRandomImage(ccPelRect(500, 500, 4, 4), rng), got);
  EXPECT_EQ(got, std::vector<unsigned long>(256, 0));
  EXPECT_THROW(cf_MaskedPelHistogram(ccPelBuffer<unsigned char>(), mask, got),
               ccPel::UnboundWindow);
  EXPECT_THROW(cf_MaskedPelHistogram(ccPelBuffer<unsigned char>(3, 0), mask, got),
               ccPel::BadWindow);
}

}  // namespace
