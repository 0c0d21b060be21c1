// SPDX-License-Identifier: Apache-2.0
// Polygon regions and their scanline rasterisation.
#include "platform/foundation/region_tree.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/exception.h"

namespace {

struct Edge {
  ccVector<2> a;
  ccVector<2> b;
};

// x where the non-horizontal edge meets the row y (lo.y <= y <= hi.y); exact at the ends, and
// exact wherever the true crossing is representable for integer vertices (the product is
// formed before the division).
double crossingX(const Edge& e, double y) {
  if (y == e.a.y()) return e.a.x();
  if (y == e.b.y()) return e.b.x();
  return e.a.x() + ((y - e.a.y()) * (e.b.x() - e.a.x())) / (e.b.y() - e.a.y());
}

// Column index range [first, last) of pixels with first <= x < last, clamped to [lo, hi).
void clampRange(double first, double last, long lo, long hi, long& outFirst, long& outLast) {
  const double l = static_cast<double>(lo), h = static_cast<double>(hi);
  first = std::min(std::max(first, l), h);
  last = std::min(std::max(last, l), h);
  outFirst = static_cast<long>(first);
  outLast = last > first ? static_cast<long>(last) : outFirst;
}

}  // namespace

ccRegionTree::ccRegionTree(const ccPolyline& boundary, bool complement) : boundary_(boundary) {
  if (complement) throw ccBadArgument(L"A region outside a polygon is not supported");
  if (!boundary.closed()) throw ccBadArgument(L"A region needs a closed boundary polygon");
  for (const ccVector<2>& p : boundary.vertices()) {
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
      throw ccBadArgument(L"The region boundary holds a non-finite point");
  }
}

void cfRasterize(const ccRegionTree& region, ccPelBuffer<unsigned char>& image, unsigned char value,
                 int boundaryFillMode, const RasterizeSampParams& params) {
  image.requireBound();
  if (boundaryFillMode < eBoundaryExclude || boundaryFillMode > eBoundaryInclude) {
    throw ccBadArgument(L"Unknown boundary fill mode " + std::to_wstring(boundaryFillMode) +
                        L" (0, 1 or 2)");
  }
  const ccVector<2> offset = params.sampleOffset;
  if (!std::isfinite(offset.x()) || !std::isfinite(offset.y()))
    throw ccBadArgument(L"The sample offset is not finite");
  const std::vector<ccVector<2>>& v = region.boundary().vertices();
  const std::size_t n = v.size();
  if (n < 3) return;

  // Sampling pixel (x, y) at (x, y) + offset is sampling the shifted polygon at (x, y).
  std::vector<Edge> edges, flat;
  edges.reserve(n);
  double ymin = v[0].y() - offset.y(), ymax = ymin;
  for (std::size_t i = 0; i < n; ++i) {
    Edge e{v[i] - offset, v[(i + 1) % n] - offset};
    ymin = std::min(ymin, e.a.y());
    ymax = std::max(ymax, e.a.y());
    (e.a.y() == e.b.y() ? flat : edges).push_back(e);
  }

  const ccPelRect win = image.window();
  const long x0 = win.x(), x1 = win.x() + win.width();
  long yFirst, yLast;
  clampRange(std::ceil(ymin), std::floor(ymax) + 1.0, win.y(), win.y() + win.height(), yFirst,
             yLast);

  std::vector<double> xs;
  std::vector<std::pair<long, long>> boundaryRuns;  // [first, last) columns, clamped
  std::vector<std::pair<long, unsigned char>> saved;
  for (long y = yFirst; y < yLast; ++y) {
    const double yc = static_cast<double>(y);
    unsigned char* row = image.row(y - win.y());  // column x of the image frame is row[x - x0]

    // Centres exactly on the boundary, collected first so that the exclude mode can keep
    // their old values.
    boundaryRuns.clear();
    if (boundaryFillMode != eBoundaryHalfOpen) {
      auto addRun = [&](double from, double to) {
        long a, b;
        clampRange(std::ceil(from), std::floor(to) + 1.0, x0, x1, a, b);
        if (a < b) boundaryRuns.emplace_back(a, b);
      };
      for (const Edge& e : edges) {
        double lo = std::min(e.a.y(), e.b.y()), hi = std::max(e.a.y(), e.b.y());
        if (lo <= yc && yc <= hi) {
          double x = crossingX(e, yc);
          if (x == std::floor(x)) addRun(x, x);
        }
      }
      for (const Edge& e : flat) {
        if (e.a.y() == yc) addRun(std::min(e.a.x(), e.b.x()), std::max(e.a.x(), e.b.x()));
      }
    }
    saved.clear();
    if (boundaryFillMode == eBoundaryExclude) {
      for (const auto& run : boundaryRuns)
        for (long x = run.first; x < run.second; ++x) saved.emplace_back(x, row[x - x0]);
    }

    // Interior spans under the half-open rule: an edge counts on rows lo.y <= y < hi.y, and a
    // span covers the pixels with left <= x < right.
    xs.clear();
    for (const Edge& e : edges) {
      double lo = std::min(e.a.y(), e.b.y()), hi = std::max(e.a.y(), e.b.y());
      if (lo <= yc && yc < hi) xs.push_back(crossingX(e, yc));
    }
    std::sort(xs.begin(), xs.end());
    for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
      long a, b;
      clampRange(std::ceil(xs[k]), std::ceil(xs[k + 1]), x0, x1, a, b);
      std::fill(row + (a - x0), row + (b - x0), value);
    }

    if (boundaryFillMode == eBoundaryInclude) {
      for (const auto& run : boundaryRuns)
        std::fill(row + (run.first - x0), row + (run.second - x0), value);
    }
    for (const auto& old : saved) row[old.first - x0] = old.second;
  }
}
