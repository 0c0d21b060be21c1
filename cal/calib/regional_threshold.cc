// SPDX-License-Identifier: Apache-2.0
// Regional thresholds from the grey values on strong edges, and the two-level image they give.
#include "cal/calib/regional_threshold.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/foundation/attention.h"
#include "platform/vision/edge.h"

namespace {

// Edge detection (the same operator and peak test as the dot detection's global estimate).
constexpr double kEdgeSmoothing = 0.89;  // gradient smoothing, pixels
constexpr double kEdgeMagnitude = 12.0;  // weakest edge pixel, grey levels per pixel
constexpr unsigned char kPeakThreshold = 12;
// Regions: this many along the image's shorter side, but none smaller than kMinRegionSize.
constexpr long kRegionsAcross = 8;
constexpr long kMinRegionSize = 24;  // pixels
// Strong edges of a region: the top quarter of its edge pixels sets a magnitude, and the
// cut-off lies 35 % below it; edges weaker than a fifth of the image's own such magnitude
// never count (faint texture, noise). A region needs this many strong edge pixels.
constexpr double kTopEdgeShare = 0.25;
constexpr double kCutoffDrop = 0.35;
constexpr double kMinShareOfImageStrength = 0.2;
constexpr unsigned long kMinStrongEdges = 12;

// Magnitude at which the strongest `share` of the edge pixels in `hist` (bins 1..255) begin.
int topMagnitude(const std::vector<unsigned long>& hist, double share) {
  unsigned long edges = 0;
  for (int b = 1; b < 256; ++b) edges += hist[static_cast<std::size_t>(b)];
  const unsigned long target = static_cast<unsigned long>(share * static_cast<double>(edges));
  unsigned long sum = 0;
  int k = 255;
  while (sum < target && k > 1) sum += hist[static_cast<std::size_t>(k--)];
  return k;
}

}  // namespace

ccRegionalThreshold::ccRegionalThreshold(const ccPelBuffer_const<unsigned char>& image)
    : window_(image.window()) {
  image.requireBound();
  const long w = image.width(), h = image.height();
  const long side = std::max(kMinRegionSize, std::min(w, h) / kRegionsAcross);
  nx_ = std::max(1L, (w + side / 2) / side);
  ny_ = std::max(1L, (h + side / 2) / side);
  regionW_ = static_cast<double>(w) / static_cast<double>(nx_);
  regionH_ = static_cast<double>(h) / static_cast<double>(ny_);
  regions_.assign(static_cast<std::size_t>(nx_ * ny_), Region());

  ccPelBuffer<unsigned char> angle;
  cfEdgeDetect(image,
               ccEdgeletParams(kEdgeSmoothing, kEdgeMagnitude, ccEdgeletParams::ePeakEdgelets),
               peaks_, angle);
  long count = 0;
  cfTruePeak(peaks_, angle, kPeakThreshold, peaks_, count);
  ccAttention::check();
  if (count == 0) return;

  std::vector<long> xs, ys;
  regionBounds(xs, ys);
  auto x0Of = [&](long i) { return xs[static_cast<std::size_t>(i)]; };
  auto y0Of = [&](long j) { return ys[static_cast<std::size_t>(j)]; };

  // Per region and edge magnitude: how many edge pixels, and the sum of their grey values.
  std::vector<std::uint32_t> counts(regions_.size() * 256, 0);
  std::vector<double> greys(regions_.size() * 256, 0.0);
  for (long j = 0; j < ny_; ++j) {
    for (long y = y0Of(j); y < y0Of(j + 1); ++y) {
      const unsigned char* m = peaks_.row(y);
      const unsigned char* g = image.row(y);
      for (long i = 0; i < nx_; ++i) {
        const std::size_t base = static_cast<std::size_t>(j * nx_ + i) * 256;
        for (long x = x0Of(i); x < x0Of(i + 1); ++x) {
          if (m[x] == 0) continue;
          ++counts[base + m[x]];
          greys[base + m[x]] += g[x];
        }
      }
    }
  }
  std::vector<unsigned long> all(256, 0);
  for (std::size_t r = 0; r < regions_.size(); ++r)
    for (int b = 1; b < 256; ++b)
      all[static_cast<std::size_t>(b)] += counts[r * 256 + static_cast<std::size_t>(b)];
  const double floor = kMinShareOfImageStrength * topMagnitude(all, kTopEdgeShare);

  std::vector<unsigned long> hist(256);
  for (std::size_t r = 0; r < regions_.size(); ++r) {
    Region& region = regions_[r];
    for (int b = 0; b < 256; ++b)
      hist[static_cast<std::size_t>(b)] = counts[r * 256 + static_cast<std::size_t>(b)];
    const int top = topMagnitude(hist, kTopEdgeShare);
    region.cutoff = std::max({1, static_cast<int>(std::lround(top * (1.0 - kCutoffDrop))),
                              static_cast<int>(std::ceil(floor))});
    double sum = 0.0;
    unsigned long n = 0;
    for (int b = region.cutoff; b < 256; ++b) {
      sum += greys[r * 256 + static_cast<std::size_t>(b)];
      n += hist[static_cast<std::size_t>(b)];
    }
    if (n >= kMinStrongEdges) {
      region.threshold = sum / static_cast<double>(n);
      region.valid = true;
    }
  }
  ccAttention::check();

  std::vector<double> values;
  for (const Region& r : regions_)
    if (r.valid) values.push_back(r.threshold);
  if (values.empty()) return;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2),
                   values.end());
  typical_ = static_cast<int>(std::lround(values[values.size() / 2]));
  valid_ = true;
  fillInvalidRegions();
}

