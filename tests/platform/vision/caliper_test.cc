// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/caliper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/vision/affine_sampling.h"
#include "tests/support/blurred_edge.h"

namespace {

constexpr int kLanczos = ccAffineSamplingParams::eLanczos3;

// The calibration stages' caliper: 1 unit wide, one sample across, about one sample per pixel.
ccCaliperResultSet runCaliper(const ccPelBuffer_const<unsigned char>& img,
                              const ccVector<2>& centre, double radians, double length,
                              int polarity = eEitherPolarity, int maxResults = 5) {
  ccAffineSamplingParams sampling(
      ccAffineRectangle(centre, length, 1.0, ccRadian(radians), ccRadian(0.0)),
      static_cast<int>(length), 1, kLanczos);
  ccCaliperRunParams run(0.0, polarity);
  run.contrastThreshold(10.0);
  run.maxNumResults(maxResults);
  ccCaliperResultSet results;
  cfCaliperRun(img, sampling, run, results);
  return results;
}

struct ccErrorStats {
  double bias, spread, worst;
};

// Caliper error over straight edges at angles 0..90 degrees and random sub-pixel placements;
// calipers tilted from the edge normal by `tiltDeg`.
ccErrorStats sweep(double blur, double noise, double tiltDeg, double length) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double sum = 0.0, sum2 = 0.0, worst = 0.0;
  int n = 0;
  for (double deg = 0.0; deg <= 90.0; deg += 7.5) {
    for (int k = 0; k < 6; ++k) {
      ccBlurredEdgeSpec spec;
      spec.width = spec.height = 40;
      spec.blurSigma = blur;
      spec.noiseSigma = noise;
      spec.seed = static_cast<unsigned>(100 * deg + k);
      spec.normalRadians = deg * ccPi / 180.0;
      spec.pointOnEdge = ccVector<2>(19.5 + unit(rng), 19.5 + unit(rng));
      const ccVector<2> centre(19.5 + unit(rng), 19.5 + unit(rng));
      const double dir = spec.normalRadians + tiltDeg * ccPi / 180.0;
      const ccVector<2> normal(std::cos(spec.normalRadians), std::sin(spec.normalRadians));
      const ccVector<2> search(std::cos(dir), std::sin(dir));
      const double truth = (spec.pointOnEdge - centre).dot(normal) / search.dot(normal);
      const ccCaliperResultSet results = runCaliper(cfBlurredEdgeImage(spec), centre, dir, length);
      // One result for the edge; noise may add weak ones elsewhere, but none beside it.
      if (noise == 0.0) {
        EXPECT_EQ(results.nResults(), 1) << "angle " << deg << ", placement " << k;
      }
      EXPECT_GE(results.nResults(), 1) << "angle " << deg << ", placement " << k;
      if (results.nResults() == 0) continue;
      for (const ccCaliperResult& other : results.results()) {
        if (&other == &results.results()[0]) continue;
        EXPECT_GT(std::fabs(other.position() - results.results()[0].position()), 2.0)
            << "a second result beside the edge, angle " << deg << ", placement " << k;
      }
      const double e = results.results()[0].position() - truth;
      sum += e;
      sum2 += e * e;
      worst = std::max(worst, std::fabs(e));
      ++n;
    }
  }
  const double bias = sum / n;
  return {bias, std::sqrt(std::max(0.0, sum2 / n - bias * bias)), worst};
}

TEST(Caliper, StraightEdgePositionIsUnbiasedOverPhasesAndAngles) {
  struct ccCase {
    double blur, noise, tilt, length, maxBias, maxSpread;
  };
  // Noise-free cases are limited by 8-bit rounding of the image (about 0.007 px spread);
  // noise of 1 grey level on a contrast of 130 roughly triples that.
  const ccCase cases[] = {
      {1.0, 0.0, 0.0, 20.0, 0.005, 0.012},
      {1.0, 0.0, 12.0, 14.7, 0.005, 0.012},
      {1.0, 1.0, 0.0, 20.0, 0.010, 0.030},
      {1.0, 1.0, -15.0, 14.7, 0.010, 0.030},
      {0.6, 0.0, 0.0, 16.0, 0.005, 0.015},
      {2.0, 0.0, 0.0, 24.0, 0.005, 0.015},
      // Sharp edges, narrower than a sample: the phase bias of a sampled narrow step is
      // removed by matching areas (without that, a spread of about 0.07 px).
      {0.3, 0.0, 0.0, 20.0, 0.010, 0.040},
      {0.3, 0.0, 12.0, 14.7, 0.010, 0.040},
      // Broad, noisy edges: noise splits the response into several peaks, which must give one
      // edge at one place (without merging them, errors of up to 2 px and extra results).
      {2.0, 5.0, 0.0, 24.0, 0.030, 0.150},
      {2.0, 2.0, 10.0, 24.0, 0.020, 0.080}};
  for (const ccCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "blur " << c.blur << " noise " << c.noise << " tilt "
                                    << c.tilt << " length " << c.length);
    const ccErrorStats s = sweep(c.blur, c.noise, c.tilt, c.length);
    EXPECT_LT(std::fabs(s.bias), c.maxBias) << "bias " << s.bias;
    EXPECT_LT(s.spread, c.maxSpread) << "spread " << s.spread << ", worst " << s.worst;
  }
}

