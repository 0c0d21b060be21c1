// SPDX-License-Identifier: Apache-2.0
// calib dots: the dot-grid calibration of one image, as a readable summary or as JSON,
// with an optional overlay picture of what was found. The robust run is the default; the
// plain run stays available for comparison.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "cal/calib/calibration_run.h"
#include "cal/calib/robust_dot_grid.h"
#include "platform/foundation/persistent.h"
#include "tools/calib/args.h"
#include "tools/calib/batch.h"
#include "tools/calib/commands.h"
#include "tools/calib/json.h"
#include "tools/calib/overlay.h"
#include "tools/calib/read_limits.h"
#include "tools/imageio/image_io.h"

namespace {

const char kHelp[] =
    "usage: calib dots IMAGE... --pitch PX[,PY] [--type linear|poly3|poly5]\n"
    "                  [--polarity any|normal|inverted] [--right-handed] [--ignore-grid-angle]\n"
    "                  [--algorithm robust|specified] [--rows R --cols C]\n"
    "                  [--json] [--overlay OUT.png] [--max-decoded-bytes N] [--max-file-bytes N]\n"
    "                  [--format text|jsonl|csv] [--jobs N] [-o FILE]\n"
    "\n"
    "Finds the dot grid (and the two-bar marker, if any) in IMAGE, gives every dot its label\n"
    "and plate position (label times the dot pitch: PX along plate X, PY along plate Y; PY\n"
    "defaults to PX), fits the image-to-plate transform and reports the residuals.\n"
    "\n"
    "  --type       transform to fit: linear (affine, default), poly3 or poly5\n"
    "  --polarity   dots darker than the ground (inverted), lighter (normal), or any (default)\n"
    "  --right-handed       plate Y grows against image y (default: with it)\n"
    "  --ignore-grid-angle  remove the grid's rotation from the transform\n"
    "  --algorithm  robust (default): finds plates in real scenes (part of the view, tilted,\n"
    "               turned, distorted, unevenly lit) and labels every dot from its\n"
    "               neighbours, anchored to the marker when there is one; specified: the\n"
    "               plain run, for plates that fill a well-lit view square on\n"
    "  --rows --cols  the plate's dots (rows along label y, columns along label x): the\n"
    "               dots found must span exactly that many, else the run fails\n"
    "  --json       print one JSON object instead of the summary\n"
    "  --overlay    write the image with the dots, their labels and the marker\n"
    "\n"
    "Labels: with the marker found, (0, 0) is the dot at the corner of the marker cell that\n"
    "both bars point away from, label x runs along bar 1 and label y along bar 2 (the plate's\n"
    "own cell indices, so they survive cropping). Without it, (0, 0) is the dot nearest the\n"
    "middle of the dots found, label x runs along the grid axis nearest image +x and label y\n"
    "along the other, towards image +y.\n";

const char kHelpEnd[] =
    "\n"
    "Exit status: 0 when the grid was calibrated, 1 when it was not, 2 for usage errors. With\n"
    "--json every failure is one JSON object too: {\"found\": false, \"error\": CLASS,\n"
    "\"message\": TEXT}.\n";

// Digits printed for image positions (pixels) and plate positions and residuals.
constexpr int kImageDecimals = 4;
constexpr int kPlateDecimals = 6;

ccCalibDefs::CalibType parseType(const std::string& s) {
  if (s == "linear") return ccCalibDefs::eGridLinear;
  if (s == "poly3") return ccCalibDefs::eGridPolynomialOrder3;
  if (s == "poly5") return ccCalibDefs::eGridPolynomialOrder5;
  throw ccUsageError("--type must be linear, poly3 or poly5, not '" + s + "'");
}

ccCalibDefs::Polarity parsePolarity(const std::string& s) {
  if (s == "any") return ccCalibDefs::ePolarityAny;
  if (s == "normal") return ccCalibDefs::ePolarityNormal;
  if (s == "inverted") return ccCalibDefs::ePolarityInverted;
  throw ccUsageError("--polarity must be any, normal or inverted, not '" + s + "'");
}

const char* polarityName(ccCalibDefs::Polarity p) {
  return p == ccCalibDefs::ePolarityInverted ? "inverted"
         : p == ccCalibDefs::ePolarityNormal ? "normal"
                                             : "any";
}

// Plate position of every dot: the fitted transform of its image point plus its residual.
std::vector<ccVector<2>> platePoints(const ccGridCalibResults& r) {
  const std::vector<ccVector<2>> image = r.imagePoints(), residual = r.residuals(true);
  std::vector<ccVector<2>> plate(image.size());
  for (std::size_t i = 0; i < image.size(); ++i) {
    plate[i] = r.clientFromImageXformBase()->mapPoint(image[i]) + residual[i];
  }
  return plate;
}

// What ran and what it found: the results, every dot's label (index-aligned with the image
// points) and where the labels start.
struct Calibration {
  bool robust = true;
  ccGridCalibResults results;
  std::vector<ccPair<long>> labels;
  std::string origin;
};

const char kMarkerOrigin[] = "marker cell corner (i0, j0); x along bar 1, y along bar 2";
const char kCentreOrigin[] =
    "dot nearest the middle of the dots; x nearest image +x, y nearest image +y";

// The plain run gives plate positions only; its labels are those positions in pitches.
std::vector<ccPair<long>> labelsFromPlate(const ccGridCalibResults& r) {
  const std::vector<ccVector<2>> plate = platePoints(r);
  const double ySign = r.params().isLeftHanded() ? 1.0 : -1.0;
  std::vector<ccPair<long>> labels;
  for (const ccVector<2>& p : plate) {
    labels.emplace_back(iRound(p.x() / r.params().gridPitchX()),
                        iRound(ySign * p.y() / r.params().gridPitchY()));
  }
  return labels;
}

// The columns and rows the labels span.
ccPair<long> span(const std::vector<ccPair<long>>& labels) {
  if (labels.empty()) return ccPair<long>(0, 0);
  long x0 = labels[0].x(), x1 = x0, y0 = labels[0].y(), y1 = y0;
  for (const ccPair<long>& l : labels) {
    x0 = std::min(x0, l.x());
    x1 = std::max(x1, l.x());
    y0 = std::min(y0, l.y());
    y1 = std::max(y1, l.y());
  }
  return ccPair<long>(x1 - x0 + 1, y1 - y0 + 1);
}

// The results as one JSON object; `indent` 0 puts it on one line, which then begins with
// the image's file name when `file` is given (a batch record).
void printJson(std::ostream& out, const Calibration& c, double ms, int indent = 2,
               const std::string* file = nullptr) {
  const ccGridCalibResults& r = c.results;
  ccJsonWriter json(out, indent);
  json.beginObject();
  if (file) json.member("file", *file);
  json.member("found", true);
  json.member("algorithm", std::string(c.robust ? "robust" : "specified"));
  json.key("time_ms").value(ms, 3);
  json.member("threshold", static_cast<int>(r.threshold()));
  json.member("polarity", std::string(polarityName(r.polarity())));
  json.key("marker").beginObject(true).member("found", r.isMarkerFound()).key("image");
  if (r.isMarkerFound()) {
    json.point(r.markerPointInImage().x(), r.markerPointInImage().y(), kImageDecimals);
  } else {
    json.null();
  }
  json.endObject();
  const ccXform<2>& x = r.clientFromImageXform();
  const ccMatrix<2>& m = x.matrix();
  json.key("linear").beginArray(true);
  json.beginArray(true)
      .value(m.element(0, 0), 12)
      .value(m.element(0, 1), 12)
      .value(x.trans().x(), 12)
      .endArray();
  json.beginArray(true)
      .value(m.element(1, 0), 12)
      .value(m.element(1, 1), 12)
      .value(x.trans().y(), 12)
      .endArray();
  json.endArray();
  json.key("max_residual").value(r.maximumResidual(), 9);
  json.key("average_residual").value(r.averageResidual(), 9);
  json.key("labels").beginObject(true).member("origin", c.origin);
  const ccPair<long> extent = span(c.labels);
  json.key("span").beginArray(true).value(extent.x()).value(extent.y()).endArray().endObject();
  json.key("dots").beginArray();
  const std::vector<ccVector<2>> image = r.imagePoints(), residual = r.residuals(true),
                                 plate = platePoints(r);
  for (std::size_t i = 0; i < image.size(); ++i) {
    json.beginObject(true);
    json.key("label").beginArray(true).value(c.labels[i].x()).value(c.labels[i].y()).endArray();
    json.key("image").point(image[i].x(), image[i].y(), kImageDecimals);
    json.key("plate").point(plate[i].x(), plate[i].y(), kPlateDecimals);
    json.key("residual").point(residual[i].x(), residual[i].y(), 9);
    json.endObject();
  }
  json.endArray();
  json.endObject();  // ends the line too when indented
  if (indent <= 0) out << '\n';
}

// Root mean square of the residual lengths, plate units.
double rmsResidual(const ccGridCalibResults& r) {
  const std::vector<ccVector<2>> residual = r.residuals(true);
  if (residual.empty()) return 0.0;
  double sum = 0.0;
  for (const ccVector<2>& e : residual) sum += e.lengthSq();
  return std::sqrt(sum / static_cast<double>(residual.size()));
}

std::string summary(const std::string& path, const Calibration& c, double ms) {
  const ccGridCalibResults& r = c.results;
  const ccXform<2>& x = r.clientFromImageXform();
  const ccPair<long> extent = span(c.labels);
  std::string s = cfFormat("%s: %zu dots found in %.2f ms (%s run)\n", path.c_str(),
                           r.imagePoints().size(), ms, c.robust ? "robust" : "specified");
  s += cfFormat("  labels span %ld columns x %ld rows; (0, 0) at the %s\n", extent.x(), extent.y(),
                c.origin.c_str());
  s += cfFormat("  threshold %d, polarity %s\n", static_cast<int>(r.threshold()),
                polarityName(r.polarity()));
  s += cfFormat("  plate from image (affine): [%.8g %.8g %.8g; %.8g %.8g %.8g]\n",
                x.matrix().element(0, 0), x.matrix().element(0, 1), x.trans().x(),
                x.matrix().element(1, 0), x.matrix().element(1, 1), x.trans().y());
  s += cfFormat("    scale %.8g x %.8g per pixel, rotation %.4f deg\n", x.xScale(), x.yScale(),
                x.rotation().toDouble() * 180.0 / ccPi);
  s += cfFormat("  residuals (%s): max %.6g, mean %.6g plate units\n",
                r.isLinear() ? "linear" : "polynomial", r.maximumResidual(), r.averageResidual());
  if (r.isMarkerFound()) {
    s += cfFormat("  marker at (%.3f, %.3f)\n", r.markerPointInImage().x(),
                  r.markerPointInImage().y());
  } else {
    s += cfFormat("  no marker\n");
  }
  return s;
}

void writeOverlay(const std::string& out, const ccPelBuffer_const<unsigned char>& image,
                  const Calibration& c) {
  const ccGridCalibResults& r = c.results;
  ccOverlayCanvas canvas(image);
  const std::vector<ccVector<2>> points = r.imagePoints();
  // Circle radius: a third of the typical dot spacing in the image.
  double spacing = 0.0;
  if (points.size() >= 2) {
    const ccXform<2> inv = r.clientFromImageXform().inverse();
    spacing = inv.mapVector(ccVector<2>(r.params().gridPitchX(), 0.0)).length();
  }
  const double radius = spacing > 0.0 ? spacing / 3.0 : 4.0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    canvas.circle(points[i], radius, kOverlayGreen);
    canvas.cross(points[i], 2.0, kOverlayGreen);
    std::ostringstream label;
    label << c.labels[i].x() << "," << c.labels[i].y();
    canvas.text(points[i] + ccVector<2>(radius * 0.5, radius * 0.5), label.str(), kOverlayYellow);
  }
  if (r.isMarkerFound())
    canvas.cross(r.markerPointInImage(), spacing > 0.0 ? spacing * 0.6 : 10.0, kOverlayRed, 2.0);
  canvas.write(out);
}