void ccRegionalThreshold::fillInvalidRegions() {
  // Each pass gives every invalid region next to a valid one the mean of its valid
  // 8-neighbours, so thresholds spread outwards from where the edges are.
  for (;;) {
    std::vector<Region> next = regions_;
    bool changed = false, missing = false;
    for (long j = 0; j < ny_; ++j) {
      for (long i = 0; i < nx_; ++i) {
        if (region(i, j).valid) continue;
        double sum = 0.0;
        int n = 0;
        for (long dj = -1; dj <= 1; ++dj) {
          for (long di = -1; di <= 1; ++di) {
            const long a = i + di, b = j + dj;
            if (a < 0 || b < 0 || a >= nx_ || b >= ny_ || !region(a, b).valid) continue;
            sum += region(a, b).threshold;
            ++n;
          }
        }
        if (n == 0) {
          missing = true;
          continue;
        }
        Region& r = next[static_cast<std::size_t>(j * nx_ + i)];
        r.threshold = sum / n;
        r.valid = true;
        changed = true;
      }
    }
    regions_.swap(next);
    if (!missing || !changed) return;
  }
}

double ccRegionalThreshold::at(double x, double y) const {
  // Region centres sit at (i + 0.5) regionW_ from the window's left edge.
  const double fx = std::clamp((x - static_cast<double>(window_.x())) / regionW_ - 0.5, 0.0,
                               static_cast<double>(nx_ - 1));
  const double fy = std::clamp((y - static_cast<double>(window_.y())) / regionH_ - 0.5, 0.0,
                               static_cast<double>(ny_ - 1));
  const long i0 = static_cast<long>(fx), j0 = static_cast<long>(fy);
  const long i1 = std::min(i0 + 1, nx_ - 1), j1 = std::min(j0 + 1, ny_ - 1);
  const double ax = fx - static_cast<double>(i0), ay = fy - static_cast<double>(j0);
  const double top = region(i0, j0).threshold * (1.0 - ax) + region(i1, j0).threshold * ax;
  const double bottom = region(i0, j1).threshold * (1.0 - ax) + region(i1, j1).threshold * ax;
  return top * (1.0 - ay) + bottom * ay;
}

void ccRegionalThreshold::regionBounds(std::vector<long>& xs, std::vector<long>& ys) const {
  xs.resize(static_cast<std::size_t>(nx_ + 1));
  ys.resize(static_cast<std::size_t>(ny_ + 1));
  for (long i = 0; i <= nx_; ++i)
    xs[static_cast<std::size_t>(i)] =
        static_cast<long>(std::lround(static_cast<double>(i) * regionW_));
  for (long j = 0; j <= ny_; ++j)
    ys[static_cast<std::size_t>(j)] =
        static_cast<long>(std::lround(static_cast<double>(j) * regionH_));
}

