// SPDX-License-Identifier: Apache-2.0
// calib render: a synthetic photograph of a calibration plate through a known camera, with
// its exact ground truth as JSON — test input whose right answer is known.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "tools/calib/args.h"
#include "tools/calib/commands.h"
#include "tools/calib/json.h"
#include "tools/imageio/image_io.h"
#include "tools/plate/plate_render.h"

namespace {

const char kHelp[] =
    "usage: calib render dots|checker [options] --out IMAGE [--truth FILE.json]\n"
    "\n"
    "Renders a plate seen by a pinhole camera, anti-aliased by supersampling, then adds blur,\n"
    "lighting, noise and rounds to 8 bits. The truth file lists where every dot centre or\n"
    "checker vertex (and the marker or fiducial) lands, in pixels: the centre of pixel (x, y)\n"
    "is the point (x, y). Plate coordinates are in grid pitches.\n"
    "\n"
    "Plate:\n"
    "  --rows R --cols C      dots (default 17 x 23) or squares (default 10 x 14)\n"
    "  --marker               dots: add the two-bar marker (cell nearest the centre,\n"
    "  --marker-cell I,J        or this cell)\n"
    "  --fiducial             checker: add the fiducial (needs 8 x 9 squares or more)\n"
    "  --first-cell I,J       checker: index of the upper-left square\n"
    "  --margin M             checker: dark margin width in squares (default 1)\n"
    "Camera:\n"
    "  --width W --height H   image size in pixels (default 1280 x 960)\n"
    "  --fill F               the dot grid (or the board with its margin) spans F of the\n"
    "                         image in its tighter direction (default 0.9)\n"
    "  --tilt-x D --tilt-y D  plate tilt about its x and y axes, degrees (default 0)\n"
    "  --rotation D           in-plane rotation, degrees, clockwise on screen (default 0)\n"
    "  --fov D                field of view across the framed region, degrees (default 40);\n"
    "  --affine                 or no perspective at all\n"
    "  --k1 K --k2 K          radial distortion on the normalised radius (default 0)\n"
    "  --distortion-radius R  normalising radius in pixels (default half the image diagonal)\n"
    "  --distortion-centre X,Y  distortion centre (default the image centre)\n"
    "Image:\n"
    "  --supersample N        samples per pixel along each axis (default 4)\n"
    "  --blur S               Gaussian defocus blur sigma in pixels (default 0)\n"
    "  --noise S              Gaussian noise sigma in grey levels (default 0)\n"
    "  --seed N               noise seed (default 1)\n"
    "  --light L --dark D     grey levels of light and dark areas (default 200, 40)\n"
    "  --invert               light dots on dark ground; inverted checkerboard\n"
    "  --gradient GX,GY       lighting gain change per pixel about the centre (default 0,0)\n"
    "  --vignetting V         brightness lost at the corners, 0 to 1 (default 0)\n"
    "Output:\n"
    "  --out IMAGE            .png, .pgm or .jpg\n"
    "  --truth FILE           ground truth as JSON\n";

// Decimals of pixel and plate positions in the truth file.
constexpr int kPositionDecimals = 6;
// Defaults: image size (pixels), plate size (dots or squares, columns x rows), framing
// (fraction of the image) and field of view (degrees).
constexpr long kDefaultWidth = 1280;
constexpr long kDefaultHeight = 960;
constexpr long kDefaultDotCols = 23;
constexpr long kDefaultDotRows = 17;
constexpr long kDefaultCheckerCols = 14;
constexpr long kDefaultCheckerRows = 10;
constexpr double kDefaultFill = 0.9;
constexpr double kDefaultFieldOfViewDeg = 40.0;

ccPair<long> cell(const ccCommandArgs& args, const std::string& name,
                  const ccPair<long>& fallback) {
  if (!args.has(name)) return fallback;
  const ccVector<2> v = args.pair(name, ccVector<2>());
  if (v.x() != std::floor(v.x()) || v.y() != std::floor(v.y())) {
    throw ccUsageError("option '--" + name + "' needs two whole numbers as I,J");
  }
  return ccPair<long>(static_cast<long>(v.x()), static_cast<long>(v.y()));
}

void writeIndex(ccJsonWriter& json, const std::string& name, const ccPair<long>& index) {
  json.key(name).beginArray(true).value(index.x()).value(index.y()).endArray();
}

void writeVertex(ccJsonWriter& json, const ccPlateVertexTruth& v) {
  json.beginObject(true);
  writeIndex(json, "label", v.label);
  json.memberPoint("image", v.image.x(), v.image.y(), kPositionDecimals);
  json.member("inImage", v.inImage);
  json.endObject();
}

void writeTruth(const std::string& path, const std::string& kind, const std::string& imagePath,
                const ccPlateRenderParams& p, const ccPlateCamera& camera,
                const ccPlateTruth& truth, const ccDotPlate& dots, const ccCheckerPlate& board) {
  std::ofstream out(path);
  if (!out) throw ccImageFileError(cfWiden("Cannot write '" + path + "'"));
  ccJsonWriter json(out);
  json.beginObject();
  json.member("convention",
              "pixel (x, y) has its centre at (x, y); plate units are grid pitches; "
              "dot (i, j) and vertex (i, j) sit at plate point (i, j)");

  json.key("image").beginObject();
  json.member("file", imagePath);
  json.member("width", p.width);
  json.member("height", p.height);
  json.endObject();

  json.key("plate").beginObject();
  json.member("kind", kind);
  if (kind == "dots") {
    json.member("cols", dots.cols);
    json.member("rows", dots.rows);
    json.member("marker", dots.marker);
  } else {
    json.member("cols", board.cols);
    json.member("rows", board.rows);
    writeIndex(json, "firstCell", board.firstCell);
    json.member("margin", board.margin);
    json.member("fiducial", board.fiducial);
  }
  json.endObject();

  json.key("camera").beginObject();
  json.key("homography").beginArray(true);
  for (double h : camera.homography()) json.value(h, 12);
  json.endArray();
  if (camera.hasDistortion()) {
    json.key("distortion").beginObject(true);
    json.memberPoint("centre", camera.distortionCentre().x(), camera.distortionCentre().y());
    json.member("radius", camera.distortionRadius());
    json.member("k1", camera.k1(), 9);
    json.member("k2", camera.k2(), 9);
    json.endObject();
  } else {
    json.key("distortion").null();
  }
  json.endObject();

  json.key("render").beginObject();
  json.member("supersample", p.supersample);
  json.member("light", p.lightLevel);
  json.member("dark", p.darkLevel);
  json.member("invert", p.invert);
  json.member("blur", p.blurSigma);
  json.member("noise", p.noiseSigma);
  json.member("seed", p.seed);
  json.memberPoint("gradient", p.gradient.x(), p.gradient.y(), 9);
  json.member("vignetting", p.vignetting);
  json.endObject();

  if (kind == "dots") {
    json.key("dots").beginArray();
    for (const ccPlateDotTruth& d : truth.dots) {
      json.beginObject(true);
      writeIndex(json, "index", d.index);
      json.memberPoint("image", d.image.x(), d.image.y(), kPositionDecimals);
      json.member("inImage", d.inImage);
      json.endObject();
    }
    json.endArray();
    if (truth.hasMarker) {
      json.key("marker").beginObject();
      writeIndex(json, "cell", truth.markerCell);
      json.memberPoint("plate", truth.markerPlate.x(), truth.markerPlate.y(), kPositionDecimals);
      json.memberPoint("image", truth.markerImage.x(), truth.markerImage.y(), kPositionDecimals);
      json.endObject();
    }
  } else {
    json.key("vertices").beginArray();
    for (const ccPlateVertexTruth& v : truth.vertices) writeVertex(json, v);
    json.endArray();
    if (truth.hasFiducial) {
      json.key("fiducial").beginObject();
      json.memberPoint("plate", truth.fiducialPlate.x(), truth.fiducialPlate.y(),
                       kPositionDecimals);
      json.memberPoint("image", truth.fiducialImage.x(), truth.fiducialImage.y(),
                       kPositionDecimals);
      json.key("anchor");
      writeVertex(json, truth.anchor);
      json.key("secondAnchor");
      writeVertex(json, truth.secondAnchor);
      json.endObject();
    }
  }
  json.endObject();
  out.flush();
  if (!out) throw ccImageFileError(cfWiden("Cannot write '" + path + "'"));
}

// Mean image length of one grid pitch at the plate point seen at the image centre.
double pitchAtCentre(const ccPlateCamera& camera, long width, long height) {
  try {
    const ccVector<2> c = camera.plateFromImage(ccVector<2>(0.5 * (width - 1), 0.5 * (height - 1)));
    const ccVector<2> q = camera.imageFromPlate(c);
    return 0.5 * (q.distance(camera.imageFromPlate(c + ccVector<2>(1, 0))) +
                  q.distance(camera.imageFromPlate(c + ccVector<2>(0, 1))));
  } catch (const ccException&) {
    return std::numeric_limits<double>::quiet_NaN();
  }
}

}  // namespace

