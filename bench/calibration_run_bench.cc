// SPDX-License-Identifier: Apache-2.0
// Speed of the dot-grid calibration run on rendered plates (about 400 dots at 1280 x 960,
// about 1300 at 2592 x 1944), single thread; and at 2592 x 1944 the plate beside images whose
// cost is driven by noise (a plate in a threshold-level surround, pure noise).
#include <benchmark/benchmark.h>

#include "bench/hostile_images.h"
#include "cal/calib/calibration_run.h"
#include "tools/plate/plate_render.h"

namespace {

ccPlateRendering renderPlate(long width, long height, double pitchPx, bool marker) {
  const double fill = 0.95;
  ccDotPlate plate = cfDotPlate(static_cast<long>(width * fill / pitchPx),
                                static_cast<long>(height * fill / pitchPx), marker);
  ccPlateCamera camera =
      cfPlateCameraAffine(cfPatternRegion(plate), width, height, 10.0, 0.0, 4.0, fill);
  ccPlateRenderParams p;
  p.width = width;
  p.height = height;
  p.blurSigma = 1.0;
  p.noiseSigma = 2.0;
  p.invert = true;
  return cfRenderPlate(plate, camera, p);
}

void BM_CalibrationRun(benchmark::State& state, long width, long height, double pitchPx,
                       ccCalibDefs::CalibType type) {
  const ccPlateRendering r = renderPlate(width, height, pitchPx, true);
  const ccGridCalibParams params(1.0, 1.0, true, type);
  ccGridCalibResults results;
  for (auto _ : state) {
    cfCalibrationRun(r.image, params, results);
    benchmark::DoNotOptimize(results.maximumResidual());
  }
  state.counters["dots"] = static_cast<double>(results.imagePoints().size());
}

// A run on one of the scenes; a run that finds no plate (pure noise) throws, and is timed all
// the same.
void BM_CalibrationRunScene(benchmark::State& state, bench::Scene scene) {
  const ccGridCalibParams params(1.0, 1.0, true, ccCalibDefs::eGridLinear);
  ccGridCalibResults results;
  bool found = false;
  const ccPelBuffer<unsigned char>& image = bench::sensorScene(scene);  // rendered untimed
  for (auto _ : state) {
    try {
      cfCalibrationRun(image, params, results);
      found = true;
    } catch (const ccCalibDefs::TooFewDotsFound&) {
      found = false;
    }
  }
  state.counters["dots"] = found ? static_cast<double>(results.imagePoints().size()) : 0.0;
}

BENCHMARK_CAPTURE(BM_CalibrationRun, linear_1280x960, 1280, 960, 55.0, ccCalibDefs::eGridLinear)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CalibrationRun, poly5_1280x960, 1280, 960, 55.0,
                  ccCalibDefs::eGridPolynomialOrder5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CalibrationRun, linear_2592x1944, 2592, 1944, 60.0, ccCalibDefs::eGridLinear)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CalibrationRunScene, plate, bench::Scene::ePlate)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CalibrationRunScene, noisy_surround, bench::Scene::eNoisySurround)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CalibrationRunScene, noise, bench::Scene::eNoise)
    ->Unit(benchmark::kMillisecond);

}  // namespace