ccPelBuffer<unsigned char> ccRegionalThreshold::binarise(
    const ccPelBuffer_const<unsigned char>& image) const {
  const long w = image.width(), h = image.height();
  ccPelBuffer<unsigned char> out(image.window());
  if (!valid_) return out;

  std::vector<long> xs, ys;
  regionBounds(xs, ys);

  std::vector<double> columnThreshold(static_cast<std::size_t>(nx_));
  std::vector<float> rowThreshold(static_cast<std::size_t>(w));
  std::vector<unsigned long> transitions(regions_.size(), 0);
  long regionRow = 0;
  for (long y = 0; y < h; ++y) {
    if (y >= ys[static_cast<std::size_t>(regionRow + 1)]) ++regionRow;
    const double fy =
        std::clamp(static_cast<double>(y) / regionH_ - 0.5, 0.0, static_cast<double>(ny_ - 1));
    const long j0 = static_cast<long>(fy), j1 = std::min(j0 + 1, ny_ - 1);
    const double ay = fy - static_cast<double>(j0);
    for (long i = 0; i < nx_; ++i) {
      columnThreshold[static_cast<std::size_t>(i)] =
          region(i, j0).threshold * (1.0 - ay) + region(i, j1).threshold * ay;
    }
    // Linear between region centres along the row (a + b x on each stretch), constant beyond
    // the outer centres.
    long x = 0;
    for (long i = 0; i <= nx_; ++i) {
      const double centreEnd =
          i < nx_ ? (static_cast<double>(i) + 0.5) * regionW_ : static_cast<double>(w);
      const long end = std::min(w, static_cast<long>(std::ceil(centreEnd)));
      double a = columnThreshold[static_cast<std::size_t>(std::min(i, nx_ - 1))], b = 0.0;
      if (i > 0 && i < nx_) {
        const double t0 = columnThreshold[static_cast<std::size_t>(i - 1)],
                     t1 = columnThreshold[static_cast<std::size_t>(i)];
        b = (t1 - t0) / regionW_;
        a = t0 - b * (static_cast<double>(i) - 0.5) * regionW_;
      }
      for (; x < end; ++x)
        rowThreshold[static_cast<std::size_t>(x)] =
            static_cast<float>(a + b * static_cast<double>(x));
    }
    const unsigned char* g = image.row(y);
    unsigned char* o = out.row(y);
    for (long x = 0; x < w; ++x)
      o[x] = static_cast<float>(g[x]) >= rowThreshold[static_cast<std::size_t>(x)] ? 255 : 0;
    for (long i = 0; i < nx_; ++i) {
      unsigned long changes = 0;
      for (long x = std::max(1L, xs[static_cast<std::size_t>(i)]);
           x < xs[static_cast<std::size_t>(i + 1)]; ++x)
        changes += o[x] != o[x - 1];
      transitions[static_cast<std::size_t>(regionRow * nx_ + i)] += changes;
    }
  }
  ccAttention::check();

  for (long j = 0; j < ny_; ++j) {
    for (long i = 0; i < nx_; ++i) {
      const long x0 = xs[static_cast<std::size_t>(i)], x1 = xs[static_cast<std::size_t>(i + 1)];
      const long y0 = ys[static_cast<std::size_t>(j)], y1 = ys[static_cast<std::size_t>(j + 1)];
      const double pixels = static_cast<double>((x1 - x0) * (y1 - y0));
      if (static_cast<double>(transitions[static_cast<std::size_t>(j * nx_ + i)]) <=
          kMaxTransitionDensity * pixels)
        continue;
      for (long y = y0; y < y1; ++y)
        std::fill(out.row(y) + x0, out.row(y) + x1, static_cast<unsigned char>(0));
    }
  }
  return out;
}

ccRLEBuffer ccRegionalThreshold::strongEdges() const {
  ccPelBuffer<unsigned char> map(window_);
  if (peaks_.isBound() && valid_) {
    for (long y = 0; y < map.height(); ++y) {
      const unsigned char* m = peaks_.row(y);
      unsigned char* o = map.row(y);
      const long j = std::min(ny_ - 1, static_cast<long>(static_cast<double>(y) / regionH_));
      for (long x = 0; x < map.width(); ++x) {
        const long i = std::min(nx_ - 1, static_cast<long>(static_cast<double>(x) / regionW_));
        o[x] = m[x] != 0 && m[x] >= region(i, j).cutoff ? 255 : 0;
      }
    }
  }
  return ccRLEBuffer(map);
}
