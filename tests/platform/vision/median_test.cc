// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"
#include "tests/platform/vision/vision_test_images.h"

namespace {

// Straight from the definition: sort what takes part in the clipped window.
ccPelBuffer<unsigned char> bruteMedian(const ccPelBuffer_const<unsigned char>& image,
                                       const ccPelBuffer_const<unsigned char>* mask,
                                       const ccPelMedianParams& p) {
  ccPelRect r = image.window();
  if (mask) r &= mask->window();
  ccPelBuffer<unsigned char> out(r);
  const long rx = p.size().x() / 2, ry = p.size().y() / 2;
  std::vector<unsigned char> vals;
  for (long y = r.y(); y < r.y() + r.height(); ++y)
    for (long x = r.x(); x < r.x() + r.width(); ++x) {
      vals.clear();
      for (long v = std::max(r.y(), y - ry); v <= std::min(r.y() + r.height() - 1, y + ry); ++v)
        for (long u = std::max(r.x(), x - rx); u <= std::min(r.x() + r.width() - 1, x + rx); ++u) {
          const unsigned char g = image.at(u, v);
          if (g < p.valueRange().x() || g > p.valueRange().y()) continue;
          if (mask && !mask->at(u, v)) continue;
          vals.push_back(g);
        }
      if (vals.empty()) {
        out.at(x, y) = p.keepInputWhenEmpty() ? image.at(x, y) : 0;
        continue;
      }
      std::nth_element(vals.begin(), vals.begin() + (vals.size() - 1) / 2, vals.end());
      out.at(x, y) = vals[(vals.size() - 1) / 2];
    }
  return out;
}

TEST(PelMedian, MatchesBruteForceOverSizesWindowsAndRanges) {
  std::mt19937 rng(5);
  struct Case {
    ccPelRect window;
    long kx, ky;
    long lo, hi;
    bool keep;
  };
  const Case cases[] = {
      {ccPelRect(0, 0, 1, 1), 1, 1, 0, 255, true},
      {ccPelRect(0, 0, 1, 1), 5, 3, 100, 255, false},
      {ccPelRect(3, -2, 3, 5), 3, 3, 0, 255, true},
      {ccPelRect(3, -2, 3, 5), 7, 1, 60, 200, true},
      {ccPelRect(0, 0, 41, 41), 41, 41, 0, 255, true},
      {ccPelRect(10, 20, 41, 41), 5, 9, 1, 255, true},
      {ccPelRect(0, 0, 41, 41), 181, 181, 30, 90, false},
      {ccPelRect(0, 0, 97, 33), 15, 31, 0, 255, true},
      {ccPelRect(0, 0, 60, 20), 3, 181, 200, 220, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.window.width() << "x" << c.window.height() << " window "
                                      << c.kx << "x" << c.ky << " range " << c.lo << ".." << c.hi);
    const ccPelMedianParams p(ccPair<long>(c.kx, c.ky), ccPair<long>(c.lo, c.hi), c.keep);
    const ccPelBuffer<unsigned char> img = cfRandomImage(c.window, rng);
    ccPelBuffer<unsigned char> out;
    cfPelMedian(img, p, out);
    EXPECT_TRUE(cfSameImage(out, bruteMedian(img, nullptr, p)));
  }
}

TEST(PelMedian, MaskedMatchesBruteForceOnTheOverlap) {
  std::mt19937 rng(9);
  const ccPelBuffer<unsigned char> img = cfRandomImage(ccPelRect(0, 0, 70, 50), rng);
  // A random mask over part of the image, and one that covers it with a margin.
  const ccPelBuffer<unsigned char> part = cfRandomImage(ccPelRect(20, -5, 80, 40), rng, 2);
  const ccPelBuffer<unsigned char> cover = cfRandomImage(ccPelRect(-3, -3, 80, 60), rng, 2);
  for (const ccPelBuffer<unsigned char>* mask : {&part, &cover})
    for (long k : {3L, 11L, 61L})
      for (bool keep : {true, false}) {
        SCOPED_TRACE(::testing::Message() << "window " << k << " keep " << keep);
        const ccPelMedianParams p(ccPair<long>(k, k), ccPair<long>(1, 255), keep);
        ccPelBuffer<unsigned char> out;
        cfPelMedian(img, *mask, p, out);
        EXPECT_TRUE(cfSameImage(out, bruteMedian(img, mask, p)));
      }
  // A bound output of the right size keeps its offset and may be the image itself.
  ccPelBuffer<unsigned char> inPlace = cfPelCopy(img);
  const ccPelMedianParams p5(ccPair<long>(5, 5));
  const ccPelBuffer<unsigned char> want = bruteMedian(img, nullptr, p5);
  cfPelMedian(inPlace, p5, inPlace);
  EXPECT_TRUE(cfSameImage(inPlace, want));
}

TEST(PelMedian, RejectsBadArguments) {
  using P = ccPelMedianParams;
  using L = ccPair<long>;
  for (const L& size : {L(4, 3), L(3, 183), L(-1, 3)}) EXPECT_THROW(P{size}, ccBadArgument);
  for (const L& range : {L(10, 5), L(0, 256), L(-1, 9)})
    EXPECT_THROW(P(L(3, 3), range), ccBadArgument);
  EXPECT_NO_THROW(P(L(181, 1)));
  ccPelBuffer<unsigned char> out, img(10, 10), far(ccPelRect(50, 50, 5, 5)), small(9, 10);
  EXPECT_THROW(cfPelMedian(ccPelBuffer<unsigned char>(), P(), out), ccPel::UnboundWindow);
  EXPECT_THROW(cfPelMedian(ccPelBuffer<unsigned char>(0, 4), P(), out), ccPel::BadWindow);
  EXPECT_THROW(cfPelMedian(img, far, P(), out), ccBadArgument);
  EXPECT_THROW(cfPelMedian(img, P(), small), ccBadArgument);
}

}  // namespace