// The plate size, when given, must be what was found (either way round without a marker).
void checkPlateSize(const Calibration& c, long rows, long cols) {
  const ccPair<long> extent = span(c.labels);
  const bool sizeMatches = extent == ccPair<long>(cols, rows) ||
                           (!c.results.isMarkerFound() && extent == ccPair<long>(rows, cols));
  if (sizeMatches) return;
  throw ccFileFailure("PlateSizeMismatch", "the dots found span " + std::to_string(extent.x()) +
                                               " columns x " + std::to_string(extent.y()) +
                                               " rows, not the plate's " + std::to_string(cols) +
                                               " x " + std::to_string(rows));
}

// What the command line asked for, checked before any work.
struct DotsRequest {
  ccGridCalibParams params{1.0, 1.0};
  bool robust = true;
  long rows = 0, cols = 0;  // 0: plate size not given
  bool json = false;
  std::string overlay;
  ccImageReadLimits limits;
};

// Calibrates one image; `ms` is the time in the library. Throws what the library or the
// plate-size check throws.
Calibration run(const ccPelBuffer_const<unsigned char>& image, const DotsRequest& request,
                double& ms) {
  Calibration c;
  c.robust = request.robust;
  const auto start = std::chrono::steady_clock::now();
  if (c.robust) {
    ccRobustGridOptions options;
    options.rows = request.rows;
    options.cols = request.cols;
    cfCalibrationRunRobust(image, request.params, options, c.results, c.labels);
    c.origin = c.results.isMarkerFound() ? kMarkerOrigin : kCentreOrigin;
  } else {
    cfCalibrationRun(image, request.params, c.results);
    c.labels = labelsFromPlate(c.results);
    c.origin = "dot nearest the middle of the dots; x along image x, y along image y";
  }
  ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (request.rows > 0) checkPlateSize(c, request.rows, request.cols);
  return c;
}

