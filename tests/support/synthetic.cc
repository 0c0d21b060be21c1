// SPDX-License-Identifier: Apache-2.0
// Supersampled synthetic shapes for accuracy tests.
#include "tests/support/synthetic.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

ccPelBuffer<double> cfSyntheticCoverage(long width, long height, int supersample,
                                        const std::function<bool(double x, double y)>& inside) {
  ccPelBuffer<double> cov(width, height);
  const int n = std::max(1, supersample);
  const double step = 1.0 / n;
  for (long y = 0; y < height; ++y) {
    for (long x = 0; x < width; ++x) {
      int hits = 0;
      for (int j = 0; j < n; ++j) {
        double sy = y - 0.5 + (j + 0.5) * step;
        for (int i = 0; i < n; ++i) {
          double sx = x - 0.5 + (i + 0.5) * step;
          if (inside(sx, sy)) ++hits;
        }
      }
      cov.at(x, y) = static_cast<double>(hits) / (n * n);
    }
  }
  return cov;
}

void cfSyntheticBlur(ccPelBuffer<double>& image, double sigma) {
  if (sigma <= 0.0) return;
  const int r = static_cast<int>(std::ceil(4.0 * sigma));
  std::vector<double> k(2 * r + 1);
  double sum = 0.0;
  for (int i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& v : k) v /= sum;
  const long w = image.width(), h = image.height();
  std::vector<double> line;
  for (long y = 0; y < h; ++y) {
    line.assign(image.row(y), image.row(y) + w);
    for (long x = 0; x < w; ++x) {
      double acc = 0.0;
      for (int i = -r; i <= r; ++i) acc += k[i + r] * line[std::clamp<long>(x + i, 0, w - 1)];
      image.row(y)[x] = acc;
    }
  }
  for (long x = 0; x < w; ++x) {
    line.resize(h);
    for (long y = 0; y < h; ++y) line[y] = image.row(y)[x];
    for (long y = 0; y < h; ++y) {
      double acc = 0.0;
      for (int i = -r; i <= r; ++i) acc += k[i + r] * line[std::clamp<long>(y + i, 0, h - 1)];
      image.row(y)[x] = acc;
    }
  }
}

ccPelBuffer<unsigned char> cfSyntheticImage(const ccSyntheticSpec& spec,
                                            const std::function<bool(double x, double y)>& inside) {
  ccPelBuffer<double> cov = cfSyntheticCoverage(spec.width, spec.height, spec.supersample, inside);
  cfSyntheticBlur(cov, spec.blurSigma);
  std::mt19937 rng(spec.seed);
  std::normal_distribution<double> noise(0.0, spec.noiseSigma > 0.0 ? spec.noiseSigma : 1.0);
  ccPelBuffer<unsigned char> out(spec.width, spec.height);
  for (long y = 0; y < spec.height; ++y) {
    for (long x = 0; x < spec.width; ++x) {
      double v = spec.background + (spec.foreground - spec.background) * cov.at(x, y) +
                 spec.gradientPerPixel * x;
      if (spec.noiseSigma > 0.0) v += noise(rng);
      out.at(x, y) = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return out;
}
