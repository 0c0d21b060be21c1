// SPDX-License-Identifier: Apache-2.0
// Speed of the checkerboard corner detection stages (tile detection, mesh, calipers, corner
// fit) and of the four together, on rendered boards in both lighting modes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <tuple>

#include "cal/checkertiles/checker_stages.h"
#include "platform/vision/gauss_sample.h"
#include "tools/plate/plate_render.h"

namespace {

// A board seen at a slight tilt and turn, squares of `square` pixels, with blur and noise.
struct Scene {
  ccPelBuffer<unsigned char> working;
  ccPelBuffer_const<unsigned char> detection;
};

const Scene& scene(long w, long h, double square, bool uniform) {
  static std::map<std::tuple<long, long, double, bool>, Scene> cache;
  auto key = std::make_tuple(w, h, square, uniform);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  const ccCheckerPlate plate =
      cfCheckerPlate(std::lround(0.9 * w / square), std::lround(0.9 * h / square), true);
  const ccPlateCamera camera =
      cfPlateCameraView(cfPatternRegion(plate), w, h, 20.0, 10.0, 17.0, 0.9);
  ccPlateRenderParams p;
  p.width = w;
  p.height = h;
  p.supersample = 2;
  p.blurSigma = 1.0;
  p.noiseSigma = 2.0;
  if (!uniform) {
    p.gradient = ccVector<2>(0.5 / w, 0.0);
    p.vignetting = 0.3;
  }
  Scene s;
  s.working = cfRenderPlate(plate, camera, p).image;
  if (uniform) {
    ccPelBuffer<unsigned char> smoothed;
    cfGaussSample(s.working, ccGaussSampleParams(1, 2, 1.0, true), smoothed);
    s.detection = smoothed;
  } else {
    s.detection = s.working;
  }
  return cache.emplace(key, std::move(s)).first->second;
}

ccCalib2VertexFeatureParams paramsFor(bool uniform) {
  ccCalib2VertexFeatureParams params;
  params.uniformLighting(uniform);
  return params;
}

struct Pass {
  std::vector<cc_Checker> tiles;
  std::vector<cc_Corner> corners;
  ccPelBuffer<unsigned char> edgeMap;
  ccBlobResults blobs;
  std::vector<const ccBlob*> blobList;
};

void findTiles(const Scene& s, bool uniform, Pass& p) {
  p.tiles.clear();
  p.corners.clear();
  cfCheckerFindTiles(s.detection, ccAffineRectangle(), ccAffineRectangle(), uniform, p.tiles,
                     p.edgeMap, p.blobs, p.blobList);
}

// args: width, height, square size, uniform lighting (1) or not (0), stage (0 tiles, 1 mesh,
// 2 calipers, 3 fit, 4 all four). Each iteration runs the stages before the measured one
// untimed (manual time), so that every stage starts from the state the pipeline gives it.
void BM_CheckerStages(benchmark::State& state) {
  const long w = state.range(0), h = state.range(1);
  const double square = static_cast<double>(state.range(2));
  const bool uniform = state.range(3) != 0;
  const int stage = static_cast<int>(state.range(4));
  const Scene& s = scene(w, h, square, uniform);
  const ccCalib2VertexFeatureParams params = paramsFor(uniform);
  Pass p;
  for (auto _ : state) {
    double seconds = 0.0;
    auto timed = [&](int which, auto&& run) {
      const auto t0 = std::chrono::steady_clock::now();
      run();
      if (stage == which || stage == 4) {
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      }
    };
    timed(0, [&] { findTiles(s, uniform, p); });
    if (stage >= 1) timed(1, [&] { cfCheckerBuildMesh(s.working, false, p.tiles, p.corners); });
    if (stage >= 2)
      timed(2, [&] { cfCheckerRefineCorners(s.working, params, p.tiles, p.corners); });
    if (stage >= 3) timed(3, [&] { cfCheckerFitCorners(params, p.corners); });
    benchmark::DoNotOptimize(p.corners.data());
    state.SetIterationTime(seconds);
  }
  state.counters["tiles"] = static_cast<double>(p.tiles.size());
  state.counters["corners"] = static_cast<double>(p.corners.size());
}

// Two boards per image size: a usual calibration board (about 13 x 10 squares) and a dense one.
void stageArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "square", "uniform", "stage"});
  for (int uniform : {1, 0}) {
    for (int stage = 0; stage <= 4; ++stage) {
      b->Args({1280, 960, 90, uniform, stage});
      b->Args({1280, 960, 30, uniform, stage});
      b->Args({2592, 1944, 180, uniform, stage});
      b->Args({2592, 1944, 50, uniform, stage});
    }
  }
}
BENCHMARK(BM_CheckerStages)
    ->Apply(stageArgs)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace
