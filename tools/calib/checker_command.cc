// SPDX-License-Identifier: Apache-2.0
// calib checker: the labelled vertices of a checkerboard plate image, as a readable summary
// or as JSON, with an optional overlay picture and the extraction's diagnostics as files.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "cal/calibftr/vertex_feature_extract.h"
#include "platform/foundation/persistent.h"
#include "platform/foundation/point_fitter.h"
#include "tools/calib/args.h"
#include "tools/calib/batch.h"
#include "tools/calib/commands.h"
#include "tools/calib/diag_files.h"
#include "tools/calib/json.h"
#include "tools/calib/overlay.h"
#include "tools/calib/read_limits.h"
#include "tools/imageio/image_io.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

const char kHelp[] =
    "usage: calib checker IMAGE... --pitch PX[,PY] [--mode none|origin|fiducial] [--origin X,Y]\n"
    "                     [--lighting uniform|nonuniform|auto] [--precision T] [--single-checker]\n"
    "                     [--algorithm standard|exhaustive] [--json] [--overlay OUT.png] [--diag "
    "DIR]\n"
    "                     [--format text|jsonl|csv] [--jobs N] [-o FILE]\n"
    "\n"
    "Finds the vertices of a checkerboard in IMAGE (the points where four squares meet) and\n"
    "gives each a grid label (i, j) and the plate position (i * PX, j * PY); PY defaults to PX.\n"
    "\n"
    "The plate expected is the library's checkerboard ('calib plate checker' prints one): dark\n"
    "and light squares in a dark margin at least one square wide, optionally with the fiducial,\n"
    "two light bars on dark bands near one corner of the field that fix the label origin and\n"
    "axes. Boards with a light margin are often found too.\n"
    "\n"
    "  --pitch       size of one square on the plate, in your units (required)\n"
    "  --mode        how labels are anchored: none (default), label (0, 0) at the vertex nearest\n"
    "                the image centre; origin, at the vertex nearest --origin; fiducial, at the\n"
    "                plate's fiducial, which makes labels absolute: the vertex in the corner\n"
    "                between the two bars is (-2, -2), label x grows along the long bar, y along\n"
    "                the short one\n"
    "  --origin      with --mode origin: the image position (pixels) of label (0, 0)\n"
    "  --lighting    uniform: one threshold for the whole image; nonuniform: squares found from\n"
    "                edges, for gradients, vignetting and shadows; auto (default): uniform, and\n"
    "                nonuniform when that finds nothing\n"
    "  --precision   drop vertices whose edge-line fit residual exceeds T pixels, and vertices\n"
    "                not measured from all four edges around them (default: keep all)\n"
    "  --single-checker  also report vertices on the board's border measured from one square\n"
    "  --algorithm   standard (default): squares segmented into tiles, their edges fitted;\n"
    "                exhaustive: vertices found directly as X-junctions, also on boards with\n"
    "                a light margin, cut by the image border, or with squares down to 8 px\n"
    "  --json        print one JSON object instead of the summary\n"
    "  --overlay     write the image with the vertices, their labels and the fiducial\n"
    "  --diag        write the extraction's diagnostics records into DIR (PNG and text files)\n"
    "\n"
    "Positions are pixels: the centre of pixel (x, y) is the point (x, y).\n";

const char kHelpEnd[] =
    "\n"
    "Exit status: 0 when vertices were found, 1 when none were, 2 for usage errors.\n";

// Digits printed for image positions (pixels) and plate positions.
constexpr int kImageDecimals = 4;
constexpr int kPlateDecimals = 6;
// The fiducial's bars cross at this plate point, in pitches.
const ccVector<2> kFiducialPlate(-3.5, -3.5);
// Vertices nearest the fiducial used to place it in the image (a local affine fit).
constexpr std::size_t kFiducialFitPoints = 8;
constexpr std::size_t kMinFitPoints = 3;

enum class Lighting { eUniform, eNonUniform, eAuto };

struct Options {
  ccCalib2VertexFeatureParams params;
  Lighting lighting = Lighting::eAuto;
  bool json = false;
  std::string overlay;
  ccImageReadLimits limits;
};

Defs::CorrespondMethod parseMode(const std::string& s) {
  if (s == "none") return Defs::eNone;
  if (s == "origin") return Defs::eUseOrigin;
  if (s == "fiducial") return Defs::eUseFiducial;
  throw ccUsageError("--mode must be none, origin or fiducial, not '" + s + "'");
}

