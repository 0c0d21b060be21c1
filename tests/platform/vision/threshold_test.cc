#include "platform/vision/threshold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"
#include "tests/support/synthetic.h"

namespace {

std::vector<unsigned long> histogramOf(const ccPelBuffer_const<unsigned char>& image) {
  std::vector<unsigned long> h;
  cf_MaskedPelHistogram(image, ccPelBuffer_const<unsigned char>(), h);
  return h;
}

// A checkerboard of 32-pixel squares (dark 40, bright 110 before lighting), blurred, lit
// from 1x at the left to 2x at the right, with noise.
ccPelBuffer<unsigned char> litCheckerboard() {
  const long w = 320, h = 240;
  ccPelBuffer<double> cov = cfSyntheticCoverage(w, h, 4, [](double x, double y) {
    return ((static_cast<long>(std::floor(x / 32)) + static_cast<long>(std::floor(y / 32))) & 1) != 0;
  });
  cfSyntheticBlur(cov, 1.2);
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 3.0);
  ccPelBuffer<unsigned char> out(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const double v = (40.0 + 70.0 * cov.at(x, y)) * (1.0 + double(x) / (w - 1)) + noise(rng);
      out.at(x, y) = static_cast<unsigned char>(std::lround(std::min(255.0, std::max(0.0, v))));
    }
  return out;
}

ccThresholdResult wgv(const std::vector<unsigned long>& h, int low = 0, int high = -1) {
  ccThresholdResult r;
  cfThresholdWGV(h, r, low, high);
  return r;
}

TEST(ThresholdWGV, BimodalImagesScoreHighAndSplitBetweenModes) {
  ccSyntheticSpec spec;
  spec.blurSigma = 1.5;
  spec.noiseSigma = 4.0;
  spec.foreground = 190.0;
  spec.background = 60.0;
  auto disc = cfSyntheticImage(spec, [](double x, double y) { return std::hypot(x - 128, y - 128) < 70; });
  ccThresholdResult r = wgv(histogramOf(disc));
  ASSERT_TRUE(r.isComputed());
  EXPECT_GT(r.threshold(), 80);
  EXPECT_LT(r.threshold(), 170);
  EXPECT_GE(r.score(), 0.85) << "threshold " << r.threshold();

  // Two spikes: any split in 51..200 is as good; the middle one is taken.
  std::vector<unsigned long> spikes(256, 0);
  spikes[50] = 300;
  spikes[200] = 100;
  r = wgv(spikes);
  EXPECT_EQ(r.threshold(), 126);
  EXPECT_NEAR(r.score(), 1.0, 1e-9);

  ccThresholdResult lit = wgv(histogramOf(litCheckerboard()));
  ASSERT_TRUE(lit.isComputed());
  EXPECT_GE(lit.score(), 0.6) << "threshold " << lit.threshold();
}

TEST(ThresholdWGV, UnimodalAndFlatHistogramsScoreLow) {
  std::mt19937 rng(3);
  std::normal_distribution<double> gauss(128.0, 20.0);
  std::vector<unsigned long> g(256, 0), flat(256, 0), sparse(256, 0);
  for (int i = 0; i < 200000; ++i) ++g[std::min(255L, std::max(0L, std::lround(gauss(rng))))];
  std::uniform_int_distribution<int> uni(0, 255);
  for (int i = 0; i < 200000; ++i) ++flat[uni(rng)];
  for (int i = 0; i < 300; ++i) ++sparse[uni(rng)];
  const ccThresholdResult rg = wgv(g), rf = wgv(flat), rs = wgv(sparse);
  EXPECT_LE(rg.score(), 0.4);
  EXPECT_NEAR(rg.threshold(), 128, 3);
  EXPECT_LE(rf.score(), 0.5);
  EXPECT_LE(rs.score(), 0.5);
}

TEST(ThresholdWGV, RangeLimitsAndDegenerateHistograms) {
  std::vector<unsigned long> h(256, 0);
  EXPECT_FALSE(wgv(h).isComputed());
  h[77] = 1000;
  EXPECT_FALSE(wgv(h).isComputed());
  h[20] = 500;  // outside [50, 256): still a single value inside the range
  EXPECT_FALSE(wgv(h, 50, 256).isComputed());
  h[100] = 500;
  ccThresholdResult r = wgv(h, 50, 256);
  ASSERT_TRUE(r.isComputed());
  EXPECT_GT(r.threshold(), 77);
  EXPECT_LE(r.threshold(), 100);
  // The same split with a high bound above the size.
  EXPECT_EQ(wgv(h, 50, 1000).threshold(), r.threshold());
  EXPECT_THROW(wgv(h, -1, 10), ccBadArgument);
  EXPECT_THROW(wgv(h, 30, 30), ccBadArgument);
  EXPECT_THROW(wgv(std::vector<unsigned long>(), 0, -1), ccBadArgument);
}

TEST(MaskedPelHistogram, CountsOnlyMaskedPixelsInsideBothWindows) {
  std::mt19937 rng(11);
  ccPelBuffer<unsigned char> image(ccPelRect(5, 7, 40, 30));
  ccPelBuffer<unsigned char> mask(ccPelRect(20, 0, 50, 20));  // overlaps columns 20..44, rows 7..19
  for (long y = 7; y < 37; ++y)
    for (long x = 5; x < 45; ++x) image.at(x, y) = static_cast<unsigned char>(rng() & 0xFF);
  for (long y = 0; y < 20; ++y)
    for (long x = 20; x < 70; ++x) mask.at(x, y) = (rng() & 1) ? 255 : 0;
  std::vector<unsigned long> expected(256, 0), got;
  for (long y = 7; y < 20; ++y)
    for (long x = 20; x < 45; ++x)
      if (mask.at(x, y)) ++expected[image.at(x, y)];
  cf_MaskedPelHistogram(image, mask, got);
  EXPECT_EQ(got, expected);

  std::vector<unsigned long> whole(256, 0);
  for (long y = 7; y < 37; ++y)
    for (long x = 5; x < 45; ++x) ++whole[image.at(x, y)];
  EXPECT_EQ(histogramOf(image), whole);

  ccPelBuffer<unsigned char> away(ccPelRect(500, 500, 4, 4));
  cfPelSet(away, static_cast<unsigned char>(1));
  cf_MaskedPelHistogram(image, away, got);
  EXPECT_EQ(got, std::vector<unsigned long>(256, 0));
  EXPECT_THROW(cf_MaskedPelHistogram(ccPelBuffer<unsigned char>(), mask, got), ccPel::UnboundWindow);
}

}  // namespace
