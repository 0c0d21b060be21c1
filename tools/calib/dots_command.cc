// calib dots: the dot-grid calibration of one image, as a readable summary or as JSON,
// with an optional overlay picture of what was found.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <exception>
#include <typeinfo>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cal/calib/calibration_run.h"
#include "platform/foundation/persistent.h"
#include "tools/calib/args.h"
#include "tools/calib/commands.h"
#include "tools/calib/json.h"
#include "tools/calib/overlay.h"
#include "tools/calib/read_limits.h"
#include "tools/imageio/image_io.h"

namespace {

const char kHelp[] =
    "usage: calib dots IMAGE --pitch PX[,PY] [--type linear|poly3|poly5]\n"
    "                  [--polarity any|normal|inverted] [--right-handed] [--ignore-grid-angle]\n"
    "                  [--json] [--overlay OUT.png] [--max-decoded-bytes N] [--max-file-bytes N]\n"
    "\n"
    "Finds the dot grid (and the two-bar marker, if any) in IMAGE, gives every dot its plate\n"
    "position (dot pitch PX along plate X and PY along plate Y; PY defaults to PX), fits the\n"
    "image-to-plate transform and reports the residuals.\n"
    "\n"
    "  --type       transform to fit: linear (affine, default), poly3 or poly5\n"
    "  --polarity   dots darker than the ground (inverted), lighter (normal), or any (default)\n"
    "  --right-handed       plate Y grows against image y (default: with it)\n"
    "  --ignore-grid-angle  remove the grid's rotation from the transform\n"
    "  --json       print one JSON object instead of the summary\n"
    "  --overlay    write the image with the dots, their plate coordinates and the marker\n";

const char kHelpEnd[] =
    "\n"
    "Exit status: 0 when the grid was calibrated, 1 when it was not, 2 for usage errors. With\n"
    "--json every failure is one JSON object too: {\"found\": false, \"error\": CLASS,\n"
    "\"message\": TEXT}.\n";

std::string lowerExtension(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::string();
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

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
  return p == ccCalibDefs::ePolarityInverted ? "inverted" : p == ccCalibDefs::ePolarityNormal ? "normal" : "any";
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

void printJson(std::ostream& out, const ccGridCalibResults& r, double ms) {
  ccJsonWriter json(out);
  json.beginObject();
  json.member("found", true);
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
  json.beginArray(true).value(m.element(0, 0), 12).value(m.element(0, 1), 12).value(x.trans().x(), 12).endArray();
  json.beginArray(true).value(m.element(1, 0), 12).value(m.element(1, 1), 12).value(x.trans().y(), 12).endArray();
  json.endArray();
  json.key("max_residual").value(r.maximumResidual(), 9);
  json.key("average_residual").value(r.averageResidual(), 9);
  json.key("dots").beginArray();
  const std::vector<ccVector<2>> image = r.imagePoints(), residual = r.residuals(true), plate = platePoints(r);
  for (std::size_t i = 0; i < image.size(); ++i) {
    json.beginObject(true);
    json.key("image").point(image[i].x(), image[i].y(), kImageDecimals);
    json.key("plate").point(plate[i].x(), plate[i].y(), kPlateDecimals);
    json.key("residual").point(residual[i].x(), residual[i].y(), 9);
    json.endObject();
  }
  json.endArray();
  json.endObject();  // ends the line too
}

void printSummary(const std::string& path, const ccGridCalibResults& r, double ms) {
  const ccXform<2>& x = r.clientFromImageXform();
  std::printf("%s: %zu dots found in %.2f ms\n", path.c_str(), r.imagePoints().size(), ms);
  std::printf("  threshold %d, polarity %s\n", static_cast<int>(r.threshold()), polarityName(r.polarity()));
  std::printf("  plate from image (affine): [%.8g %.8g %.8g; %.8g %.8g %.8g]\n", x.matrix().element(0, 0),
              x.matrix().element(0, 1), x.trans().x(), x.matrix().element(1, 0), x.matrix().element(1, 1),
              x.trans().y());
  std::printf("    scale %.8g x %.8g per pixel, rotation %.4f deg\n", x.xScale(), x.yScale(),
              x.rotation().toDouble() * 180.0 / ccPi);
  std::printf("  residuals (%s): max %.6g, mean %.6g plate units\n", r.isLinear() ? "linear" : "polynomial",
              r.maximumResidual(), r.averageResidual());
  if (r.isMarkerFound()) {
    std::printf("  marker at (%.3f, %.3f)\n", r.markerPointInImage().x(), r.markerPointInImage().y());
  } else {
    std::printf("  no marker\n");
  }
}

void writeOverlay(const std::string& out, const ccPelBuffer_const<unsigned char>& image, const ccGridCalibResults& r) {
  ccOverlayCanvas canvas(image);
  const std::vector<ccVector<2>> points = r.imagePoints(), plate = platePoints(r);
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
    label << iRound(plate[i].x() / r.params().gridPitchX()) << "," << iRound(plate[i].y() / r.params().gridPitchY());
    canvas.text(points[i] + ccVector<2>(radius * 0.5, radius * 0.5), label.str(), kOverlayYellow);
  }
  if (r.isMarkerFound()) canvas.cross(r.markerPointInImage(), spacing > 0.0 ? spacing * 0.6 : 10.0, kOverlayRed, 2.0);
  canvas.write(out);
}

// Reads the image, calibrates and prints; every failure becomes a ccFileFailure whose
// message names the image (or the overlay file it could not write).
int calibrate(const std::string& path, const ccImageReadLimits& limits, const ccGridCalibParams& params,
              bool json, const std::string& overlay) {
  try {
    const ccPelBuffer<unsigned char> image = cfReadImage(path, limits);
    ccGridCalibResults results;
    const auto start = std::chrono::steady_clock::now();
    cfCalibrationRun(image, params, results);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (json) {
      // Built whole before it is printed, so that a failure never leaves half an object.
      std::ostringstream text;
      printJson(text, results, ms);
      std::cout << text.str();
    } else {
      printSummary(path, results, ms);
    }
    if (!overlay.empty()) writeOverlay(overlay, image, results);
    return 0;
  } catch (const ccException& e) {
    // Some failures carry no text; their class names what went wrong.
    const std::string text = e.messageUtf8().empty() ? e.persistentTypeName() : e.messageUtf8();
    throw ccFileFailure(e.persistentTypeName(), text.find(path) != std::string::npos ? text : path + ": " + text);
  } catch (const std::exception& e) {
    throw ccFileFailure(cfTypeName(typeid(e)), path + ": " + e.what());
  }
}

}  // namespace