// A light bar between x = 15.3 (rising) and x = 25.8 (falling, weaker), searched along +x.
ccPelBuffer<unsigned char> barImage() {
  ccBlurredEdgeSpec rise, fall;
  rise.width = fall.width = 44;
  rise.height = fall.height = 12;
  rise.pointOnEdge = ccVector<2>(15.3, 6.0);
  fall.pointOnEdge = ccVector<2>(25.8, 6.0);
  fall.normalRadians = ccPi;
  rise.dark = fall.dark = 0.0;
  rise.light = 150.0;
  fall.light = 90.0;
  ccPelBuffer<unsigned char> a = cfBlurredEdgeImage(rise), b = cfBlurredEdgeImage(fall);
  ccPelBuffer<unsigned char> img(44, 12);
  for (long y = 0; y < 12; ++y)
    for (long x = 0; x < 44; ++x)
      img.at(x, y) = static_cast<unsigned char>(50 + a.at(x, y) + b.at(x, y) - 90);
  return img;  // 50 left of the bar, 200 on it, 110 right of it
}

TEST(Caliper, PolarityThresholdAndOrdering) {
  const ccPelBuffer<unsigned char> img = barImage();
  const ccVector<2> centre(20.0, 6.0);  // positions are measured from here along +x
  const ccCaliperResultSet both = runCaliper(img, centre, 0.0, 36.0);
  ASSERT_EQ(both.nResults(), 2);
  EXPECT_NEAR(both.results()[0].position(), -4.7, 0.02);  // the stronger, rising edge first
  EXPECT_GT(both.results()[0].edges()[0].contrast(), 0.0);
  EXPECT_NEAR(both.results()[1].position(), 5.8, 0.02);
  EXPECT_LT(both.results()[1].edges()[0].contrast(), 0.0);
  EXPECT_GT(both.results()[0].score(), both.results()[1].score());

  const ccCaliperResultSet rising = runCaliper(img, centre, 0.0, 36.0, eDarkToLight);
  ASSERT_EQ(rising.nResults(), 1);
  EXPECT_NEAR(rising.results()[0].position(), -4.7, 0.02);
  const ccCaliperResultSet falling = runCaliper(img, centre, 0.0, 36.0, eLightToDark);
  ASSERT_EQ(falling.nResults(), 1);
  EXPECT_NEAR(falling.results()[0].position(), 5.8, 0.02);
  EXPECT_EQ(runCaliper(img, centre, 0.0, 36.0, eEitherPolarity, 1).nResults(), 1);
  // Searching the other way turns positions and contrasts round.
  const ccCaliperResultSet reversed = runCaliper(img, centre, ccPi, 36.0, eDarkToLight);
  ASSERT_EQ(reversed.nResults(), 1);
  EXPECT_NEAR(reversed.results()[0].position(), -5.8, 0.02);

  // A threshold above both responses, and an edge too close to the profile's end, give none.
  ccAffineSamplingParams sampling(
      ccAffineRectangle(centre, 36.0, 1.0, ccRadian(0.0), ccRadian(0.0)), 36, 1, kLanczos);
  ccCaliperRunParams strict(0.0, eEitherPolarity);
  strict.contrastThreshold(200.0);
  ccCaliperResultSet results;
  cfCaliperRun(img, sampling, strict, results);
  EXPECT_EQ(results.nResults(), 0);
  EXPECT_EQ(runCaliper(img, ccVector<2>(15.3 + 4.0, 6.0), 0.0, 8.0, eDarkToLight).nResults(), 0);
}

