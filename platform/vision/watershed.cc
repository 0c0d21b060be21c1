// SPDX-License-Identifier: Apache-2.0
// Watershed of the distance map of a binary edge map, computed locally so that its cost
// stays close to a few raster passes: squared Euclidean distance transform (Felzenszwalb and
// Huttenlocher, in exact integer arithmetic); every pixel drains to its highest 8-neighbour
// (plateaus drain to their exits by breadth-first search) and so belongs to the basin of the
// maximum it reaches; the pass (saddle) between each pair of touching basins is their highest
// boundary; basins are merged in order of decreasing saddle, as a flooding would meet them,
// by their dynamics or peak distance; where unmerged basins touch, the lower pixel of each
// touching pair becomes a watershed-line pixel.
#include "platform/vision/watershed.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "platform/foundation/attention.h"
#include "platform/foundation/exception.h"

namespace {

constexpr std::uint32_t kNoEdge = std::numeric_limits<std::uint32_t>::max();  // no edge anywhere
constexpr unsigned char kEdgeSplit = 128;  // grey level that separates edges from the rest
// Largest image side: squared distances of up to 2 * 46340^2 must fit in 32 bits.
constexpr long kMaxSide = 46340;

// Cell states in the label grid while it is built; basin numbers are below kFlag.
constexpr std::uint32_t kFlag = 0x80000000u;      // set on basin numbers; on lines after that
constexpr std::uint32_t kEdgeCell = 0xFFFFFFFFu;  // edge pixels and the frame
constexpr std::uint32_t kPlateau = 0xFFFFFFFEu;   // no higher neighbour: resolved by search
constexpr std::uint32_t kInSearch = 0xFFFFFFFDu;  // member of the plateau being resolved
// Cells (or contacts) handled between two looks for cancellation outside the row loops.
constexpr std::size_t kCellsPerCheck = 4096;

// An uninitialised array (every element is written before it is read).
template <class T>
std::unique_ptr<T[]> rawArray(std::size_t n) {
  return std::unique_ptr<T[]>(new T[n > 0 ? n : 1]);
}

// Squared distance of every pixel to the nearest edge pixel (0 on edges, kNoEdge when the
// window holds none), in a grid with a one-pixel frame of 0 around the window (row stride
// w + 2), so that neighbours need no bounds checks.
std::unique_ptr<std::uint32_t[]> squaredDistance(const ccPelBuffer_const<unsigned char>& image,
                                                 bool edgesBright) {
  const long w = image.width(), h = image.height(), gw = w + 2;
  std::unique_ptr<std::uint32_t[]> d =
      rawArray<std::uint32_t>(static_cast<std::size_t>(gw * (h + 2)));
  std::fill(d.get(), d.get() + gw, 0u);
  std::fill(d.get() + gw * (h + 1), d.get() + gw * (h + 2), 0u);
  auto row = [&](long y) { return &d[static_cast<std::size_t>((y + 1) * gw + 1)]; };
  // Columns: distance to the nearest edge pixel in the same column, downwards then upwards.
  std::vector<std::uint32_t> run(static_cast<std::size_t>(w), kNoEdge);
  for (long y = 0; y < h; ++y) {
    ccAttention::check();
    const unsigned char* s = image.row(y);
    std::uint32_t* o = row(y);
    o[-1] = o[w] = 0;
    for (long x = 0; x < w; ++x) {
      run[x] =
          ((s[x] >= kEdgeSplit) == edgesBright) ? 0 : (run[x] == kNoEdge ? kNoEdge : run[x] + 1);
      o[x] = run[x];
    }
  }
  std::fill(run.begin(), run.end(), kNoEdge);
  for (long y = h - 1; y >= 0; --y) {
    ccAttention::check();
    std::uint32_t* o = row(y);
    for (long x = 0; x < w; ++x) {
      run[x] = o[x] == 0 ? 0 : (run[x] == kNoEdge ? kNoEdge : run[x] + 1);
      const std::uint32_t v = std::min(o[x], run[x]);
      o[x] = v == kNoEdge ? kNoEdge : v * v;
    }
  }
  // Rows: lower envelope of the parabolas (x - q)^2 + f(q) over the columns q with an edge
  // in their column, written back in place. Crossing points are compared as exact fractions
  // in 64-bit integers: the crossing of the parabolas of columns p < q lies at
  // ((f(q) + q^2) - (f(p) + p^2)) / (2 (q - p)).
  std::vector<std::uint32_t> f(static_cast<std::size_t>(w));
  std::vector<long> v(static_cast<std::size_t>(w));
  std::vector<std::int64_t> zNum(static_cast<std::size_t>(w)), zDen(static_cast<std::size_t>(w));
  for (long y = 0; y < h; ++y) {
    ccAttention::check();
    std::uint32_t* out = row(y);
    std::copy(out, out + w, f.begin());
    long k = -1;
    for (long q = 0; q < w; ++q) {
      if (f[q] == kNoEdge) continue;
      const std::int64_t fq = static_cast<std::int64_t>(f[q]) + static_cast<std::int64_t>(q) * q;
      std::int64_t num = 0, den = 1;
      while (k >= 0) {
        const long p = v[k];
        num = fq - (static_cast<std::int64_t>(f[p]) + static_cast<std::int64_t>(p) * p);
        den = 2 * static_cast<std::int64_t>(q - p);
        // Keep parabola p when the new crossing lies right of p's own left boundary.
        if (k == 0 || num * zDen[k] > zNum[k] * den) break;
        --k;
      }
      ++k;
      v[k] = q;
      zNum[k] = num;
      zDen[k] = den;
    }
    if (k < 0) continue;  // no edge in the whole window: the row stays kNoEdge
    // Each pixel takes the envelope parabola over it: move on while the next one is lower.
    long j = 0;
    for (long x = 0; x < w; ++x) {
      std::uint64_t dx = static_cast<std::uint64_t>(std::labs(x - v[j]));
      std::uint64_t best = dx * dx + f[v[j]];
      while (j < k) {
        const std::uint64_t nx = static_cast<std::uint64_t>(std::labs(x - v[j + 1]));
        const std::uint64_t next = nx * nx + f[v[j + 1]];
        if (next > best) break;
        best = next;
        ++j;
      }
      out[x] = static_cast<std::uint32_t>(std::min<std::uint64_t>(best, kNoEdge - 1));
    }
  }
  return d;
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
};

// Two touching basins (a < b) and the highest squared distance at which they touch.
struct Contact {
  std::uint32_t a, b;
  std::uint32_t saddle;
};

// The touching pairs of basins with the highest level at which each pair touches: open
// addressing on the pair, doubled when half full.
class ContactTable {
 public:
  ContactTable() : slots_(kInitialSlots, Contact{kEmpty, 0, 0}) {}

