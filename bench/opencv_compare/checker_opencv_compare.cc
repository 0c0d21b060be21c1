// SPDX-License-Identifier: Apache-2.0
// Side-by-side comparison of checkerboard detectors on the same rendered images: OpenCV's
// classic detector with its sub-pixel refinement, OpenCV's sector-based detector, and this
// library's standard and exhaustive algorithms. Each benchmark times one detector on one
// image and reports, as counters, the share of the vertices in view that it found
// ("found"), their RMS and largest error against the renderer's exact truth ("rms_px",
// "max_px") and how many carried a label inconsistent with the others ("wrong").
// Built only when CMake finds OpenCV; nothing else in the project depends on it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "cal/calibftr/vertex_feature_extract.h"
#include "tests/support/checker_scoring.h"
#include "tools/plate/plate_render.h"

namespace {

struct Scene {
  std::string name;
  long width = 1280, height = 960;
  long cols = 10, rows = 8;  // squares
  double margin = 1.0;
  double fill = 0.8, tiltX = 0, tiltY = 0, rotation = 7, fov = 40, k1 = 0;
  double blur = 0.8, noise = 1.5, gradient = 0, vignetting = 0;
  ccVector<2> shift;
  bool board = true;
};

struct Rendered {
  Scene scene;
  ccPlateCamera camera;
  ccPelBuffer<unsigned char> image;
  int inView = 0;
};

Rendered render(const Scene& s) {
  Rendered r;
  r.scene = s;
  ccPlateRenderParams p;
  p.width = s.width;
  p.height = s.height;
  p.blurSigma = s.blur;
  p.noiseSigma = s.noise;
  p.gradient = ccVector<2>(s.gradient, 0.5 * s.gradient);
  p.vignetting = s.vignetting;
  p.supersample = 6;
  if (!s.board) {
    // Clutter: random rectangles (corners, T-junctions, edges, no checker).
    r.image = ccPelBuffer<unsigned char>(s.width, s.height);
    std::mt19937 rng(7);
    std::uniform_int_distribution<long> px(0, s.width - 1), py(0, s.height - 1), size(5, 120);
    std::uniform_int_distribution<int> grey(0, 255);
    for (int k = 0; k < 2000; ++k) {
      const long x0 = px(rng), y0 = py(rng), w = size(rng), h = size(rng);
      const unsigned char v = static_cast<unsigned char>(grey(rng));
      for (long y = y0; y < std::min(s.height, y0 + h); ++y)
        for (long x = x0; x < std::min(s.width, x0 + w); ++x) r.image.at(x, y) = v;
    }
    return r;
  }
  ccCheckerPlate plate = cfCheckerPlate(s.cols, s.rows, false);
  plate.margin = s.margin;
  ccRect region = cfPatternRegion(plate);
  region =
      ccRect(region.x() + s.shift.x(), region.y() + s.shift.y(), region.width(), region.height());
  r.camera =
      cfPlateCameraView(region, s.width, s.height, s.tiltX, s.tiltY, s.rotation, s.fill, s.fov);
  if (s.k1 != 0) {
    const double focal = std::hypot(s.width, s.height) * 0.5 / std::tan(s.fov * M_PI / 360.0);
    r.camera.distortion(ccVector<2>(s.width * 0.5, s.height * 0.5), focal, s.k1, 0);
  }
  ccPlateRendering out = cfRenderPlate(plate, r.camera, p);
  r.image = out.image;
  for (const auto& v : out.truth.vertices) r.inView += v.inImage ? 1 : 0;
  return r;
}

enum Method { eOpenCvClassic, eOpenCvSectors, eStandard, eExhaustive };
const char* kMethodNames[] = {"opencv_classic", "opencv_sb", "ccalib_standard",
                              "ccalib_exhaustive"};

std::vector<ccReportedVertex> detect(const Rendered& r, Method m) {
  std::vector<ccReportedVertex> out;
  if (m == eOpenCvClassic || m == eOpenCvSectors) {
    const cv::Mat img(static_cast<int>(r.image.height()), static_cast<int>(r.image.width()),
                      CV_8UC1, const_cast<unsigned char*>(r.image.row(0)),
                      static_cast<std::size_t>(r.image.rowUpdate()));
    const cv::Size pattern(static_cast<int>(r.scene.cols - 1), static_cast<int>(r.scene.rows - 1));
    std::vector<cv::Point2f> corners;
    bool found;
    if (m == eOpenCvClassic) {
      found = cv::findChessboardCorners(
          img, pattern, corners, cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE);
      if (found) {
        cv::cornerSubPix(
            img, corners, cv::Size(5, 5), cv::Size(-1, -1),
            cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.001));
      }
    } else {
      found = cv::findChessboardCornersSB(
          img, pattern, corners,
          cv::CALIB_CB_NORMALIZE_IMAGE | cv::CALIB_CB_EXHAUSTIVE | cv::CALIB_CB_ACCURACY);
    }
    if (!found) return out;
    for (std::size_t k = 0; k < corners.size(); ++k) {
      out.push_back({ccVector<2>(corners[k].x, corners[k].y), static_cast<long>(k % pattern.width),
                     static_cast<long>(k / pattern.width)});
    }
    return out;
  }
  ccCalib2VertexFeatureParams params(ccVector<2>(1, 1), ccCalib2VertexFeatureDefs::eNone);
  params.algorithm(m == eStandard ? ccCalib2VertexFeatureDefs::eStandard
                                  : ccCalib2VertexFeatureDefs::eExhaustive);
  if (m == eStandard) params.uniformLighting(r.scene.gradient == 0 && r.scene.vignetting == 0);
  std::vector<ccCrspPairWeighted> f;
  try {
    cfCalib2VertexFeatureExtract(r.image, params, f, nullptr, 0);
  } catch (const ccException&) {
    return out;
  }
  for (const auto& p : f) {
    out.push_back({p.first, std::lround(p.second.x()), std::lround(p.second.y())});
  }
  return out;
}

