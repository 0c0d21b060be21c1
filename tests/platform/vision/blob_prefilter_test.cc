// SPDX-License-Identifier: Apache-2.0
// The area pre-filter of blob analysis keeps exactly what an area filter would select, with
// identical measures and tree, and large analyses (many stored rows and runs) stay consistent.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "platform/vision/blob.h"
#include "tests/platform/vision/vision_test_images.h"
#include "tools/plate/plate_render.h"

namespace {

// A blob is known by its first pixel and class, which the pre-filter does not change.
using Key = std::tuple<std::int32_t, std::int32_t, bool>;
Key keyOf(const ccBlobSceneDescription& s, const ccBlob* b) {
  if (b == nullptr) return Key(-1, -1, false);
  return Key(s.runsBegin(*b)->y, s.runsBegin(*b)->x0, b->isForeground());
}

// Smoothed noise: blobs of all sizes, with holes, holes in holes and soft edges.
ccPelBuffer<unsigned char> cloudImage(long w, long h, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> n(0.0, 1.0);
  std::vector<double> f(static_cast<std::size_t>(w * h));
  for (double& v : f) v = n(rng);
  for (int pass = 0; pass < 3; ++pass) {
    for (long y = 1; y + 1 < h; ++y) {
      for (long x = 1; x + 1 < w; ++x) {
        double& c = f[static_cast<std::size_t>(y * w + x)];
        c = (c + f[static_cast<std::size_t>(y * w + x - 1)] +
             f[static_cast<std::size_t>(y * w + x + 1)] +
             f[static_cast<std::size_t>((y - 1) * w + x)] +
             f[static_cast<std::size_t>((y + 1) * w + x)]) /
            5.0;
      }
    }
  }
  ccPelBuffer<unsigned char> img(ccPelRect(7, -3, w, h));
  for (long y = 0; y < h; ++y) {
    for (long x = 0; x < w; ++x) {
      img.row(y)[x] = static_cast<unsigned char>(
          std::clamp(128.0 + 150.0 * f[static_cast<std::size_t>(y * w + x)], 0.0, 255.0));
    }
  }
  return img;
}

// Analyses with and without the pre-filter and compares everything a caller can read.
void expectPrefilterExact(const ccPelBuffer<unsigned char>& img, ccBlobParams params,
                          double minArea) {
  ccBlobResults all, kept;
  cfBlobAnalysis(img, params, all);
  params.prefilterMinArea(minArea);
  cfBlobAnalysis(img, params, kept);
  const ccBlobSceneDescription& sa = all.connectedBlobs();
  const ccBlobSceneDescription& sk = kept.connectedBlobs();
  EXPECT_TRUE(all.rle() == kept.rle());

  std::map<Key, const ccBlob*> byKey;
  for (const ccBlob* b : sk.allBlobs(false)) byKey[keyOf(sk, b)] = b;
  // Expected: every blob reaching the area, and all its ancestors.
  std::map<Key, bool> expected;
  for (const ccBlob* b : sa.allBlobs(false)) {
    if (!(b->area() >= minArea)) continue;
    for (const ccBlob* a = b; a != nullptr; a = a->parent()) expected[keyOf(sa, a)] = true;
  }
  ASSERT_EQ(byKey.size(), expected.size());
  std::size_t checked = 0;
  for (const ccBlob* b : sa.allBlobs(false)) {
    const auto it = byKey.find(keyOf(sa, b));
    if (it == byKey.end()) {
      EXPECT_FALSE(expected.count(keyOf(sa, b))) << "blob " << b->index() << " was dropped";
      continue;
    }
    const ccBlob* k = it->second;
    for (int m = 0; m < ccBlob::eMeasureCount; ++m) {
      ASSERT_EQ(b->measure(m), k->measure(m)) << "blob " << b->index() << " measure " << m;
    }
    EXPECT_EQ(keyOf(sa, b->parent()), keyOf(sk, k->parent()));
    EXPECT_TRUE(b->region() == k->region());
    EXPECT_EQ(b->boundaryChainCode().codes, k->boundaryChainCode().codes);
    // Children: the kept ones, in the same order.
    std::vector<Key> want, got;
    for (const ccBlob* c = b->firstChild(); c != nullptr; c = c->nextSibling()) {
      if (expected.count(keyOf(sa, c))) want.push_back(keyOf(sa, c));
    }
    for (const ccBlob* c = k->firstChild(); c != nullptr; c = c->nextSibling())
      got.push_back(keyOf(sk, c));
    EXPECT_EQ(want, got);
    ++checked;
  }
  EXPECT_EQ(checked, expected.size());
}

TEST(BlobPrefilter, KeepsExactlyWhatAnAreaFilterSelects) {
  struct Case {
    const char* name;
    bool soft;
    bool invert;
    int cleanup;
    int morph;  // -1: none
    double minArea;
  };
  const Case cases[] = {
      {"soft", true, false, ccBlobParams::eCleanupNone, -1, 25.2},
      {"soft inverted, small floor", true, true, ccBlobParams::eCleanupNone, -1, 3.5},
      {"hard, floor on a pixel count", false, false, ccBlobParams::eCleanupNone, -1, 9.0},
      {"soft, pruned", true, false, ccBlobParams::eCleanupPrune, -1, 12.0},
      {"soft, filled and opened", true, true, ccBlobParams::eCleanupFill, eBlobMorphOpen, 40.0},
  };
  for (std::uint32_t seed : {1u, 2u}) {
    const ccPelBuffer<unsigned char> img = cloudImage(300, 220, seed);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      ccBlobParams p;
      if (c.soft) {
        p.setSegmentationSoftThresh(110, 146, 6, c.invert);
      } else {
        p.setSegmentationHardThresh(128, c.invert);
      }
      p.keepRLE(true);
      p.connectivityCleanup(c.cleanup);
      p.connectivityMinPels(4);
      if (c.morph >= 0) p.morph(c.morph);
      expectPrefilterExact(img, p, c.minArea);
    }
  }
  // Pure noise: hundreds of thousands of specks, a few large components with long fringes.
  std::mt19937 rng(9);
  ccBlobParams p;
  p.setSegmentationSoftThresh(110, 130, 6, false);
  expectPrefilterExact(cfRandomImage(ccPelRect(0, 0, 640, 480), rng), p, 25.2);
}

