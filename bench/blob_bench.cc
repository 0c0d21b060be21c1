// SPDX-License-Identifier: Apache-2.0
// Blob analysis speed on dot-grid images of the two common sensor sizes, soft (as the dot
// finder runs it) and hard threshold, single thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <utility>

#include "bench/hostile_images.h"
#include "platform/vision/blob.h"

namespace {

// A grid of dark discs on a light ground, pitch and diameter in pixels, anti-aliased by 4 x 4
// supersampling near the edges, with a 3 x 3 box blur and Gaussian noise (sigma 2).
ccPelBuffer<unsigned char> dotGrid(long w, long h, double pitch, double diameter) {
  ccPelBuffer<unsigned char> img(w, h);
  const double r = diameter / 2;
  std::vector<double> cover(static_cast<std::size_t>(w * h), 0.0);
  for (double cy = pitch * 0.7; cy < h - pitch * 0.5; cy += pitch) {
    for (double cx = pitch * 0.6; cx < w - pitch * 0.5; cx += pitch) {
      for (long y = static_cast<long>(cy - r - 1); y <= static_cast<long>(cy + r + 1); ++y) {
        for (long x = static_cast<long>(cx - r - 1); x <= static_cast<long>(cx + r + 1); ++x) {
          int hits = 0;
          for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) {
              double sx = x - 0.375 + 0.25 * i - cx, sy = y - 0.375 + 0.25 * j - cy;
              hits += sx * sx + sy * sy < r * r;
            }
          }
          cover[static_cast<std::size_t>(y * w + x)] = hits / 16.0;
        }
      }
    }
  }
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 2.0);
  for (long y = 0; y < h; ++y) {
    for (long x = 0; x < w; ++x) {
      double c = 0.0;
      int n = 0;
      for (long dy = -1; dy <= 1; ++dy) {
        for (long dx = -1; dx <= 1; ++dx) {
          if (x + dx < 0 || x + dx >= w || y + dy < 0 || y + dy >= h) continue;
          c += cover[static_cast<std::size_t>((y + dy) * w + x + dx)];
          ++n;
        }
      }
      double v = 210.0 - 160.0 * c / n + noise(rng);
      img.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return img;
}

const ccPelBuffer<unsigned char>& image(long w) {
  // 1280 x 960 with 40 px pitch (about 700 dots); 2592 x 1944 with 70 px pitch (about 1000).
  static std::map<long, ccPelBuffer<unsigned char>> cache;
  auto it = cache.find(w);
  if (it == cache.end()) {
    it = w == 1280 ? cache.emplace(w, dotGrid(1280, 960, 40.0, 20.0)).first
                   : cache.emplace(w, dotGrid(2592, 1944, 70.0, 35.0)).first;
  }
  return it->second;
}

void runBlobs(benchmark::State& state, const ccBlobParams& params) {
  const ccPelBuffer<unsigned char>& img = image(state.range(0));
  ccBlobResults res;
  std::size_t dots = 0;
  for (auto _ : state) {
    cfBlobAnalysis(img, params, res);
    res.connectedBlobs().setFilter(ccBlob::eLabel, 1.0, 1.0, false);
    dots = res.connectedBlobs().allBlobs(true).size();
    benchmark::DoNotOptimize(dots);
  }
  state.counters["dots"] = static_cast<double>(dots);
  state.counters["Mpix/s"] =
      benchmark::Counter(static_cast<double>(img.width() * img.height()) * 1e-6,
                         benchmark::Counter::kIsIterationInvariantRate);
}

void BM_BlobSoft(benchmark::State& state) {
  ccBlobParams p;
  p.setSegmentationSoftThresh(120, 140, 6, true);  // dark dots: inverted
  p.keepRLE(true);
  runBlobs(state, p);
}

void BM_BlobHard(benchmark::State& state) {
  ccBlobParams p;
  p.setSegmentationHardThresh(130, true);
  runBlobs(state, p);
}

// A new results object per call: includes faulting in fresh working memory, as a single
// calibration run does.
void BM_BlobSoftFreshResults(benchmark::State& state) {
  ccBlobParams p;
  p.setSegmentationSoftThresh(120, 140, 6, true);
  p.keepRLE(true);
  const ccPelBuffer<unsigned char>& img = image(state.range(0));
  for (auto _ : state) {
    ccBlobResults res;
    cfBlobAnalysis(img, p, res);
    benchmark::DoNotOptimize(res.connectedBlobs().numBlobs());
  }
}

// The dot finder's soft pass on 2592 x 1944 images of the plate, the plate in a surround of
// threshold-level noise, and pure noise, with a new results object per call (as one pass of
// a calibration run); with the dot finder's area pre-filter (25.2 px) or without one.
void BM_BlobScene(benchmark::State& state, bench::Scene scene, double prefilterArea) {
  const ccPelBuffer<unsigned char>& img = bench::sensorScene(scene);
  ccBlobParams p;
  p.setSegmentationSoftThresh(110, 130, 6, false);
  p.keepRLE(true);
  p.prefilterMinArea(prefilterArea);
  std::size_t blobs = 0;
  for (auto _ : state) {
    ccBlobResults res;
    cfBlobAnalysis(img, p, res);
    blobs = res.connectedBlobs().numBlobs();
    benchmark::DoNotOptimize(blobs);
  }
  state.counters["blobs"] = static_cast<double>(blobs);
}

BENCHMARK(BM_BlobSoft)->Arg(1280)->Arg(2592)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlobSoftFreshResults)->Arg(2592)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlobHard)->Arg(1280)->Arg(2592)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BlobScene, plate, bench::Scene::ePlate, 0.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BlobScene, noisy_surround, bench::Scene::eNoisySurround, 0.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BlobScene, noise, bench::Scene::eNoise, 0.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BlobScene, plate_prefiltered, bench::Scene::ePlate, 25.2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BlobScene, noisy_surround_prefiltered, bench::Scene::eNoisySurround, 25.2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BlobScene, noise_prefiltered, bench::Scene::eNoise, 25.2)
    ->Unit(benchmark::kMillisecond);

}  // namespace
