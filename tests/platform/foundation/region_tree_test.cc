// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/region_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"

namespace {

using Points = std::vector<ccVector<2>>;

enum Where { eOutside, eOn, eInside };

// Brute-force classification of p against the closed polygon v: on an edge (exact for
// integer data), else inside by the even-odd crossing number.
Where classify(const Points& v, const ccVector<2>& p) {
  bool in = false;
  for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
    const ccVector<2>& a = v[j];
    const ccVector<2>& b = v[i];
    if ((b - a).cross(p - a) == 0.0 && p.x() >= std::min(a.x(), b.x()) &&
        p.x() <= std::max(a.x(), b.x()) && p.y() >= std::min(a.y(), b.y()) &&
        p.y() <= std::max(a.y(), b.y())) {
      return eOn;
    }
    if ((b.y() > p.y()) != (a.y() > p.y()) &&
        p.x() < (a.x() - b.x()) * (p.y() - b.y()) / (a.y() - b.y()) + b.x()) {
      in = !in;
    }
  }
  return in ? eInside : eOutside;
}

ccPelBuffer<unsigned char> rasterized(const Points& v, int mode, const ccPelRect& window,
                                      const RasterizeSampParams& params = RasterizeSampParams()) {
  ccPelBuffer<unsigned char> image(window);
  cfPelSet(image, static_cast<unsigned char>(7));
  cfRasterize(ccRegionTree(ccPolyline(v, true), false), image, 255, mode, params);
  return image;
}

Points randomPolygon(std::mt19937& rng, bool integer) {
  std::uniform_int_distribution<int> count(3, 12);
  std::uniform_real_distribution<double> r(2.0, 30.0), c(-5.0, 45.0);
  int n = count(rng);
  ccVector<2> centre(c(rng), c(rng));
  Points v;
  for (int i = 0; i < n; ++i) {
    ccVector<2> p = centre + ccVector<2>(r(rng), ccRadian(2 * ccPi * i / n));
    v.push_back(integer ? ccVector<2>(std::round(p.x()), std::round(p.y())) : p);
  }
  return v;
}

TEST(Rasterize, FillsExactlyThePixelCentresInside) {
  std::mt19937 rng(29);
  const ccPelRect window(-3, 2, 50, 40);  // the polygons reach past every side
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    const Points v = randomPolygon(rng, trial % 2 == 0);
    ccPelBuffer<unsigned char> exclude = rasterized(v, eBoundaryExclude, window);
    ccPelBuffer<unsigned char> halfOpen = rasterized(v, eBoundaryHalfOpen, window);
    ccPelBuffer<unsigned char> include = rasterized(v, eBoundaryInclude, window);
    for (long y = window.y(); y < window.y() + window.height(); ++y) {
      for (long x = window.x(); x < window.x() + window.width(); ++x) {
        Where w = classify(v, ccVector<2>(x, y));
        ASSERT_EQ(exclude.at(x, y), w == eInside ? 255 : 7) << "exclude at " << x << ", " << y;
        ASSERT_EQ(include.at(x, y), w == eOutside ? 7 : 255) << "include at " << x << ", " << y;
        if (w != eOn) {
          ASSERT_EQ(halfOpen.at(x, y), w == eInside ? 255 : 7) << "half-open at " << x << ", " << y;
        }
      }
    }
  }
}

TEST(Rasterize, HalfOpenRuleTilesSharedEdges) {
  const Points square = {{2, 2}, {20, 2}, {20, 20}, {2, 20}};
  const Points lower = {{2, 2}, {20, 2}, {20, 20}}, upper = {{2, 2}, {20, 20}, {2, 20}};
  const ccPelRect window(0, 0, 24, 24);
  ccPelBuffer<unsigned char> whole = rasterized(square, eBoundaryHalfOpen, window);
  ccPelBuffer<unsigned char> a = rasterized(lower, eBoundaryHalfOpen, window);
  ccPelBuffer<unsigned char> b = rasterized(upper, eBoundaryHalfOpen, window);
  int filled = 0;
  for (long y = 0; y < 24; ++y) {
    for (long x = 0; x < 24; ++x) {
      ASSERT_FALSE(a.at(x, y) == 255 && b.at(x, y) == 255)
          << "both triangles fill " << x << ", " << y;
      ASSERT_EQ(whole.at(x, y) == 255, a.at(x, y) == 255 || b.at(x, y) == 255) << x << ", " << y;
      filled += whole.at(x, y) == 255;
    }
  }
  EXPECT_EQ(filled, 18 * 18);
}

TEST(Rasterize, SampleOffsetAndBadArguments) {
  const Points square = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  auto count = [](const ccPelBuffer<unsigned char>& img) { return cfPelHistogram(img)[255]; };
  const ccPelRect window(0, 0, 8, 8);
  EXPECT_EQ(count(rasterized(square, eBoundaryExclude, window)), 9);
  EXPECT_EQ(count(rasterized(square, eBoundaryInclude, window)), 25);
  RasterizeSampParams halfPixel;
  halfPixel.sampleOffset = ccVector<2>(0.5, 0.5);
  EXPECT_EQ(count(rasterized(square, eBoundaryExclude, window, halfPixel)), 16);

  ccPelBuffer<unsigned char> unbound, image(8, 8);
  ccRegionTree region(ccPolyline(square, true), false);
  EXPECT_THROW(cfRasterize(region, unbound, 1, eBoundaryInclude), ccPel::UnboundWindow);
  EXPECT_THROW(cfRasterize(region, image, 1, 3), ccBadArgument);
  EXPECT_THROW(ccRegionTree(ccPolyline(square, true), true), ccBadArgument);
  EXPECT_THROW(ccRegionTree(ccPolyline(square, false), false), ccBadArgument);
}

}  // namespace
