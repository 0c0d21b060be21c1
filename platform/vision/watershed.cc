// Watershed of the distance map of a binary edge map: squared Euclidean distance transform
// (Felzenszwalb and Huttenlocher), pixels ordered by decreasing distance with a counting sort,
// then flooding with basins kept in a union-find forest so that basins can be merged by
// their dynamics or peak distance at the first saddle where they meet.
#include "platform/vision/watershed.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "platform/foundation/exception.h"

namespace {

constexpr std::uint32_t kNoEdge =
    std::numeric_limits<std::uint32_t>::max();  // distance without edges
constexpr unsigned char kEdgeSplit = 128;  // grey level that separates edge from non-edge pixels
// Largest image side: squared distances of up to 2 * 46340^2 must fit in 32 bits.
constexpr long kMaxSide = 46340;
// Largest squared distance sorted by a single counting pass (its bucket table is this long).
constexpr std::uint32_t kCountingSortKeys = 1u << 18;

// States of the flooding grid besides basin numbers (stored in the label image's pixels).
constexpr std::int32_t kUnvisited = -1;
constexpr std::int32_t kLine = -2;
constexpr std::int32_t kOutside = -3;  // edge pixels and the one-pixel frame around the image

// An uninitialised array (every element is written before it is read).
template <class T>
std::unique_ptr<T[]> rawArray(std::size_t n) {
  return std::unique_ptr<T[]>(new T[n > 0 ? n : 1]);
}

// Squared distance of every pixel of the window to the nearest edge pixel (0 on edges,
// kNoEdge when the window holds none), row-major with w * h entries.
std::unique_ptr<std::uint32_t[]> squaredDistance(const ccPelBuffer_const<unsigned char>& image,
                                                 bool edgesBright) {
  const long w = image.width(), h = image.height();
  std::unique_ptr<std::uint32_t[]> d = rawArray<std::uint32_t>(static_cast<std::size_t>(w * h));
  // Columns: distance to the nearest edge pixel in the same column, downwards then upwards.
  std::vector<std::uint32_t> run(static_cast<std::size_t>(w), kNoEdge);
  for (long y = 0; y < h; ++y) {
    const unsigned char* s = image.row(y);
    std::uint32_t* o = &d[static_cast<std::size_t>(y * w)];
    for (long x = 0; x < w; ++x) {
      run[x] =
          ((s[x] >= kEdgeSplit) == edgesBright) ? 0 : (run[x] == kNoEdge ? kNoEdge : run[x] + 1);
      o[x] = run[x];
    }
  }
  std::fill(run.begin(), run.end(), kNoEdge);
  for (long y = h - 1; y >= 0; --y) {
    std::uint32_t* o = &d[static_cast<std::size_t>(y * w)];
    for (long x = 0; x < w; ++x) {
      run[x] = o[x] == 0 ? 0 : (run[x] == kNoEdge ? kNoEdge : run[x] + 1);
      const std::uint32_t v = std::min(o[x], run[x]);
      o[x] = v == kNoEdge ? kNoEdge : v * v;
    }
  }
  // Rows: lower envelope of the parabolas (x - q)^2 + f(q) over the columns q with an edge
  // in their column (Felzenszwalb and Huttenlocher), written back in place.
  std::vector<std::uint32_t> f(static_cast<std::size_t>(w));
  std::vector<long> v(static_cast<std::size_t>(w));
  std::vector<double> z(static_cast<std::size_t>(w + 1));
  for (long y = 0; y < h; ++y) {
    std::uint32_t* out = &d[static_cast<std::size_t>(y * w)];
    std::copy(out, out + w, f.begin());
    long k = -1;
    for (long q = 0; q < w; ++q) {
      if (f[q] == kNoEdge) continue;
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
    if (k < 0) continue;  // no edge in reach of this row: it stays kNoEdge
    long j = 0;
    for (long x = 0; x < w; ++x) {
      while (z[j + 1] < double(x)) ++j;
      const std::uint64_t dx = static_cast<std::uint64_t>(std::labs(x - v[j]));
      out[x] = static_cast<std::uint32_t>(std::min<std::uint64_t>(dx * dx + f[v[j]], kNoEdge - 1));
    }
  }
  return d;
}

// A non-edge pixel to flood: its squared distance and its index in the flooding grid.
struct Item {
  std::uint32_t key;
  std::uint32_t cell;
};

// Calls visit(cell, key) for every non-edge pixel in order of decreasing squared distance,
// in raster order among equal distances. d2 (w * h, row-major) is released on the way to
// keep the peak memory low. Distances up to kCountingSortKeys go through one counting
// pass; larger ones (very sparse edges) through a least-significant-digit radix sort.
template <class Cell, class Visit>
void inDecreasingOrder(std::unique_ptr<std::uint32_t[]>& d2, long w, long h, Cell cellOf,
                       Visit visit) {
  const std::size_t n = static_cast<std::size_t>(w * h);
  std::uint32_t maxKey = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    maxKey = std::max(maxKey, d2[i]);
    count += d2[i] != 0;
  }
  if (maxKey < kCountingSortKeys) {
    std::vector<std::uint32_t> start(static_cast<std::size_t>(maxKey) + 2, 0);
    for (std::size_t i = 0; i < n; ++i)
      if (d2[i]) ++start[maxKey - d2[i] + 1];
    for (std::size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
    std::unique_ptr<std::uint32_t[]> cells = rawArray<std::uint32_t>(count);
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        const std::uint32_t key = d2[static_cast<std::size_t>(y * w + x)];
        if (key) cells[start[maxKey - key]++] = cellOf(x, y);
      }
    d2.reset();
    // After the scatter start[k] is the end of bucket k.
    std::uint32_t begin = 0;
    for (std::uint32_t k = 0; k < maxKey; ++k) {
      const std::uint32_t key = maxKey - k;
      for (std::uint32_t i = begin; i < start[k]; ++i) visit(cells[i], key);
      begin = start[k];
    }
    return;
  }
  std::vector<Item> a;
  a.reserve(count);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const std::uint32_t key = d2[static_cast<std::size_t>(y * w + x)];
      if (key) a.push_back(Item{key, cellOf(x, y)});
    }
  d2.reset();
  std::vector<Item> b(a.size());
  std::vector<std::size_t> start(65537);
  for (int shift = 0; shift < 32; shift += 16) {
    std::fill(start.begin(), start.end(), 0);
    for (const Item& it : a) ++start[((~it.key) >> shift & 0xFFFFu) + 1];
    for (std::size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
    for (const Item& it : a) b[start[(~it.key) >> shift & 0xFFFFu]++] = it;
    a.swap(b);
  }
  for (const Item& it : a) visit(it.cell, it.key);
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

void requireFinite(double v, const char* what) {
  if (!(v >= 0.0) || !std::isfinite(v)) {
    throw ccBadArgument(cfWiden(what) + L": the value must be finite and not negative");
  }
}

}  // namespace

ccWatershedRunParams::ccWatershedRunParams(long minPels, double levelMergeThresh,
                                           double distMergeThresh, bool edgesBright, bool fillLines)
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
  if (w > kMaxSide || h > kMaxSide ||
      static_cast<double>(w + 2) * static_cast<double>(h + 2) >= 2147483647.0) {
    throw ccBadArgument(L"cfWatershedTransform: the image is too large");
  }

