// SPDX-License-Identifier: Apache-2.0
// Speed of the robust dot-grid run against the specified run on the same rendered plates,
// and on images that hold no plate (noise, smoothed noise, a checkerboard), where it must
// give up quickly; single thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <random>
#include <string>

#include "cal/calib/calibration_run.h"
#include "cal/calib/robust_dot_grid.h"
#include "tools/imageio/image_io.h"
#include "tools/plate/plate_render.h"

namespace {

// The plate of the calibration run benchmark: tilted 10 degrees, turned 4, blur 1, noise 2.
ccPelBuffer<unsigned char> plate(long width, long height, double pitchPx) {
  const double fill = 0.95;
  const ccDotPlate p = cfDotPlate(static_cast<long>(width * fill / pitchPx),
                                  static_cast<long>(height * fill / pitchPx), true);
  const ccPlateCamera camera =
      cfPlateCameraAffine(cfPatternRegion(p), width, height, 10.0, 0.0, 4.0, fill);
  ccPlateRenderParams r;
  r.width = width;
  r.height = height;
  r.blurSigma = 1.0;
  r.noiseSigma = 2.0;
  r.invert = true;
  return cfRenderPlate(p, camera, r).image;
}

// Gaussian noise (grey 128, spread 40), box-smoothed `passes` times: 0 is white noise, more
// passes give larger blobs.
ccPelBuffer<unsigned char> noise(long width, long height, int passes) {
  std::mt19937 rng(9);
  std::normal_distribution<double> n(0.0, 1.0);
  std::vector<double> v(static_cast<std::size_t>(width * height));
  for (double& x : v) x = n(rng);
  for (int k = 0; k < passes; ++k) {
    std::vector<double> s = v;
    for (long y = 1; y + 1 < height; ++y)
      for (long x = 1; x + 1 < width; ++x) {
        const std::size_t i = static_cast<std::size_t>(y * width + x);
        s[i] = (v[i - 1] + v[i + 1] + v[i - width] + v[i + width] + v[i]) / 5.0;
      }
    v = s;
  }
  double spread = 0.0;
  for (double x : v) spread += x * x / static_cast<double>(v.size());
  ccPelBuffer<unsigned char> image(width, height);
  for (long y = 0; y < height; ++y)
    for (long x = 0; x < width; ++x) {
      const double g =
          128.0 + 40.0 * v[static_cast<std::size_t>(y * width + x)] / std::sqrt(spread);
      image.at(x, y) = static_cast<unsigned char>(std::clamp(g, 0.0, 255.0));
    }
  return image;
}

ccPelBuffer<unsigned char> checkerboard(long width, long height) {
  const ccCheckerPlate board = cfCheckerPlate(14, 10, true);
  ccPlateRenderParams r;
  r.width = width;
  r.height = height;
  r.blurSigma = 1.0;
  r.noiseSigma = 2.0;
  return cfRenderPlate(board,
                       cfPlateCameraView(cfPatternRegion(board), width, height, 20, 0, 5, 0.8), r)
      .image;
}

void BM_Robust(benchmark::State& state, const ccPelBuffer<unsigned char>& (*image)()) {
  const ccPelBuffer<unsigned char>& im = image();
  const ccGridCalibParams params(1.0, 1.0, true, ccCalibDefs::eGridLinear);
  ccGridCalibResults results;
  std::vector<ccPair<long>> labels;
  for (auto _ : state) {
    try {
      cfCalibrationRunRobust(im, params, ccRobustGridOptions(), results, labels);
    } catch (const ccCalibDefs::Errors&) {
      labels.clear();
    }
    benchmark::DoNotOptimize(labels.data());
  }
  state.counters["dots"] = static_cast<double>(labels.size());
}

void BM_Specified(benchmark::State& state, const ccPelBuffer<unsigned char>& (*image)()) {
  const ccPelBuffer<unsigned char>& im = image();
  const ccGridCalibParams params(1.0, 1.0, true, ccCalibDefs::eGridLinear);
  ccGridCalibResults results;
  for (auto _ : state) {
    try {
      cfCalibrationRun(im, params, results);
    } catch (const ccCalibDefs::Errors&) {
    }
    benchmark::DoNotOptimize(results.maximumResidual());
  }
  state.counters["dots"] = static_cast<double>(results.imagePoints().size());
}

const ccPelBuffer<unsigned char>& plate1280() {
  static const ccPelBuffer<unsigned char> im = plate(1280, 960, 55.0);
  return im;
}
const ccPelBuffer<unsigned char>& plate2592() {
  static const ccPelBuffer<unsigned char> im = plate(2592, 1944, 60.0);
  return im;
}
const ccPelBuffer<unsigned char>& whiteNoise1280() {
  static const ccPelBuffer<unsigned char> im = noise(1280, 960, 0);
  return im;
}
const ccPelBuffer<unsigned char>& smoothNoise1280() {
  static const ccPelBuffer<unsigned char> im = noise(1280, 960, 3);
  return im;
}
const ccPelBuffer<unsigned char>& blobNoise1280() {
  static const ccPelBuffer<unsigned char> im = noise(1280, 960, 12);
  return im;
}
const ccPelBuffer<unsigned char>& checker1280() {
  static const ccPelBuffer<unsigned char> im = checkerboard(1280, 960);
  return im;
}
// A real photograph when the shared data is there, else a rendered stand-in of its size.
const ccPelBuffer<unsigned char>& metalPhoto() {
  static const ccPelBuffer<unsigned char> im = [] {
    const std::string path = std::string(CCALIB_REALDATA_DIR) + "/dots-metal/metal-14_10_22.png";
    return std::ifstream(path).good() ? cfReadImage(path) : plate(1920, 1080, 58.0);
  }();
  return im;
}

BENCHMARK_CAPTURE(BM_Specified, plate_1280x960, plate1280)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Robust, plate_1280x960, plate1280)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Specified, plate_2592x1944, plate2592)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Robust, plate_2592x1944, plate2592)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Specified, metal_photo, metalPhoto)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Robust, metal_photo, metalPhoto)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Robust, white_noise_1280x960, whiteNoise1280)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Robust, smooth_noise_1280x960, smoothNoise1280)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Robust, blob_noise_1280x960, blobNoise1280)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Robust, checkerboard_1280x960, checker1280)->Unit(benchmark::kMillisecond);

}  // namespace
