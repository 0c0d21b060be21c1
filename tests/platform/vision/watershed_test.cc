#include "platform/vision/watershed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <set>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"

namespace {

using Labels = ccPelBuffer<unsigned int>;

// 255 everywhere, 0 where `edge` holds.
ccPelBuffer<unsigned char> edgeMap(long w, long h, const std::function<bool(long, long)>& edge) {
  ccPelBuffer<unsigned char> img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) img.at(x, y) = edge(x, y) ? 0 : 255;
  return img;
}

// Region labels met in the window, and whether two different regions touch as 8-neighbours.
std::set<unsigned int> regionsIn(const Labels& l) {
  std::set<unsigned int> s;
  for (long y = 0; y < l.height(); ++y)
    for (long x = 0; x < l.width(); ++x)
      if (l.row(y)[x] >= ccWatershedDefs::eFirstRegion) s.insert(l.row(y)[x]);
  return s;
}
bool regionsTouch(const Labels& l) {
  for (long y = 0; y + 1 < l.height(); ++y)
    for (long x = 0; x < l.width(); ++x)
      for (long dx = -1; dx <= 1; ++dx) {
        if (x + dx < 0 || x + dx >= l.width()) continue;
        const unsigned a = l.row(y)[x], b = l.row(y + 1)[x + dx], c = dx == 1 ? l.row(y)[x + 1] : a;
        if (a >= 2 && b >= 2 && a != b) return true;
        if (a >= 2 && c >= 2 && a != c) return true;
      }
  return false;
}

ccWatershedRunParams tileParams() {
  ccWatershedRunParams p(50, 5.0, 9.0, false, false);
  p.minPels(16);
  p.levelMergeThresh(3.0);
  p.distMergeThresh(0.0);
  return p;
}

TEST(Watershed, SeparatesCellsOfAGridAcrossGapsInTheLines) {
  // 6 x 4 cells of 24 pixels; lines 1 pixel wide, some with gaps of 1 or 2 pixels.
  const long cell = 24;
  auto img = edgeMap(6 * cell, 4 * cell, [&](long x, long y) {
    const bool line = x % cell == 0 || y % cell == 0;
    const bool gap1 = x % cell == 0 && y % cell == 12;           // every vertical line
    const bool gap2 = y % cell == 0 && (x % cell == 8 || x % cell == 9);  // every horizontal line
    return line && !gap1 && !gap2;
  });
  img.offset(100, 50);
  const Labels l = cfWatershedTransform(img, tileParams());
  EXPECT_EQ(l.window(), img.window());
  std::set<unsigned int> centres;
  for (long cy = 0; cy < 4; ++cy)
    for (long cx = 0; cx < 6; ++cx) {
      // Each cell's inside, 3 pixels off its lines, carries a single label.
      const unsigned int c = l.at(100 + cx * cell + 12, 50 + cy * cell + 12);
      EXPECT_GE(c, 2u);
      for (long y = 3; y < cell - 2; ++y)
        for (long x = 3; x < cell - 2; ++x)
          ASSERT_EQ(l.at(100 + cx * cell + x, 50 + cy * cell + y), c) << "cell " << cx << "," << cy;
      centres.insert(c);
    }
  EXPECT_EQ(centres.size(), 24u);
  EXPECT_EQ(regionsIn(l), centres);
  EXPECT_FALSE(regionsTouch(l));
  EXPECT_EQ(l.at(100 + cell, 50 + 5), unsigned(ccWatershedDefs::eEdgeLabel));
  EXPECT_EQ(l.at(100 + cell, 50 + 12), unsigned(ccWatershedDefs::eLineLabel));  // the gap is closed by a line

  // Filled lines: the regions now touch and no line label remains.
  ccWatershedRunParams filled = tileParams();
  filled.fillLines(true);
  const Labels f = cfWatershedTransform(img, filled);
  EXPECT_EQ(regionsIn(f).size(), 24u);
  for (long y = 0; y < f.height(); ++y)
    for (long x = 0; x < f.width(); ++x) ASSERT_NE(f.row(y)[x], unsigned(ccWatershedDefs::eLineLabel));

  // Bright edges on a dark ground give the same labels.
  ccPelBuffer<unsigned char> inverted = cfPelCopy(img);
  std::vector<unsigned char> invert(256);
  for (int i = 0; i < 256; ++i) invert[i] = static_cast<unsigned char>(255 - i);
  cfPelMap(inverted, invert, inverted);
  ccWatershedRunParams bright = tileParams();
  bright.edgesBright(true);
  const Labels b = cfWatershedTransform(inverted, bright);
  for (long y = 0; y < b.height(); ++y)
    for (long x = 0; x < b.width(); ++x) ASSERT_EQ(b.row(y)[x], l.row(y)[x]);
}