int cfCalibRender(const std::vector<std::string>& words) {
  const ccCommandArgs args(words, {{"rows", true},
                                   {"cols", true},
                                   {"marker", false},
                                   {"marker-cell", true},
                                   {"fiducial", false},
                                   {"first-cell", true},
                                   {"margin", true},
                                   {"width", true},
                                   {"height", true},
                                   {"fill", true},
                                   {"tilt-x", true},
                                   {"tilt-y", true},
                                   {"rotation", true},
                                   {"fov", true},
                                   {"affine", false},
                                   {"k1", true},
                                   {"k2", true},
                                   {"distortion-radius", true},
                                   {"distortion-centre", true},
                                   {"supersample", true},
                                   {"blur", true},
                                   {"noise", true},
                                   {"seed", true},
                                   {"light", true},
                                   {"dark", true},
                                   {"invert", false},
                                   {"gradient", true},
                                   {"vignetting", true},
                                   {"out", true},
                                   {"truth", true}});
  if (args.help()) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (args.positional().size() != 1) throw ccUsageError("give the plate kind: dots or checker");
  const std::string kind = args.positional()[0];
  if (kind != "dots" && kind != "checker")
    throw ccUsageError("unknown plate kind '" + kind + "' (dots or checker)");
  if (!args.has("out")) throw ccUsageError("--out is required");
  const bool isDots = kind == "dots";
  if (isDots && (args.has("fiducial") || args.has("first-cell") || args.has("margin"))) {
    throw ccUsageError("--fiducial, --first-cell and --margin belong to checker plates");
  }
  if (!isDots && (args.has("marker") || args.has("marker-cell"))) {
    throw ccUsageError("--marker and --marker-cell belong to dot plates");
  }

  ccPlateRenderParams p;
  p.width = args.integer("width", kDefaultWidth);
  p.height = args.integer("height", kDefaultHeight);
  p.supersample = static_cast<int>(args.integer("supersample", p.supersample));
  p.blurSigma = args.number("blur", 0.0);
  p.noiseSigma = args.number("noise", 0.0);
  const long seed = args.integer("seed", 1);
  if (seed < 0 || seed > 0xFFFFFFFFL) throw ccUsageError("--seed must be 0 to 4294967295");
  p.seed = static_cast<std::uint32_t>(seed);
  p.lightLevel = args.number("light", p.lightLevel);
  p.darkLevel = args.number("dark", p.darkLevel);
  p.invert = args.flag("invert");
  p.gradient = args.pair("gradient", ccVector<2>());
  p.vignetting = args.number("vignetting", 0.0);

  ccDotPlate dots;
  ccCheckerPlate board;
  ccRect region;
  if (isDots) {
    dots = cfDotPlate(args.integer("cols", kDefaultDotCols), args.integer("rows", kDefaultDotRows),
                      args.flag("marker") || args.has("marker-cell"));
    dots.markerCell = cell(args, "marker-cell", dots.markerCell);
    cfCheckPlate(dots);
    region = cfPatternRegion(dots);
  } else {
    board = cfCheckerPlate(args.integer("cols", kDefaultCheckerCols),
                           args.integer("rows", kDefaultCheckerRows), args.flag("fiducial"));
    board.firstCell = cell(args, "first-cell", board.firstCell);
    board.margin = args.number("margin", board.margin);
    cfCheckPlate(board);
    const double m = board.margin;
    region = cfPatternRegion(board).trim(-m, -m, -m, -m);
  }

  const double fill = args.number("fill", kDefaultFill);
  const double tiltX = args.number("tilt-x", 0.0), tiltY = args.number("tilt-y", 0.0);
  const double rotation = args.number("rotation", 0.0);
  ccPlateCamera camera =
      args.flag("affine")
          ? cfPlateCameraAffine(region, p.width, p.height, tiltX, tiltY, rotation, fill)
          : cfPlateCameraView(region, p.width, p.height, tiltX, tiltY, rotation, fill,
                              args.number("fov", kDefaultFieldOfViewDeg));
  const double k1 = args.number("k1", 0.0), k2 = args.number("k2", 0.0);
  if (k1 != 0.0 || k2 != 0.0) {
    const ccVector<2> centre =
        args.pair("distortion-centre", ccVector<2>(0.5 * (p.width - 1), 0.5 * (p.height - 1)));
    camera.distortion(
        centre,
        args.number("distortion-radius", 0.5 * std::hypot(double(p.width), double(p.height))), k1,
        k2);
  }

  const ccPlateRendering r =
      isDots ? cfRenderPlate(dots, camera, p) : cfRenderPlate(board, camera, p);
  const std::string out = args.text("out");
  cfWriteImage(out, r.image);
  if (args.has("truth")) writeTruth(args.text("truth"), kind, out, p, camera, r.truth, dots, board);

  std::printf("wrote %s: %ld x %ld pixels, grid pitch %.2f px at the image centre\n", out.c_str(),
              p.width, p.height, pitchAtCentre(camera, p.width, p.height));
  if (isDots) {
    long inside = 0;
    for (const ccPlateDotTruth& d : r.truth.dots) inside += d.inImage;
    std::printf("  %zu dots, %ld wholly inside the image", r.truth.dots.size(), inside);
    if (r.truth.hasMarker) {
      std::printf("; marker cell (%ld, %ld) at (%.3f, %.3f)", r.truth.markerCell.x(),
                  r.truth.markerCell.y(), r.truth.markerImage.x(), r.truth.markerImage.y());
    }
  } else {
    long inside = 0;
    for (const ccPlateVertexTruth& v : r.truth.vertices) inside += v.inImage;
    std::printf("  %zu vertices, %ld inside the image", r.truth.vertices.size(), inside);
    if (r.truth.hasFiducial) {
      std::printf("; fiducial crossing at (%.3f, %.3f), anchor (-2, -2) at (%.3f, %.3f)",
                  r.truth.fiducialImage.x(), r.truth.fiducialImage.y(), r.truth.anchor.image.x(),
                  r.truth.anchor.image.y());
    }
  }
  std::printf("\n");
  if (args.has("truth")) std::printf("wrote %s\n", args.text("truth").c_str());
  return 0;
}
