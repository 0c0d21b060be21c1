// SPDX-License-Identifier: Apache-2.0
// A printed scale bar below a raster plate sheet, to check after printing that the sheet came
// out at its true size. Header-only, beside the overlay canvas whose font it uses.
#ifndef TOOLS_CALIB_SCALE_BAR_H
#define TOOLS_CALIB_SCALE_BAR_H

#include <algorithm>
#include <cmath>
#include <cstdio>
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
inline ccPelBuffer<unsigned char> cfWithScaleBar(const ccPelBuffer_const<unsigned char>& sheet,
                                                 double pxPerMm) {
  using L = ccScaleBarLayout;
  if (!(pxPerMm >= 2.0) || !std::isfinite(pxPerMm)) {
    throw ccBadArgument(L"A scale bar needs at least 2 pixels per millimetre");
  }
  if (!sheet.isBound() || sheet.width() <= 0 || sheet.height() <= 0)
    throw ccBadArgument(L"The sheet has no pixels");
  const double length = cfScaleBarLength(sheet.width() / pxPerMm);
  const long width =
      std::max(sheet.width(), static_cast<long>(std::ceil((length + 2.0 * L::kSide) * pxPerMm)));
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
        p = static_cast<unsigned char>(
            std::lround(std::max(0.0, p - 255.0 * std::clamp(cover, 0.0, 1.0))));
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
  // The label, centred under the bar as far as the strip allows. The font has capitals only, so the
  // unit is spelt out
  // ("MM" could be read as megametres) when there is room.
  const int scale = std::max(
      1, static_cast<int>(std::lround(L::kTextHeight * pxPerMm / ccOverlayCanvas::kGlyphHeight)));
  auto widthOf = [&](const std::string& t) {
    return (static_cast<double>(t.size()) * ccOverlayCanvas::kGlyphAdvance - 1.0) * scale;
  };
  std::string text = std::to_string(static_cast<int>(length)) + " MILLIMETRES";
  if (widthOf(text) > width) text = std::to_string(static_cast<int>(length)) + " MM";
  const double textWidth = widthOf(text);
  ccPelBuffer<unsigned char> label(width,
                                   static_cast<long>(std::ceil((L::kTextHeight + 1.0) * pxPerMm)));
  for (long y = 0; y < label.height(); ++y)
    std::fill(label.row(y), label.row(y) + width, static_cast<unsigned char>(255));
  ccOverlayCanvas canvas(label);
  const double textLeft =
      std::clamp((left + 0.5 * length) * pxPerMm - 0.5 * textWidth, 0.0, width - textWidth);
  canvas.text(ccVector<2>(textLeft, 0.0), text, ccRgb{0, 0, 0}, scale);
  const long textTop =
      out.height() - static_cast<long>(std::ceil((L::kTextHeight + L::kBottom) * pxPerMm));
  for (long y = 0; y < label.height() && textTop + y < out.height(); ++y) {
    for (long x = 0; x < width; ++x) {
      unsigned char& p = out.row(textTop + y)[x];
      p = std::min(p, canvas.image().pixel(x, y)[0]);
    }
  }
  return out;
}

// An SVG sheet (as cfPlateSvg writes it: width and height in millimetres, a viewBox in
// millimetres from (0, 0)) with the same scale bar below it, its label in the viewer's sans
// serif font. Throws ccBadArgument when the document does not have that form.
inline std::string cfSvgWithScaleBar(const std::string& svg) {
  using L = ccScaleBarLayout;
  const std::size_t open = svg.find("<svg ");
  const std::size_t box = svg.find("viewBox=\"0 0 ", open);
  const std::size_t end = svg.rfind("</svg>");
  if (open == std::string::npos || box == std::string::npos || end == std::string::npos) {
    throw ccBadArgument(L"Not a plate sheet in millimetres");
  }
  const std::size_t boxEnd = svg.find('"', box + 9);
  double widthMm = 0.0, heightMm = 0.0;
  if (std::sscanf(svg.substr(box + 13, boxEnd - box - 13).c_str(), "%lf %lf", &widthMm,
                  &heightMm) != 2 ||
      !(widthMm > 0.0) || !(heightMm > 0.0)) {
    throw ccBadArgument(L"Not a plate sheet in millimetres");
  }
  const double length = cfScaleBarLength(widthMm);
  const double width = std::max(widthMm, length + 2.0 * L::kSide), height = heightMm + L::kHeight;
  auto num = [](double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", v);
    std::string t(buf);
    t.erase(t.find_last_not_of('0') + 1);
    if (t.back() == '.') t.pop_back();
    return t;
  };
  const std::string header = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) +
                             "mm\" height=\"" + num(height) + "mm\" viewBox=\"0 0 " + num(width) +
                             " " + num(height) + "\">";
  std::string bar = "<rect x=\"0\" y=\"" + num(heightMm) + "\" width=\"" + num(width) +
                    "\" height=\"" + num(L::kHeight) + "\" fill=\"#fff\"/>\n";
  if (width > widthMm) {
    bar += "<rect x=\"" + num(widthMm) + "\" y=\"0\" width=\"" + num(width - widthMm) +
           "\" height=\"" + num(heightMm) + "\" fill=\"#fff\"/>\n";
  }
  const double barTop = heightMm + L::kTop + L::kTick10Mm;
  bar += "<!-- scale bar: " + num(length) + " mm between the outer edges of its end ticks -->\n";
  bar += "<rect x=\"" + num(L::kSide) + "\" y=\"" + num(barTop) + "\" width=\"" + num(length) +
         "\" height=\"" + num(L::kBar) + "\" fill=\"#000\"/>\n";
  for (int mm = 0; mm <= static_cast<int>(length); ++mm) {
    const double tick = mm % 10 == 0 ? L::kTick10Mm : mm % 5 == 0 ? L::kTick5Mm : L::kTickMm;
    const double x =
        std::clamp(L::kSide + mm - 0.5 * L::kLine, L::kSide, L::kSide + length - L::kLine);
    bar += "<rect x=\"" + num(x) + "\" y=\"" + num(barTop - tick) + "\" width=\"" + num(L::kLine) +
           "\" height=\"" + num(tick) + "\" fill=\"#000\"/>\n";
  }
  bar += "<text x=\"" + num(L::kSide + 0.5 * length) + "\" y=\"" +
         num(barTop + L::kBar + L::kTextGap + L::kTextHeight) +
         "\" font-family=\"sans-serif\" font-size=\"" + num(L::kTextHeight * 1.4) +
         "\" text-anchor=\"middle\">" + num(length) + " mm</text>\n";
  const std::size_t openEnd = svg.find('>', open);
  return svg.substr(0, open) + header + svg.substr(openEnd + 1, end - openEnd - 1) + bar +
         svg.substr(end);
}

#endif  // TOOLS_CALIB_SCALE_BAR_H
