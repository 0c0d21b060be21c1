// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/watershed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "platform/foundation/exception.h"

namespace {

using Labels = ccPelBuffer<unsigned int>;

// The background value everywhere, its inverse where `edge` holds.
ccPelBuffer<unsigned char> edgeMap(long w, long h, const std::function<bool(long, long)>& edge,
                                   unsigned char ground = 255) {
  ccPelBuffer<unsigned char> img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) img.at(x, y) = edge(x, y) ? 255 - ground : ground;
  return img;
}

// Labels of value `from` or more met in the image, and whether two regions touch (8-neighbours).
std::multiset<unsigned int> labelsIn(const Labels& l,
                                     unsigned int from = ccWatershedDefs::eFirstRegion) {
  std::multiset<unsigned int> s;
  for (long y = 0; y < l.height(); ++y)
    for (long x = 0; x < l.width(); ++x)
      if (l.row(y)[x] >= from) s.insert(l.row(y)[x]);
  return s;
}
std::size_t regionCount(const Labels& l) {
  const std::multiset<unsigned int> m = labelsIn(l);
  return std::set<unsigned int>(m.begin(), m.end()).size();
}
bool regionsTouch(const Labels& l) {
  const long fwd[4][2] = {{1, 0}, {-1, 1}, {0, 1}, {1, 1}};
  for (long y = 0; y < l.height(); ++y)
    for (long x = 0; x < l.width(); ++x)
      for (const auto& d : fwd) {
        if (x + d[0] < 0 || x + d[0] >= l.width() || y + d[1] >= l.height()) continue;
        const unsigned a = l.row(y)[x], b = l.row(y + d[1])[x + d[0]];
        if (a >= 2 && b >= 2 && a != b) return true;
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
  // 6 x 4 cells of 24 pixels; every vertical line has a 1-pixel gap, every horizontal a 2-pixel
  // one.
  auto edge = [](long x, long y) {
    return (x % 24 == 0 && y % 24 != 12) || (y % 24 == 0 && x % 24 != 8 && x % 24 != 9);
  };
  ccPelBuffer<unsigned char> img = edgeMap(144, 96, edge);
  img.offset(100, 50);
  const Labels l = cfWatershedTransform(img, tileParams());
  EXPECT_EQ(l.window(), img.window());
  std::set<unsigned int> centres;
  for (long cy = 0; cy < 4; ++cy)
    for (long cx = 0; cx < 6; ++cx) centres.insert(l.at(112 + cx * 24, 62 + cy * 24));
  EXPECT_EQ(centres.size(), 24u);
  EXPECT_EQ(*centres.begin(), 2u);
  EXPECT_EQ(regionCount(l), 24u) << "a cell split in two";
  EXPECT_FALSE(regionsTouch(l));
  EXPECT_EQ(l.at(124, 55), unsigned(ccWatershedDefs::eEdgeLabel));
  EXPECT_EQ(l.at(124, 62), unsigned(ccWatershedDefs::eLineLabel)) << "the gap is closed by a line";

  ccWatershedRunParams variant = tileParams();
  variant.fillLines(true);
  const Labels f = cfWatershedTransform(img, variant);
  EXPECT_EQ(regionCount(f), 24u);
  EXPECT_EQ(labelsIn(f, 0).count(ccWatershedDefs::eLineLabel), 0u);

  variant.fillLines(false);
  variant.edgesBright(true);
  const Labels b = cfWatershedTransform(edgeMap(144, 96, edge, 0), variant);
  for (long y = 0; y < b.height(); ++y)
    for (long x = 0; x < b.width(); ++x) ASSERT_EQ(b.row(y)[x], l.row(y)[x]) << x << "," << y;
}

TEST(Watershed, ThinDiagonalLinesOfATurnedCheckerboardHoldBetweenTiles) {
  // 32-pixel squares turned by 30 degrees; edge pixels lie within half a pixel of a grid
  // line, so the lines are 8-connected and leave diagonal steps that flooding must not cross.
  const double c = std::cos(0.5236), s = std::sin(0.5236), pitch = 32.0;
  const Labels l = cfWatershedTransform(
      edgeMap(240, 200,
              [&](long x, long y) {
                const double u = (c * x + s * y) / pitch, v = (-s * x + c * y) / pitch;
                return std::min(std::fabs(u - std::round(u)), std::fabs(v - std::round(v))) *
                           pitch <
                       0.5;
              }),
      tileParams());
  std::set<unsigned int> seen;
  for (long i = -10; i <= 10; ++i)
    for (long j = -10; j <= 10; ++j) {
      const double u = (i + 0.5) * pitch, v = (j + 0.5) * pitch, x = c * u - s * v,
                   y = s * u + c * v;
      if (x < 20 || y < 20 || x > 220 || y > 180) continue;
      const unsigned int label = l.at(std::lround(x), std::lround(y));
      EXPECT_TRUE(label >= 2 && seen.insert(label).second)
          << "cell " << i << "," << j << " label " << label;
    }
  EXPECT_GT(seen.size(), 20u);
  EXPECT_FALSE(regionsTouch(l));
}

TEST(Watershed, RaggedBarStaysOneRegion) {
  // An 80 x 20 bar whose long sides wander by up to 3 pixels: its distance ridge has many
  // small bumps, each a seed, all within the level merge threshold of each other.
  std::mt19937 rng(4);
  std::vector<int> jitter(200);
  for (int& j : jitter) j = static_cast<int>(rng() % 4);
  const Labels l = cfWatershedTransform(
      edgeMap(100, 40,
              [&](long x, long y) {
                return ((x == 10 || x == 90) && y >= 10 && y <= 30) ||
                       (x >= 10 && x <= 90 && (y == 10 + jitter[x] || y == 30 - jitter[100 + x]));
              }),
      tileParams());
  std::set<unsigned int> core;
  for (long y = 15; y <= 25; ++y)
    for (long x = 15; x <= 85; ++x) core.insert(l.at(x, y));
  EXPECT_EQ(core.size(), 1u);
  EXPECT_GE(*core.begin(), 2u);
}

TEST(Watershed, MergeThresholdsAndMinPels) {
  // Two discs (radius 12 at x=20, radius 9 at x=44) joined by a channel 11 pixels high: peaks
  // about 12 and 9, saddle about 5.5, so the lower basin's dynamics is about 3.5. Plus a
  // closed cell of 3 x 3 pixels.
  const auto img = edgeMap(80, 40, [](long x, long y) {
    if (x >= 66 && x <= 70 && y >= 18 && y <= 22) return x == 66 || x == 70 || y == 18 || y == 22;
    const bool inside = std::hypot(x - 20.0, y - 20.0) <= 12.0 ||
                        std::hypot(x - 44.0, y - 20.0) <= 9.0 ||
                        (x >= 20 && x <= 44 && std::abs(y - 20) <= 5);
    return x < 62 && !inside;
  });
  auto split = [&](const ccWatershedRunParams& p) {
    const Labels l = cfWatershedTransform(img, p);
    return l.at(20, 20) != l.at(44, 20);
  };
  ccWatershedRunParams p = tileParams();
  p.levelMergeThresh(2.0);
  EXPECT_TRUE(split(p)) << "dynamics above the threshold keeps two regions";
  p.levelMergeThresh(5.0);
  EXPECT_FALSE(split(p)) << "dynamics within the threshold merges them";
  p.levelMergeThresh(0.0);
  p.distMergeThresh(20.0);
  EXPECT_TRUE(split(p)) << "peaks 24 apart stay apart at 20";
  p.distMergeThresh(30.0);
  EXPECT_FALSE(split(p)) << "and merge at 30";
  EXPECT_EQ(cfWatershedTransform(img, p).at(68, 20), unsigned(ccWatershedDefs::eEdgeLabel))
      << "9 < minPels 16";
  p.minPels(9);
  EXPECT_GE(cfWatershedTransform(img, p).at(68, 20), 2u);
}

TEST(Watershed, RandomEdgeMapsKeepTheInvariants) {
  // Edge pixels keep label 1, regions never touch, and region labels run 2, 3, ... without gaps.
  std::mt19937 rng(12);
  for (int density : {2, 10, 40}) {
    const auto img =
        edgeMap(90, 70, [&](long, long) { return static_cast<int>(rng() % 100) < density; });
    ccWatershedRunParams p = tileParams();
    p.minPels(3);
    const Labels l = cfWatershedTransform(img, p);
    for (long y = 0; y < 70; ++y)
      for (long x = 0; x < 90; ++x)
        ASSERT_TRUE(img.at(x, y) != 0 || l.at(x, y) == ccWatershedDefs::eEdgeLabel)
            << x << "," << y;
    EXPECT_FALSE(regionsTouch(l)) << "density " << density;
    const std::multiset<unsigned int> labels = labelsIn(l);
    EXPECT_EQ(labels.empty() ? 1 : *labels.rbegin(), regionCount(l) + 1);
  }
}

TEST(Watershed, NoEdgesFarEdgesAndBadArguments) {
  ccWatershedRunParams p = tileParams();
  const auto blank = edgeMap(7, 5, [](long, long) { return false; });
  EXPECT_EQ(labelsIn(cfWatershedTransform(blank, p)).count(2), 35u);
  p.minPels(36);
  EXPECT_EQ(regionCount(cfWatershedTransform(blank, p)), 0u);

  // Distances beyond 512 pixels: two long regions either side of one edge column.
  const Labels wide =
      cfWatershedTransform(edgeMap(1300, 3, [](long x, long) { return x == 700; }), p);
  EXPECT_EQ(labelsIn(wide).count(2), 2100u);
  EXPECT_EQ(labelsIn(wide).count(3), 1797u);

  EXPECT_THROW(cfWatershedTransform(ccPelBuffer<unsigned char>(), p), ccPel::UnboundWindow);
  EXPECT_THROW(cfWatershedTransform(ccPelBuffer<unsigned char>(4, 0), p), ccPel::BadWindow);
  EXPECT_THROW(p.minPels(-1), ccBadArgument);
  EXPECT_THROW(p.levelMergeThresh(-0.5), ccBadArgument);
  EXPECT_THROW(p.distMergeThresh(std::nan("")), ccBadArgument);
}

// FNV-1a hash of a label image (window pixels, row by row).
std::uint64_t labelHash(const Labels& l) {
  std::uint64_t h = 1469598103934665603ull;
  for (long y = 0; y < l.height(); ++y)
    for (long x = 0; x < l.width(); ++x) {
      h ^= l.row(y)[x];
      h *= 1099511628211ull;
    }
  return h;
}

// Edge maps of every kind the detection meets: sparse and dense random edges, a turned
// checkerboard with gaps in its lines, at sizes that are not multiples of anything.
std::vector<ccPelBuffer<unsigned char>> referenceInputs() {
  std::vector<ccPelBuffer<unsigned char>> in;
  std::mt19937 rng(31);
  for (int density : {1, 5, 20, 45})
    in.push_back(
        edgeMap(157, 101, [&](long, long) { return static_cast<int>(rng() % 100) < density; }));
  for (double pitch : {9.0, 23.0}) {
    const double c = std::cos(0.3), s = std::sin(0.3);
    auto cell = [&](long x, long y) {
      return std::make_pair(std::floor((c * x + s * y) / pitch),
                            std::floor((-s * x + c * y) / pitch));
    };
    in.push_back(edgeMap(211, 163, [&](long x, long y) {
      return ((x + 1 < 211 && cell(x + 1, y) != cell(x, y)) ||
              (y + 1 < 163 && cell(x, y + 1) != cell(x, y))) &&
             rng() % 25 != 0;
    }));
  }
  return in;
}

// The label images these inputs gave before the watershed was made faster; every change to
// the implementation must keep them bit for bit.
TEST(Watershed, LabelsMatchTheReferenceImplementation) {
  const std::uint64_t expected[] = {
      0xf61144859bd9a9edull, 0x6cf33c814ae44825ull, 0x05d561cc806024c2ull, 0x2ab837fd4191322full,
      0xd33292eef8d1309cull, 0x8901d92ff6db3b8full, 0x61639cd8885f1c8aull, 0x61639cd8885f1c8aull,
      0xc4d3ff5e05f26e08ull, 0x98a82e04f17433b5ull, 0x06f898932e0b5549ull, 0xebaa2ef68a1083ffull,
      0x1ab151e7bcc21250ull, 0x1a575985ebd3f272ull, 0x276d078773e23cb9ull, 0x79865cdacdc9d2d0ull,
      0x7282bae9d879f925ull, 0x8901d92ff6db3b8full, 0x61639cd8885f1c8aull, 0x61639cd8885f1c8aull,
      0x56650d04cea52d4dull, 0x98a82e04f17433b5ull, 0xdb3ce117c52b143bull, 0xadb436ae7fee1e7eull};
  std::size_t n = 0;
  for (bool fill : {false, true})
    for (const auto& img : referenceInputs()) {
      for (bool tiles : {true, false}) {
        ccWatershedRunParams p = tiles ? tileParams() : ccWatershedRunParams();
        p.fillLines(fill);
        SCOPED_TRACE(testing::Message()
                     << "case " << n << (fill ? " filled" : "") << (tiles ? " tile params" : ""));
        EXPECT_EQ(labelHash(cfWatershedTransform(img, p)), expected[n]);
        ++n;
      }
    }
}
}  // namespace