  void raise(std::uint32_t a, std::uint32_t b, std::uint32_t level) {
    if (a == lastA_ && b == lastB_) {  // the pair of the previous contact, as along a boundary
      Contact& c = slots_[last_];
      if (level > c.saddle) c.saddle = level;
      return;
    }
    std::size_t i = find(a, b);
    if (slots_[i].a == kEmpty) {
      if (2 * (count_ + 1) > slots_.size()) {
        grow();
        i = find(a, b);
      }
      slots_[i] = Contact{a, b, level};
      ++count_;
    } else if (level > slots_[i].saddle) {
      slots_[i].saddle = level;
    }
    last_ = i;
    lastA_ = a;
    lastB_ = b;
  }

  std::vector<Contact> contacts() const {
    std::vector<Contact> out;
    out.reserve(count_);
    for (const Contact& c : slots_)
      if (c.a != kEmpty) out.push_back(c);
    return out;
  }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;  // no basin has this number
  static constexpr std::size_t kInitialSlots = 1024;    // a power of two

  std::size_t find(std::uint32_t a, std::uint32_t b) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = static_cast<std::size_t>((a * 0x9E3779B1u) ^ (b * 0x85EBCA77u)) & mask;
    while (slots_[i].a != kEmpty && (slots_[i].a != a || slots_[i].b != b)) i = (i + 1) & mask;
    return i;
  }
  void grow() {
    std::vector<Contact> old;
    old.swap(slots_);
    slots_.assign(2 * old.size(), Contact{kEmpty, 0, 0});
    for (const Contact& c : old)
      if (c.a != kEmpty) slots_[find(c.a, c.b)] = c;
    lastA_ = lastB_ = kEmpty;
  }

