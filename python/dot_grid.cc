// SPDX-License-Identifier: Apache-2.0
// Dot-grid calibration from Python: the robust run and the plain one, with their results as
// one object holding numpy arrays and the fitted transform.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <string>
#include <utility>

#include "cal/calib/calibration_run.h"
#include "cal/calib/robust_dot_grid.h"
#include "python/bindings.h"

namespace ccalib_py {

namespace {

ccCalibDefs::CalibType parseType(const std::string& s) {
  if (s == "affine" || s == "linear") return ccCalibDefs::eGridLinear;
  if (s == "poly3") return ccCalibDefs::eGridPolynomialOrder3;
  if (s == "poly5") return ccCalibDefs::eGridPolynomialOrder5;
  throw ccCalibDefs::BadParam(
      cfWiden("calib_type must be 'affine', 'poly3' or 'poly5', not '" + s + "'"));
}

const char* typeName(ccCalibDefs::CalibType t) {
  return t == ccCalibDefs::eGridPolynomialOrder3   ? "poly3"
         : t == ccCalibDefs::eGridPolynomialOrder5 ? "poly5"
                                                   : "affine";
}

ccCalibDefs::Polarity parsePolarity(const std::string& s) {
  if (s == "any") return ccCalibDefs::ePolarityAny;
  if (s == "normal") return ccCalibDefs::ePolarityNormal;
  if (s == "inverted") return ccCalibDefs::ePolarityInverted;
  throw ccCalibDefs::BadParam(
      cfWiden("polarity must be 'any', 'normal' or 'inverted', not '" + s + "'"));
}

const char* polarityName(ccCalibDefs::Polarity p) {
  return p == ccCalibDefs::ePolarityInverted ? "inverted"
         : p == ccCalibDefs::ePolarityNormal ? "normal"
                                             : "any";
}

// A pitch given as one number (both axes) or as (x, y).
ccVector<2> parsePitch(const py::handle& pitch) {
  double px = 0.0, py_ = 0.0;
  if (py::isinstance<py::float_>(pitch) || py::isinstance<py::int_>(pitch)) {
    px = py_ = pitch.cast<double>();
  } else {
    const auto pair = pitch.cast<std::pair<double, double>>();
    px = pair.first;
    py_ = pair.second;
  }
  // The parameters take only positive pitches (they report others without refusing them),
  // so they are checked here, with the run's own error.
  if (!(px > 0.0) || !(py_ > 0.0) || !std::isfinite(px) || !std::isfinite(py_)) {
    throw ccCalibDefs::BadParam(
        L"Invalid grid pitch: both grid pitch X and grid pitch Y must be > 0");
  }
  return ccVector<2>(px, py_);
}

ccGridCalibParams makeParams(const py::handle& pitch, const std::string& type,
                             const std::string& polarity, bool rightHanded, bool ignoreGridAngle) {
  const ccVector<2> p = parsePitch(pitch);
  ccGridCalibParams params(p.x(), p.y(), !rightHanded, parseType(type), parsePolarity(polarity));
  params.ignoreGridAngle(ignoreGridAngle);
  return params;
}

// What a run found, as Python sees it.
class DotGridResult {
 public:
  DotGridResult(ccGridCalibResults results, std::vector<ccPair<long>> labels, bool robust)
      : results_(std::move(results)), labels_(std::move(labels)), robust_(robust) {
    const std::vector<ccVector<2>> image = results_.imagePoints(),
                                   residual = results_.residuals(true);
    plate_.resize(image.size());
    double sumSq = 0.0;
    for (std::size_t i = 0; i < image.size(); ++i) {
      plate_[i] = results_.clientFromImageXformBase()->mapPoint(image[i]) + residual[i];
      sumSq += residual[i].lengthSq();
    }
    rms_ = image.empty() ? 0.0 : std::sqrt(sumSq / static_cast<double>(image.size()));
    // The plain run gives plate positions only; its labels are those positions in pitches.
    if (!robust_) {
      const ccGridCalibParams& p = results_.params();
      const double ySign = p.isLeftHanded() ? 1.0 : -1.0;
      for (const ccVector<2>& q : plate_) {
        labels_.emplace_back(std::lround(q.x() / p.gridPitchX()),
                             std::lround(ySign * q.y() / p.gridPitchY()));
      }
    }
  }

  const ccGridCalibResults& results() const { return results_; }
  const std::vector<ccPair<long>>& labels() const { return labels_; }
  const std::vector<ccVector<2>>& plate() const { return plate_; }
  double rms() const { return rms_; }
  bool robust() const { return robust_; }

