// SPDX-License-Identifier: Apache-2.0
// Overlay canvas: sub-pixel placement in the grey image's frame, anti-aliasing, clipping
// and the bitmap font.
#include "tools/calib/overlay.h"

#include <gtest/gtest.h>

namespace {

bool isGrey(const ccOverlayCanvas& c, long x, long y) {
  const unsigned char* p = c.image().pixel(x, y);
  return p[0] == p[1] && p[1] == p[2];
}

TEST(OverlayCanvas, DrawsWhereTheImageFrameSays) {
  ccPelBuffer<unsigned char> grey(ccPelRect(100, 50, 60, 40));  // window offset (100, 50)
  ccOverlayCanvas c(grey);
  ASSERT_EQ(c.image().width(), 60);

  // A horizontal line through pixel centres colours one row fully; halfway between two rows
  // it colours both by half.
  c.line(ccVector<2>(105, 55), ccVector<2>(130, 55), kOverlayWhite);
  EXPECT_EQ(c.image().pixel(15, 5)[0], 255);
  EXPECT_TRUE(isGrey(c, 15, 4) && c.image().pixel(15, 4)[0] == 0);
  c.line(ccVector<2>(105, 60.5), ccVector<2>(130, 60.5), kOverlayWhite);
  EXPECT_NEAR(c.image().pixel(15, 10)[0], 128, 1);
  EXPECT_NEAR(c.image().pixel(15, 11)[0], 128, 1);

  // A circle colours its rim, not its centre; a steep line covers every row it crosses.
  c.circle(ccVector<2>(140, 70), 6.0, kOverlayGreen);
  EXPECT_EQ(c.image().pixel(46, 20)[1], 220);
  EXPECT_EQ(c.image().pixel(40, 14)[1], 220);
  EXPECT_TRUE(isGrey(c, 40, 20));
  c.line(ccVector<2>(103, 52), ccVector<2>(106, 85), kOverlayRed);
  for (long y = 3; y <= 34; ++y) EXPECT_FALSE(isGrey(c, 3 + (y - 2) * 3 / 33, y)) << "row " << y;

  // Shapes reaching outside the canvas are clipped, not a memory fault.
  c.line(ccVector<2>(-1000, -20), ccVector<2>(1000, 400), kOverlayBlue, 3);
  c.circle(ccVector<2>(100, 50), 30, kOverlayBlue, 2);
  c.cross(ccVector<2>(161, 91), 10, kOverlayBlue);
}

TEST(OverlayCanvas, TextUsesTheBitmapFont) {
  ccPelBuffer<unsigned char> grey(40, 20);
  ccOverlayCanvas c(grey);
  c.text(ccVector<2>(1, 2), "1-", kOverlayYellow, 2);
  auto lit = [&](long x, long y) { return !isGrey(c, x, y); };
  // '1' is rows 0x04 0x0C 0x04 0x04 0x04 0x04 0x0E; at scale 2 its stem is columns 5-6.
  EXPECT_TRUE(lit(5, 2) && lit(6, 15) && !lit(4, 2) && lit(3, 4) && lit(3, 14) && !lit(1, 14) &&
              !lit(4, 12));
  // '-' is one bar in row 3: pixels 7-8 of the 12-pixel-wide second cell.
  EXPECT_TRUE(lit(13, 8) && lit(22, 9) && !lit(13, 7) && !lit(13, 10));
  long count = 0;
  for (long y = 0; y < 20; ++y)
    for (long x = 0; x < 40; ++x) count += lit(x, y);
  EXPECT_EQ(count, 4 * (1 + 2 + 1 + 1 + 1 + 1 + 3) + 4 * 5);
}

}  // namespace
