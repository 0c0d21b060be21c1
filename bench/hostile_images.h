// SPDX-License-Identifier: Apache-2.0
// Fixed-seed images where the cost of dot finding is driven by noise rather than by the
// plate: a plate whose surround sits at the segmentation threshold, and pure noise, beside
// the plain plate of the same size for comparison.
#ifndef BENCH_HOSTILE_IMAGES_H
#define BENCH_HOSTILE_IMAGES_H

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "platform/foundation/pel_buffer.h"
#include "tools/plate/plate_render.h"

namespace bench {

enum class Scene { ePlate, eNoisySurround, eNoise };

constexpr double kPlatePitchPx = 60.0;  // dot pitch of the rendered plates, pixels
constexpr double kPlateFill = 0.95;     // share of the image the full plate spans
constexpr double kSurroundFill = 0.6;   // the plate inside the noisy surround spans less
constexpr double kDotLevel = 200.0;     // light dots on a dark plate (grey levels)
constexpr double kPlateLevel = 40.0;
// The surround: grey noise centred on the level between dots and plate (where the
// threshold lands), wide enough to cross the soft band everywhere.
constexpr double kSurroundMean = 120.0;
constexpr double kSurroundSigma = 12.0;
constexpr double kSurroundMarginPitch = 0.75;  // plate paper beyond the outer dot centres

// Light dots with the marker on a dark plate, affine view turned by 4 degrees, blur 1 px and
// noise 2 grey levels; the dot field spans `fill` of the image. With `noisyBeyondPaper`
// every pixel beyond the plate paper becomes threshold-level noise.
inline ccPelBuffer<unsigned char> dotPlate(long width, long height, double fill,
                                           bool noisyBeyondPaper) {
  const ccDotPlate plate = cfDotPlate(static_cast<long>(width * fill / kPlatePitchPx),
                                      static_cast<long>(height * fill / kPlatePitchPx), true);
  const ccPlateCamera camera =
      cfPlateCameraAffine(cfPatternRegion(plate), width, height, 10.0, 0.0, 4.0, fill);
  ccPlateRenderParams p;
  p.width = width;
  p.height = height;
  p.lightLevel = kPlateLevel;
  p.darkLevel = kDotLevel;
  p.blurSigma = 1.0;
  p.noiseSigma = 2.0;
  ccPelBuffer<unsigned char> img = cfRenderPlate(plate, camera, p).image;
  if (!noisyBeyondPaper) return img;
  const double m = kSurroundMarginPitch;
  const double u0 = -m, u1 = static_cast<double>(plate.cols - 1) + m;
  const double v0 = -m, v1 = static_cast<double>(plate.rows - 1) + m;
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(kSurroundMean, kSurroundSigma);
  for (long y = 0; y < height; ++y) {
    for (long x = 0; x < width; ++x) {
      const ccVector<2> q =
          camera.plateFromImage(ccVector<2>(static_cast<double>(x), static_cast<double>(y)));
      if (q.x() >= u0 && q.x() <= u1 && q.y() >= v0 && q.y() <= v1) continue;
      img.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(noise(rng)), 0L, 255L));
    }
  }
  return img;
}

// Uniform noise over all 256 grey levels.
inline ccPelBuffer<unsigned char> uniformNoise(long width, long height) {
  ccPelBuffer<unsigned char> img(width, height);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> level(0, 255);
  for (long y = 0; y < height; ++y) {
    unsigned char* row = &img.at(0, y);
    for (long x = 0; x < width; ++x) row[x] = static_cast<unsigned char>(level(rng));
  }
  return img;
}

inline ccPelBuffer<unsigned char> sceneImage(Scene scene, long width, long height) {
  switch (scene) {
    case Scene::ePlate:
      return dotPlate(width, height, kPlateFill, false);
    case Scene::eNoisySurround:
      return dotPlate(width, height, kSurroundFill, true);
    default:
      return uniformNoise(width, height);
  }
}

// The scene at 2592 x 1944, made once per program.
inline const ccPelBuffer<unsigned char>& sensorScene(Scene scene) {
  static std::map<Scene, ccPelBuffer<unsigned char>> cache;
  auto it = cache.find(scene);
  if (it == cache.end()) it = cache.emplace(scene, sceneImage(scene, 2592, 1944)).first;
  return it->second;
}

}  // namespace bench

#endif  // BENCH_HOSTILE_IMAGES_H