Lighting parseLighting(const std::string& s) {
  if (s == "uniform") return Lighting::eUniform;
  if (s == "nonuniform") return Lighting::eNonUniform;
  if (s == "auto") return Lighting::eAuto;
  throw ccUsageError("--lighting must be uniform, nonuniform or auto, not '" + s + "'");
}

Defs::Algorithm parseAlgorithm(const std::string& s) {
  if (s == "standard") return Defs::eStandard;
  if (s == "exhaustive") return Defs::eExhaustive;
  throw ccUsageError("--algorithm must be standard or exhaustive, not '" + s + "'");
}

Options parseOptions(const ccCommandArgs& args) {
  if (!args.has("pitch")) throw ccUsageError("--pitch is required");
  Options o;
  o.json = args.flag("json");
  o.lighting = parseLighting(args.text("lighting", "auto"));
  o.overlay = args.text("overlay");
  if (args.has("overlay") && !cfHasExtension(o.overlay, ".png")) {
    throw ccUsageError("--overlay writes PNG: give a file name ending in .png, not '" + o.overlay +
                       "'");
  }
  o.limits = cfReadLimits(args);
  const std::string pitchText = args.text("pitch");
  const ccVector<2> pitch =
      pitchText.find(',') == std::string::npos
          ? ccVector<2>(args.positiveNumber("pitch", 0.0), args.positiveNumber("pitch", 0.0))
          : args.pair("pitch", ccVector<2>());
  if (!(pitch.x() > 0.0) || !(pitch.y() > 0.0)) {
    throw ccUsageError("--pitch needs numbers greater than 0, not '" + pitchText + "'");
  }
  const Defs::CorrespondMethod mode = parseMode(args.text("mode", "none"));
  if (args.has("origin") && mode != Defs::eUseOrigin)
    throw ccUsageError("--origin needs --mode origin");
  if (mode == Defs::eUseOrigin && !args.has("origin"))
    throw ccUsageError("--mode origin needs --origin X,Y");
  try {
    o.params.physicalGridPitch(pitch);
    o.params.labelMode(mode);
    o.params.origin(args.pair("origin", ccVector<2>()));
    if (args.has("precision")) o.params.precisionThreshold(args.number("precision", 0.0));
    o.params.needBothCheckers(!args.flag("single-checker"));
    o.params.algorithm(parseAlgorithm(args.text("algorithm", "standard")));
  } catch (const Defs::BadParam& e) {
    throw ccUsageError(e.messageUtf8());
  }
  return o;
}

const char* lightingName(bool uniform) {
  return uniform ? "uniform" : "nonuniform";
}
const char* algorithmName(const ccCalib2VertexFeatureParams& p) {
  return p.algorithm() == Defs::eExhaustive ? "exhaustive" : "standard";
}

// One extraction; auto lighting retries under uneven lighting when the even path finds
// nothing. `params` ends with the lighting of the run whose outcome is reported.
std::vector<ccCrspPairWeighted> extract(const ccPelBuffer_const<unsigned char>& image,
                                        Lighting lighting, ccCalib2VertexFeatureParams& params,
                                        ccDiagObject* diag) {
  std::vector<ccCrspPairWeighted> features;
  params.uniformLighting(lighting != Lighting::eNonUniform);
  const bool retry = lighting == Lighting::eAuto && params.algorithm() == Defs::eStandard;
  try {
    cfCalib2VertexFeatureExtract(image, params, features, diag, ccDiagDefs::eRecordAll);
    if (!features.empty() || !retry) return features;
  } catch (const Defs::Errors&) {
    if (!retry) throw;
  }
  params.uniformLighting(false);
  if (diag) diag->clear();
  cfCalib2VertexFeatureExtract(image, params, features, diag, ccDiagDefs::eRecordAll);
  return features;
}

// Where the fiducial's bars cross in the image: the crossing's plate point mapped by an affine
// fit to the vertices nearest it. False when there are too few vertices to fit.
bool fiducialInImage(const std::vector<ccCrspPairWeighted>& features, const ccVector<2>& pitch,
                     ccVector<2>& out) {
  if (features.size() < kMinFitPoints) return false;
  std::vector<std::pair<double, std::size_t>> byDistance;
  for (std::size_t i = 0; i < features.size(); ++i) {
    const ccVector<2> grid(features[i].second.x() / pitch.x(), features[i].second.y() / pitch.y());
    byDistance.emplace_back((grid - kFiducialPlate).lengthSq(), i);
  }
  const std::size_t n = std::min(kFiducialFitPoints, byDistance.size());
  std::partial_sort(byDistance.begin(), byDistance.begin() + static_cast<std::ptrdiff_t>(n),
                    byDistance.end());
  std::vector<ccVector<2>> plate, image;
  for (std::size_t k = 0; k < n; ++k) {
    const ccCrspPairWeighted& f = features[byDistance[k].second];
    plate.emplace_back(f.second.x() / pitch.x(), f.second.y() / pitch.y());
    image.push_back(f.first);
  }
  try {
    out = ccLSPointToPointFitter(image, plate).fit(6).mapPoint(kFiducialPlate);
    return true;
  } catch (const ccException&) {
    return false;
  }
}

