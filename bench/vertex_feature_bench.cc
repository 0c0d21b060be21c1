// SPDX-License-Identifier: Apache-2.0
// Speed of the whole checkerboard vertex extraction (standard algorithm) on rendered boards
// with the fiducial, at 1280 x 960 and 2592 x 1944, per label mode and lighting mode; and on
// the real checkerboard photographs when they are present.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cal/calibftr/vertex_feature_extract.h"
#include "tools/imageio/image_io.h"
#include "tools/plate/plate_render.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

// Squares about this many pixels wide in the image.
constexpr double kSquarePx = 50.0;

// A board filling most of the image, tilted a little, with the fiducial. Uneven lighting: a
// gain ramp of 2:1 across the image and 30 % vignetting.
ccPlateRendering renderBoard(long width, long height, bool uneven) {
  const double fill = 0.92;
  const ccCheckerPlate plate =
      cfCheckerPlate(static_cast<long>(width * fill / kSquarePx) - 2,
                     static_cast<long>(height * fill / kSquarePx) - 2, true);
  const ccPlateCamera camera =
      cfPlateCameraView(cfPaperRegion(plate), width, height, 10.0, -6.0, 4.0, fill);
  ccPlateRenderParams p;
  p.width = width;
  p.height = height;
  p.blurSigma = 1.0;
  p.noiseSigma = 2.0;
  if (uneven) {
    p.gradient = ccVector<2>(1.0 / static_cast<double>(width), 0.0);
    p.vignetting = 0.3;
  }
  return cfRenderPlate(plate, camera, p);
}

void BM_VertexFeatures(benchmark::State& state, long width, long height,
                       Defs::CorrespondMethod mode, bool uneven) {
  const ccPlateRendering r = renderBoard(width, height, uneven);
  ccCalib2VertexFeatureParams params;
  params.labelMode(mode);
  params.uniformLighting(!uneven);
  params.origin(ccVector<2>(0.5 * static_cast<double>(width) + 30.0,
                            0.5 * static_cast<double>(height) - 20.0));
  std::vector<ccCrspPairWeighted> features;
  for (auto _ : state) {
    cfCalib2VertexFeatureExtract(r.image, params, features);
    benchmark::DoNotOptimize(features.data());
  }
  state.counters["vertices"] = static_cast<double>(features.size());
  state.counters["truth"] = static_cast<double>(r.truth.vertices.size());
}

#define VERTEX_BENCH(name, w, h, mode, uneven) \
  BENCHMARK_CAPTURE(BM_VertexFeatures, name, w, h, mode, uneven)->Unit(benchmark::kMillisecond)

VERTEX_BENCH(none_uniform_1280x960, 1280, 960, Defs::eNone, false);
VERTEX_BENCH(origin_uniform_1280x960, 1280, 960, Defs::eUseOrigin, false);
VERTEX_BENCH(fiducial_uniform_1280x960, 1280, 960, Defs::eUseFiducial, false);
VERTEX_BENCH(none_nonuniform_1280x960, 1280, 960, Defs::eNone, true);
VERTEX_BENCH(origin_nonuniform_1280x960, 1280, 960, Defs::eUseOrigin, true);
VERTEX_BENCH(fiducial_nonuniform_1280x960, 1280, 960, Defs::eUseFiducial, true);
VERTEX_BENCH(none_uniform_2592x1944, 2592, 1944, Defs::eNone, false);
VERTEX_BENCH(origin_uniform_2592x1944, 2592, 1944, Defs::eUseOrigin, false);
VERTEX_BENCH(fiducial_uniform_2592x1944, 2592, 1944, Defs::eUseFiducial, false);
VERTEX_BENCH(none_nonuniform_2592x1944, 2592, 1944, Defs::eNone, true);
VERTEX_BENCH(origin_nonuniform_2592x1944, 2592, 1944, Defs::eUseOrigin, true);
VERTEX_BENCH(fiducial_nonuniform_2592x1944, 2592, 1944, Defs::eUseFiducial, true);

// One real photograph, label mode eNone, uniform lighting, both checkers needed or not.
void BM_VertexFeaturesPhoto(benchmark::State& state, const std::string& path, bool needBoth) {
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("real photographs not present");
    return;
  }
  const ccPelBuffer<unsigned char> image = cfReadImage(path);
  ccCalib2VertexFeatureParams params;
  params.needBothCheckers(needBoth);
  std::vector<ccCrspPairWeighted> features;
  for (auto _ : state) {
    try {
      cfCalib2VertexFeatureExtract(image, params, features);
    } catch (const ccCalib2VertexFeatureDefs::Errors&) {
      features.clear();
    }
    benchmark::DoNotOptimize(features.data());
  }
  state.counters["vertices"] = static_cast<double>(features.size());
}

const int kRegisteredPhotos = [] {
  const std::string root = CCALIB_REALDATA_DIR;
  std::vector<std::string> files;
  for (int k = 1; k <= 9; ++k)
    files.push_back(root + "/checker-opencv/chessboard-0" + std::to_string(k) + ".jpg");
  for (int k = 1; k <= 3; ++k)
    files.push_back(root + "/checker-visp/chessboard-0" + std::to_string(k) + ".png");
  for (const std::string& f : files) {
    const std::string name = std::filesystem::path(f).parent_path().filename().string() + "/" +
                             std::filesystem::path(f).filename().string();
    for (bool both : {true, false}) {
      benchmark::RegisterBenchmark(
          ("BM_VertexFeaturesPhoto/" + name + (both ? "/both" : "/single")).c_str(),
          BM_VertexFeaturesPhoto, f, both)
          ->Unit(benchmark::kMillisecond);
    }
  }
  return static_cast<int>(files.size());
}();

}  // namespace