TEST(BlobPrefilter, DotPlateInNoisySurround) {
  const ccDotPlate dots = cfDotPlate(12, 9, true);
  ccPlateRenderParams rp;
  rp.width = 800;
  rp.height = 600;
  rp.supersample = 2;
  rp.invert = true;
  rp.blurSigma = 1.0;
  rp.noiseSigma = 2.0;
  ccPelBuffer<unsigned char> img =
      cfRenderPlate(dots, cfPlateCameraAffine(cfPatternRegion(dots), 800, 600, 10.0, 0.0, 4.0, 0.6),
                    rp)
          .image;
  std::mt19937 rng(4);
  std::normal_distribution<double> n(120.0, 12.0);
  for (long y = 0; y < 600; ++y) {
    for (long x = 0; x < 800; ++x) {
      if (x < 140 || x >= 660 || y < 100 || y >= 500)
        img.at(x, y) = static_cast<unsigned char>(std::clamp(n(rng), 0.0, 255.0));
    }
  }
  ccBlobParams p;
  p.setSegmentationSoftThresh(110, 130, 6, false);
  p.keepRLE(true);
  expectPrefilterExact(img, p, 25.2);
}

TEST(BlobPrefilter, LargeAnalysesCoverEveryPixelOnce) {
  // Enough segments and level runs to fill several storage chunks.
  std::mt19937 rng(5);
  const ccPelBuffer<unsigned char> img = cfRandomImage(ccPelRect(-4, 9, 1500, 1100), rng);
  ccBlobParams p;
  p.setSegmentationSoftThresh(100, 140, 6, false);
  p.keepRLE(true);
  ccBlobResults res;
  cfBlobAnalysis(img, p, res);
  const ccBlobSceneDescription& s = res.connectedBlobs();
  double pixels = 0.0, area = 0.0;
  for (const ccBlob* b : s.allBlobs(false)) {
    pixels += b->pixelCount();
    area += b->area();
  }
  EXPECT_EQ(pixels, 1500.0 * 1100.0);
  EXPECT_NEAR(area, 1500.0 * 1100.0, 1e-6 * 1500.0 * 1100.0);
  const ccPelBuffer<unsigned char> covered = s.makeImage(false, 0);
  for (long y = 0; y < covered.height(); ++y) {
    for (long x = 0; x < covered.width(); ++x) ASSERT_EQ(covered.row(y)[x], 1) << x << "," << y;
  }
  // The level image: w = (v - 100) / 40 in levels of 1/7, as runs of equal level.
  const ccRLEBuffer& rle = res.rle();
  for (long y = 0; y < rle.height(); ++y) {
    for (const ccRLEBuffer::Run* r = rle.rowBegin(y); r != rle.rowEnd(y); ++r) {
      if (r != rle.rowBegin(y)) {
        ASSERT_NE(r->value, (r - 1)->value);
      }
      for (long x = r->start; x < r->start + r->length; ++x) {
        const double w = std::clamp((img.row(y)[x] - 100.0) / 40.0, 0.0, 1.0);
        ASSERT_EQ(r->value, static_cast<unsigned char>(std::lround(w * 7.0))) << x << "," << y;
      }
    }
  }
}

}  // namespace
