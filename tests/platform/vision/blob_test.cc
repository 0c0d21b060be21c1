// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/blob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "platform/foundation/pel_ops.h"
#include "tests/support/synthetic.h"

namespace {

// A binary image from rows of text: '#' is 200, anything else 50.
ccPelBuffer<unsigned char> fromText(const std::vector<std::string>& rows, long ox = 0,
                                    long oy = 0) {
  ccPelBuffer<unsigned char> img(
      ccPelRect(ox, oy, static_cast<long>(rows[0].size()), static_cast<long>(rows.size())));
  for (std::size_t j = 0; j < rows.size(); ++j) {
    for (std::size_t i = 0; i < rows[j].size(); ++i)
      img.row(static_cast<long>(j))[i] = rows[j][i] == '#' ? 200 : 50;
  }
  return img;
}

ccBlobParams hardParams(int threshold = 128, bool invert = false) {
  ccBlobParams p;
  p.setSegmentationHardThresh(threshold, invert);
  return p;
}

// Largest gradient magnitude (central differences), grey levels per pixel.
double peakGradient(const ccPelBuffer<unsigned char>& img) {
  double g = 0.0;
  for (long y = 1; y + 1 < img.height(); ++y) {
    for (long x = 1; x + 1 < img.width(); ++x) {
      g = std::max(g, std::hypot((img.at(x + 1, y) - img.at(x - 1, y)) / 2.0,
                                 (img.at(x, y + 1) - img.at(x, y - 1)) / 2.0));
    }
  }
  return g;
}

// Soft-threshold centre error of one disc, with a band like the dot finder's: around the mid
// grey, 0.2 times the peak gradient wide (at least 8 grey levels), softness 6.
double discCentreError(double diameter, double cx, double cy, double blur, double noise,
                       unsigned seed) {
  ccSyntheticSpec s;
  s.width = s.height = static_cast<long>(diameter) + 30;
  s.blurSigma = blur;
  s.noiseSigma = noise;
  s.seed = seed;
  s.supersample = 16;
  const double r = diameter / 2;
  ccPelBuffer<unsigned char> img = cfSyntheticImage(
      s, [&](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r; });
  const double band = std::clamp(0.2 * peakGradient(img), 8.0, 100.0), mid = 125.0;
  ccBlobParams p;
  p.setSegmentationSoftThresh(static_cast<int>(mid - band / 2), static_cast<int>(mid + band / 2), 6,
                              false);
  ccBlobResults res;
  cfBlobAnalysis(img, p, res);
  res.connectedBlobs().setFilter(ccBlob::eLabel, 1, 1, false);
  std::vector<const ccBlob*> dots = res.connectedBlobs().allBlobs(true);
  if (dots.size() != 1) return 1e9;
  return (dots[0]->centerOfMass() - ccVector<2>(cx, cy)).length();
}

TEST(BlobAccuracy, SoftDiscCentreOverOffsetsAndBlurs) {
  for (double d : {10.0, 16.0, 24.0, 40.0}) {
    for (double blur : {0.0, 0.7, 1.2}) {
      double worst = 0.0;
      for (int k = 0; k < 12; ++k) {
        double cx = 15 + d / 2 + std::fmod(0.37 * k, 1.0),
               cy = 15 + d / 2 + std::fmod(0.61 * k + 0.1, 1.0);
        worst = std::max(worst, discCentreError(d, cx, cy, blur, 0.0, 1));
      }
      EXPECT_LT(worst, 0.02) << "diameter " << d << " blur " << blur;
    }
  }
}

TEST(BlobAccuracy, SoftDiscCentreWithNoise) {
  for (double d : {10.0, 24.0, 40.0}) {
    double worst = 0.0;
    for (int k = 0; k < 12; ++k) {
      double cx = 15 + d / 2 + std::fmod(0.37 * k, 1.0),
             cy = 15 + d / 2 + std::fmod(0.61 * k + 0.1, 1.0);
      worst = std::max(worst, discCentreError(d, cx, cy, 1.0, 3.0, 100 + k));
    }
    EXPECT_LT(worst, 0.05) << "diameter " << d;
  }
}

TEST(BlobShape, RotatedRectangleAngleBoxAndAspect) {
  const double len = 48, wid = 12, cx = 50.3, cy = 49.6;
  for (double deg : {0.0, 17.0, 45.0, 80.0, 90.0, -30.0}) {
    const double a = deg * ccPi / 180.0, c = std::cos(a), s = std::sin(a);
    ccSyntheticSpec spec;
    spec.width = spec.height = 100;
    ccPelBuffer<unsigned char> img = cfSyntheticImage(spec, [&](double x, double y) {
      double u = (x - cx) * c + (y - cy) * s, v = -(x - cx) * s + (y - cy) * c;
      return std::fabs(u) < len / 2 && std::fabs(v) < wid / 2;
    });
    ccBlobResults res;
    cfBlobAnalysis(img, hardParams(), res);
    res.connectedBlobs().setFilter(ccBlob::eLabel, 1, 1, false);
    std::vector<const ccBlob*> bl = res.connectedBlobs().allBlobs(true);
    ASSERT_EQ(bl.size(), 1u) << deg;
    const ccBlob& b = *bl[0];
    // Angles are defined modulo pi, in (-pi/2, pi/2].
    double got = b.angle().toDouble(), want = ccRadian(a).signedNorm().toDouble();
    if (want <= -ccPi / 2) want += ccPi;
    if (want > ccPi / 2) want -= ccPi;
    EXPECT_GT(got, -ccPi / 2);
    EXPECT_LE(got, ccPi / 2);
    EXPECT_NEAR(std::remainder(got - want, ccPi), 0.0, 0.01)
        << deg << ": " << got << " vs " << want;
    ccRect box = b.boundingBoxPrincipal(false);
    EXPECT_NEAR(box.width(), len, 2.0) << deg;  // pixel corners stick out up to 0.71 px
    EXPECT_NEAR(box.height(), wid, 2.0) << deg;
    EXPECT_NEAR(b.aspectPrincipal(false), wid / len, 0.04) << deg;
    EXPECT_NEAR(b.measure(ccBlob::eElongation), len / wid, 0.5) << deg;
    EXPECT_LT((b.center(false, b.angle()) - ccVector<2>(cx, cy)).length(), 0.5) << deg;
    EXPECT_LT((b.centerOfMass() - ccVector<2>(cx, cy)).length(), 0.5) << deg;  // hard: whole pixels
    // The box at angle 0 is the image-aligned box of pixel edges.
    ccRect axis = b.boundingBox(false, ccRadian(0));
    EXPECT_DOUBLE_EQ(axis.x(), b.measure(ccBlob::eBoundMinX));
    EXPECT_DOUBLE_EQ(axis.y(), b.measure(ccBlob::eBoundMinY));
    EXPECT_DOUBLE_EQ(axis.width(), b.measure(ccBlob::eBoundWidth));
    EXPECT_DOUBLE_EQ(axis.height(), b.measure(ccBlob::eBoundHeight));
  }
}

TEST(BlobShape, ClientCoordinatesFollowTheImageTransform) {
  ccPelBuffer<unsigned char> img = fromText({
      "..........",
      "..####....",
      "..####....",
      "..........",
  });
  img.clientFromImageXform(ccXform<2>(ccMatrix<2>(2, 0, 0, 3), ccVector<2>(10, 20)));
  ccBlobResults res;
  cfBlobAnalysis(img, hardParams(), res);
  const ccBlob& b = res.connectedBlobs().blob(1);
  ASSERT_TRUE(b.isForeground());
  EXPECT_NEAR(b.measure(ccBlob::eCenterOfMassX), 3.5, 1e-12);
  EXPECT_NEAR(b.centerOfMass().x(), 17.0, 1e-12);
  EXPECT_NEAR(b.centerOfMass().y(), 24.5, 1e-12);
  ccRect box = b.boundingBox(true, ccRadian(0));
  EXPECT_NEAR(box.x(), 13.0, 1e-12);
  EXPECT_NEAR(box.width(), 8.0, 1e-12);
  EXPECT_NEAR(box.height(), 6.0, 1e-12);
  EXPECT_NEAR(b.center(true, ccRadian(0)).y(), 24.5, 1e-12);
}

TEST(BlobMeasures, HardBoxesAreaPerimeterAndBorder) {
  // Columns 3..7 and rows 1..3 of the image frame (offset 1, 1).
  ccPelBuffer<unsigned char> img = fromText(
      {
          "#.........",
          "..#####...",
          "..#####...",
          "..#####...",
          "..........",
      },
      1, 0);
  ccBlobResults res;
  cfBlobAnalysis(img, hardParams(), res);
  ccBlobSceneDescription& scene = res.connectedBlobs();
  ASSERT_EQ(scene.numBlobs(), 3u);  // corner pixel, background, block (discovery order)
  const ccBlob& corner = scene.blob(0);
  const ccBlob& block = scene.blob(2);
  EXPECT_EQ(corner.measure(ccBlob::eNotClipped), 0.0);
  EXPECT_EQ(block.measure(ccBlob::eNotClipped), 1.0);
  EXPECT_EQ(block.measure(ccBlob::eBoundMinX), 2.5);
  EXPECT_EQ(block.measure(ccBlob::eBoundMaxX), 7.5);
  EXPECT_EQ(block.measure(ccBlob::eBoundMinY), 0.5);
  EXPECT_EQ(block.measure(ccBlob::eBoundMaxY), 3.5);
  EXPECT_EQ(block.measure(ccBlob::eBoundWidth) * block.measure(ccBlob::eBoundHeight), 15.0);
  EXPECT_EQ(block.area(), 15.0);
  EXPECT_EQ(block.measure(ccBlob::ePerimeter), 16.0);
  EXPECT_EQ(block.imageBoundingBox(), ccPelRect(3, 1, 5, 3));
  EXPECT_EQ(block.measure(ccBlob::eAngle), 0.0);
  // Areas of all blobs add up to the window.
  EXPECT_EQ(corner.area() + scene.blob(1).area() + block.area(), 50.0);
  EXPECT_THROW(block.measure(24), ccBadArgument);
}

TEST(BlobMeasures, SoftFringeKeepsTotalAreaAndWidensBox) {
  // An anti-aliased rectangle: the soft areas of all blobs add up to the pixel count, and the
  // rectangle's own area and box edges come out to sub-pixel precision.
  ccSyntheticSpec spec;
  spec.width = spec.height = 40;
  ccPelBuffer<unsigned char> img = cfSyntheticImage(
      spec, [](double x, double y) { return x > 10.3 && x < 25.3 && y > 12.6 && y < 22.6; });
  ccBlobParams p;
  p.setSegmentationSoftThresh(110, 140, 6, false);
  ccBlobResults res;
  cfBlobAnalysis(img, p, res);
  double total = 0.0;
  for (const ccBlob* b : res.connectedBlobs().allBlobs(false)) total += b->area();
  EXPECT_NEAR(total, 1600.0, 1e-6);
  res.connectedBlobs().setFilter(ccBlob::eLabel, 1, 1, false);
  std::vector<const ccBlob*> sq = res.connectedBlobs().allBlobs(true);
  ASSERT_EQ(sq.size(), 1u);
  EXPECT_NEAR(sq[0]->area(), 150.0, 0.3);
  EXPECT_NEAR(sq[0]->measure(ccBlob::eBoundMinX), 10.3, 0.35);
  EXPECT_NEAR(sq[0]->measure(ccBlob::eBoundMaxY), 22.6, 0.35);
  EXPECT_NEAR(sq[0]->measure(ccBlob::eBoundWidth), 15.0, 0.7);
}

TEST(BlobTopology, HolesChildrenAndConnectivity) {
  // A ring holding a dot; two pixels touching at a corner (one 8-connected blob) that also
  // cut the background diagonally (background stays 4-connected on each side).
  ccPelBuffer<unsigned char> img = fromText({
      "............",
      ".#######....",
      ".#.....#....",
      ".#.###.#.#..",
      ".#.###.#..#.",
      ".#.....#....",
      ".#######....",
      "............",
  });
  ccBlobResults res;
  cfBlobAnalysis(img, hardParams(), res);
  ccBlobSceneDescription& scene = res.connectedBlobs();
  std::vector<const ccBlob*> all = scene.allBlobs(false);
  // Background, ring, hole, dot, diagonal pair: raster order of first pixels.
  ASSERT_EQ(all.size(), 5u);
  const ccBlob *bg = all[0], *ring = all[1], *hole = all[2], *dot = all[3], *pair = all[4];
  EXPECT_FALSE(bg->isForeground());
  EXPECT_EQ(bg->parent(), nullptr);
  EXPECT_EQ(ring->parent(), bg);
  EXPECT_EQ(hole->parent(), ring);
  EXPECT_EQ(dot->parent(), hole);
  EXPECT_EQ(pair->parent(), bg);
  EXPECT_EQ(pair->pixelCount(), 2);
  EXPECT_EQ(ring->measure(ccBlob::eHoles), 1.0);
  EXPECT_EQ(ring->firstChild(), hole);
  EXPECT_EQ(hole->firstChild(), dot);
  EXPECT_EQ(dot->measure(ccBlob::eDepth), 3.0);
  EXPECT_EQ(bg->firstChild(), ring);
  EXPECT_EQ(ring->nextSibling(), pair);
  EXPECT_EQ(pair->nextSibling(), nullptr);
  EXPECT_EQ(hole->area(), 14.0);
  EXPECT_EQ(dot->area(), 6.0);

  // The same image inverted: the classes swap, so the pair no longer connects.
  ccBlobResults inv;
  cfBlobAnalysis(img, hardParams(128, true), inv);
  EXPECT_EQ(inv.connectedBlobs().numBlobs(), 6u);
}

// The chain code's polygon must enclose exactly the blob with its holes, and each step must
// run along an edge with the blob on its right and something else on its left.
TEST(BlobChainCode, RetracesTheOuterBoundary) {
  std::mt19937 rng(7);
  std::bernoulli_distribution on(0.45);
  ccPelBuffer<unsigned char> img(ccPelRect(-3, 2, 40, 30));
  for (long j = 0; j < 30; ++j) {
    for (long i = 0; i < 40; ++i) img.row(j)[i] = on(rng) ? 200 : 50;
  }
  ccBlobResults res;
  cfBlobAnalysis(img, hardParams(), res);
  const ccBlobSceneDescription& scene = res.connectedBlobs();
  ccPelBuffer<unsigned char> owner(img.window());
  for (const ccBlob* b : scene.allBlobs(false)) {
    // Owner map: 1 on the blob's own pixels.
    cfPelSet(owner, static_cast<unsigned char>(0));
    for (auto r = scene.runsBegin(*b); r != scene.runsEnd(*b); ++r) {
      for (long x = r->x0; x <= r->x1; ++x) owner.at(x, r->y) = 1;
    }
    auto inBlob = [&](double px, double py) {
      long x = std::lround(px), y = std::lround(py);
      return owner.window().contains(x, y) && owner.at(x, y) == 1;
    };
    ccBlobChainCode cc = b->boundaryChainCode();
    ASSERT_GE(cc.codes.size(), 5u);
    ASSERT_EQ(cc.codes.back(), eBlobDirEnd);
    std::vector<ccVector<2>> v = cc.vertices();
    double twiceArea = 0.0;
    for (std::size_t k = 0; k < v.size(); ++k) {
      const ccVector<2>& a = v[k];
      const ccVector<2>& c = v[(k + 1) % v.size()];
      twiceArea += a.x() * c.y() - a.y() * c.x();
      // Pixel centres to the right and left of the step (image frame, y down).
      ccVector<2> mid = (a + c) * 0.5, d = c - a, right(-d.y() * 0.5, d.x() * 0.5);
      ASSERT_TRUE(inBlob(mid.x() + right.x(), mid.y() + right.y()))
          << "blob " << b->index() << " step " << k;
      ASSERT_FALSE(inBlob(mid.x() - right.x(), mid.y() - right.y()))
          << "blob " << b->index() << " step " << k;
    }
    // Filled area: own pixels plus every descendant's.
    double filled = 0.0;
    std::vector<const ccBlob*> stack = {b};
    while (!stack.empty()) {
      const ccBlob* q = stack.back();
      stack.pop_back();
      filled += q->pixelCount();
      for (const ccBlob* ch = q->firstChild(); ch; ch = ch->nextSibling()) stack.push_back(ch);
    }
    EXPECT_DOUBLE_EQ(0.5 * twiceArea, filled) << "blob " << b->index();
    EXPECT_EQ(cc.startPixel, ccPair<long>(scene.runsBegin(*b)->x0, scene.runsBegin(*b)->y));
  }
}

TEST(BlobScene, FiltersSortImageAndRegion) {
  ccPelBuffer<unsigned char> img = fromText(
      {
          "............",
          ".###....##..",
          ".###....##..",
          ".###........",
          "......#.....",
          "............",
      },
      10, 20);
  ccBlobResults res;
  cfBlobAnalysis(img, hardParams(), res);
  ccBlobSceneDescription& scene = res.connectedBlobs();
  scene.setFilter(ccBlob::eLabel, 1, 1, false);
  std::vector<const ccBlob*> fg = scene.allBlobs(true);
  ASSERT_EQ(fg.size(), 3u);
  EXPECT_EQ(fg[0]->area(), 9.0);  // discovery order: raster order of first pixels
  EXPECT_EQ(fg[1]->area(), 4.0);
  scene.setSort(ccBlob::eArea, ccBlob::eAscending);
  fg = scene.allBlobs(true);
  EXPECT_EQ(fg[0]->area(), 1.0);
  EXPECT_EQ(fg[2]->area(), 9.0);
  scene.setSort(ccBlob::eArea, ccBlob::eDescending);
  EXPECT_EQ(scene.allBlobs(true)[0]->area(), 9.0);
  scene.setFilter(ccBlob::eArea, 2, 5, true);  // outside [2, 5]
  EXPECT_EQ(scene.allBlobs(true).size(), 2u);
  scene.setFilter(ccBlob::eArea, 2, 5, false);  // replaces the filter on the same measure
  ASSERT_EQ(scene.allBlobs(true).size(), 1u);
  EXPECT_EQ(scene.allBlobs(false).size(), 4u);

  ccPelBuffer<unsigned char> im = scene.makeImage(true, 7);
  EXPECT_EQ(im.window(), img.window());
  EXPECT_EQ(im.at(18, 21), 1);
  EXPECT_EQ(im.at(11, 21), 7);
  EXPECT_EQ(im.at(10, 20), 7);
  scene.clearFilters();
  scene.disableSort();
  EXPECT_EQ(scene.makeImage(true, 0).at(10, 20), 1);  // the background blob too

  ccRLEBuffer region = scene.allBlobs(false)[1]->region();
  EXPECT_EQ(region.window(), ccPelRect(11, 21, 3, 3));
  EXPECT_EQ(region.countNonZero(), 9u);
  EXPECT_THROW(scene.setFilter(99, 0, 1, false), ccBadArgument);
  EXPECT_THROW(scene.setFilter(1, 2, 1, false), ccBadArgument);
  EXPECT_THROW(scene.setSort(1, 2), ccBadArgument);
}

TEST(BlobCleanup, FillPruneAndOpening) {
  ccPelBuffer<unsigned char> img = fromText({
      "..............",
      ".######.....#.",
      ".#.####.......",
      ".######..###..",
      ".######..###..",
      ".........###..",
      "..............",
  });
  // Fill: the one-pixel hole and the one-pixel speck vanish; the 3 x 3 block stays.
  ccBlobParams fill = hardParams();
  fill.connectivityCleanup(ccBlobParams::eCleanupFill);
  fill.connectivityMinPels(3);
  ccBlobResults res;
  cfBlobAnalysis(img, fill, res);
  res.connectedBlobs().setFilter(ccBlob::eLabel, 1, 1, false);
  std::vector<const ccBlob*> fg = res.connectedBlobs().allBlobs(true);
  ASSERT_EQ(fg.size(), 2u);
  EXPECT_EQ(fg[0]->area(), 24.0);
  EXPECT_EQ(fg[0]->measure(ccBlob::eHoles), 0.0);
  EXPECT_EQ(res.connectedBlobs().numBlobs(), 3u);

  // Prune: the small components are left out, the pixels stay as they were.
  ccBlobParams prune = hardParams();
  prune.connectivityCleanup(ccBlobParams::eCleanupPrune);
  prune.connectivityMinPels(3);
  cfBlobAnalysis(img, prune, res);
  EXPECT_EQ(res.connectedBlobs().numBlobs(), 3u);
  EXPECT_EQ(res.connectedBlobs().blob(1).area(), 23.0);
  EXPECT_EQ(res.connectedBlobs().blob(1).measure(ccBlob::eHoles), 0.0);

  // Opening removes the speck, keeps the 3 x 3 block, and cuts the big block down to the
  // 4 x 4 square that the 3 x 3 element fits into away from the hole.
  ccBlobParams open = hardParams();
  open.morph(eBlobMorphOpen);
  cfBlobAnalysis(img, open, res);
  res.connectedBlobs().setFilter(ccBlob::eLabel, 1, 1, false);
  fg = res.connectedBlobs().allBlobs(true);
  ASSERT_EQ(fg.size(), 2u);
  EXPECT_EQ(fg[0]->area(), 16.0);
  EXPECT_EQ(fg[0]->imageBoundingBox(), ccPelRect(3, 1, 4, 4));
  EXPECT_EQ(fg[1]->area(), 9.0);
}

TEST(BlobParams, BadArgumentsThrowTypedExceptions) {
  ccBlobParams p;
  EXPECT_THROW(p.setSegmentationSoftThresh(130, 120, 6, false), ccBadArgument);
  EXPECT_THROW(p.setSegmentationSoftThresh(10, 20, 255, false), ccBadArgument);
  EXPECT_THROW(p.setSegmentationHardThresh(257, false), ccBadArgument);
  EXPECT_THROW(p.connectivityCleanup(3), ccBadArgument);
  EXPECT_THROW(p.connectivityMinPels(-1), ccBadArgument);
  EXPECT_THROW(p.morph(4), ccBadArgument);
  ccBlobResults res;
  EXPECT_THROW(cfBlobAnalysis(ccPelBuffer<unsigned char>(), p, res), ccPel::UnboundWindow);
  EXPECT_THROW(cfBlobAnalysis(ccPelBuffer<unsigned char>(0, 5), p, res), ccPel::BadWindow);
  EXPECT_EQ(res.connectedBlobs().numBlobs(), 0u);
}

TEST(BlobParams, SoftLevelsImageAndInvertedComplement) {
  ccPelBuffer<unsigned char> img(ccPelRect(5, 6, 8, 1));
  const unsigned char values[8] = {0, 100, 103, 106, 107, 110, 113, 255};
  for (long i = 0; i < 8; ++i) img.row(0)[i] = values[i];
  ccBlobParams p;
  p.setSegmentationSoftThresh(100, 114, 6, false);  // w = (v - 100) / 14, levels 0..7
  p.keepRLE(true);
  ccBlobResults res;
  cfBlobAnalysis(img, p, res);
  const unsigned char levels[8] = {0, 0, 2, 3, 4, 5, 7, 7};
  ASSERT_EQ(res.rle().window(), img.window());
  for (long i = 0; i < 8; ++i) EXPECT_EQ(res.rle().value(5 + i, 6), levels[i]) << i;
  // Foreground from w >= 0.5 (v >= 107); inverted, exactly the complement.
  EXPECT_EQ(res.connectedBlobs().blob(1).imageBoundingBox(), ccPelRect(9, 6, 4, 1));
  p.setSegmentationSoftThresh(100, 114, 6, true);
  cfBlobAnalysis(img, p, res);
  EXPECT_EQ(res.connectedBlobs().blob(0).imageBoundingBox(), ccPelRect(5, 6, 4, 1));
  EXPECT_TRUE(res.connectedBlobs().blob(0).isForeground());
  EXPECT_EQ(res.rle().value(5, 6), 7);
}

}  // namespace