// Reads the image, calibrates and prints; every failure becomes a ccFileFailure whose
// message names the image (or the overlay file it could not write).
int calibrate(const std::string& path, const DotsRequest& request) {
  try {
    const ccPelBuffer<unsigned char> image = cfReadImage(path, request.limits);
    double ms = 0.0;
    const Calibration c = run(image, request, ms);
    if (request.json) {
      // Built whole before it is printed, so that a failure never leaves half an object.
      std::ostringstream text;
      printJson(text, c, ms);
      std::cout << text.str();
    } else {
      std::fputs(summary(path, c, ms).c_str(), stdout);
    }
    if (!request.overlay.empty()) writeOverlay(request.overlay, image, c);
    return 0;
  } catch (...) {
    std::string errorClass, message;
    cfDescribeCurrentFailure(path, errorClass, message);
    throw ccFileFailure(errorClass, message);
  }
}

// One image of a batch: its record, or its failure.
ccBatchResult batchRecord(const std::string& path, const DotsRequest& request) {
  ccBatchResult out;
  try {
    const ccPelBuffer<unsigned char> image = cfReadImage(path, request.limits);
    const Calibration c = run(image, request, out.ms);
    std::ostringstream json;
    printJson(json, c, out.ms, 0, &path);
    out.json = json.str();
    out.summary = summary(path, c, out.ms);
    const ccPair<long> extent = span(c.labels);
    out.cols = extent.x();
    out.rows = extent.y();
    out.count = static_cast<long>(c.results.imagePoints().size());
    out.rms = rmsResidual(c.results);
    out.maxResidual = c.results.maximumResidual();
    out.ok = true;
  } catch (...) {
    out.ok = false;
    cfDescribeCurrentFailure(path, out.errorClass, out.message);
  }
  return out;
}

}  // namespace