ccPair<long> labelOf(const ccCrspPairWeighted& f, const ccVector<2>& pitch) {
  return ccPair<long>(iRound(f.second.x() / pitch.x()), iRound(f.second.y() / pitch.y()));
}

// The features as one JSON object; `indent` 0 puts it on one line, which then begins with
// the image's file name when `file` is given (a batch record).
void printJson(std::ostream& out, const std::vector<ccCrspPairWeighted>& features,
               const ccCalib2VertexFeatureParams& p, double ms, bool hasFiducial,
               const ccVector<2>& fiducial, int indent = 2, const std::string* file = nullptr) {
  ccJsonWriter json(out, indent);
  json.beginObject();
  if (file) json.member("file", *file);
  json.member("found", true);
  json.key("time_ms").value(ms, 3);
  json.member("algorithm", std::string(algorithmName(p)));
  json.member("lighting", std::string(lightingName(p.uniformLighting())));
  if (hasFiducial) {
    json.key("fiducial").beginObject(true);
    json.key("image").point(fiducial.x(), fiducial.y(), kImageDecimals);
    json.endObject();
  }
  json.key("features").beginArray();
  for (const ccCrspPairWeighted& f : features) {
    json.beginObject(true);
    json.key("image").point(f.first.x(), f.first.y(), kImageDecimals);
    json.key("plate").point(f.second.x(), f.second.y(), kPlateDecimals);
    json.key("weight").value(f.weight(), 6);
    json.endObject();
  }
  json.endArray();
  json.endObject();
  if (indent <= 0) out << '\n';
}

// The smallest and largest labels of the features (which must not be empty).
void labelRange(const std::vector<ccCrspPairWeighted>& features, const ccVector<2>& pitch,
                ccPair<long>& lo, ccPair<long>& hi) {
  lo = hi = labelOf(features.front(), pitch);
  for (const ccCrspPairWeighted& f : features) {
    const ccPair<long> l = labelOf(f, pitch);
    lo = ccPair<long>(std::min(lo.x(), l.x()), std::min(lo.y(), l.y()));
    hi = ccPair<long>(std::max(hi.x(), l.x()), std::max(hi.y(), l.y()));
  }
}

std::string summary(const std::string& path, const std::vector<ccCrspPairWeighted>& features,
                    const ccCalib2VertexFeatureParams& p, double ms, bool hasFiducial,
                    const ccVector<2>& fiducial) {
  std::string s =
      cfFormat("%s: %zu vertices found in %.2f ms (%s algorithm, %s lighting)\n", path.c_str(),
               features.size(), ms, algorithmName(p), lightingName(p.uniformLighting()));
  if (!features.empty()) {
    ccPair<long> lo, hi;
    labelRange(features, p.physicalGridPitch(), lo, hi);
    s += cfFormat("  labels x %ld .. %ld, y %ld .. %ld\n", lo.x(), hi.x(), lo.y(), hi.y());
  }
  if (hasFiducial) s += cfFormat("  fiducial at (%.3f, %.3f)\n", fiducial.x(), fiducial.y());
  return s;
}

void writeOverlay(const std::string& out, const ccPelBuffer_const<unsigned char>& image,
                  const std::vector<ccCrspPairWeighted>& features, const ccVector<2>& pitch,
                  bool hasFiducial, const ccVector<2>& fiducial) {
  ccOverlayCanvas canvas(image);
  // Marker size: a fifth of the typical vertex spacing in the image.
  double spacing = 0.0;
  if (features.size() >= 2) spacing = features[0].first.distance(features[1].first);
  const double radius = spacing > 0.0 ? std::max(3.0, spacing / 5.0) : 4.0;
  for (const ccCrspPairWeighted& f : features) {
    canvas.circle(f.first, radius, kOverlayGreen);
    canvas.cross(f.first, 2.0, kOverlayGreen);
    const ccPair<long> l = labelOf(f, pitch);
    canvas.text(f.first + ccVector<2>(radius * 0.6, radius * 0.6),
                std::to_string(l.x()) + "," + std::to_string(l.y()), kOverlayYellow);
  }
  if (hasFiducial) canvas.cross(fiducial, spacing > 0.0 ? spacing * 0.5 : 10.0, kOverlayRed, 2.0);
  canvas.write(out);
}

