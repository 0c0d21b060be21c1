// SPDX-License-Identifier: Apache-2.0
// Diagnostics records as files, for looking at what an operation recorded: each image as a
// PNG, each graphic list drawn over the image recorded before it, each text as a .txt file.
// Header-only so that every calib command can offer --diag.
#ifndef TOOLS_CALIB_DIAG_FILES_H
#define TOOLS_CALIB_DIAG_FILES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/foundation/diag.h"
#include "platform/foundation/graphics.h"
#include "platform/foundation/lines.h"
#include "tools/calib/overlay.h"
#include "tools/imageio/image_io.h"

inline ccRgb cfOverlayColour(const ccColor& c) {
  return ccRgb{c.r(), c.g(), c.b()};
}

// Draws the graphics that the canvas can show (point icons, texts, segments, circles and
// rectangles; other kinds are skipped). `imageFromList` maps the list's positions into the
// canvas image's pixel frame.
inline void cfDrawGraphics(ccOverlayCanvas& canvas, const ccGraphicList& list,
                           const ccXform<2>& imageFromList) {
  // Half length of a point icon's arms, pixels.
  constexpr double kIconArm = 3.0;
  auto finite = [](const ccVector<2>& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); };
  for (const ccGraphic& g : list) {
    const ccRgb colour = cfOverlayColour(g.props().color());
    const double width = std::max(1, g.props().lineWidth());
    if (const auto* icon = dynamic_cast<const ccGraphicPointIcon*>(&g)) {
      const ccVector<2> p = imageFromList.mapPoint(icon->point());
      if (finite(p)) canvas.cross(p, kIconArm, colour, width);
    } else if (const auto* text = dynamic_cast<const ccGraphicText*>(&g)) {
      const ccVector<2> p = imageFromList.mapPoint(text->position()) + text->pixelOffset();
      if (finite(p)) canvas.text(p, text->text(), colour);
    } else if (const auto* seg = dynamic_cast<const ccGraphicSimple<ccLineSeg>*>(&g)) {
      const ccVector<2> a = imageFromList.mapPoint(seg->shape().p1()),
                        b = imageFromList.mapPoint(seg->shape().p2());
      if (finite(a) && finite(b)) canvas.line(a, b, colour, width);
    } else if (const auto* circle = dynamic_cast<const ccGraphicSimple<ccCircle>*>(&g)) {
      const ccVector<2> c = imageFromList.mapPoint(circle->shape().center());
      const double r = imageFromList.mapVector(ccVector<2>(circle->shape().radius(), 0.0)).length();
      if (finite(c)) canvas.circle(c, r, colour, width);
    } else if (const auto* rect = dynamic_cast<const ccGraphicWithFill<ccRect, ccGenRect>*>(&g)) {
      const ccRect& r = rect->shape();
      const ccVector<2> corners[4] = {
          imageFromList.mapPoint(ccVector<2>(r.x(), r.y())),
          imageFromList.mapPoint(ccVector<2>(r.x() + r.width(), r.y())),
          imageFromList.mapPoint(ccVector<2>(r.x() + r.width(), r.y() + r.height())),
          imageFromList.mapPoint(ccVector<2>(r.x(), r.y() + r.height()))};
      for (int k = 0; k < 4; ++k)
        if (finite(corners[k]) && finite(corners[(k + 1) % 4]))
          canvas.line(corners[k], corners[(k + 1) % 4], colour, width);
    }
  }
}

// Writes every record of `diag` into `dir` (created when missing), numbered in record order:
// "NN-label.png" for an image, and for a graphic list the last image before it with the list
// drawn on; "NN-label.txt" for a text. Returns the number of files written. Throws
// ccImageFileError or std::filesystem::filesystem_error when a file cannot be written.
inline int cfWriteDiagFiles(const ccDiagObject& diag, const std::string& dir) {
  std::filesystem::create_directories(dir);
  auto fileName = [&dir](std::size_t index, const std::string& label, const char* extension) {
    std::string safe;
    for (char c : label)
      safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.') ? c : '_';
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02zu-", index);
    return (std::filesystem::path(dir) / (prefix + safe + extension)).string();
  };
  int written = 0;
  ccPelBuffer_const<unsigned char> lastImage;
  for (std::size_t i = 0; i < diag.size(); ++i) {
    const ccDiagRecord& record = diag.record(i);
    if (record.hasImage()) lastImage = record.image();
    if (record.hasImage() || (!record.sketches().empty() && lastImage.isBound())) {
      ccOverlayCanvas canvas(lastImage);
      for (const ccDiagRecord::Sketch& s : record.sketches()) {
        const ccXform<2> imageFromList = s.coordinateSystem == ccDiagDefs::eClientCoords
                                             ? lastImage.imageFromClientXform()
                                             : ccXform<2>();
        cfDrawGraphics(canvas, s.graphics, imageFromList);
      }
      canvas.write(fileName(i, record.label(), ".png"));
      ++written;
    }
    if (!record.text().empty()) {
      std::ofstream out(fileName(i, record.label(), ".txt"));
      out << record.text();
      if (!out)
        throw ccImageFileError(cfWiden("cannot write " + fileName(i, record.label(), ".txt")));
      ++written;
    }
  }
  return written;
}

#endif  // TOOLS_CALIB_DIAG_FILES_H
