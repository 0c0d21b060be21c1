// SPDX-License-Identifier: Apache-2.0
// Speed of gradient edge detection, peak thinning and Gaussian sampling on plate-sized
// images (a rotated checkerboard with blur and noise, fixed seed).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "platform/vision/edge.h"
#include "platform/vision/gauss_sample.h"

namespace {

// The fastest repetition: on a shared machine it is the figure least disturbed by other load
// (run with --benchmark_repetitions=N).
double fastest(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

// Smooth square wave of period 2 * pitch along u (pixels), +1 and -1 on alternate cells,
// with edges blurred by a Gaussian of `blur` pixels.
double squareWave(double u, double pitch, double blur) {
  const double cell = std::floor(u / pitch);
  const double d =
      std::min(u - cell * pitch, (cell + 1) * pitch - u);  // distance to the nearer edge
  const double sign = (static_cast<long>(cell) & 1) ? -1.0 : 1.0;
  return sign * std::erf(d / (std::sqrt(2.0) * blur));
}

// A checkerboard of `pitch`-pixel squares turned by 0.2 rad, edge blur 1 px, noise 2 grey
// levels.
const ccPelBuffer<unsigned char>& checkerImage(long width, long height, long pitch) {
  static std::map<std::pair<long, long>, ccPelBuffer<unsigned char>> cache;
  auto it = cache.find({width, pitch});
  if (it != cache.end()) return it->second;
  constexpr double kAngle = 0.2, kBlur = 1.0, kNoise = 2.0;
  const double kPitch = static_cast<double>(pitch);
  const double c = std::cos(kAngle), s = std::sin(kAngle);
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, kNoise);
  ccPelBuffer<unsigned char> img(width, height);
  for (long y = 0; y < height; ++y) {
    for (long x = 0; x < width; ++x) {
      const double u = c * x + s * y, v = -s * x + c * y;
      const double value =
          128.0 + 70.0 * squareWave(u, kPitch, kBlur) * squareWave(v, kPitch, kBlur) + noise(rng);
      img.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(value), 0L, 255L));
    }
  }
  return cache.emplace(std::make_pair(width, pitch), img).first->second;
}

// Width, height, square pitch: a plate of 20 squares across the view at 1.2 and 5 MP, and a
// dense board (65 squares across) at 5 MP where almost no stretch of a row is flat.
void imageSizes(benchmark::internal::Benchmark* b) {
  b->Args({1280, 960, 64})->Args({2592, 1944, 130})->Args({2592, 1944, 40});
}

void BM_EdgeDetectWithTruePeak(benchmark::State& state) {
  const ccPelBuffer<unsigned char>& img =
      checkerImage(state.range(0), state.range(1), state.range(2));
  const ccEdgeletParams params(0.89, 12.0, 1);
  ccPelBuffer<unsigned char> mag, ang;
  long count = 0;
  for (auto _ : state) {
    cfEdgeDetect(img, params, mag, ang);
    cfTruePeak(mag, ang, 12, mag, count);
    benchmark::DoNotOptimize(count);
  }
  state.counters["peaks"] = static_cast<double>(count);
}
BENCHMARK(BM_EdgeDetectWithTruePeak)
    ->Apply(imageSizes)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", fastest);

void BM_EdgeletSet(benchmark::State& state) {
  const ccPelBuffer<unsigned char>& img =
      checkerImage(state.range(0), state.range(1), state.range(2));
  const ccEdgeletParams params(0.89, 20.0, 1);
  ccEdgeletSet set;
  for (auto _ : state) {
    cfEdgeDetect(img, params, set);
    benchmark::DoNotOptimize(set.nEdges());
  }
  state.counters["edgelets"] = static_cast<double>(set.nEdges());
}
BENCHMARK(BM_EdgeletSet)
    ->Apply(imageSizes)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", fastest);

void BM_GaussSample(benchmark::State& state) {
  const ccPelBuffer<unsigned char>& img =
      checkerImage(state.range(0), state.range(1), state.range(2));
  const ccGaussSampleParams params(1, 2, 1.0, true);
  ccPelBuffer<unsigned char> out;
  for (auto _ : state) {
    cfGaussSample(img, params, out);
    benchmark::DoNotOptimize(out.row(0));
  }
}
BENCHMARK(BM_GaussSample)
    ->Apply(imageSizes)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", fastest);

}  // namespace