  // Maps image points to the plate through the fitted transform of the requested type, or
  // plate points to the image through its inverse.
  py::object map(const py::handle& points, bool inverse) const {
    bool single = false;
    std::vector<ccVector<2>> in = pointsFromArray(points, single);
    const cc2XformBasePtrh xform = inverse ? results_.clientFromImageXformBase()->inverseBase()
                                           : results_.clientFromImageXformBase();
    for (ccVector<2>& p : in) p = xform->mapPoint(p);
    if (single) return py::make_tuple(in[0].x(), in[0].y());
    return pointsToArray(in);
  }

 private:
  ccGridCalibResults results_;
  std::vector<ccPair<long>> labels_;
  std::vector<ccVector<2>> plate_;
  double rms_ = 0.0;
  bool robust_ = true;
};

DotGridResult runRobust(const py::handle& image, const py::handle& pitch, const std::string& type,
                        const std::string& polarity, std::optional<long> rows,
                        std::optional<long> cols, bool rightHanded, bool ignoreGridAngle,
                        long minDots, bool correctPerspective, std::optional<double> timeout,
                        const CancelToken* cancel) {
  const ccGridCalibParams params = makeParams(pitch, type, polarity, rightHanded, ignoreGridAngle);
  if (rows.has_value() != cols.has_value())
    throw ccCalibDefs::BadParam(L"give rows and cols together");
  ccRobustGridOptions options;
  options.rows = rows.value_or(0);
  options.cols = cols.value_or(0);
  if (rows && (options.rows < 1 || options.cols < 1))
    throw ccCalibDefs::BadParam(L"rows and cols must be at least 1");
  options.minDots = minDots;
  options.correctPerspective = correctPerspective;
  timeout = checkTimeout(timeout);
  const ccPelBuffer<unsigned char> pixels = imageFromArray(image);
  ccGridCalibResults results;
  std::vector<ccPair<long>> labels;
  runReleased(timeout, cancel,
              [&] { cfCalibrationRunRobust(pixels, params, options, results, labels); });
  return DotGridResult(std::move(results), std::move(labels), true);
}

DotGridResult runSpecified(const py::handle& image, const py::handle& pitch,
                           const std::string& type, const std::string& polarity, bool rightHanded,
                           bool ignoreGridAngle, std::optional<double> timeout,
                           const CancelToken* cancel) {
  const ccGridCalibParams params = makeParams(pitch, type, polarity, rightHanded, ignoreGridAngle);
  timeout = checkTimeout(timeout);
  const ccPelBuffer<unsigned char> pixels = imageFromArray(image);
  ccGridCalibResults results;
  runReleased(timeout, cancel, [&] { cfCalibrationRun(pixels, params, results); });
  return DotGridResult(std::move(results), {}, false);
}

const char kRobustDoc[] = R"(Dot-grid calibration of a plate anywhere in the view.

Finds the dot plate in `image` (a 2-D uint8 array), labels every dot, and fits the
plate-from-image transform `calib_type` ('affine', 'poly3' or 'poly5'; the affine one is
always fitted too). Works on plates that fill part of the view, tilted, turned, through a
distorting lens and unevenly lit.

pitch: dot spacing on the plate, one number or (x, y), in your units.
polarity: 'inverted' (dark dots on a light ground), 'normal' (light dots) or 'any'.
rows, cols: the plate's size in dots when known (given together); a grid spanning more is
  refused, a partial view accepted.
right_handed: plate y grows against image y (default: with it).
timeout: seconds before the call raises TimeoutError; cancel: a CancelToken.

Labels: with the two-bar marker found, (0, 0) is the dot at the corner of the marker cell
that both bars point away from, x along bar 1, y along bar 2, so labels survive cropping.
Without it, (0, 0) is the dot nearest the middle of the dots.

Raises ParameterError, NotFoundError (no plate, not a dot plate, degenerate fit),
TimeoutError.)";

const char kSpecifiedDoc[] =
    R"(Dot-grid calibration of a plate that fills a well-lit view, square on.

The plain run: finds the dots, gives each its plate position, fits the transform
`calib_type` and snaps the marker to the nearest grid cell centre. Labels are the plate
positions in pitches. Arguments and errors as calibration_run_robust.)";

}  // namespace

