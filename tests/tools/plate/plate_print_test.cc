// SPDX-License-Identifier: Apache-2.0
// Printable plates: the SVG is sized in millimetres and the raster spans the sheet.
#include "tools/plate/plate_print.h"

#include <gtest/gtest.h>

namespace {

long countOf(const std::string& s, const std::string& what) {
  long n = 0;
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

TEST(PlatePrint, SvgAndRasterShowTheLayout) {
  const ccDotPlate dots = cfDotPlate(5, 4, true);
  const std::string svg = cfPlateSvg(dots, 12.0);
  EXPECT_NE(svg.find("width=\"84mm\" height=\"72mm\""),
            std::string::npos);  // (4 + 3) x (3 + 3) pitches
  EXPECT_NE(svg.find("<circle cx=\"18\" cy=\"18\" r=\"3\""), std::string::npos);  // dot (0, 0)
  EXPECT_EQ(countOf(svg, "<circle"), 20);
  EXPECT_EQ(countOf(svg, "<rect"), 3);  // paper and two marker bars
  EXPECT_THROW(cfPlateSvg(dots, 0.0), ccBadArgument);

  const ccCheckerPlate board = cfCheckerPlate(4, 3, false);
  const ccPelBuffer<unsigned char> image = cfPlateRaster(board, 10.0);
  ASSERT_EQ(image.width(), 70);  // 4 squares + 2 margin + 1 paper
  ASSERT_EQ(image.height(), 60);
  EXPECT_EQ(image.at(2, 2), 255);    // paper
  EXPECT_EQ(image.at(10, 10), 0);    // margin
  EXPECT_EQ(image.at(20, 20), 0);    // square (-2, -1): dark
  EXPECT_EQ(image.at(30, 20), 255);  // square (-1, -1): light
}

}  // namespace
