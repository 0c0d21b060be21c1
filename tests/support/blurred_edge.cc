// SPDX-License-Identifier: Apache-2.0
// Analytic blurred straight edges for caliper and edge accuracy tests.
#include "tests/support/blurred_edge.h"

#include <algorithm>
#include <cmath>
#include <random>

ccPelBuffer<unsigned char> cfBlurredEdgeImage(const ccBlurredEdgeSpec& spec) {
  constexpr int kSubsamples = 8;  // per axis; the blurred step is smooth at this spacing
  const double nx = std::cos(spec.normalRadians), ny = std::sin(spec.normalRadians);
  const double sigma = std::max(spec.blurSigma, 0.3);
  std::mt19937 rng(spec.seed);
  std::normal_distribution<double> noise(0.0, spec.noiseSigma > 0.0 ? spec.noiseSigma : 1.0);
  ccPelBuffer<unsigned char> img(spec.width, spec.height);
  for (long y = 0; y < spec.height; ++y) {
    for (long x = 0; x < spec.width; ++x) {
      // Beyond half a pixel diagonal plus 8 sigma the blurred step is flat to 1e-15.
      const double d0 = (x - spec.pointOnEdge.x()) * nx + (y - spec.pointOnEdge.y()) * ny;
      double sum = d0 > 0.0 ? kSubsamples * kSubsamples : 0.0;
      if (std::fabs(d0) < 0.71 + 8.0 * sigma) sum = 0.0;
      for (int j = 0; j < kSubsamples && std::fabs(d0) < 0.71 + 8.0 * sigma; ++j) {
        for (int i = 0; i < kSubsamples; ++i) {
          const double px = x - 0.5 + (i + 0.5) / kSubsamples,
                       py = y - 0.5 + (j + 0.5) / kSubsamples;
          const double d = (px - spec.pointOnEdge.x()) * nx + (py - spec.pointOnEdge.y()) * ny;
          sum += 0.5 * std::erfc(-d / (sigma * std::sqrt(2.0)));
        }
      }
      double v = spec.dark + (spec.light - spec.dark) * sum / (kSubsamples * kSubsamples);
      if (spec.noiseSigma > 0.0) v += noise(rng);
      img.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return img;
}
