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
    if (!std::isfinite(p.x()) || !std::isfinite(p.y())) throw ccBadArgument(L"The region boundary holds a non-finite point");
  }
}

void cfRasterize(const ccRegionTree& region, ccPelBuffer<unsigned char>& image, unsigned char value, int boundaryFillMode,
                 const RasterizeSampParams& params) {
  image.requireBound();
  if (boundaryFillMode < eBoundaryExclude || boundaryFillMode > eBoundaryInclude) {
    throw ccBadArgument(L"Unknown boundary fill mode " + std::to_wstring(boundaryFillMode) + L" (0, 1 or 2)");
  }
  const ccVector<2> offset = params.sampleOffset;
  if (!std::isfinite(offset.x()) || !std::isfinite(offset.y())) throw ccBadArgument(L"The sample offset is not finite");
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
  clampRange(std::ceil(ymin), std::floor(ymax) + 1.0, win.y(), win.y() + win.height(), yFirst, yLast);

  std::vector<double> xs;
  std::vector<unsigned char> fill(static_cast<std::size_t>(win.width()));
  for (long y = yFirst; y < yLast; ++y) {
    const double yc = static_cast<double>(y);
    std::fill(fill.begin(), fill.end(), 0);
    bool any = false;

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
      for (long x = a; x < b; ++x) fill[static_cast<std::size_t>(x - x0)] = 1;
      any = any || a < b;
    }

    // Centres exactly on the boundary: added or removed as the mode says.
    if (boundaryFillMode != eBoundaryHalfOpen) {
      const unsigned char mark = boundaryFillMode == eBoundaryInclude ? 1 : 0;
      auto markRange = [&](double from, double to) {
        long a, b;
        clampRange(std::ceil(from), std::floor(to) + 1.0, x0, x1, a, b);
        for (long x = a; x < b; ++x) fill[static_cast<std::size_t>(x - x0)] = mark;
        any = any || (mark != 0 && a < b);
      };
      for (const Edge& e : edges) {
        double lo = std::min(e.a.y(), e.b.y()), hi = std::max(e.a.y(), e.b.y());
        if (lo <= yc && yc <= hi) {
          double x = crossingX(e, yc);
          if (x == std::floor(x)) markRange(x, x);
        }
      }
      for (const Edge& e : flat) {
        if (e.a.y() == yc) markRange(std::min(e.a.x(), e.b.x()), std::max(e.a.x(), e.b.x()));
      }
    }

    if (!any) continue;
    unsigned char* row = image.row(y - win.y());
    for (long i = 0; i < win.width(); ++i) {
      if (fill[static_cast<std::size_t>(i)]) row[i] = value;
    }
  }
}
