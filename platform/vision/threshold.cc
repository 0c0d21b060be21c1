// SPDX-License-Identifier: Apache-2.0
// Masked histograms and the minimum within-group variance threshold with its score.
#include "platform/vision/threshold.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/exception.h"

namespace {

// Gaussian smoothing of the histogram before the valley is measured, in bins: at least
// kValleyMinSigma, and wider for histograms of few pixels, whose bins are mostly counting
// noise (kValleySparseSigma times the range width over the square root of the pixel count;
// 256 / sqrt(N) passes 3 bins below about 7300 pixels).
constexpr double kValleyMinSigma = 3.0;
constexpr double kValleySparseSigma = 1.0;
// Separability (between-class / total variance) that scores 0 and 1. An even spread has
// 0.75 and a single Gaussian 0.64; two clean modes with blur and noise are above 0.95, a
// checkerboard lit 2:1 across the image about 0.79.
constexpr double kEtaFloor = 0.65;
constexpr double kEtaFull = 0.80;

double clamp01(double v) {
  return std::max(0.0, std::min(1.0, v));
}

// Depth of the valley between the two class peaks of the smoothed histogram (see header).
double valleyScore(const std::vector<double>& h, int low, int high, int threshold, double total) {
  const int n = high - low;
  const double sigma = std::max(kValleyMinSigma, kValleySparseSigma * n / std::sqrt(total));
  const int radius = std::min(n, static_cast<int>(std::ceil(3.0 * sigma)));
  std::vector<double> kernel(2 * radius + 1);
  for (int k = -radius; k <= radius; ++k)
    kernel[k + radius] = std::exp(-0.5 * k * k / (sigma * sigma));
  // Normalised over the part of the kernel inside the range, so the ends are not pulled down.
  std::vector<double> s(n);
  for (int i = 0; i < n; ++i) {
    double sum = 0.0, wsum = 0.0;
    for (int k = std::max(-radius, -i); k <= std::min(radius, n - 1 - i); ++k) {
      sum += kernel[k + radius] * h[low + i + k];
      wsum += kernel[k + radius];
    }
    s[i] = sum / wsum;
  }
  const int t = threshold - low;
  const int peak0 = static_cast<int>(std::max_element(s.begin(), s.begin() + t) - s.begin());
  const int peak1 = static_cast<int>(std::max_element(s.begin() + t, s.end()) - s.begin());
  const double p = std::min(s[peak0], s[peak1]);
  if (!(p > 0.0)) return 0.0;
  const double v = *std::min_element(s.begin() + peak0, s.begin() + peak1 + 1);
  return clamp01(1.0 - v / p);
}

}  // namespace

void cf_MaskedPelHistogram(const ccPelBuffer_const<unsigned char>& image,
                           const ccPelBuffer_const<unsigned char>& mask,
                           std::vector<unsigned long>& hist) {
  image.requireBound();
  if (image.window().isNull())
    throw ccPel::BadWindow(L"cf_MaskedPelHistogram: the image window is empty");
  hist.assign(256, 0);
  if (!mask.isBound()) {
    for (long j = 0; j < image.height(); ++j) {
      const unsigned char* s = image.row(j);
      for (long i = 0; i < image.width(); ++i) ++hist[s[i]];
    }
    return;
  }
  const ccPelRect r = image.window() & mask.window();
  if (r.isNull()) return;
  for (long y = r.y(); y < r.y() + r.height(); ++y) {
    const unsigned char* s = &image.at(r.x(), y);
    const unsigned char* m = &mask.at(r.x(), y);
    for (long i = 0; i < r.width(); ++i)
      if (m[i]) ++hist[s[i]];
  }
}

void cfThresholdWGV(const std::vector<unsigned long>& hist, ccThresholdResult& result, int low,
                    int high) {
  const int size = static_cast<int>(hist.size());
  if (high < 0 || high > size) high = size;
  if (low < 0 || low >= high) {
    throw ccBadArgument(L"cfThresholdWGV: the bin range [low, high) is empty or starts below 0");
  }
  result = ccThresholdResult();

  std::vector<double> h(hist.begin(), hist.end());
  double total = 0.0, sum = 0.0;
  int occupied = 0;
  for (int i = low; i < high; ++i) {
    total += h[i];
    sum += h[i] * i;
    if (h[i] > 0.0) ++occupied;
  }
  if (occupied < 2) return;

  // Between-class variance for each split t: dark = [low, t), bright = [t, high).
  const double mean = sum / total;
  double var = 0.0;
  for (int i = low; i < high; ++i) var += h[i] * (i - mean) * (i - mean);
  var /= total;
  std::vector<double> between(high, -1.0);
  double w0 = 0.0, s0 = 0.0, best = -1.0;
  for (int t = low + 1; t < high; ++t) {
    w0 += h[t - 1];
    s0 += h[t - 1] * (t - 1);
    const double w1 = total - w0;
    if (w0 <= 0.0 || w1 <= 0.0) continue;
    const double d = s0 / w0 - (sum - s0) / w1;
    between[t] = (w0 / total) * (w1 / total) * d * d;
    best = std::max(best, between[t]);
  }
  // Middle of the first run of maximal splits (a gap between the classes).
  const double tol = best * 1e-12;
  int first = low + 1;
  while (between[first] < best - tol) ++first;
  int last = first;
  while (last + 1 < high && between[last + 1] >= best - tol) ++last;
  const int threshold = (first + last + 1) / 2;

  const double eta = var > 0.0 ? best / var : 0.0;
  const double separability = clamp01((eta - kEtaFloor) / (kEtaFull - kEtaFloor));
  result = ccThresholdResult(threshold,
                             std::sqrt(separability * valleyScore(h, low, high, threshold, total)));
}
