// A printed scale bar below a raster plate sheet, to check after printing that the sheet came
// out at its true size. Header-only, beside the overlay canvas whose font it uses.
#ifndef TOOLS_CALIB_SCALE_BAR_H
#define TOOLS_CALIB_SCALE_BAR_H

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_buffer.h"
#include "tools/calib/overlay.h"

// Layout of the strip, millimetres.
struct ccScaleBarLayout {
  static constexpr double kSide = 5.0;        // paper left of the bar (and at least right of it)
  static constexpr double kTop = 4.0;         // paper between the sheet and the longest ticks
  static constexpr double kTickMm = 1.5;      // tick lengths: every millimetre,
  static constexpr double kTick5Mm = 2.5;     // every 5 mm,
  static constexpr double kTick10Mm = 3.5;    // every 10 mm
  static constexpr double kBar = 1.0;         // the solid bar under the ticks
  static constexpr double kLine = 0.2;        // tick width
  static constexpr double kTextGap = 1.5;     // between the bar and its label
  static constexpr double kTextHeight = 3.0;  // label height
  static constexpr double kBottom = 4.0;      // paper under the label
  static constexpr double kHeight = kTop + kTick10Mm + kBar + kTextGap + kTextHeight + kBottom;
};

// The length of the bar for a sheet `widthMm` wide: the longest of 100, 50, 20 and 10 mm
// that fits with the side margins, else 10 mm (the strip is then wider than the sheet).
inline double cfScaleBarLength(double widthMm) {
  for (double length : {100.0, 50.0, 20.0}) {
    if (length + 2.0 * ccScaleBarLayout::kSide <= widthMm) return length;
  }
  return 10.0;
}

// `sheet` with a strip of paper below it holding a scale bar at `pxPerMm` pixels per
// millimetre: a solid bar whose outer edges are cfScaleBarLength() millimetres apart, ticks
// every millimetre (longer every 5 and 10), and its length written under it ("50 MILLIMETRES").
// Edges are placed to a fraction of a pixel (partial coverage gives grey), so the bar's
// length is exact at any resolution. Ink 0, paper 255. Throws ccBadArgument for a
// resolution below 2 pixels per millimetre (the ticks would merge) or an empty sheet.
inline ccPelBuffer<unsigned char> cfWithScaleBar(const ccPelBuffer_const<unsigned char>& sheet, double pxPerMm) {
  using L = ccScaleBarLayout;
  if (!(pxPerMm >= 2.0) || !std::isfinite(pxPerMm)) {
    throw ccBadArgument(L"A scale bar needs at least 2 pixels per millimetre");
  }
  if (!sheet.isBound() || sheet.width() <= 0 || sheet.height() <= 0) throw ccBadArgument(L"The sheet has no pixels");
  const double length = cfScaleBarLength(sheet.width() / pxPerMm);
  const long width = std::max(sheet.width(), static_cast<long>(std::ceil((length + 2.0 * L::kSide) * pxPerMm)));
  const long strip = static_cast<long>(std::ceil(L::kHeight * pxPerMm));
  ccPelBuffer<unsigned char> out(width, sheet.height() + strip);
  for (long y = 0; y < out.height(); ++y) {
    unsigned char* row = out.row(y);
    std::fill(row, row + width, static_cast<unsigned char>(255));
    if (y < sheet.height()) std::copy(sheet.row(y), sheet.row(y) + sheet.width(), row);
  }
  // Ink over the rectangle [x0, x1) x [y0, y1), millimetres from the strip's upper-left
  // corner, weighted by how much of each pixel it covers.
  const double top = static_cast<double>(sheet.height());
  auto ink = [&](double x0, double x1, double y0, double y1) {
    x0 *= pxPerMm, x1 *= pxPerMm, y0 = top + y0 * pxPerMm, y1 = top + y1 * pxPerMm;
    for (long y = static_cast<long>(std::floor(y0)); y < static_cast<long>(std::ceil(y1)); ++y) {
      const double cy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
      for (long x = static_cast<long>(std::floor(x0)); x < static_cast<long>(std::ceil(x1)); ++x) {
        if (x < 0 || x >= width || y < 0 || y >= out.height()) continue;
        const double cover = cy * (std::min<double>(x + 1, x1) - std::max<double>(x, x0));
        unsigned char& p = out.row(y)[x];
        p = static_cast<unsigned char>(std::lround(std::max(0.0, p - 255.0 * std::clamp(cover, 0.0, 1.0))));
      }
    }
  };
  const double left = L::kSide, barTop = L::kTop + L::kTick10Mm;
  ink(left, left + length, barTop, barTop + L::kBar);
  for (int mm = 0; mm <= static_cast<int>(length); ++mm) {
    const double tick = mm % 10 == 0 ? L::kTick10Mm : mm % 5 == 0 ? L::kTick5Mm : L::kTickMm;
    // The end ticks lie inside the bar's length, so that their outer edges are its ends.
    const double x = std::clamp(left + mm - 0.5 * L::kLine, left, left + length - L::kLine);
    ink(x, x + L::kLine, barTop - tick, barTop);
  }
  // The label, centred under the bar as far as the strip allows. The font has capitals only, so the unit is spelt out
  // ("MM" could be read as megametres) when there is room.
  const int scale = std::max(1, static_cast<int>(std::lround(L::kTextHeight * pxPerMm / ccOverlayCanvas::kGlyphHeight)));
  auto widthOf = [&](const std::string& t) {
    return (static_cast<double>(t.size()) * ccOverlayCanvas::kGlyphAdvance - 1.0) * scale;
  };
  std::string text = std::to_string(static_cast<int>(length)) + " MILLIMETRES";
  if (widthOf(text) > width) text = std::to_string(static_cast<int>(length)) + " MM";
  const double textWidth = widthOf(text);
  ccPelBuffer<unsigned char> label(width, static_cast<long>(std::ceil((L::kTextHeight + 1.0) * pxPerMm)));
  for (long y = 0; y < label.height(); ++y) std::fill(label.row(y), label.row(y) + width, static_cast<unsigned char>(255));
  ccOverlayCanvas canvas(label);
  const double textLeft = std::clamp((left + 0.5 * length) * pxPerMm - 0.5 * textWidth, 0.0, width - textWidth);
  canvas.text(ccVector<2>(textLeft, 0.0), text, ccRgb{0, 0, 0}, scale);
  const long textTop = out.height() - static_cast<long>(std::ceil((L::kTextHeight + L::kBottom) * pxPerMm));
  for (long y = 0; y < label.height() && textTop + y < out.height(); ++y) {
    for (long x = 0; x < width; ++x) {
      unsigned char& p = out.row(textTop + y)[x];
      p = std::min(p, canvas.image().pixel(x, y)[0]);
    }
  }
  return out;
}

#endif  // TOOLS_CALIB_SCALE_BAR_H
