// SPDX-License-Identifier: Apache-2.0
// Speed of the plate renderer and of image decoding on a full-size sensor image.
#include <benchmark/benchmark.h>

#include "tools/imageio/image_io.h"
#include "tools/plate/plate_render.h"

namespace {

// A 5-megapixel sensor.
constexpr long kWidth = 2592;
constexpr long kHeight = 1944;

ccPlateRenderParams sensorParams(int supersample) {
  ccPlateRenderParams p;
  p.width = kWidth;
  p.height = kHeight;
  p.supersample = supersample;
  p.blurSigma = 1.0;
  p.noiseSigma = 2.0;
  return p;
}

void BM_RenderDots(benchmark::State& state) {
  const ccDotPlate plate = cfDotPlate(31, 23, true);
  const ccPlateCamera camera = cfPlateCameraView(cfPatternRegion(plate), kWidth, kHeight, 10, 5, 5);
  const ccPlateRenderParams p = sensorParams(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(cfRenderPlate(plate, camera, p).image.row(0));
}
BENCHMARK(BM_RenderDots)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_RenderCheckerDistorted(benchmark::State& state) {
  const ccCheckerPlate plate = cfCheckerPlate(18, 13, true);
  ccPlateCamera camera = cfPlateCameraView(cfPatternRegion(plate), kWidth, kHeight, -15, 10, -8);
  camera.distortion(ccVector<2>(kWidth / 2.0, kHeight / 2.0), 1600.0, -0.1, 0.01);
  const ccPlateRenderParams p = sensorParams(4);
  for (auto _ : state) benchmark::DoNotOptimize(cfRenderPlate(plate, camera, p).image.row(0));
}
BENCHMARK(BM_RenderCheckerDistorted)->Unit(benchmark::kMillisecond);

void BM_DecodePng(benchmark::State& state) {
  const ccDotPlate plate = cfDotPlate(31, 23, true);
  const ccPlateCamera camera = cfPlateCameraView(cfPatternRegion(plate), kWidth, kHeight, 10, 5, 5);
  const std::vector<unsigned char> png =
      cfEncodeImage(cfRenderPlate(plate, camera, sensorParams(1)).image, eImagePng);
  for (auto _ : state) benchmark::DoNotOptimize(cfDecodeImage(png, "bench.png").row(0));
}
BENCHMARK(BM_DecodePng)->Unit(benchmark::kMillisecond);

}  // namespace