  std::vector<Contact> slots_;
  std::size_t count_ = 0;
  std::size_t last_ = 0;
  std::uint32_t lastA_ = kEmpty, lastB_ = kEmpty;
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
  const std::unique_ptr<std::uint32_t[]> dist = squaredDistance(edgeMap, params.edgesBright());
  const std::uint32_t* d = dist.get();

  // The label image doubles as the working grid: it has the same one-pixel frame as the
  // distance grid, and its window is set to the edge map's at the end.
  const ccPelRect win = edgeMap.window();
  ccPelBuffer<unsigned int> out(win.trim(-1, -1, -1, -1));
  out.copyXforms(edgeMap);
  const long gw = out.rowUpdate();
  std::uint32_t* g = out.row(0);
  const long nb[8] = {-gw - 1, -gw, -gw + 1, -1, 1, gw - 1, gw, gw + 1};
  auto forEachCell = [&](auto fn) {
    for (long y = 0; y < h; ++y) {
      ccAttention::check();
      for (long c = (y + 1) * gw + 1, end = c + w; c < end; ++c) fn(c);
    }
  };

  // 1. Each pixel points to its highest neighbour when that is higher than itself.
  for (long y = 0; y < h + 2; ++y) g[y * gw] = g[y * gw + gw - 1] = kEdgeCell;
  std::fill(g, g + gw, kEdgeCell);
  std::fill(g + gw * (h + 1), g + gw * (h + 2), kEdgeCell);
  forEachCell([&](long c) {
    if (d[c] == 0) {
      g[c] = kEdgeCell;
      return;
    }
    long best = c;
    for (long o : nb)
      if (d[c + o] > d[best]) best = c + o;
    g[c] = best != c ? static_cast<std::uint32_t>(best) : kPlateau;
  });

