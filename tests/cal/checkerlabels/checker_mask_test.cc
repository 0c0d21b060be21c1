// SPDX-License-Identifier: Apache-2.0
// The board mask, the median window derived from it and the flattened image.
#include <gtest/gtest.h>

#include <cmath>

#include "cal/checkerlabels/checker_labels.h"
#include "platform/foundation/pel_ops.h"
#include "tests/support/checker_mesh.h"

namespace {

TEST(CheckerMask, HullOfTheWellLinkedCornersOverTheirPixelBox) {
  // A 5 x 4 mesh, 20 px apart from (40 - 1e-12 * 40, 30): its left column sits a hair below
  // the integer 40, and the tolerant floor still puts it in pixel column 40.
  const double x0 = 40.0 - 1e-12 * 40.0;
  ccTestMesh mesh(0, 4, 0, 3, ccXform<2>(ccMatrix<2>(20, 0, 0, 20), ccVector<2>(x0, 30)));
  mesh.at(4, 3).valid = false;  // left out: the box and the hull stop short of it
  ccPelBuffer<unsigned char> mask;
  unsigned long count = 0;
  cfCheckerCreateMask(mesh.corners, mask, count);
  // The four corners have 2 links only; (3, 3) and (4, 2) lose their link to (4, 3) but keep 3.
  EXPECT_EQ(count, 20u - 1u - 3u);
  ASSERT_TRUE(mask.isBound());
  EXPECT_EQ(mask.window(), ccPelRect(40, 30, 81, 61));
  EXPECT_EQ(mask.at(60, 50), 255);
  EXPECT_EQ(mask.at(40, 50), 255);  // on the hull's left edge
  EXPECT_EQ(mask.at(41, 31), 0);    // the (0, 0) corner is not in the hull
  EXPECT_EQ(mask.at(119, 89), 0);

  for (cc_Corner& c : mesh.corners)
    if (c.linked.size() > 2) c.valid = false;
  cfCheckerCreateMask(mesh.corners, mask, count);
  EXPECT_FALSE(mask.isBound());
  EXPECT_EQ(count, 0u);
}

TEST(CheckerMedianSize, FivePitchesOddAndCapped) {
  EXPECT_EQ(cfCheckerMedianSize(ccPelRect(0, 0, 640, 480), 300), ccPair<long>(161, 161));
  EXPECT_EQ(cfCheckerMedianSize(ccPelRect(7, 9, 100, 100), 4), ccPair<long>(181, 181));
  EXPECT_EQ(cfCheckerMedianSize(ccPelRect(0, 0, 5000, 4000), 2), ccPair<long>(181, 181));
  EXPECT_EQ(cfCheckerMedianSize(ccPelRect(0, 0, 40, 40), 16), ccPair<long>(51, 51));
}

// A slow brightness ramp with small bright squares on it.
ccPelBuffer<unsigned char> rampWithSquares() {
  ccPelBuffer<unsigned char> img(ccPelRect(10, 20, 200, 120));
  for (long y = 20; y < 140; ++y)
    for (long x = 10; x < 210; ++x) {
      const bool square = (x % 40) < 8 && (y % 40) < 8;
      img.at(x, y) = static_cast<unsigned char>(60 + x / 2 + (square ? 40 : 0));
    }
  return img;
}

TEST(CheckerFlatten, BackgroundComesOutMidGrey) {
  const ccPelBuffer<unsigned char> img = rampWithSquares();
  ccPelBuffer<unsigned char> mask(ccPelRect(30, 30, 150, 100));
  cfPelSet(mask, static_cast<unsigned char>(255));
  const ccPelBuffer<unsigned char> flat =
      cfCheckerFlattenBackground(img, mask, ccPair<long>(31, 31));
  EXPECT_EQ(flat.window(), ccPelRect(30, 30, 150, 100));
  // Away from the mask's border, where the window is cut and no longer centred on the ramp.
  for (long y = 45; y < 115; ++y)
    for (long x = 45; x < 165; ++x) {
      const bool square = (x % 40) < 8 && (y % 40) < 8;
      if (square)
        ASSERT_NEAR(flat.at(x, y), 168, 2) << x << "," << y;
      else
        ASSERT_NEAR(flat.at(x, y), 128, 1) << x << "," << y;
    }

  // A one-pixel median is the image itself: everything is mid grey.
  const ccPelBuffer<unsigned char> same =
      cfCheckerFlattenBackground(img, ccPelBuffer<unsigned char>(), {1, 1});
  EXPECT_EQ(same.window(), img.window());
  const std::vector<unsigned long> h = cfPelHistogram(same);
  EXPECT_EQ(h[128], static_cast<unsigned long>(200 * 120));
}

}  // namespace