// What one extraction found. `params` ends with the lighting of the run reported.
struct Found {
  ccCalib2VertexFeatureParams params;
  std::vector<ccCrspPairWeighted> features;
  double ms = 0.0;  // time in the library
  bool hasFiducial = false;
  ccVector<2> fiducial;
};

// Extracts the features of one image and places the fiducial. Throws what the library
// throws, and ccFileFailure when no vertex is found.
Found find(const ccPelBuffer_const<unsigned char>& image, const Options& o, ccDiagObject* diag,
           const std::string& diagDir) {
  Found f;
  f.params = o.params;
  const auto start = std::chrono::steady_clock::now();
  f.features = extract(image, o.lighting, f.params, diag);
  f.ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (diag) cfWriteDiagFiles(*diag, diagDir);
  if (f.features.empty()) throw ccFileFailure("NoVertices", "no vertex passed the filters");
  f.hasFiducial = f.params.labelMode() == Defs::eUseFiducial &&
                  fiducialInImage(f.features, f.params.physicalGridPitch(), f.fiducial);
  return f;
}

// Reads the image, extracts and prints; every failure becomes a ccFileFailure whose message
// names the image (or the file it could not write).
int extractAndReport(const std::string& path, const Options& o, const std::string& diagDir) {
  try {
    const ccPelBuffer<unsigned char> image = cfReadImage(path, o.limits);
    ccDiagObject diag;
    const Found f = find(image, o, diagDir.empty() ? nullptr : &diag, diagDir);
    if (o.json) {
      // Built whole before it is printed, so that a failure never leaves half an object.
      std::ostringstream text;
      printJson(text, f.features, f.params, f.ms, f.hasFiducial, f.fiducial);
      std::cout << text.str();
    } else {
      std::fputs(summary(path, f.features, f.params, f.ms, f.hasFiducial, f.fiducial).c_str(),
                 stdout);
    }
    if (!o.overlay.empty()) {
      writeOverlay(o.overlay, image, f.features, f.params.physicalGridPitch(), f.hasFiducial,
                   f.fiducial);
    }
    return 0;
  } catch (...) {
    std::string errorClass, message;
    cfDescribeCurrentFailure(path, errorClass, message);
    throw ccFileFailure(errorClass, message);
  }
}

// One image of a batch: its record, or its failure.
ccBatchResult batchRecord(const std::string& path, const Options& o) {
  ccBatchResult out;
  try {
    const ccPelBuffer<unsigned char> image = cfReadImage(path, o.limits);
    const Found f = find(image, o, nullptr, std::string());
    out.ms = f.ms;
    std::ostringstream json;
    printJson(json, f.features, f.params, f.ms, f.hasFiducial, f.fiducial, 0, &path);
    out.json = json.str();
    out.summary = summary(path, f.features, f.params, f.ms, f.hasFiducial, f.fiducial);
    ccPair<long> lo, hi;
    labelRange(f.features, f.params.physicalGridPitch(), lo, hi);
    out.cols = hi.x() - lo.x() + 1;
    out.rows = hi.y() - lo.y() + 1;
    out.count = static_cast<long>(f.features.size());
    out.ok = true;
  } catch (...) {
    out.ok = false;
    cfDescribeCurrentFailure(path, out.errorClass, out.message);
  }
  return out;
}

}  // namespace

int cfCalibChecker(const std::vector<std::string>& words) {
  const ccCommandArgs args(cfExpandShortOptions(words),
                           cfWithBatchOptions(cfWithReadLimitOptions({{"pitch", true},
                                                                      {"mode", true},
                                                                      {"origin", true},
                                                                      {"lighting", true},
                                                                      {"precision", true},
                                                                      {"single-checker", false},
                                                                      {"algorithm", true},
                                                                      {"json", false},
                                                                      {"overlay", true},
                                                                      {"diag", true}})));
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
  if (batchMode && args.has("diag")) throw ccUsageError("--diag takes a single image");
  const Options o = parseOptions(args);
  if (!batchMode) return extractAndReport(images.front(), o, args.text("diag"));
  return cfRunBatch("checker", images, batch,
                    [&](const std::string& path) { return batchRecord(path, o); });
}
