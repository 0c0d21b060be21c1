// Watershed of the distance map of a binary edge map: squared Euclidean distance transform
// (Felzenszwalb and Huttenlocher), pixels ordered by decreasing distance with a radix sort,
// then flooding with basins kept in a union-find forest so that basins can be merged by
// their dynamics or peak distance at the first saddle where they meet.
#include "platform/vision/watershed.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/foundation/exception.h"

namespace {

constexpr std::uint32_t kNoEdge = std::numeric_limits<std::uint32_t>::max();  // distance without edges
constexpr unsigned char kEdgeSplit = 128;  // grey level that separates edge from non-edge pixels

// Squared distance of every pixel to the nearest edge pixel (0 on edges, kNoEdge when the
// image holds none). d has w * h entries, row-major.
std::vector<std::uint32_t> squaredDistance(const std::vector<unsigned char>& edge, long w, long h) {
  const std::uint64_t inf = std::numeric_limits<std::uint64_t>::max();
  std::vector<std::uint64_t> g(static_cast<std::size_t>(w * h), inf);
  // Columns: squared distance to the nearest edge pixel in the same column.
  for (long x = 0; x < w; ++x) {
    std::uint64_t run = inf;
    for (long y = 0; y < h; ++y) {
      const std::size_t i = static_cast<std::size_t>(y * w + x);
      run = edge[i] ? 0 : (run == inf ? inf : run + 1);
      g[i] = run;
    }
    run = inf;
    for (long y = h - 1; y >= 0; --y) {
      const std::size_t i = static_cast<std::size_t>(y * w + x);
      run = edge[i] ? 0 : (run == inf ? inf : run + 1);
      g[i] = std::min(g[i], run);
    }
    for (long y = 0; y < h; ++y) {
      std::uint64_t& v = g[static_cast<std::size_t>(y * w + x)];
      if (v != inf) v *= v;
    }
  }
  // Rows: lower envelope of the parabolas (x - q)^2 + g(q) over columns q with an edge.
  std::vector<std::uint32_t> d(static_cast<std::size_t>(w * h));
  std::vector<long> v(static_cast<std::size_t>(w));
  std::vector<double> z(static_cast<std::size_t>(w + 1));
  for (long y = 0; y < h; ++y) {
    const std::uint64_t* f = &g[static_cast<std::size_t>(y * w)];
    std::uint32_t* out = &d[static_cast<std::size_t>(y * w)];
    long k = -1;
    for (long q = 0; q < w; ++q) {
      if (f[q] == inf) continue;
      const double fq = static_cast<double>(f[q]) + double(q) * double(q);
      double s = 0.0;
      while (k >= 0) {
        const long p = v[k];
        s = (fq - (static_cast<double>(f[p]) + double(p) * double(p))) / (2.0 * double(q - p));
        if (s > z[k]) break;
        --k;
      }
      ++k;
      v[k] = q;
      z[k] = k == 0 ? -std::numeric_limits<double>::infinity() : s;
      z[k + 1] = std::numeric_limits<double>::infinity();
    }
    if (k < 0) {
      std::fill(out, out + w, kNoEdge);
      continue;
    }
    long j = 0;
    for (long x = 0; x < w; ++x) {
      while (z[j + 1] < double(x)) ++j;
      const long dx = x - v[j];
      const std::uint64_t dd = static_cast<std::uint64_t>(dx * dx) + f[v[j]];
      out[x] = static_cast<std::uint32_t>(std::min<std::uint64_t>(dd, kNoEdge - 1));
    }
  }
  return d;
}

// Indices of the non-edge pixels ordered by decreasing key, raster order among equal keys
// (least-significant-digit radix sort on the inverted key, 16 bits per pass).
std::vector<std::uint32_t> orderByDecreasing(const std::vector<std::uint32_t>& key,
                                             const std::vector<unsigned char>& edge) {
  std::vector<std::uint32_t> a, b;
  a.reserve(key.size());
  std::uint32_t orHigh = 0, andHigh = 0xFFFFu;
  for (std::size_t i = 0; i < key.size(); ++i)
    if (!edge[i]) {
      a.push_back(static_cast<std::uint32_t>(i));
      orHigh |= (~key[i]) >> 16;
      andHigh &= (~key[i]) >> 16;
    }
  b.resize(a.size());
  std::vector<std::size_t> start(65537);
  const int passes = orHigh == andHigh ? 1 : 2;  // skip the high digit when it is the same everywhere
  for (int pass = 0; pass < passes; ++pass) {
    const int shift = 16 * pass;
    std::fill(start.begin(), start.end(), 0);
    for (std::uint32_t i : a) ++start[((~key[i]) >> shift & 0xFFFFu) + 1];
    for (std::size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    for (std::uint32_t i : a) b[start[(~key[i]) >> shift & 0xFFFFu]++] = i;
    a.swap(b);
  }
  return a;
}

// Basins as a union-find forest; the root holds the merged basin's peak.
struct Basins {
  std::vector<std::uint32_t> parent;
  std::vector<double> peak;    // highest distance in the basin, pixels
  std::vector<double> px, py;  // position of that peak

  std::uint32_t make(double level, double x, double y) {
    parent.push_back(static_cast<std::uint32_t>(parent.size()));
    peak.push_back(level);
    px.push_back(x);
    py.push_back(y);
    return parent.back();
  }
  std::uint32_t find(std::uint32_t b) {
    std::uint32_t r = b;
    while (parent[r] != r) r = parent[r];
    while (parent[b] != r) {
      const std::uint32_t next = parent[b];
      parent[b] = r;
      b = next;
    }
    return r;
  }
  // Basin `low` joins `high`, whose peak is at least as high.
  void merge(std::uint32_t low, std::uint32_t high) { parent[low] = high; }
};

// States of the flooding grid besides basin numbers.
constexpr std::int32_t kUnvisited = -1;
constexpr std::int32_t kLine = -2;
constexpr std::int32_t kOutside = -3;  // edge pixels and the one-pixel frame around the image

void requireFinite(double v, const char* what) {
  if (!(v >= 0.0) || !std::isfinite(v)) {
    throw ccBadArgument(cfWiden(what) + L": the value must be finite and not negative");
  }
}

}  // namespace

ccWatershedRunParams::ccWatershedRunParams(long minPels, double levelMergeThresh, double distMergeThresh,
                                           bool edgesBright, bool fillLines)
    : edgesBright_(edgesBright), fillLines_(fillLines) {
  this->minPels(minPels);
  this->levelMergeThresh(levelMergeThresh);
  this->distMergeThresh(distMergeThresh);
}

void ccWatershedRunParams::minPels(long n) {
  if (n < 0) throw ccBadArgument(L"ccWatershedRunParams::minPels: the value must not be negative");
  minPels_ = n;
}

void ccWatershedRunParams::levelMergeThresh(double d) {
  requireFinite(d, "ccWatershedRunParams::levelMergeThresh");
  levelMerge_ = d;
}

void ccWatershedRunParams::distMergeThresh(double d) {
  requireFinite(d, "ccWatershedRunParams::distMergeThresh");
  distMerge_ = d;
}

ccPelBuffer<unsigned int> cfWatershedTransform(const ccPelBuffer_const<unsigned char>& edgeMap,
                                               const ccWatershedRunParams& params) {
  edgeMap.requireBound();
  const long w = edgeMap.width(), h = edgeMap.height();
  if (w <= 0 || h <= 0) throw ccPel::BadWindow(L"cfWatershedTransform: the image window is empty");
  if (static_cast<double>(w) * static_cast<double>(h) >= 2147483647.0) {
    throw ccBadArgument(L"cfWatershedTransform: the image is too large");
  }

  std::vector<unsigned char> edge(static_cast<std::size_t>(w * h));
  for (long y = 0; y < h; ++y) {
    const unsigned char* s = edgeMap.row(y);
    for (long x = 0; x < w; ++x) edge[static_cast<std::size_t>(y * w + x)] = (s[x] >= kEdgeSplit) == params.edgesBright();
  }
  const std::vector<std::uint32_t> d2 = squaredDistance(edge, w, h);
  const std::vector<std::uint32_t> order = orderByDecreasing(d2, edge);

  // Flooding grid with a one-pixel frame, so that the 8 neighbours need no bounds checks.
  const long gw = w + 2;
  std::vector<std::int32_t> grid(static_cast<std::size_t>(gw * (h + 2)), kOutside);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      if (!edge[static_cast<std::size_t>(y * w + x)]) grid[static_cast<std::size_t>((y + 1) * gw + x + 1)] = kUnvisited;
  const long nb[8] = {-gw - 1, -gw, -gw + 1, -1, 1, gw - 1, gw, gw + 1};

  Basins basins;
  const double levelMerge = params.levelMergeThresh();
  const double distMergeSq = params.distMergeThresh() * params.distMergeThresh();
  std::uint32_t roots[8];
  for (std::uint32_t i : order) {
    const long x = static_cast<long>(i % static_cast<std::uint32_t>(w)), y = static_cast<long>(i / static_cast<std::uint32_t>(w));
    const std::size_t g = static_cast<std::size_t>((y + 1) * gw + x + 1);
    int n = 0;
    for (long o : nb) {
      const std::int32_t s = grid[static_cast<std::size_t>(static_cast<long>(g) + o)];
      if (s < 0) continue;
      const std::uint32_t r = basins.find(static_cast<std::uint32_t>(s));
      if (std::find(roots, roots + n, r) == roots + n) roots[n++] = r;
    }
    const double level = std::sqrt(static_cast<double>(d2[i]));
    if (n == 0) {
      grid[g] = static_cast<std::int32_t>(basins.make(level, double(x), double(y)));
      continue;
    }
    if (n > 1) {
      // First contact of these basins, at the highest saddle between them: merge the lower
      // ones into the highest where the parameters say so.
      int topIndex = 0;
      for (int k = 1; k < n; ++k) {
        const std::uint32_t a = roots[k], b = roots[topIndex];
        if (basins.peak[a] > basins.peak[b] || (basins.peak[a] == basins.peak[b] && a < b)) topIndex = k;
      }
      const std::uint32_t top = roots[topIndex];
      int kept = 1;
      for (int k = 0; k < n; ++k) {
        if (k == topIndex) continue;
        const std::uint32_t r = roots[k];
        const double dx = basins.px[r] - basins.px[top], dy = basins.py[r] - basins.py[top];
        if (basins.peak[r] - level <= levelMerge || dx * dx + dy * dy < distMergeSq) {
          basins.merge(r, top);
        } else {
          ++kept;
        }
      }
      if (kept > 1) {
        grid[g] = kLine;
        continue;
      }
    }
    grid[g] = static_cast<std::int32_t>(basins.find(roots[0]));
  }

  // Region sizes, then labels in raster order of each region's first pixel.
  std::vector<std::uint32_t> size(basins.parent.size(), 0);
  for (std::int32_t& s : grid)
    if (s >= 0) {
      s = static_cast<std::int32_t>(basins.find(static_cast<std::uint32_t>(s)));
      ++size[static_cast<std::size_t>(s)];
    }
  std::vector<unsigned int> label(basins.parent.size(), 0);
  unsigned int next = ccWatershedDefs::eFirstRegion;
  ccPelBuffer<unsigned int> out(edgeMap.window());
  out.copyXforms(edgeMap);
  for (long y = 0; y < h; ++y) {
    unsigned int* o = out.row(y);
    for (long x = 0; x < w; ++x) {
      const std::int32_t s = grid[static_cast<std::size_t>((y + 1) * gw + x + 1)];
      if (s == kLine) {
        o[x] = ccWatershedDefs::eLineLabel;
      } else if (s < 0 || size[static_cast<std::size_t>(s)] < static_cast<unsigned long>(params.minPels())) {
        o[x] = ccWatershedDefs::eEdgeLabel;
      } else {
        unsigned int& l = label[static_cast<std::size_t>(s)];
        if (l == 0) l = next++;
        o[x] = l;
      }
    }
  }

  if (params.fillLines()) {
    // Each line pixel takes the region of its 8-neighbour with the highest peak; repeated
    // while lines several pixels thick still hold unfilled pixels.
    std::vector<double> peakOfLabel(next, -1.0);
    for (std::size_t b = 0; b < label.size(); ++b)
      if (label[b]) peakOfLabel[label[b]] = basins.peak[b];
    for (bool changed = true; changed;) {
      changed = false;
      std::vector<std::pair<long, unsigned int>> fills;
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
          if (out.row(y)[x] != ccWatershedDefs::eLineLabel) continue;
          unsigned int best = 0;
          for (long dy = -1; dy <= 1; ++dy)
            for (long dx = -1; dx <= 1; ++dx) {
              if (x + dx < 0 || x + dx >= w || y + dy < 0 || y + dy >= h) continue;
              const unsigned int l = out.row(y + dy)[x + dx];
              if (l >= ccWatershedDefs::eFirstRegion && (best == 0 || peakOfLabel[l] > peakOfLabel[best])) best = l;
            }
          if (best) fills.emplace_back(y * w + x, best);
        }
      for (const auto& f : fills) out.row(f.first / w)[f.first % w] = f.second;
      changed = !fills.empty();
    }
  }
  return out;
}
