// SPDX-License-Identifier: Apache-2.0
// Speed of one caliper run as the checkerboard stages use it (1 unit wide, one sample across,
// about one sample per pixel, Lanczos reads), across a blurred, noisy straight edge.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "platform/vision/caliper.h"

namespace {

// The fastest repetition: on a shared machine it is the figure least disturbed by other load
// (run with --benchmark_repetitions=N).
double fastest(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

ccPelBuffer<unsigned char> edgeImage() {
  constexpr long kSize = 64;
  constexpr double kAngle = 0.3, kBlur = 1.0, kNoise = 1.0;
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, kNoise);
  ccPelBuffer<unsigned char> img(kSize, kSize);
  for (long y = 0; y < kSize; ++y) {
    for (long x = 0; x < kSize; ++x) {
      const double d = (x - 32.3) * std::cos(kAngle) + (y - 31.8) * std::sin(kAngle);
      const double v = 60.0 + 130.0 * 0.5 * std::erfc(-d / (kBlur * std::sqrt(2.0))) + noise(rng);
      img.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return img;
}

void BM_CaliperRun(benchmark::State& state) {
  const ccPelBuffer<unsigned char> img = edgeImage();
  const double length = static_cast<double>(state.range(0));
  ccAffineSamplingParams sampling(
      ccAffineRectangle(ccVector<2>(31.7, 32.2), length, 1.0, ccRadian(0.35), ccRadian(0.0)),
      static_cast<int>(length), 1, static_cast<int>(state.range(1)));
  ccCaliperRunParams run(0.0, eEitherPolarity);
  run.contrastThreshold(10.0);
  run.maxNumResults(5);
  ccCaliperResultSet results;
  for (auto _ : state) {
    cfCaliperRun(img, sampling, run, results);
    benchmark::DoNotOptimize(results.nResults());
  }
}
// Search lengths in pixels; interpolation 4 (Lanczos) as the checker stages use, 2 (cubic) for
// comparison.
BENCHMARK(BM_CaliperRun)
    ->Args({16, 4})
    ->Args({40, 4})
    ->Args({16, 2})
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", fastest);

}  // namespace
