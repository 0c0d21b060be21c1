// SPDX-License-Identifier: Apache-2.0
// Printable plates: SVG from the plate's painter's list, rasters through the renderer with
// a scaling camera.
#include "tools/plate/plate_print.h"

#include <cmath>
#include <cstdio>

namespace {

// Supersampling of printable rasters, samples per pixel along each axis.
constexpr int kRasterSupersample = 4;
// Largest raster, pixels.
constexpr double kMaxRasterPixels = 268435456.0;

// Millimetres with at most four decimals, trailing zeros dropped.
std::string mm(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  std::string s(buf);
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

template <class Plate>
std::string svg(const Plate& plate, double pitchMm, const std::string& description) {
  cfCheckPlate(plate);
  if (!(pitchMm > 0.0) || !std::isfinite(pitchMm))
    throw ccBadArgument(L"The plate pitch must be positive");
  const ccRect paper = cfPaperRegion(plate);
  const std::string w = mm(paper.width() * pitchMm), h = mm(paper.height() * pitchMm);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "mm\" height=\"" + h +
         "mm\" viewBox=\"0 0 " + w + " " + h + "\">\n";
  out += "<!-- " + description + ", pitch " + mm(pitchMm) + " mm; units are millimetres -->\n";
  out += "<rect x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\" fill=\"#fff\"/>\n";
  for (const ccPlateShape& s : cfPlateShapes(plate)) {
    const char* fill = s.ink ? "#000" : "#fff";
    if (s.kind == ccPlateShape::eDisc) {
      out += "<circle cx=\"" + mm((s.centre.x() - paper.x()) * pitchMm) + "\" cy=\"" +
             mm((s.centre.y() - paper.y()) * pitchMm) + "\" r=\"" + mm(s.radius * pitchMm) +
             "\" fill=\"" + fill + "\"/>\n";
    } else {
      out += "<rect x=\"" + mm((s.rect.x() - paper.x()) * pitchMm) + "\" y=\"" +
             mm((s.rect.y() - paper.y()) * pitchMm) + "\" width=\"" + mm(s.rect.width() * pitchMm) +
             "\" height=\"" + mm(s.rect.height() * pitchMm) + "\" fill=\"" + fill + "\"/>\n";
    }
  }
  out += "</svg>\n";
  return out;
}

template <class Plate>
ccPelBuffer<unsigned char> raster(const Plate& plate, double pxPerPitch) {
  cfCheckPlate(plate);
  if (!(pxPerPitch > 0.0) || !std::isfinite(pxPerPitch))
    throw ccBadArgument(L"The raster scale must be positive");
  const ccRect paper = cfPaperRegion(plate);
  const double w = std::max(1.0, std::round(paper.width() * pxPerPitch));
  const double h = std::max(1.0, std::round(paper.height() * pxPerPitch));
  if (w * h > kMaxRasterPixels) throw ccBadArgument(L"The plate raster would exceed 2^28 pixels");
  // Paper corner on the outer edge of pixel (0, 0), i.e. at (-0.5, -0.5).
  const ccPlateCamera camera(
      ccXform<2>(ccMatrix<2>(pxPerPitch, 0, 0, pxPerPitch),
                 ccVector<2>(-paper.x() * pxPerPitch - 0.5, -paper.y() * pxPerPitch - 0.5)));
  ccPlateRenderParams params;
  params.width = static_cast<long>(w);
  params.height = static_cast<long>(h);
  params.supersample = kRasterSupersample;
  params.lightLevel = 255.0;
  params.darkLevel = 0.0;
  return cfRenderPlate(plate, camera, params).image;
}

}  // namespace

std::string cfPlateSvg(const ccDotPlate& plate, double pitchMm) {
  std::string what = "dot calibration plate: " + std::to_string(plate.cols) + " x " +
                     std::to_string(plate.rows) + " dots";
  if (plate.marker) {
    what += ", marker at cell (" + std::to_string(plate.markerCell.x()) + ", " +
            std::to_string(plate.markerCell.y()) + ")";
  }
  return svg(plate, pitchMm, what);
}

std::string cfPlateSvg(const ccCheckerPlate& plate, double pitchMm) {
  std::string what = "checkerboard calibration plate: " + std::to_string(plate.cols) + " x " +
                     std::to_string(plate.rows) + " squares";
  if (plate.fiducial) what += ", fiducial at vertex (-2, -2)";
  return svg(plate, pitchMm, what);
}

ccPelBuffer<unsigned char> cfPlateRaster(const ccDotPlate& plate, double pxPerPitch) {
  return raster(plate, pxPerPitch);
}
ccPelBuffer<unsigned char> cfPlateRaster(const ccCheckerPlate& plate, double pxPerPitch) {
  return raster(plate, pxPerPitch);
}