int cfCalibDots(const std::vector<std::string>& words) {
  const ccCommandArgs args(words, cfWithReadLimitOptions({{"pitch", true},
                                                          {"type", true},
                                                          {"polarity", true},
                                                          {"right-handed", false},
                                                          {"ignore-grid-angle", false},
                                                          {"json", false},
                                                          {"overlay", true}}));
  if (args.help()) {
    std::fputs(kHelp, stdout);
    std::fputs(cfReadLimitHelp().c_str(), stdout);
    std::fputs(kHelpEnd, stdout);
    return 0;
  }
  // Every argument is checked before the image is read.
  if (args.positional().size() != 1) throw ccUsageError("give exactly one image");
  if (!args.has("pitch")) throw ccUsageError("--pitch is required");
  const std::string pitchText = args.text("pitch");
  const ccVector<2> pitch = pitchText.find(',') == std::string::npos
                                ? ccVector<2>(args.positiveNumber("pitch", 0.0), args.positiveNumber("pitch", 0.0))
                                : args.pair("pitch", ccVector<2>());
  if (!(pitch.x() > 0.0) || !(pitch.y() > 0.0)) {
    throw ccUsageError("--pitch needs numbers greater than 0, not '" + pitchText + "'");
  }
  const ccCalibDefs::CalibType type = parseType(args.text("type", "linear"));
  const ccCalibDefs::Polarity polarity = parsePolarity(args.text("polarity", "any"));
  const std::string overlay = args.text("overlay");
  if (args.has("overlay") && lowerExtension(overlay) != ".png") {
    throw ccUsageError("--overlay writes PNG: give a file name ending in .png, not '" + overlay + "'");
  }
  const ccImageReadLimits limits = cfReadLimits(args);

  ccGridCalibParams params(pitch.x(), pitch.y(), !args.flag("right-handed"), type, polarity);
  params.ignoreGridAngle(args.flag("ignore-grid-angle"));
  return calibrate(args.positional()[0], limits, params, args.flag("json"), overlay);
}