  // 2. Plateaus (connected pixels of one distance without a higher neighbour) drain by
  // breadth-first search to their exits, equal pixels that do point uphill; a plateau
  // without exits is a regional maximum and drains to its first pixel, which points to itself.
  std::vector<long> members, queue;
  forEachCell([&](long c) {
    if (g[c] != kPlateau) return;
    members.assign(1, c);
    g[c] = kInSearch;
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (i % kCellsPerCheck == 0) ccAttention::check();  // a plateau can cover the image
      for (long o : nb) {
        const long q = members[i] + o;
        if (g[q] == kPlateau && d[q] == d[c]) {
          g[q] = kInSearch;
          members.push_back(q);
        }
      }
    }
    queue.clear();
    for (long m : members)
      for (long o : nb) {
        const long q = m + o;
        if (d[q] == d[c] && g[q] < kFlag) {
          g[m] = static_cast<std::uint32_t>(q);
          queue.push_back(m);
          break;
        }
      }
    if (queue.empty()) {
      g[c] = static_cast<std::uint32_t>(c);
      queue.push_back(c);
    }
    for (std::size_t i = 0; i < queue.size(); ++i)
      for (long o : nb) {
        const long q = queue[i] + o;
        if (g[q] == kInSearch) {
          g[q] = static_cast<std::uint32_t>(queue[i]);
          queue.push_back(q);
        }
      }
  });

  // 3. Basins: every pixel gets the (flagged) number of the maximum its path reaches, the
  // paths being compressed as they are followed; a maximum gets its number when first reached.
  Basins basins;
  forEachCell([&](long c) {
    if (g[c] >= kFlag) return;
    long r = c;
    while (g[r] < kFlag && g[r] != static_cast<std::uint32_t>(r)) r = g[r];
    if (g[r] < kFlag) {
      g[r] = kFlag | basins.make(std::sqrt(static_cast<double>(d[r])), double(r % gw - 1),
                                 double(r / gw - 1));
    }
    const std::uint32_t id = g[r];
    for (long p = c; g[p] < kFlag;) {
      const long next = g[p];
      g[p] = id;
      p = next;
    }
  });

  // 4. Saddles: the highest level at which each pair of basins touches (8-neighbours),
  // taken as the lower of the two touching pixels. Touching pairs repeat all along a
  // boundary, so each pair is kept once in a hash table with its highest level.
  ContactTable table;
  const long fwd[4] = {1, gw - 1, gw, gw + 1};
  forEachCell([&](long c) {
    if (g[c] == kEdgeCell) return;
    for (long o : fwd) {
      const long q = c + o;
      if (g[q] == kEdgeCell || g[q] == g[c]) continue;
      const std::uint32_t a = g[c] & ~kFlag, b = g[q] & ~kFlag;
      table.raise(std::min(a, b), std::max(a, b), std::min(d[c], d[q]));
    }
  });
  // Decreasing saddle; pairs of one saddle in increasing basin order.
  std::vector<Contact> contacts = table.contacts();
  std::sort(contacts.begin(), contacts.end(), [](const Contact& x, const Contact& y) {
    if (x.saddle != y.saddle) return x.saddle > y.saddle;
    if (x.a != y.a) return x.a < y.a;
    return x.b < y.b;
  });

  // 5. Merges in order of decreasing saddle: the lower basin joins the higher when it rises
  // no more than levelMergeThresh above the saddle, or when the peaks are close.
  const double levelMerge = params.levelMergeThresh();
  const double distMergeSq = params.distMergeThresh() * params.distMergeThresh();
  ccAttention::check();
  std::size_t merged = 0;
  for (const Contact& k : contacts) {
    if (++merged % kCellsPerCheck == 0) ccAttention::check();
    std::uint32_t top = basins.find(k.a), low = basins.find(k.b);
    if (top == low) continue;
    if (basins.peak[low] > basins.peak[top] ||
        (basins.peak[low] == basins.peak[top] && low < top)) {
      std::swap(top, low);
    }
    const double dx = basins.px[low] - basins.px[top], dy = basins.py[low] - basins.py[top];
    if (basins.peak[low] - std::sqrt(static_cast<double>(k.saddle)) <= levelMerge ||
        dx * dx + dy * dy < distMergeSq) {
      basins.parent[low] = top;
    }
  }

  // 6. Final basins and lines: of two touching pixels of different basins the lower one (the
  // later one on a tie) becomes a line pixel (kFlag set on its basin number). Region sizes
  // count the other pixels.
  std::vector<std::uint32_t> root(basins.parent.size());
  for (std::uint32_t b = 0; b < root.size(); ++b) root[b] = basins.find(b);
  std::vector<std::uint32_t> size(basins.parent.size(), 0);
  forEachCell([&](long c) {
    if (g[c] == kEdgeCell) return;
    const std::uint32_t mine = root[g[c] & ~kFlag];
    bool line = false;
    for (long o : nb) {
      const long q = c + o;
      if (g[q] == kEdgeCell || root[g[q] & ~kFlag] == mine) continue;
      if (d[c] < d[q] || (d[c] == d[q] && o < 0)) {
        line = true;
        break;
      }
    }
    g[c] = line ? (mine | kFlag) : mine;
    size[mine] += !line;
  });

  // 7. Labels in raster order of each region's first pixel; small regions are dropped.
  std::vector<unsigned int> label(basins.parent.size(), 0);
  unsigned int next = ccWatershedDefs::eFirstRegion;
  const unsigned long minPels = static_cast<unsigned long>(params.minPels());
  for (long c = 0; c < gw * (h + 2); ++c) {
    if (c % gw == 0) ccAttention::check();
    const std::uint32_t s = g[c];
    if (s == kEdgeCell || (s < kFlag && size[s] < minPels)) {
      g[c] = ccWatershedDefs::eEdgeLabel;
    } else if (s >= kFlag) {
      g[c] = ccWatershedDefs::eLineLabel;
    } else {
      if (label[s] == 0) label[s] = next++;
      g[c] = label[s];
    }
  }

  if (params.fillLines()) {
    // Each line pixel takes the region of its 8-neighbour with the highest peak, repeated
    // while lines several pixels thick still hold unfilled pixels. The frame holds no region.
    std::vector<double> peakOfLabel(next, -1.0);
    for (std::size_t b = 0; b < label.size(); ++b)
      if (label[b]) peakOfLabel[label[b]] = basins.peak[b];
    std::vector<std::pair<long, unsigned int>> fills;
    do {
      fills.clear();
      forEachCell([&](long c) {
        if (g[c] != ccWatershedDefs::eLineLabel) return;
        unsigned int best = 0;
        for (long o : nb) {
          const unsigned int l = g[c + o];
          if (l >= ccWatershedDefs::eFirstRegion &&
              (best == 0 || peakOfLabel[l] > peakOfLabel[best]))
            best = l;
        }
        if (best) fills.emplace_back(c, best);
      });
      for (const auto& f : fills) g[f.first] = f.second;
    } while (!fills.empty());
  }
  out.window(win);
  return out;
}