int cfCalibDots(const std::vector<std::string>& words) {
  const ccCommandArgs args(cfExpandShortOptions(words),
                           cfWithBatchOptions(cfWithReadLimitOptions({{"pitch", true},
                                                                      {"type", true},
                                                                      {"polarity", true},
                                                                      {"right-handed", false},
                                                                      {"ignore-grid-angle", false},
                                                                      {"algorithm", true},
                                                                      {"rows", true},
                                                                      {"cols", true},
                                                                      {"json", false},
                                                                      {"overlay", true}})));
  if (args.help()) {
    cfPrintBatchCommandHelp(kHelp, kHelpEnd);
    return 0;
  }
  // Every argument is checked before an image is read.
  bool expanded = false;
  const std::vector<std::string> images = cfImageList(args.positional(), expanded);
  ccBatchOptions batch;
  const bool batchMode = cfBatchOptions(args, images.size(), expanded, batch);
  if (batchMode && args.has("overlay")) throw ccUsageError("--overlay takes a single image");
  if (!args.has("pitch")) throw ccUsageError("--pitch is required");
  const std::string pitchText = args.text("pitch");
  const ccVector<2> pitch =
      pitchText.find(',') == std::string::npos
          ? ccVector<2>(args.positiveNumber("pitch", 0.0), args.positiveNumber("pitch", 0.0))
          : args.pair("pitch", ccVector<2>());
  if (!(pitch.x() > 0.0) || !(pitch.y() > 0.0)) {
    throw ccUsageError("--pitch needs numbers greater than 0, not '" + pitchText + "'");
  }
  const ccCalibDefs::CalibType type = parseType(args.text("type", "linear"));
  const ccCalibDefs::Polarity polarity = parsePolarity(args.text("polarity", "any"));
  const std::string algorithm = args.text("algorithm", "robust");
  if (algorithm != "robust" && algorithm != "specified") {
    throw ccUsageError("--algorithm must be robust or specified, not '" + algorithm + "'");
  }
  if (args.has("rows") != args.has("cols")) throw ccUsageError("give --rows and --cols together");
  DotsRequest request;
  request.rows = args.integer("rows", 0);
  request.cols = args.integer("cols", 0);
  if (args.has("rows") && (request.rows < 1 || request.cols < 1)) {
    throw ccUsageError("--rows and --cols must be at least 1");
  }
  request.overlay = args.text("overlay");
  if (args.has("overlay") && !cfHasExtension(request.overlay, ".png")) {
    throw ccUsageError("--overlay writes PNG: give a file name ending in .png, not '" +
                       request.overlay + "'");
  }
  request.limits = cfReadLimits(args);
  request.robust = algorithm == "robust";
  request.json = args.flag("json");
  request.params =
      ccGridCalibParams(pitch.x(), pitch.y(), !args.flag("right-handed"), type, polarity);
  request.params.ignoreGridAngle(args.flag("ignore-grid-angle"));
  if (!batchMode) return calibrate(images.front(), request);
  return cfRunBatch("dots", images, batch,
                    [&](const std::string& path) { return batchRecord(path, request); });
}
