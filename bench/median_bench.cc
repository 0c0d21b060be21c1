// SPDX-License-Identifier: Apache-2.0
// Speed of the median filter at the window sizes used for background estimation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "platform/vision/median.h"

namespace {

// A 40-pixel checkerboard (levels 50 and 180) under a left-to-right 1:2 lighting ramp, with
// uniform noise of +-8 grey levels.
ccPelBuffer<unsigned char> checkerScene(long w, long h) {
  ccPelBuffer<unsigned char> img(w, h);
  std::mt19937 rng(1);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const double base = (((x / 40) + (y / 40)) & 1) ? 180.0 : 50.0;
      const double v = base * (0.6 + 0.6 * double(x) / double(w)) + double(rng() % 17) - 8.0;
      img.at(x, y) = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  return img;
}

void BM_Median(benchmark::State& state) {
  const long w = state.range(0), h = state.range(1), k = state.range(2);
  const ccPelBuffer<unsigned char> img = checkerScene(w, h);
  const ccPelMedianParams params(ccPair<long>(k, k), ccPair<long>(1, 255), true);
  for (auto _ : state) {
    ccPelBuffer<unsigned char> out;
    cfPelMedian(img, params, out);
    benchmark::DoNotOptimize(out.row(0));
  }
  state.SetItemsProcessed(state.iterations() * w * h);
}

void BM_MedianMasked(benchmark::State& state) {
  const long w = state.range(0), h = state.range(1), k = state.range(2);
  const ccPelBuffer<unsigned char> img = checkerScene(w, h);
  // A mask over the middle of the image with a round hole of excluded pixels.
  ccPelBuffer<unsigned char> mask(ccPelRect(w / 8, h / 8, w * 3 / 4, h * 3 / 4));
  for (long y = mask.window().y(); y < mask.window().y() + mask.height(); ++y)
    for (long x = mask.window().x(); x < mask.window().x() + mask.width(); ++x)
      mask.at(x, y) =
          ((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2) < h * h / 16) ? 0 : 255;
  const ccPelMedianParams params(ccPair<long>(k, k), ccPair<long>(1, 255), true);
  for (auto _ : state) {
    ccPelBuffer<unsigned char> out;
    cfPelMedian(img, mask, params, out);
    benchmark::DoNotOptimize(out.row(0));
  }
}

BENCHMARK(BM_Median)
    ->Args({1024, 1024, 41})
    ->Args({1280, 960, 3})
    ->Args({1280, 960, 41})
    ->Args({1280, 960, 181})
    ->Args({2592, 1944, 41})
    ->Args({2592, 1944, 181})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MedianMasked)
    ->Args({1280, 960, 41})
    ->Args({2592, 1944, 181})
    ->Unit(benchmark::kMillisecond);

}  // namespace
