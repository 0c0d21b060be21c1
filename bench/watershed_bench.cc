// SPDX-License-Identifier: Apache-2.0
// Speed of the region segmentation of a checkerboard edge map: watershed and the 3 x 3
// erosion that thickens the edges.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "platform/foundation/pel_ops.h"
#include "platform/vision/morphology.h"
#include "platform/vision/watershed.h"

namespace {

// Edge map of a checkerboard with 48-pixel squares turned by 7 degrees: 255 with 0 on the
// pixels where the square index changes, and about one edge pixel in 30 missing.
ccPelBuffer<unsigned char> checkerEdges(long w, long h) {
  ccPelBuffer<unsigned char> img(w, h);
  const double c = std::cos(0.122), s = std::sin(0.122), pitch = 48.0;
  std::mt19937 rng(2);
  auto cellOf = [&](long x, long y) {
    const double u = (c * x + s * y) / pitch, v = (-s * x + c * y) / pitch;
    return std::make_pair(static_cast<long>(std::floor(u)), static_cast<long>(std::floor(v)));
  };
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const auto here = cellOf(x, y);
      const bool edge =
          (x + 1 < w && cellOf(x + 1, y) != here) || (y + 1 < h && cellOf(x, y + 1) != here);
      img.at(x, y) = (edge && rng() % 30 != 0) ? 0 : 255;
    }
  return img;
}

void BM_WatershedCheckerEdges(benchmark::State& state) {
  const ccPelBuffer<unsigned char> edges = checkerEdges(state.range(0), state.range(1));
  ccWatershedRunParams params(50, 5.0, 9.0, false, false);
  params.minPels(16);
  params.levelMergeThresh(3.0);
  params.distMergeThresh(0.0);
  for (auto _ : state) {
    ccPelBuffer<unsigned int> labels = cfWatershedTransform(edges, params);
    benchmark::DoNotOptimize(labels.row(0));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void BM_ErodeSquare(benchmark::State& state) {
  const long w = state.range(0), h = state.range(1);
  const ccPelBuffer<unsigned char> edges = checkerEdges(w, h);
  const ccGMorphElement square{ccGMorph3x3Element(ccGMorphDefs::eSquare)};
  for (auto _ : state) {
    ccPelBuffer<unsigned char> padded(ccPelRect(-1, -1, w + 2, h + 2));
    cfPelSet(padded, static_cast<unsigned char>(255));
    ccPelBuffer<unsigned char> inner = padded;
    inner.window(edges.window());
    cfPelCopy(edges, inner);
    ccPelBuffer<unsigned char> out;
    square.erode(padded, out);
    benchmark::DoNotOptimize(out.row(0));
  }
}

BENCHMARK(BM_WatershedCheckerEdges)
    ->Args({1280, 960})
    ->Args({2592, 1944})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ErodeSquare)->Args({1280, 960})->Args({2592, 1944})->Unit(benchmark::kMillisecond);

}  // namespace
