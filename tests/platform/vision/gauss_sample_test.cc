// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/gauss_sample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/foundation/pel_ops.h"

namespace {

ccPelBuffer<unsigned char> noiseImage(long w, long h, double mean, double sigma, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(mean, sigma);
  ccPelBuffer<unsigned char> img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      img.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(noise(rng)), 0L, 255L));
  return img;
}

void meanAndSigma(const ccPelBuffer_const<unsigned char>& img, double& mean, double& sigma) {
  double s = 0.0, s2 = 0.0;
  const double n = static_cast<double>(img.width() * img.height());
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x) {
      const double v = img.row(y)[x];
      s += v;
      s2 += v * v;
    }
  mean = s / n;
  sigma = std::sqrt(s2 / n - mean * mean);
}

TEST(GaussSample, KeepsFrameAndMeanAndSmoothsNoise) {
  ccPelBuffer<unsigned char> img = noiseImage(160, 120, 100.0, 12.0, 3);
  img.offset(ccPair<long>(13, -7));
  const ccXform<2> clientFromImage(ccVector<2>(5.0, -2.0), 0.5, 0.5, ccRadian(0.0), ccRadian(0.3));
  img.clientFromImageXform(clientFromImage);
  ccPelBuffer<unsigned char> out;
  cfGaussSample(img, ccGaussSampleParams(1, 2, 1.0, true), out);
  EXPECT_EQ(out.window(), img.window());
  EXPECT_EQ(out.clientFromImageXform(), clientFromImage);
  double m0, s0, m1, s1;
  meanAndSigma(img, m0, s0);
  meanAndSigma(out, m1, s1);
  EXPECT_NEAR(m1, m0, 0.3);
  // A 5-tap Gaussian of sigma 1 passes about 1 / (4 pi sigma^2) of white-noise power.
  EXPECT_LT(s1, 0.4 * s0) << "input sigma " << s0 << ", output sigma " << s1;
  EXPECT_GT(s1, 0.2 * s0) << "input sigma " << s0 << ", output sigma " << s1;

  // A constant image stays exactly constant, borders included.
  ccPelBuffer<unsigned char> flat(37, 23);
  cfPelSet(flat, static_cast<unsigned char>(201));
  cfGaussSample(flat, ccGaussSampleParams(1, 3, 1.7, true), flat);  // output may be the input
  for (long y = 0; y < 23; ++y)
    for (long x = 0; x < 37; ++x) ASSERT_EQ(flat.at(x, y), 201) << x << "," << y;
}

TEST(GaussSample, ImpulseResponseIsTheNormalisedKernel) {
  ccPelBuffer<unsigned char> img(21, 21);
  img.at(10, 10) = 250;
  ccPelBuffer<unsigned char> out;
  cfGaussSample(img, ccGaussSampleParams(1, 2, 1.0, true), out);
  const double g[3] = {1.0, std::exp(-0.5), std::exp(-2.0)};
  const double norm = g[0] + 2 * g[1] + 2 * g[2];
  long total = 0;
  for (long y = 0; y < 21; ++y)
    for (long x = 0; x < 21; ++x) {
      const long dx = std::labs(x - 10), dy = std::labs(y - 10);
      const double want = dx <= 2 && dy <= 2 ? 250.0 * g[dx] * g[dy] / (norm * norm) : 0.0;
      EXPECT_NEAR(out.at(x, y), want, 0.5 + 1e-9) << x << "," << y;
      total += out.at(x, y);
    }
  EXPECT_NEAR(total, 250, 6);
}

TEST(GaussSample, SubsampledFramesMapToTheSampledPoints) {
  ccPelBuffer<unsigned char> img = noiseImage(41, 30, 128.0, 40.0, 5);
  img.offset(ccPair<long>(3, 5));
  const ccXform<2> clientFromImage(ccVector<2>(1.0, 2.0), 2.0, 2.0, ccRadian(0.0), ccRadian(0.0));
  img.clientFromImageXform(clientFromImage);
  ccPelBuffer<unsigned char> full, kept, renumbered;
  cfGaussSample(img, ccGaussSampleParams(1, 2, 1.0, true), full);
  cfGaussSample(img, ccGaussSampleParams(3, 2, 1.0, true), kept);
  cfGaussSample(img, ccGaussSampleParams(3, 2, 1.0, false), renumbered);
  // keepFrame: output pixel (X, Y) samples image-frame point (3X, 3Y); the window starts at
  // the first multiple of 3 inside the input window.
  EXPECT_EQ(kept.window(), ccPelRect(1, 2, 14, 10));
  for (long Y = 2; Y < 12; ++Y)
    for (long X = 1; X < 15; ++X) {
      ASSERT_EQ(kept.at(X, Y), full.at(3 * X, 3 * Y)) << X << "," << Y;
      const ccVector<2> p = kept.clientFromImageXform().mapPoint(ccVector<2>(X, Y));
      const ccVector<2> q = clientFromImage.mapPoint(ccVector<2>(3 * X, 3 * Y));
      ASSERT_NEAR(p.x(), q.x(), 1e-12);
      ASSERT_NEAR(p.y(), q.y(), 1e-12);
    }
  // Renumbered: the window starts at (0, 0) on the input window's upper-left pixel.
  EXPECT_EQ(renumbered.window(), ccPelRect(0, 0, 14, 10));
  for (long Y = 0; Y < 10; ++Y)
    for (long X = 0; X < 14; ++X) {
      ASSERT_EQ(renumbered.at(X, Y), full.at(3 + 3 * X, 5 + 3 * Y)) << X << "," << Y;
      const ccVector<2> p = renumbered.clientFromImageXform().mapPoint(ccVector<2>(X, Y));
      const ccVector<2> q = clientFromImage.mapPoint(ccVector<2>(3 + 3 * X, 5 + 3 * Y));
      ASSERT_NEAR(p.x(), q.x(), 1e-12);
      ASSERT_NEAR(p.y(), q.y(), 1e-12);
    }
}

TEST(GaussSample, BadArguments) {
  EXPECT_THROW(ccGaussSampleParams(0, 2, 1.0, true), ccBadArgument);
  EXPECT_THROW(ccGaussSampleParams(1, -1, 1.0, true), ccBadArgument);
  EXPECT_THROW(ccGaussSampleParams(1, 2, 0.0, true), ccBadArgument);
  EXPECT_THROW(ccGaussSampleParams(1, 2, INFINITY, true), ccBadArgument);
  ccPelBuffer_const<unsigned char> unbound;
  ccPelBuffer<unsigned char> out;
  EXPECT_THROW(cfGaussSample(unbound, ccGaussSampleParams(1, 2, 1.0, true), out),
               ccPel::UnboundWindow);
  ccPelBuffer<unsigned char> empty(0, 0);
  cfGaussSample(empty, ccGaussSampleParams(2, 2, 1.0, true), out);
  EXPECT_EQ(out.width(), 0);
}

}  // namespace
