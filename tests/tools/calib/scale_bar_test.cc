// SPDX-License-Identifier: Apache-2.0
// Scale bar below printed plate sheets: its length and ticks at the sheet's resolution, the
// sheet above it untouched.
#include "tools/calib/scale_bar.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/plate/plate_print.h"

namespace {

// Ink along row y between columns x0 and x1, in pixels (a fully black pixel counts 1).
double inkAlong(const ccPelBuffer_const<unsigned char>& image, long y, long x0, long x1) {
  double ink = 0.0;
  for (long x = x0; x < x1; ++x) ink += (255 - image.row(y)[x]) / 255.0;
  return ink;
}

// Dark runs (pixels below mid-grey) along row y.
int runsAlong(const ccPelBuffer_const<unsigned char>& image, long y) {
  int runs = 0;
  bool dark = false;
  for (long x = 0; x < image.width(); ++x) {
    const bool d = image.row(y)[x] < 128;
    runs += d && !dark;
    dark = d;
  }
  return runs;
}

TEST(ScaleBar, IsItsLengthAtTheSheetResolution) {
  using L = ccScaleBarLayout;
  EXPECT_EQ(cfScaleBarLength(200.0), 100.0);
  EXPECT_EQ(cfScaleBarLength(109.0), 50.0);
  EXPECT_EQ(cfScaleBarLength(12.0), 10.0);
  // 300 and 600 dpi; 7.3 pixels per millimetre puts the bar's ends inside pixels.
  for (double pxPerMm : {300.0 / 25.4, 600.0 / 25.4, 7.3}) {
    SCOPED_TRACE(pxPerMm);
    ccPelBuffer<unsigned char> sheet(static_cast<long>(std::lround(80.0 * pxPerMm)), 40);
    for (long y = 0; y < sheet.height(); ++y)
      for (long x = 0; x < sheet.width(); ++x)
        sheet.row(y)[x] = static_cast<unsigned char>((x * 7 + y) % 251);
    const ccPelBuffer<unsigned char> out = cfWithScaleBar(sheet, pxPerMm);
    ASSERT_EQ(out.width(), sheet.width());
    ASSERT_EQ(out.height(), sheet.height() + static_cast<long>(std::ceil(L::kHeight * pxPerMm)));
    for (long y = 0; y < sheet.height(); ++y)
      for (long x = 0; x < sheet.width(); ++x) ASSERT_EQ(out.row(y)[x], sheet.row(y)[x]);

    // Through the middle of the solid bar the ink adds up to 50 mm; between the short ticks
    // and the bar's top, every millimetre has its tick: 51 of them.
    const double barMiddle = sheet.height() + (L::kTop + L::kTick10Mm + 0.5 * L::kBar) * pxPerMm;
    EXPECT_NEAR(inkAlong(out, static_cast<long>(barMiddle), 0, out.width()), 50.0 * pxPerMm, 0.05);
    const double shortTicks =
        sheet.height() + (L::kTop + L::kTick10Mm - 0.5 * L::kTickMm) * pxPerMm;
    EXPECT_EQ(runsAlong(out, static_cast<long>(shortTicks)), 51);
    const double longTicks =
        sheet.height() + (L::kTop + 0.5 * (L::kTick10Mm - L::kTick5Mm)) * pxPerMm;
    EXPECT_EQ(runsAlong(out, static_cast<long>(longTicks)), 6);  // 0, 10, ..., 50 mm
  }
  EXPECT_THROW(cfWithScaleBar(ccPelBuffer<unsigned char>(10, 10), 1.5), ccBadArgument);
}

// A sheet narrower than the bar widens to hold it, filled with paper.
TEST(ScaleBar, WidensANarrowSheet) {
  const double pxPerMm = 10.0;
  ccPelBuffer<unsigned char> sheet(50, 30);  // 5 mm
  for (long y = 0; y < 30; ++y)
    std::fill(sheet.row(y), sheet.row(y) + 50, static_cast<unsigned char>(0));
  const ccPelBuffer<unsigned char> out = cfWithScaleBar(sheet, pxPerMm);
  ASSERT_EQ(out.width(), 200);  // 10 mm bar with 5 mm each side
  EXPECT_EQ(out.row(10)[49], 0);
  EXPECT_EQ(out.row(10)[50], 255);
  const long barMiddle =
      30 +
      static_cast<long>((ccScaleBarLayout::kTop + ccScaleBarLayout::kTick10Mm + 0.5) * pxPerMm);
  EXPECT_NEAR(inkAlong(out, barMiddle, 0, out.width()), 100.0, 0.05);
}

// The SVG sheet grows by the strip and keeps every shape of the plate; the bar is its length
// in millimetres with a tick per millimetre.
TEST(ScaleBar, SvgSheet) {
  const std::string plate = cfPlateSvg(cfDotPlate(12, 9, true), 5.0);  // 70 x 55 mm
  const std::string svg = cfSvgWithScaleBar(plate);
  auto count = [](const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
    return n;
  };
  const std::string height = std::to_string(static_cast<int>(55 + ccScaleBarLayout::kHeight));
  EXPECT_NE(
      svg.find("width=\"70mm\" height=\"" + height + "mm\" viewBox=\"0 0 70 " + height + "\""),
      std::string::npos);
  EXPECT_EQ(count(svg, "<circle"), count(plate, "<circle"));
  EXPECT_EQ(count(svg, "<svg"), 1);
  EXPECT_NE(svg.find("<rect x=\"5\" y=\"62.5\" width=\"50\" height=\"1\" fill=\"#000\"/>"),
            std::string::npos);
  EXPECT_EQ(count(svg, "width=\"0.2\""), 51);
  EXPECT_NE(svg.find(">50 mm</text>"), std::string::npos);
  EXPECT_THROW(cfSvgWithScaleBar("<svg width=\"1\"></svg>"), ccBadArgument);
}

}  // namespace