TEST(Watershed, RaggedBarStaysOneRegion) {
  // An 80 x 20 bar whose long sides wander by up to 3 pixels: its distance ridge has many
  // small bumps, each a seed, all within the level merge threshold of each other.
  std::mt19937 rng(4);
  std::vector<int> top(100), bottom(100);
  for (int& j : top) j = static_cast<int>(rng() % 4);
  for (int& j : bottom) j = static_cast<int>(rng() % 4);
  auto img = edgeMap(100, 40, [&](long x, long y) {
    const bool ends = (x == 10 || x == 90) && y >= 10 && y <= 30;
    const bool sides = x >= 10 && x <= 90 && (y == 10 + top[x] || y == 30 - bottom[x]);
    return ends || sides;
  });
  const Labels l = cfWatershedTransform(img, tileParams());
  const unsigned int c = l.at(50, 20);
  EXPECT_GE(c, 2u);
  for (long y = 15; y <= 25; ++y)
    for (long x = 15; x <= 85; ++x) ASSERT_EQ(l.at(x, y), c) << x << "," << y;
}

TEST(Watershed, MergeThresholdsAndMinPels) {
  // Two discs (radius 12 at x=20, radius 9 at x=44) joined by a channel 11 pixels high: peaks
  // about 12 and 9, saddle about 5.5, so the lower basin's dynamics is about 3.5.
  auto inside = [](long x, long y) {
    const double a = std::hypot(x - 20.0, y - 20.0), b = std::hypot(x - 44.0, y - 20.0);
    return a <= 12.0 || b <= 9.0 || (x >= 20 && x <= 44 && std::abs(y - 20) <= 5);
  };
  // Plus a closed 3 x 3 cell (9 pixels) far away.
  auto img = edgeMap(80, 40, [&](long x, long y) {
    if (x >= 66 && x <= 70 && y >= 18 && y <= 22) return x == 66 || x == 70 || y == 18 || y == 22;
    if (x >= 62) return false;
    return !inside(x, y);
  });
  auto countAt = [&](const ccWatershedRunParams& p) {
    const Labels l = cfWatershedTransform(img, p);
    return std::make_pair(l.at(20, 20) != l.at(44, 20), l.at(68, 20));
  };
  ccWatershedRunParams p = tileParams();
  p.levelMergeThresh(2.0);
  EXPECT_TRUE(countAt(p).first) << "dynamics above the threshold keeps two regions";
  p.levelMergeThresh(5.0);
  EXPECT_FALSE(countAt(p).first) << "dynamics within the threshold merges them";
  p.levelMergeThresh(0.0);
  p.distMergeThresh(20.0);
  EXPECT_TRUE(countAt(p).first) << "peaks 24 apart stay apart at 20";
  p.distMergeThresh(30.0);
  EXPECT_FALSE(countAt(p).first) << "and merge at 30";
  EXPECT_EQ(countAt(p).second, unsigned(ccWatershedDefs::eEdgeLabel)) << "9 pixels < minPels 16";
  p.minPels(9);
  EXPECT_GE(countAt(p).second, 2u);
}

TEST(Watershed, NoEdgesAndBadArguments) {
  ccPelBuffer<unsigned char> blank(7, 5);
  cfPelSet(blank, static_cast<unsigned char>(255));
  const Labels l = cfWatershedTransform(blank, tileParams());
  for (long y = 0; y < 5; ++y)
    for (long x = 0; x < 7; ++x) ASSERT_EQ(l.at(x, y), 2u);
  ccWatershedRunParams p = tileParams();
  p.minPels(36);
  EXPECT_EQ(cfWatershedTransform(blank, p).at(3, 3), unsigned(ccWatershedDefs::eEdgeLabel));

  // Distances beyond 512 pixels: two long regions either side of one edge column.
  const Labels wide = cfWatershedTransform(edgeMap(1300, 3, [](long x, long) { return x == 700; }), p);
  EXPECT_EQ(wide.at(0, 1), 2u);
  EXPECT_EQ(wide.at(699, 2), 2u);
  EXPECT_EQ(wide.at(700, 0), unsigned(ccWatershedDefs::eEdgeLabel));
  EXPECT_EQ(wide.at(1299, 0), 3u);
  EXPECT_EQ(regionsIn(wide).size(), 2u);

  EXPECT_THROW(cfWatershedTransform(ccPelBuffer<unsigned char>(), p), ccPel::UnboundWindow);
  EXPECT_THROW(cfWatershedTransform(ccPelBuffer<unsigned char>(4, 0), p), ccPel::BadWindow);
  EXPECT_THROW(p.minPels(-1), ccBadArgument);
  EXPECT_THROW(p.levelMergeThresh(-0.5), ccBadArgument);
  EXPECT_THROW(p.distMergeThresh(std::nan("")), ccBadArgument);
}

}  // namespace
