// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/edge.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/pel_ops.h"
#include "tests/support/synthetic.h"

namespace {

constexpr double kSigma = 0.89;  // the gradient smoothing used by the calibration stages

// A straight edge through (cx, cy); the light side lies along the unit normal at
// `normalDeg` degrees (image frame, y down), so that is the gradient direction.
ccPelBuffer<unsigned char> straightEdge(double normalDeg, double cx, double cy, double blur,
                                        double noise = 0.0, long size = 96) {
  ccSyntheticSpec spec;
  spec.width = spec.height = size;
  spec.blurSigma = blur;
  spec.noiseSigma = noise;
  const double t = normalDeg * ccPi / 180.0, nx = std::cos(t), ny = std::sin(t);
  return cfSyntheticImage(spec,
                          [=](double x, double y) { return (x - cx) * nx + (y - cy) * ny > 0.0; });
}

// Signed angle difference a - b in binary units, in (-128, 128].
int binaryDiff(int a, int b) {
  int d = (a - b) & 255;
  return d > 128 ? d - 256 : d;
}

TEST(EdgeDetect, MagnitudeAndAngleOfBlurredStep) {
  // Contrast 150, blur 1 px: the gradient peak is 150 / (sqrt(2 pi) s), s^2 = 1 + sigma^2 +
  // 1/12 (pixel area).
  const double expected =
      150.0 / (std::sqrt(2.0 * ccPi) * std::sqrt(1.0 + kSigma * kSigma + 1.0 / 12.0));
  for (double deg : {0.0, 17.0, 45.0, 90.0, 133.0, 180.0, 251.0, 315.0}) {
    SCOPED_TRACE(deg);
    ccPelBuffer<unsigned char> img = straightEdge(deg, 48.3, 47.8, 1.0);
    ccPelBuffer<unsigned char> mag, ang;
    cfEdgeDetect(img, ccEdgeletParams(kSigma, 12.0, 1), mag, ang);
    int peak = 0, px = 0, py = 0;
    for (long y = 20; y < 76; ++y)
      for (long x = 20; x < 76; ++x)
        if (mag.at(x, y) > peak) peak = mag.at(x, y), px = x, py = y;
    EXPECT_NEAR(peak, expected, 0.05 * expected);
    const int want = static_cast<int>(std::lround(deg * 256.0 / 360.0)) & 255;
    EXPECT_LE(std::abs(binaryDiff(ang.at(px, py), want)), 1)
        << "angle " << int(ang.at(px, py)) << " want " << want;
    // Far from the edge the gradient is below the minimum: both images read 0.
    const long fx = px - std::lround(30 * std::cos(deg * ccPi / 180)),
               fy = py - std::lround(30 * std::sin(deg * ccPi / 180));
    EXPECT_EQ(mag.at(fx, fy), 0);
    EXPECT_EQ(ang.at(fx, fy), 0);
  }
}

// Thin: along a straight edge at any angle every line across it (column for a mostly
// horizontal edge, row otherwise) holds exactly one peak, within a pixel of the true edge.
TEST(TruePeak, StraightEdgeIsOnePixelAcross) {
  for (double deg = 0.0; deg < 360.0; deg += 11.25 + 0.7) {
    SCOPED_TRACE(deg);
    const double cx = 48.2, cy = 47.7, t = deg * ccPi / 180.0;
    ccPelBuffer<unsigned char> img = straightEdge(deg, cx, cy, 0.8);
    ccPelBuffer<unsigned char> mag, ang, peaks;
    cfEdgeDetect(img, ccEdgeletParams(kSigma, 12.0, 1), mag, ang);
    long count = -1;
    cfTruePeak(mag, ang, 12, peaks, count);
    const bool acrossColumns = std::fabs(std::sin(t)) > std::fabs(std::cos(t));
    long total = 0;
    for (long y = 0; y < 96; ++y)
      for (long x = 0; x < 96; ++x)
        if (peaks.at(x, y)) {
          ++total;
          EXPECT_EQ(peaks.at(x, y), mag.at(x, y));
          EXPECT_LT(std::fabs((x - cx) * std::cos(t) + (y - cy) * std::sin(t)), 1.0)
              << x << "," << y;
        }
    EXPECT_EQ(total, count);
    for (long k = 8; k < 88; ++k) {
      int n = 0;
      for (long s = 0; s < 96; ++s) n += (acrossColumns ? peaks.at(k, s) : peaks.at(s, k)) != 0;
      EXPECT_EQ(n, 1) << (acrossColumns ? "column " : "row ") << k;
    }
  }
}

TEST(TruePeak, CircleIsOnePixelAcrossAndInPlaceMatches) {
  ccSyntheticSpec spec;
  spec.width = spec.height = 120;
  spec.blurSigma = 1.0;
  spec.noiseSigma = 1.0;
  const double cx = 60.3, cy = 59.6, r = 40.0;
  ccPelBuffer<unsigned char> img = cfSyntheticImage(
      spec, [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r; });
  ccPelBuffer<unsigned char> mag, ang, peaks;
  cfEdgeDetect(img, ccEdgeletParams(kSigma, 12.0, 1), mag, ang);
  long count = 0;
  cfTruePeak(mag, ang, 12, peaks, count);
  // Each quarter of the rim is a monotone arc: one peak per column (top, bottom arcs) or per
  // row (left, right arcs), on the rim.
  const long half = static_cast<long>(r * 0.68);
  for (long k = -half; k <= half; ++k) {
    int top = 0, bottom = 0, left = 0, right = 0;
    for (long s = 0; s < 120; ++s) {
      auto onRim = [&](long x, long y) {
        return peaks.at(x, y) != 0 && std::fabs(std::hypot(x - cx, y - cy) - r) < 1.5;
      };
      const long col = std::lround(cx) + k, row = std::lround(cy) + k;
      if (onRim(col, s)) ++(s < cy ? top : bottom);
      if (onRim(s, row)) ++(s < cx ? left : right);
    }
    EXPECT_EQ(top, 1) << k;
    EXPECT_EQ(bottom, 1) << k;
    EXPECT_EQ(left, 1) << k;
    EXPECT_EQ(right, 1) << k;
  }
  // The output may be the magnitude image itself.
  long inPlaceCount = 0;
  cfTruePeak(mag, ang, 12, mag, inPlaceCount);
  EXPECT_EQ(inPlaceCount, count);
  for (long y = 0; y < 120; ++y)
    for (long x = 0; x < 120; ++x) ASSERT_EQ(mag.at(x, y), peaks.at(x, y)) << x << "," << y;
}

TEST(EdgeDetect, PeakEdgeletsLieOnTheEdgeInTheImageFrame) {
  for (double deg : {0.0, 30.0, 45.0, 100.0, 200.0, 290.0}) {
    SCOPED_TRACE(deg);
    const double t = deg * ccPi / 180.0;
    ccPelBuffer<unsigned char> img = straightEdge(deg, 48.4, 47.3, 1.0, 1.0);
    img.offset(ccPair<long>(200, -30));
    const double cx = 248.4, cy = 17.3;  // the edge point in the renumbered frame
    ccEdgeletSet set;
    cfEdgeDetect(img, ccEdgeletParams(kSigma, 20.0, 1), set);
    ASSERT_GT(set.nEdges(), 80);
    double worst = 0.0;
    for (const ccEdgelet& e : set.edges()) {
      // Near the window border the repeated pixels bend the edge; judge the inside only.
      if (!img.window().trim(4, 4, 4, 4).contains(e.get_i(), e.get_j())) continue;
      EXPECT_TRUE(img.window().contains(e.get_i(), e.get_j()));
      EXPECT_LE(std::fabs(e.position().x() - e.get_i()), 0.5 + 1e-6);
      EXPECT_LE(std::fabs(e.position().y() - e.get_j()), 0.5 + 1e-6);
      const double d =
          (e.position().x() - cx) * std::cos(t) + (e.position().y() - cy) * std::sin(t);
      worst = std::max(worst, std::fabs(d));
      EXPECT_NEAR(ccRadian(e.angle() - ccRadian(t)).signedNorm().toDouble(), 0.0, 0.05);
    }
    EXPECT_LT(worst, 0.15);
  }
}

TEST(EdgeDetect, ImagesKeepTheWindowAndMayReplaceTheInput) {
  ccPelBuffer<unsigned char> img = straightEdge(30.0, 48.0, 48.0, 1.0, 2.0);
  img.offset(ccPair<long>(-7, 3));
  ccPelBuffer<unsigned char> mag, ang;
  cfEdgeDetect(img, ccEdgeletParams(kSigma, 12.0, 1), mag, ang);
  EXPECT_EQ(mag.window(), img.window());
  EXPECT_EQ(ang.window(), img.window());
  // The input rows are read ahead of the rows written, so the image may receive its own
  // magnitude.
  ccPelBuffer<unsigned char> inPlace = cfPelCopy(img), inPlaceAngle;
  cfEdgeDetect(inPlace, ccEdgeletParams(kSigma, 12.0, 1), inPlace, inPlaceAngle);
  for (long y = 3; y < 99; ++y)
    for (long x = -7; x < 89; ++x) ASSERT_EQ(inPlace.at(x, y), mag.at(x, y)) << x << "," << y;
  // Every pixel at or above the minimum is an edgelet of type 0.
  ccEdgeletSet all;
  cfEdgeDetect(img, ccEdgeletParams(kSigma, 12.0, 0), all);
  long strong = 0;
  for (long y = 3; y < 99; ++y)
    for (long x = -7; x < 89; ++x) strong += mag.at(x, y) != 0;
  EXPECT_NEAR(all.nEdges(), strong, 0.01 * strong);  // the image rounds magnitudes near 12
}

TEST(EdgeDetect, BadAndEmptyInputs) {
  EXPECT_THROW(ccEdgeletParams(0.0, 12.0, 1), ccBadArgument);
  EXPECT_THROW(ccEdgeletParams(0.89, -1.0, 1), ccBadArgument);
  EXPECT_THROW(ccEdgeletParams(0.89, std::nan(""), 1), ccBadArgument);
  EXPECT_THROW(ccEdgeletParams(0.89, 12.0, 2), ccBadArgument);
  ccPelBuffer_const<unsigned char> unbound;
  ccPelBuffer<unsigned char> a(10, 10), b(10, 11), out;
  ccEdgeletSet set;
  long count = 0;
  EXPECT_THROW(cfEdgeDetect(unbound, ccEdgeletParams(0.89, 12.0, 1), set), ccPel::UnboundWindow);
  EXPECT_THROW(cfEdgeDetect(unbound, ccEdgeletParams(0.89, 12.0, 1), out, out),
               ccPel::UnboundWindow);
  EXPECT_THROW(cfTruePeak(unbound, a, 12, out, count), ccPel::UnboundWindow);
  EXPECT_THROW(cfTruePeak(a, b, 12, out, count), ccBadArgument);
  EXPECT_THROW(cfTruePeak(a, a, 12, b, count), ccBadArgument);
  // A window without pixels gives no edges and empty images.
  ccPelBuffer<unsigned char> empty(0, 5);
  cfEdgeDetect(empty, ccEdgeletParams(kSigma, 12.0, 1), set);
  EXPECT_EQ(set.nEdges(), 0);
  cfEdgeDetect(empty, ccEdgeletParams(kSigma, 12.0, 1), out, out);
  EXPECT_EQ(out.width(), 0);
}

}  // namespace