  // The label image doubles as the flooding grid: it is allocated with a one-pixel frame, so
  // the 8 neighbours need no bounds checks, and its window is set to the edge map's at the end.
  const ccPelRect win = edgeMap.window();
  ccPelBuffer<unsigned int> out(win.trim(-1, -1, -1, -1));
  out.copyXforms(edgeMap);
  const long gw = out.rowUpdate();
  std::int32_t* grid = reinterpret_cast<std::int32_t*>(out.row(0));
  auto cellOf = [gw](long x, long y) { return static_cast<std::uint32_t>((y + 1) * gw + x + 1); };

  std::unique_ptr<std::uint32_t[]> d2 = squaredDistance(edgeMap, params.edgesBright());
  for (long j = 0; j < h + 2; ++j) {
    std::int32_t* g = grid + j * gw;
    if (j == 0 || j == h + 1) {
      std::fill(g, g + gw, kOutside);
      continue;
    }
    const std::uint32_t* d = &d2[static_cast<std::size_t>((j - 1) * w)];
    g[0] = g[w + 1] = kOutside;
    for (long x = 0; x < w; ++x) g[x + 1] = d[x] ? kUnvisited : kOutside;
  }

  Basins basins;
  const double levelMerge = params.levelMergeThresh();
  const double distMergeSq = params.distMergeThresh() * params.distMergeThresh();
  const long nb[8] = {-gw - 1, -gw, -gw + 1, -1, 1, gw - 1, gw, gw + 1};
  inDecreasingOrder(d2, w, h, cellOf, [&](std::uint32_t cell, std::uint32_t key) {
    std::uint32_t roots[8];
    int n = 0;
    for (long o : nb) {
      const std::int32_t s = grid[static_cast<long>(cell) + o];
      if (s < 0) continue;
      const std::uint32_t r = basins.find(static_cast<std::uint32_t>(s));
      if (std::find(roots, roots + n, r) == roots + n) roots[n++] = r;
    }
    if (n == 1) {
      grid[cell] = static_cast<std::int32_t>(roots[0]);
      return;
    }
    const double level = std::sqrt(static_cast<double>(key));
    if (n == 0) {  // a regional maximum: a new basin
      const double x = static_cast<double>(static_cast<long>(cell) % gw - 1);
      const double y = static_cast<double>(static_cast<long>(cell) / gw - 1);
      grid[cell] = static_cast<std::int32_t>(basins.make(level, x, y));
      return;
    }
    // First contact of these basins, at the highest saddle between them: the lower ones
    // merge into the highest where the parameters say so; any left apart make a line.
    int topIndex = 0;
    for (int k = 1; k < n; ++k) {
      const std::uint32_t a = roots[k], b = roots[topIndex];
      if (basins.peak[a] > basins.peak[b] || (basins.peak[a] == basins.peak[b] && a < b))
        topIndex = k;
    }
    const std::uint32_t top = roots[topIndex];
    bool apart = false;
    for (int k = 0; k < n; ++k) {
      if (k == topIndex) continue;
      const std::uint32_t r = roots[k];
      const double dx = basins.px[r] - basins.px[top], dy = basins.py[r] - basins.py[top];
      if (basins.peak[r] - level <= levelMerge || dx * dx + dy * dy < distMergeSq) {
        basins.merge(r, top);
      } else {
        apart = true;
      }
    }
    grid[cell] = apart ? kLine : static_cast<std::int32_t>(top);
  });