TEST(Caliper, PositionsMapThroughTheClientFrame) {
  ccBlurredEdgeSpec spec;
  spec.normalRadians = 0.4;
  spec.pointOnEdge = ccVector<2>(31.37, 32.81);
  ccPelBuffer<unsigned char> img = cfBlurredEdgeImage(spec);
  img.offset(ccPair<long>(100, 50));  // the edge now passes through image point (131.37, 82.81)
  const ccXform<2> clientFromImage(ccVector<2>(-7.0, 3.0), 0.25, 0.25, ccRadian(0.0),
                                   ccRadian(1.1));
  img.clientFromImageXform(clientFromImage);
  // A client-frame caliper (0.25 client units per pixel) across the edge, off its normal.
  const ccVector<2> centreImage(130.2, 83.9);
  const ccVector<2> centre = clientFromImage.mapPoint(centreImage);
  const double dir = 0.4 + 1.1 + 0.2;
  ccAffineSamplingParams sampling(
      ccAffineRectangle(centre, 5.0, 0.25, ccRadian(dir), ccRadian(0.0)), 20, 1, kLanczos);
  ccCaliperRunParams run(0.0, eEitherPolarity);
  ccCaliperResultSet results;
  cfCaliperRun(img, sampling, run, results);
  ASSERT_EQ(results.nResults(), 1);
  const ccVector<2> onEdge = clientFromImage.inverse().mapPoint(
      results.mapPositionToPoint(results.results()[0].position()));
  const double distance =
      (onEdge - ccVector<2>(131.37, 82.81)).dot(ccVector<2>(std::cos(0.4), std::sin(0.4)));
  EXPECT_NEAR(distance, 0.0, 0.02) << "found (" << onEdge.x() << ", " << onEdge.y() << ")";
  // The point also lies on the caliper's centre line.
  const ccVector<2> along = ccVector<2>(std::cos(dir - 1.1), std::sin(dir - 1.1));
  EXPECT_NEAR((onEdge - centreImage).cross(along), 0.0, 1e-9);
}

TEST(AffineSampling, ProfilesOfARampAndAcrossAverages) {
  ccPelBuffer<unsigned char> img(30, 30);
  for (long y = 0; y < 30; ++y)
    for (long x = 0; x < 30; ++x) img.at(x, y) = static_cast<unsigned char>(20 + 4 * x + y);
  // Along x from x = 8.3 with 1.1 px per sample; across y from 10 to 14 (mean y = 12).
  const ccAffineRectangle rect(ccVector<2>(8.3 - 0.55, 10.0), ccVector<2>(8.3 - 0.55 + 11.0, 10.0),
                               ccVector<2>(8.3 - 0.55, 14.0));
  // Linear and cubic reads reproduce a ramp exactly; the windowed sinc to within 2% of a pixel.
  for (const auto& [interp, tolerance] : {std::pair<int, double>{1, 1e-9}, {2, 1e-9}, {4, 0.1}}) {
    SCOPED_TRACE(interp);
    const std::vector<double> p =
        cfAffineSampleProfile(img, ccAffineSamplingParams(rect, 10, 4, interp));
    ASSERT_EQ(p.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(p[i], 20 + 4 * (8.3 + 1.1 * i) + 12.0, tolerance) << i;
  }
  const std::vector<double> nearest =
      cfAffineSampleProfile(img, ccAffineSamplingParams(rect, 10, 4, 0));
  EXPECT_DOUBLE_EQ(nearest[0], 20 + 4 * 8 + 12.5);  // x 8.3 -> 8; y 10.5 .. 13.5 -> 11 .. 14
}

TEST(Caliper, BadArguments) {
  const ccAffineRectangle good(ccVector<2>(10, 10), 8.0, 1.0, ccRadian(0.0), ccRadian(0.0));
  const ccAffineRectangle flat(ccVector<2>(10, 10), 8.0, 0.0, ccRadian(0.0), ccRadian(0.0));
  EXPECT_THROW(ccAffineSamplingParams(flat, 8, 1, kLanczos), ccBadArgument);
  EXPECT_THROW(ccAffineSamplingParams(good, 0, 1, kLanczos), ccBadArgument);
  EXPECT_THROW(ccAffineSamplingParams(good, 8, 0, kLanczos), ccBadArgument);
  EXPECT_THROW(ccAffineSamplingParams(good, 8, 1, 3), ccBadArgument);
  ccAffineSamplingParams sampling(good, 8, 1, kLanczos);
  EXPECT_THROW(sampling.affineRectangle(flat), ccBadArgument);
  EXPECT_THROW(ccCaliperRunParams(-1.0, 2), ccBadArgument);
  EXPECT_THROW(ccCaliperRunParams(NAN, 2), ccBadArgument);
  EXPECT_THROW(ccCaliperRunParams(0.0, 3), ccBadArgument);
  ccCaliperRunParams run(0.0, 2);
  EXPECT_THROW(run.contrastThreshold(-1.0), ccBadArgument);
  EXPECT_THROW(run.maxNumResults(0), ccBadArgument);
  ccCaliperResultSet results;
  EXPECT_THROW(results.mapPositionToPoint(0.0), ccBadArgument);
  EXPECT_THROW(cfCaliperRun(ccPelBuffer_const<unsigned char>(), sampling, run, results),
               ccPel::UnboundWindow);
  EXPECT_THROW(cfCaliperRun(ccPelBuffer<unsigned char>(0, 0), sampling, run, results),
               ccPel::BadWindow);
  // The rectangle reaches x = 14 but the image ends at 11.5.
  EXPECT_THROW(cfCaliperRun(ccPelBuffer<unsigned char>(12, 20), sampling, run, results),
               ccPel::BadWindow);
}

}  // namespace
