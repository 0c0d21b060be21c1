// SPDX-License-Identifier: Apache-2.0
// Checker finder timing: rendered boards at 1280 x 960 and 2592 x 1944, with a board and
// with none (noise and clutter), through the C interface as the exhaustive algorithm
// calls it.
#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <string>

#include "platform/checkerfinder/checker_finder.h"
#include "platform/checkerfinder/checker_finder_image.h"
#include "tools/imageio/image_io.h"
#include "tools/plate/plate_render.h"

namespace {

enum Scene { eBoard = 0, eNoise = 1, eClutter = 2, eSmallSquares = 3 };

ccPelBuffer<unsigned char> scene(long width, long height, Scene s) {
  if (s == eBoard || s == eSmallSquares) {
    // Squares of about 75 px, or of 8 px (2,500 vertices).
    const ccCheckerPlate plate =
        s == eBoard ? cfCheckerPlate(10, 8, false) : cfCheckerPlate(60, 45, false);
    const double fill = s == eBoard ? 0.8 : 45.0 * 8.0 / height;
    const ccPlateCamera cam =
        cfPlateCameraView(cfPatternRegion(plate), width, height, 20, 10, 7, fill);
    ccPlateRenderParams p;
    p.width = width;
    p.height = height;
    p.blurSigma = 0.8;
    p.noiseSigma = 1.5;
    p.supersample = 2;
    return cfRenderPlate(plate, cam, p).image;
  }
  ccPelBuffer<unsigned char> im(width, height);
  std::mt19937 rng(3);
  if (s == eNoise) {
    std::normal_distribution<double> g(128, 20);
    for (long y = 0; y < height; ++y)
      for (long x = 0; x < width; ++x)
        im.at(x, y) = static_cast<unsigned char>(std::clamp(g(rng), 0.0, 255.0));
    return im;
  }
  std::uniform_int_distribution<long> px(0, width - 1), py(0, height - 1), size(5, 120);
  std::uniform_int_distribution<int> grey(0, 255);
  for (int k = 0; k < 2000; ++k) {
    const long x0 = px(rng), y0 = py(rng), w = size(rng), h = size(rng);
    const unsigned char v = static_cast<unsigned char>(grey(rng));
    for (long y = y0; y < std::min(height, y0 + h); ++y)
      for (long x = x0; x < std::min(width, x0 + w); ++x) im.at(x, y) = v;
  }
  return im;
}

void BM_CheckerFinder(benchmark::State& state) {
  const long width = state.range(0), height = state.range(1);
  const ccPelBuffer<unsigned char> image = scene(width, height, static_cast<Scene>(state.range(2)));
  const cimg_image8Const view = cc_Image(image);
  cclft_calibrationCheckerFinderParams p;
  cclft_calibrationCheckerFinderParams_construct(&p);
  p.startPoint = cmath_vect{0.5 * width, 0.5 * height};
  cclft_calibrationCheckerFinderResultSet* rs = nullptr;
  cclft_calibrationCheckerFinderResultSet_construct(&rs);
  cclft_status status = 0;
  for (auto _ : state) {
    status = cclft_calibrationCheckerFinder_run(&view, &p, rs);
    benchmark::DoNotOptimize(status);
  }
  const cstd_vector_cclft_crspPair* pairs = nullptr;
  size_t n = 0;
  cclft_calibrationCheckerFinderResultSet_getPairs(rs, &pairs);
  cstd_vector_cclft_crspPair_getSize(pairs, &n);
  state.counters["vertices"] = static_cast<double>(n);
  state.counters["found"] = status == CCLFT_STATUS_OK ? 1 : 0;
  cclft_calibrationCheckerFinderResultSet_destruct(rs);
}

BENCHMARK(BM_CheckerFinder)
    ->ArgNames({"width", "height", "scene"})
    ->Args({1280, 960, eBoard})
    ->Args({1280, 960, eNoise})
    ->Args({1280, 960, eClutter})
    ->Args({1280, 960, eSmallSquares})
    ->Args({2592, 1944, eBoard})
    ->Args({2592, 1944, eNoise})
    ->Args({2592, 1944, eClutter})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The shared real photographs (640 x 480 and 320 x 240), one benchmark each; absent
// photos are skipped.
void BM_CheckerFinderRealPhoto(benchmark::State& state, const std::string& file) {
  const std::string path = std::string(CCALIB_REALDATA_DIR) + "/" + file;
  if (!std::ifstream(path).good()) {
    state.SkipWithError("no real data");
    return;
  }
  const ccPelBuffer<unsigned char> image = cfReadImage(path);
  const cimg_image8Const view = cc_Image(image);
  cclft_calibrationCheckerFinderParams p;
  cclft_calibrationCheckerFinderParams_construct(&p);
  p.startPoint = cmath_vect{0.5 * image.width(), 0.5 * image.height()};
  cclft_calibrationCheckerFinderResultSet* rs = nullptr;
  cclft_calibrationCheckerFinderResultSet_construct(&rs);
  for (auto _ : state) benchmark::DoNotOptimize(cclft_calibrationCheckerFinder_run(&view, &p, rs));
  const cstd_vector_cclft_crspPair* pairs = nullptr;
  size_t n = 0;
  cclft_calibrationCheckerFinderResultSet_getPairs(rs, &pairs);
  cstd_vector_cclft_crspPair_getSize(pairs, &n);
  state.counters["vertices"] = static_cast<double>(n);
  cclft_calibrationCheckerFinderResultSet_destruct(rs);
}

const int kRealPhotos = [] {
  for (int k = 1; k <= 9; ++k) {
    const std::string f = "checker-opencv/chessboard-0" + std::to_string(k) + ".jpg";
    benchmark::RegisterBenchmark(("BM_CheckerFinderRealPhoto/" + f).c_str(),
                                 BM_CheckerFinderRealPhoto, f)
        ->Unit(benchmark::kMillisecond);
  }
  for (int k = 1; k <= 3; ++k) {
    const std::string f = "checker-visp/chessboard-0" + std::to_string(k) + ".png";
    benchmark::RegisterBenchmark(("BM_CheckerFinderRealPhoto/" + f).c_str(),
                                 BM_CheckerFinderRealPhoto, f)
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}();

}  // namespace