  // Region sizes, then labels in raster order of each region's first pixel, written in place.
  std::vector<std::uint32_t> size(basins.parent.size(), 0);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      std::int32_t& s = grid[cellOf(x, y)];
      if (s < 0) continue;
      s = static_cast<std::int32_t>(basins.find(static_cast<std::uint32_t>(s)));
      ++size[static_cast<std::size_t>(s)];
    }
  std::vector<unsigned int> label(basins.parent.size(), 0);
  unsigned int next = ccWatershedDefs::eFirstRegion;
  const unsigned long minPels = static_cast<unsigned long>(params.minPels());
  for (long j = 0; j < h + 2; ++j) {
    unsigned int* o = out.row(j);
    for (long i = 0; i < gw; ++i) {
      const std::int32_t s = static_cast<std::int32_t>(o[i]);
      if (s == kLine) {
        o[i] = ccWatershedDefs::eLineLabel;
      } else if (s < 0 || size[static_cast<std::size_t>(s)] < minPels) {
        o[i] = ccWatershedDefs::eEdgeLabel;
      } else {
        unsigned int& l = label[static_cast<std::size_t>(s)];
        if (l == 0) l = next++;
        o[i] = l;
      }
    }
  }

  if (params.fillLines()) {
    // Each line pixel takes the region of its 8-neighbour with the highest peak, repeated
    // while lines several pixels thick still hold unfilled pixels. The frame holds no region.
    std::vector<double> peakOfLabel(next, -1.0);
    for (std::size_t b = 0; b < label.size(); ++b)
      if (label[b]) peakOfLabel[label[b]] = basins.peak[b];
    unsigned int* lab = out.row(0);
    std::vector<std::pair<std::uint32_t, unsigned int>> fills;
    do {
      fills.clear();
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
          const std::uint32_t c = cellOf(x, y);
          if (lab[c] != ccWatershedDefs::eLineLabel) continue;
          unsigned int best = 0;
          for (long o : nb) {
            const unsigned int l = lab[static_cast<long>(c) + o];
            if (l >= ccWatershedDefs::eFirstRegion &&
                (best == 0 || peakOfLabel[l] > peakOfLabel[best]))
              best = l;
          }
          if (best) fills.emplace_back(c, best);
        }
      for (const auto& f : fills) lab[f.first] = f.second;
    } while (!fills.empty());
  }
  out.window(win);
  return out;
}
