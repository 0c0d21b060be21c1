// SPDX-License-Identifier: Apache-2.0
// Checkerboard vertex features from Python: the labelled vertices of a checkerboard image.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <string>
#include <utility>

#include "cal/calibftr/vertex_feature_extract.h"
#include "python/bindings.h"

namespace ccalib_py {

namespace {

using Defs = ccCalib2VertexFeatureDefs;

Defs::CorrespondMethod parseLabelMode(const std::string& s) {
  if (s == "center") return Defs::eNone;
  if (s == "point") return Defs::eUseOrigin;
  if (s == "fiducial") return Defs::eUseFiducial;
  throw Defs::BadParam(
      cfWiden("label_mode must be 'center', 'point' or 'fiducial', not '" + s + "'"));
}

Defs::Algorithm parseAlgorithm(const std::string& s) {
  if (s == "standard") return Defs::eStandard;
  if (s == "exhaustive") return Defs::eExhaustive;
  throw Defs::BadParam(cfWiden("algorithm must be 'standard' or 'exhaustive', not '" + s + "'"));
}

ccVector<2> pairOf(const py::handle& value) {
  if (py::isinstance<py::float_>(value) || py::isinstance<py::int_>(value)) {
    const double v = value.cast<double>();
    return ccVector<2>(v, v);
  }
  const auto pair = value.cast<std::pair<double, double>>();
  return ccVector<2>(pair.first, pair.second);
}

// The vertices found: image positions, plate positions, labels and weights.
struct VertexFeatures {
  std::vector<ccVector<2>> image, plate;
  std::vector<ccPair<long>> labels;
  std::vector<double> weights;
  bool uniformLighting = true;
};

VertexFeatures extract(const py::handle& image, const py::handle& pitch, const py::handle& tileSize,
                       const std::string& labelMode,
                       const std::optional<std::pair<double, double>>& origin,
                       const std::string& lighting, std::optional<double> precision,
                       bool singleChecker, const std::string& algorithm,
                       std::optional<double> timeout, const CancelToken* cancel) {
  // Every argument is checked (the setters refuse bad values) before the image is copied.
  ccCalib2VertexFeatureParams params;
  params.physicalGridPitch(pairOf(pitch));
  params.nominalTileSize(pairOf(tileSize));
  params.labelMode(parseLabelMode(labelMode));
  if (origin.has_value() != (params.labelMode() == Defs::eUseOrigin)) {
    throw Defs::BadParam(L"origin is given with label_mode='point' and only then");
  }
  if (origin) params.origin(ccVector<2>(origin->first, origin->second));
  if (precision) params.precisionThreshold(*precision);
  params.needBothCheckers(!singleChecker);
  params.algorithm(parseAlgorithm(algorithm));
  if (lighting != "uniform" && lighting != "nonuniform" && lighting != "auto") {
    throw Defs::BadParam(
        cfWiden("lighting must be 'uniform', 'nonuniform' or 'auto', not '" + lighting + "'"));
  }
  timeout = checkTimeout(timeout);
  const ccPelBuffer<unsigned char> pixels = imageFromArray(image);

  std::vector<ccCrspPairWeighted> features;
  runReleased(timeout, cancel, [&] {
    // 'auto' tries the single threshold first and the edge-based tile detection when that
    // finds nothing (the exhaustive algorithm has no such variant).
    params.uniformLighting(lighting != "nonuniform");
    const bool retry = lighting == "auto" && params.algorithm() == Defs::eStandard;
    try {
      cfCalib2VertexFeatureExtract(pixels, params, features);
      if (!features.empty() || !retry) return;
    } catch (const Defs::Errors&) {
      if (!retry) throw;
    }
    params.uniformLighting(false);
    cfCalib2VertexFeatureExtract(pixels, params, features);
  });

  VertexFeatures out;
  out.uniformLighting = params.uniformLighting();
  const ccVector<2>& p = params.physicalGridPitch();
  for (const ccCrspPairWeighted& f : features) {
    out.image.push_back(f.first);
    out.plate.push_back(f.second);
    out.labels.emplace_back(std::lround(f.second.x() / p.x()), std::lround(f.second.y() / p.y()));
    out.weights.push_back(f.weight());
  }
  return out;
}

const char kExtractDoc[] = R"(Checkerboard vertices of `image` (a 2-D uint8 array), labelled.

pitch: size of one square on the plate (one number or (x, y)); plate = label * pitch.
tile_size: expected size of one square in the image, pixels (at least 10).
label_mode: where label (0, 0) is: 'center', the vertex nearest the image centre; 'point',
  the vertex nearest `origin` (image pixels); 'fiducial', anchored at the plate's two-bar
  fiducial: the vertex between the bars is (-2, -2), x along the long bar, y along the short.
lighting: 'uniform' (one threshold), 'nonuniform' (squares from edges) or 'auto' (uniform,
  then nonuniform when that finds nothing).
precision: drop vertices whose edge fit residual exceeds this many pixels.
single_checker: also keep border vertices measured from one square.
algorithm: 'standard' or 'exhaustive'.
timeout: seconds before the call raises TimeoutError; cancel: a CancelToken.

Raises ParameterError, NotFoundError (no vertex labelled, no fiducial), TimeoutError.)";

}  // namespace

void registerVertexFeatures(py::module_& m) {
  py::class_<VertexFeatures>(m, "VertexFeatures", "Labelled checkerboard vertices.")
      .def_property_readonly(
          "image_points", [](const VertexFeatures& v) { return pointsToArray(v.image); },
          "Vertex positions, image pixels, (N, 2).")
      .def_property_readonly(
          "plate_points", [](const VertexFeatures& v) { return pointsToArray(v.plate); },
          "Plate positions (label times pitch), (N, 2).")
      .def_property_readonly(
          "labels", [](const VertexFeatures& v) { return labelsToArray(v.labels); },
          "Integer grid labels (x, y), (N, 2).")
      .def_property_readonly(
          "weights",
          [](const VertexFeatures& v) { return py::array_t<double>(py::cast(v.weights)); })
      .def_property_readonly(
          "lighting",
          [](const VertexFeatures& v) { return v.uniformLighting ? "uniform" : "nonuniform"; },
          "The tile detection that found the vertices.")
      .def("__len__", [](const VertexFeatures& v) { return v.image.size(); })
      .def("__repr__", [](const VertexFeatures& v) {
        return "<ccalib.VertexFeatures " + std::to_string(v.image.size()) + " vertices>";
      });

  m.def("vertex_feature_extract", &extract, kExtractDoc, py::arg("image"), py::arg("pitch"),
        py::kw_only(), py::arg("tile_size") = 20.0, py::arg("label_mode") = "center",
        py::arg("origin") = py::none(), py::arg("lighting") = "auto",
        py::arg("precision") = py::none(), py::arg("single_checker") = false,
        py::arg("algorithm") = "standard", py::arg("timeout") = py::none(),
        py::arg("cancel") = nullptr);
}

}  // namespace ccalib_py