void registerDotGrid(py::module_& m) {
  py::class_<DotGridResult>(m, "DotGridResult", "What a dot-grid calibration found.")
      .def_property_readonly(
          "image_points",
          [](const DotGridResult& r) { return pointsToArray(r.results().imagePoints()); },
          "Dot centres, image pixels, (N, 2); the centre of pixel (x, y) is (x, y).")
      .def_property_readonly(
          "plate_points", [](const DotGridResult& r) { return pointsToArray(r.plate()); },
          "Plate position of every dot, plate units, (N, 2).")
      .def_property_readonly(
          "labels", [](const DotGridResult& r) { return labelsToArray(r.labels()); },
          "Integer grid label (x, y) of every dot, (N, 2).")
      .def_property_readonly(
          "residuals",
          [](const DotGridResult& r) { return pointsToArray(r.results().residuals(true)); },
          "Plate position minus the mapped image point, plate units, (N, 2).")
      .def_property_readonly("rms_residual", &DotGridResult::rms)
      .def_property_readonly("max_residual",
                             [](const DotGridResult& r) { return r.results().maximumResidual(); })
      .def_property_readonly("average_residual",
                             [](const DotGridResult& r) { return r.results().averageResidual(); })
      .def_property_readonly("marker_found",
                             [](const DotGridResult& r) { return r.results().isMarkerFound(); })
      .def_property_readonly(
          "marker",
          [](const DotGridResult& r) -> py::object {
            if (!r.results().isMarkerFound()) return py::none();
            const ccVector<2> p = r.results().markerPointInImage();
            return py::make_tuple(p.x(), p.y());
          },
          "The marker's image position (x, y), or None.")
      .def_property_readonly(
          "affine",
          [](const DotGridResult& r) {
            const ccXform<2>& x = r.results().clientFromImageXform();
            py::array_t<double> out({py::ssize_t{2}, py::ssize_t{3}});
            auto a = out.mutable_unchecked<2>();
            for (int i = 0; i < 2; ++i) {
              a(i, 0) = x.matrix().element(i, 0);
              a(i, 1) = x.matrix().element(i, 1);
              a(i, 2) = i == 0 ? x.trans().x() : x.trans().y();
            }
            return out;
          },
          "The affine plate-from-image fit as a 2 x 3 matrix [A | t]: plate = A @ image + t.")
      .def_property_readonly(
          "calib_type",
          [](const DotGridResult& r) { return typeName(r.results().params().calibType()); })
      .def_property_readonly(
          "polarity", [](const DotGridResult& r) { return polarityName(r.results().polarity()); },
          "The dots' polarity: 'inverted' (dark dots) or 'normal' (light dots).")
      .def_property_readonly(
          "threshold",
          [](const DotGridResult& r) { return static_cast<int>(r.results().threshold()); })
      .def_property_readonly(
          "algorithm", [](const DotGridResult& r) { return r.robust() ? "robust" : "specified"; })
      .def("map", &DotGridResult::map, py::arg("points"), py::arg("inverse") = false,
           "Maps image points ((N, 2) or one (x, y)) to the plate through the fitted transform of "
           "calib_type; with inverse=True plate points to the image.")
      .def(
          "__call__",
          [](const DotGridResult& r, const py::handle& points) { return r.map(points, false); },
          py::arg("points"))
      .def("__len__", [](const DotGridResult& r) { return r.results().imagePoints().size(); })
      .def("__repr__", [](const DotGridResult& r) {
        return "<ccalib.DotGridResult " + std::string(r.robust() ? "robust" : "specified") + ", " +
               std::to_string(r.results().imagePoints().size()) + " dots, marker " +
               (r.results().isMarkerFound() ? "found" : "not found") + ">";
      });

  m.def("calibration_run_robust", &runRobust, kRobustDoc, py::arg("image"), py::arg("pitch"),
        py::kw_only(), py::arg("calib_type") = "affine", py::arg("polarity") = "any",
        py::arg("rows") = py::none(), py::arg("cols") = py::none(), py::arg("right_handed") = false,
        py::arg("ignore_grid_angle") = false, py::arg("min_dots") = 12,
        py::arg("correct_perspective") = true, py::arg("timeout") = py::none(),
        py::arg("cancel") = nullptr);
  m.def("calibration_run", &runSpecified, kSpecifiedDoc, py::arg("image"), py::arg("pitch"),
        py::kw_only(), py::arg("calib_type") = "affine", py::arg("polarity") = "any",
        py::arg("right_handed") = false, py::arg("ignore_grid_angle") = false,
        py::arg("timeout") = py::none(), py::arg("cancel") = nullptr);
}

}  // namespace ccalib_py