void runDetector(benchmark::State& state, std::shared_ptr<Rendered> r, Method m) {
  std::vector<ccReportedVertex> found;
  for (auto _ : state) {
    found = detect(*r, m);
    benchmark::DoNotOptimize(found.data());
  }
  if (!r->scene.board) {
    state.counters["reported"] = static_cast<double>(found.size());
    return;
  }
  const ccCheckerScore s = cfScoreCheckerVertices(r->camera, found, false);
  state.counters["found"] =
      r->inView > 0 ? static_cast<double>(s.found - s.wrongLabels - s.offVertex) / r->inView : 0;
  state.counters["wrong"] = s.wrongLabels + s.offVertex;
  state.counters["rms_px"] = s.rms;
  state.counters["max_px"] = s.maxError;
}

std::vector<Scene> scenes() {
  std::vector<Scene> v;
  auto add = [&](const std::string& name, auto&& edit) {
    Scene s;
    s.name = name;
    edit(s);
    v.push_back(s);
  };
  add("dark_margin", [](Scene&) {});
  add("light_margin", [](Scene& s) { s.margin = 0; });
  add("small_in_view", [](Scene& s) { s.fill = 0.25; });
  add("cut_by_border", [](Scene& s) {
    s.fill = 1.5;
    s.shift = ccVector<2>(2, 1);
  });
  add("lighting_gradient", [](Scene& s) {
    s.gradient = 0.0012;
    s.vignetting = 0.6;
  });
  add("blur_3px", [](Scene& s) {
    s.blur = 3;
    s.cols = 6;
    s.rows = 5;
  });
  add("tilt_60", [](Scene& s) {
    s.tiltY = 60;
    s.fov = 50;
  });
  add("barrel_k1_-0.2", [](Scene& s) {
    s.k1 = -0.2;
    s.fov = 70;
    s.fill = 0.95;
  });
  add("squares_10px", [](Scene& s) {
    s.cols = 30;
    s.rows = 22;
    s.fill = 22.0 * 10.0 / 960.0;
  });
  add("no_board", [](Scene& s) { s.board = false; });
  return v;
}

const int kRegistered = [] {
  for (const Scene& s : scenes()) {
    auto r = std::make_shared<Rendered>(render(s));
    for (Method m : {eOpenCvClassic, eOpenCvSectors, eStandard, eExhaustive}) {
      benchmark::RegisterBenchmark((s.name + "/" + kMethodNames[m]).c_str(),
                                   [r, m](benchmark::State& st) { runDetector(st, r, m); })
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1)
          // OpenCV's classic detector can spend minutes on an image it fails on: one run
          // of it per image keeps the whole comparison within minutes.
          ->Repetitions(m == eOpenCvClassic   ? 1
                        : m == eOpenCvSectors ? 2
                                              : 5)
          ->ComputeStatistics(
              "max",
              [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); })
          ->ReportAggregatesOnly(true);
    }
  }
  return 0;
}();

}  // namespace
