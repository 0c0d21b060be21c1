// SPDX-License-Identifier: Apache-2.0
// calib plate: writes a calibration plate to print, with exactly the layout the library
// is built to find.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/calib/args.h"
#include "tools/calib/commands.h"
#include "tools/calib/scale_bar.h"
#include "tools/imageio/image_io.h"
#include "tools/plate/plate_print.h"

namespace {

const char kHelp[] =
    "usage: calib plate dots|checker --rows R --cols C [--marker] [--fiducial]\n"
    "                   [--pitch-mm P] --out FILE.svg|FILE.png [--dpi D | --px-per-pitch N]\n"
    "                   [--no-scale-bar]\n"
    "\n"
    "Writes a printable calibration plate.\n"
    "  dots       R x C dots of diameter half the pitch; --marker adds the two-bar marker in\n"
    "             the cell nearest the grid centre. One pitch of plain ground surrounds the dots.\n"
    "  checker    R x C squares inside a dark margin one square wide; --fiducial adds the\n"
    "             two-bar fiducial that fixes the label origin (needs R >= 8, C >= 9).\n"
    "Options:\n"
    "  --pitch-mm P        grid pitch (dot spacing or square size) in millimetres (default 10)\n"
    "  --out FILE          .svg: vector drawing sized in millimetres (print at 100 %);\n"
    "                      .png (or .pgm): raster image, ink 0 and paper 255\n"
    "  --dpi D             raster resolution in dots per inch (default 300)\n"
    "  --px-per-pitch N    raster resolution as pixels per pitch (instead of --dpi)\n"
    "  --no-scale-bar      leave out the scale bar\n"
    "\n"
    "A raster sheet records its resolution (PNG pHYs chunk, JPEG density), so that printing it\n"
    "at 100 % (no 'fit to page') gives the plate its true size. Every sheet carries a scale bar\n"
    "below the plate (100, 50, 20 or 10 mm between the outer edges of its end ticks, ticks every\n"
    "millimetre): measure it on the print to check the scale.\n";

constexpr double kDefaultPitchMm = 10.0;
constexpr double kDefaultDpi = 300.0;
constexpr double kMmPerInch = 25.4;

bool endsWith(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  std::string end = s.substr(s.size() - tail.size());
  for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == tail;
}

template <class Plate>
void write(const Plate& plate, const ccCommandArgs& args, const std::string& out, double pitchMm) {
  if (endsWith(out, ".svg")) {
    const std::string svg = args.flag("no-scale-bar")
                                ? cfPlateSvg(plate, pitchMm)
                                : cfSvgWithScaleBar(cfPlateSvg(plate, pitchMm));
    std::FILE* f = std::fopen(out.c_str(), "wb");
    bool ok = f && std::fwrite(svg.data(), 1, svg.size(), f) == svg.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    if (!ok) throw ccImageFileError(cfWiden("Cannot write '" + out + "': " + std::strerror(errno)));
    const ccRect paper = cfPaperRegion(plate);
    std::printf("wrote %s: plate sheet %.1f x %.1f mm, pitch %g mm", out.c_str(),
                paper.width() * pitchMm, paper.height() * pitchMm, pitchMm);
    if (!args.flag("no-scale-bar"))
      std::printf(", scale bar %g mm below", cfScaleBarLength(paper.width() * pitchMm));
    std::printf("\n");
    return;
  }
  if (args.has("dpi") && args.has("px-per-pitch"))
    throw ccUsageError("give --dpi or --px-per-pitch, not both");
  const double pxPerPitch = args.has("px-per-pitch")
                                ? args.number("px-per-pitch", 0.0)
                                : args.number("dpi", kDefaultDpi) * pitchMm / kMmPerInch;
  if (!(pxPerPitch > 0.0)) throw ccUsageError("the raster resolution must be positive");
  const double pxPerMm = pxPerPitch / pitchMm;
  const bool scaleBar = !args.flag("no-scale-bar");
  if (scaleBar && pxPerMm < 2.0) {
    throw ccUsageError(
        "a scale bar needs at least 2 pixels per millimetre (51 dpi); raise --dpi or give "
        "--no-scale-bar");
  }
  ccPelBuffer<unsigned char> image = cfPlateRaster(plate, pxPerPitch);
  if (scaleBar) image = cfWithScaleBar(image, pxPerMm);
  ccImageWriteOptions options;
  options.pixelsPerMetre = pxPerMm * 1000.0;
  cfWriteImage(out, image, options);
  std::printf("wrote %s: %ld x %ld pixels, %.3f pixels per pitch, %.2f dpi (%.1f x %.1f mm)",
              out.c_str(), image.width(), image.height(), pxPerPitch, pxPerMm * kMmPerInch,
              image.width() / pxPerMm, image.height() / pxPerMm);
  if (scaleBar)
    std::printf(", scale bar %g mm", cfScaleBarLength(cfPaperRegion(plate).width() * pitchMm));
  std::printf("\n");
}

}  // namespace

int cfCalibPlate(const std::vector<std::string>& words) {
  const ccCommandArgs args(words, {{"rows", true},
                                   {"cols", true},
                                   {"marker", false},
                                   {"fiducial", false},
                                   {"pitch-mm", true},
                                   {"out", true},
                                   {"dpi", true},
                                   {"px-per-pitch", true},
                                   {"no-scale-bar", false}});
  if (args.help()) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (args.positional().size() != 1) throw ccUsageError("give the plate kind: dots or checker");
  const std::string kind = args.positional()[0];
  if (!args.has("rows") || !args.has("cols")) throw ccUsageError("--rows and --cols are required");
  if (!args.has("out")) throw ccUsageError("--out is required");
  const long rows = args.integer("rows", 0), cols = args.integer("cols", 0);
  const double pitchMm = args.number("pitch-mm", kDefaultPitchMm);
  if (!(pitchMm > 0.0)) throw ccUsageError("--pitch-mm must be positive");
  if (kind == "dots") {
    if (args.flag("fiducial")) throw ccUsageError("--fiducial belongs to checker plates");
    write(cfDotPlate(cols, rows, args.flag("marker")), args, args.text("out"), pitchMm);
  } else if (kind == "checker") {
    if (args.flag("marker")) throw ccUsageError("--marker belongs to dot plates");
    write(cfCheckerPlate(cols, rows, args.flag("fiducial")), args, args.text("out"), pitchMm);
  } else {
    throw ccUsageError("unknown plate kind '" + kind + "' (dots or checker)");
  }
  return 0;
}
