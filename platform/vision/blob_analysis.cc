// SPDX-License-Identifier: Apache-2.0
// Blob analysis proper: thresholding into class runs, binary morphology on runs, labelling of
// both classes by union-find over runs, the containment tree, connectivity cleanup, and the
// measures (closed-form sums over runs, per-pixel work only for fringe pixels). Work and
// memory go with the number of runs; records and measures only with the blobs kept.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>

#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"
#include "platform/foundation/exception.h"
#include "platform/vision/blob.h"

namespace {

// Pixel classes of the thresholding, from the (possibly inverted) foreground weight w.
enum PixelClass : unsigned char {
  kPureBg = 0,  // w == 0
  kSoftBg = 1,  // 0 < w, background
  kSoftFg = 2,  // w < 1, foreground
  kPureFg = 3,  // w == 1
};
inline bool isFgClass(unsigned char c) {
  return c >= kSoftFg;
}

// A weight moved between components below this is ignored (numerical noise of the footprint
// integral), in weight units.
constexpr double kMinWeightMove = 1e-9;
// Half-widths of the footprint below this (grey levels) count as a flat footprint.
constexpr double kFlatFootprint = 1e-9;

// Loops over components (or blobs) look for cancellation once per this many items; loops over
// rows once per row.
constexpr std::size_t kCheckStride = 4096;
inline void checkEvery(std::size_t i) {
  if (i % kCheckStride == 0) ccAttention::check();
}

// A run of one pixel class, from column x to the next run's x (or the row end).
struct ClassRun {
  std::int32_t x;
  unsigned char cls;
};

// Columns x0..x1 inclusive, relative to the window's left edge.
struct Interval {
  std::int32_t x0;
  std::int32_t x1;
};

// A run of one component: columns x0..x1 of its row; comp is a provisional label while
// labelling and the component index after.
struct Seg {
  std::int32_t x0;
  std::int32_t x1;
  std::int32_t comp;
  bool fg;
};

// Rows of variable-length item lists in one array.
template <class T>
struct RowTable {
  std::vector<T> items;
  std::vector<std::size_t> start{0};
  void closeRow() { start.push_back(items.size()); }
  const T* begin(long j) const { return items.data() + start[static_cast<std::size_t>(j)]; }
  const T* end(long j) const { return items.data() + start[static_cast<std::size_t>(j) + 1]; }
  T* begin(long j) { return items.data() + start[static_cast<std::size_t>(j)]; }
  T* end(long j) { return items.data() + start[static_cast<std::size_t>(j) + 1]; }
  void clear() {
    items.clear();
    start.assign(1, 0);
  }
};

// Rows of variable-length item lists in chunks of fixed capacity: appending never moves or
// copies what is stored (a growing array would copy, and touch twice the memory it ends up
// with), and clear() keeps the chunks for the next analysis. A row never straddles two
// chunks, so every row is one contiguous range. T must be trivially copyable; items are
// left uninitialised until pushed.
template <class T>
class RowStore {
 public:
  // Empties the store for rows of at most rowCapacity items each.
  void clear(std::size_t rowCapacity) {
    rowCapacity_ = rowCapacity;
    chunk_ = 0;
    used_ = 0;
    rows_.clear();
  }
  // Starts the next row; push() then appends to it up to rowCapacity items.
  void openRow() {
    if (chunk_ < chunks_.size() && used_ + rowCapacity_ <= chunks_[chunk_].capacity) {
      cur_ = chunks_[chunk_].data.get() + used_;
      n_ = 0;
      return;
    }
    if (chunk_ < chunks_.size() && used_ > 0) {
      ++chunk_;
      used_ = 0;
    }
    if (chunk_ == chunks_.size()) chunks_.emplace_back();
    Chunk& c = chunks_[chunk_];
    if (c.capacity < rowCapacity_) {
      c.capacity = std::max(rowCapacity_, kChunkBytes / sizeof(T));
      c.data.reset(new T[c.capacity]);
    }
    cur_ = c.data.get();
    n_ = 0;
  }
  void push(const T& v) { cur_[n_++] = v; }
  std::size_t rowSize() const { return n_; }
  T& back() { return cur_[n_ - 1]; }
  void closeRow() {
    rows_.push_back(Range{cur_, cur_ + n_});
    used_ += n_;
  }

  long rows() const { return static_cast<long>(rows_.size()); }
  const T* begin(long j) const { return rows_[static_cast<std::size_t>(j)].b; }
  const T* end(long j) const { return rows_[static_cast<std::size_t>(j)].e; }
  T* begin(long j) { return rows_[static_cast<std::size_t>(j)].b; }
  T* end(long j) { return rows_[static_cast<std::size_t>(j)].e; }

 private:
  static constexpr std::size_t kChunkBytes = std::size_t(1) << 22;
  struct Chunk {
    std::unique_ptr<T[]> data;
    std::size_t capacity = 0;
  };
  struct Range {
    T* b;
    T* e;
  };
  std::vector<Chunk> chunks_;
  std::vector<Range> rows_;
  std::size_t rowCapacity_ = 0;
  std::size_t chunk_ = 0;  // chunk of the open row
  std::size_t used_ = 0;   // items of that chunk in closed rows
  T* cur_ = nullptr;
  std::size_t n_ = 0;
};

// Look-up tables of one thresholding: class, (inverted) foreground weight and the level
// stored in the run-length image, per grey value.
struct Thresholding {
  unsigned char cls[256];
  double weight[256];
  unsigned char level[256];
  bool soft = false;
  bool invert = false;
  double low = 0.0;
  double high = 0.0;
};

Thresholding makeThresholding(const ccBlobParams& p) {
  Thresholding t;
  t.soft = p.segmentation() == ccBlobParams::eSoftThresh;
  t.invert = p.invert();
  t.low = p.thresh();
  t.high = p.hiThresh();
  for (int v = 0; v < 256; ++v) {
    double w;
    bool fg;
    if (!t.soft) {
      fg = t.invert ? v < p.thresh() : v >= p.thresh();
      w = fg ? 1.0 : 0.0;
      t.level[v] = fg ? 1 : 0;
    } else {
      w = t.high > t.low ? std::clamp((v - t.low) / (t.high - t.low), 0.0, 1.0)
                         : (v >= t.low ? 1.0 : 0.0);
      if (t.invert) w = 1.0 - w;
      fg = t.invert ? w > 0.5 : w >= 0.5;
      t.level[v] = static_cast<unsigned char>(iRound(w * (p.softness() + 1)));
    }
    t.weight[v] = w;
    t.cls[v] = w <= 0.0 ? kPureBg : w >= 1.0 ? kPureFg : fg ? kSoftFg : kSoftBg;
  }
  return t;
}

// ---------------------------------------------------------------------------------------------
// Footprint weights. The grey level over a pixel's footprint is modelled as v + gx u + gy u'
// for (u, u') in [-1/2, 1/2]^2, with gx and gy the differences between the pixel's two
// neighbours along x and y; the weight is the mean of clamp((level - low) / (high - low))
// over the footprint, from the closed-form means of the ramp max(z, 0) and of the step z >= 0
// under a sum of two uniform variables.
//
// Why the neighbour-to-neighbour difference: on an anti-aliased step the partly covered
// pixel lies between one pixel of each level, so the spread equals the step height and the
// mean weight is the pixel's coverage. On a blurred (locally linear) edge it spreads each
// pixel's weight over a linear ramp twice as wide as the grey-level slope; a sum of samples
// of a linear ramp is exact, so area and centre stay unbiased. A plain per-pixel band
// weight instead aliases when the band is narrower than about one pixel of edge.

// max(z, 0), its square over 2 and its cube over 6; written without branches, as their
// arguments change sign unpredictably from pixel to pixel on noise.
inline double pos(double z) {
  return z > 0.0 ? z : 0.0;
}
inline double r2(double z) {
  const double p = pos(z);
  return 0.5 * p * p;
}
inline double r3(double z) {
  const double p = pos(z);
  return p * p * p / 6.0;
}

// E[max(a + X + Y, 0)], X ~ U[-al, al], Y ~ U[-be, be], al >= be >= 0.
double meanRamp(double a, double al, double be) {
  if (a >= al + be) return a;
  if (a <= -(al + be)) return 0.0;
  if (al < kFlatFootprint) return pos(a);
  if (be < kFlatFootprint || be < 1e-6 * al) return (r2(a + al) - r2(a - al)) / (2.0 * al);
  return (r3(a + al + be) - r3(a + al - be) - r3(a - al + be) + r3(a - al - be)) / (4.0 * al * be);
}

// P(a + X + Y >= 0) for the same X, Y.
double meanStep(double a, double al, double be) {
  if (a >= al + be) return 1.0;
  if (a <= -(al + be)) return 0.0;
  if (al < kFlatFootprint) return a >= 0.0 ? 1.0 : 0.0;
  if (be < kFlatFootprint || be < 1e-6 * al) return std::clamp((a + al) / (2.0 * al), 0.0, 1.0);
  return std::clamp(
      (r2(a + al + be) - r2(a + al - be) - r2(a - al + be) + r2(a - al - be)) / (4.0 * al * be),
      0.0, 1.0);
}

// The (inverted) foreground weight of a pixel of grey level v with gradient (gx, gy).
double footprintWeight(const Thresholding& t, double v, double gx, double gy) {
  double al = 0.5 * std::fabs(gx), be = 0.5 * std::fabs(gy);
  if (al < be) std::swap(al, be);
  double w;
  if (t.high > t.low) {
    w = (meanRamp(v - t.low, al, be) - meanRamp(v - t.high, al, be)) / (t.high - t.low);
  } else {
    w = meanStep(v - t.low, al, be);
  }
  w = std::clamp(w, 0.0, 1.0);
  return t.invert ? 1.0 - w : w;
}

// ---------------------------------------------------------------------------------------------
// Interval lists (sorted, disjoint, not touching).

void unionInto(std::vector<Interval>& out, const Interval* a, const Interval* ae, const Interval* b,
               const Interval* be) {
  out.clear();
  while (a != ae || b != be) {
    Interval next;
    if (b == be || (a != ae && a->x0 <= b->x0)) {
      next = *a++;
    } else {
      next = *b++;
    }
    if (!out.empty() && next.x0 <= out.back().x1 + 1) {
      out.back().x1 = std::max(out.back().x1, next.x1);
    } else {
      out.push_back(next);
    }
  }
}

void intersectInto(std::vector<Interval>& out, const Interval* a, const Interval* ae,
                   const Interval* b, const Interval* be) {
  out.clear();
  while (a != ae && b != be) {
    std::int32_t lo = std::max(a->x0, b->x0), hi = std::min(a->x1, b->x1);
    if (lo <= hi) out.push_back(Interval{lo, hi});
    if (a->x1 < b->x1) {
      ++a;
    } else {
      ++b;
    }
  }
}

// One 3 x 3 erosion (grow false) or dilation (grow true) of the foreground intervals. Pixels
// outside the window count as copies of the nearest window pixel.
RowTable<Interval> morphStep(const RowTable<Interval>& in, long width, long height, bool grow) {
  const std::int32_t last = static_cast<std::int32_t>(width - 1);
  // Horizontal step per row.
  RowTable<Interval> h;
  for (long j = 0; j < height; ++j) {
    for (const Interval* r = in.begin(j); r != in.end(j); ++r) {
      Interval n = *r;
      if (grow) {
        n.x0 = std::max<std::int32_t>(0, n.x0 - 1);
        n.x1 = std::min<std::int32_t>(last, n.x1 + 1);
        if (!h.items.empty() && h.items.size() > h.start.back() && n.x0 <= h.items.back().x1 + 1) {
          h.items.back().x1 = std::max(h.items.back().x1, n.x1);
          continue;
        }
      } else {
        if (n.x0 > 0) ++n.x0;
        if (n.x1 < last) --n.x1;
        if (n.x0 > n.x1) continue;
      }
      h.items.push_back(n);
    }
    h.closeRow();
  }
  // Vertical step: combine each row with its neighbours (the edge rows with themselves).
  RowTable<Interval> out;
  std::vector<Interval> tmp, tmp2;
  for (long j = 0; j < height; ++j) {
    long up = j > 0 ? j - 1 : j, dn = j + 1 < height ? j + 1 : j;
    if (grow) {
      unionInto(tmp, h.begin(up), h.end(up), h.begin(j), h.end(j));
      unionInto(tmp2, tmp.data(), tmp.data() + tmp.size(), h.begin(dn), h.end(dn));
    } else {
      intersectInto(tmp, h.begin(up), h.end(up), h.begin(j), h.end(j));
      intersectInto(tmp2, tmp.data(), tmp.data() + tmp.size(), h.begin(dn), h.end(dn));
    }
    out.items.insert(out.items.end(), tmp2.begin(), tmp2.end());
    out.closeRow();
  }
  return out;
}

RowTable<Interval> applyMorphology(RowTable<Interval> fg, const std::vector<int>& ops, long width,
                                   long height) {
  for (int op : ops) {
    switch (op) {
      case eBlobMorphErode:
        fg = morphStep(fg, width, height, false);
        break;
      case eBlobMorphDilate:
        fg = morphStep(fg, width, height, true);
        break;
      case eBlobMorphOpen:
        fg = morphStep(fg, width, height, false);
        fg = morphStep(fg, width, height, true);
        break;
      default:
        fg = morphStep(fg, width, height, true);
        fg = morphStep(fg, width, height, false);
        break;
    }
  }
  return fg;
}

// ---------------------------------------------------------------------------------------------
// Labelling

struct UnionFind {
  std::vector<std::int32_t> parent;
  std::int32_t make() {
    parent.push_back(static_cast<std::int32_t>(parent.size()));
    return parent.back();
  }
  std::int32_t find(std::int32_t a) {
    while (parent[a] != a) {
      parent[a] = parent[parent[a]];
      a = parent[a];
    }
    return a;
  }
  // Keeps the smaller label as the root, so that roots are met first in raster order.
  void unite(std::int32_t a, std::int32_t b) {
    a = find(a);
    b = find(b);
    if (a == b) return;
    if (a < b) {
      parent[b] = a;
    } else {
      parent[a] = b;
    }
  }
};

struct Component {
  bool fg = false;
  bool border = false;
  long pixels = 0;
  std::int32_t firstX = 0;  // first pixel in raster order, window columns / rows
  std::int32_t firstY = 0;
  std::int32_t minX = 0;  // columns and last row of its own pixels (the first row is firstY)
  std::int32_t maxX = 0;
  std::int32_t lastY = 0;
  std::int32_t parent = -1;
};

// Segments of one row, alternating background and foreground, from its class runs.
void segmentRow(const ClassRun* b, const ClassRun* e, long width, RowStore<Seg>& segs) {
  const std::int32_t last = static_cast<std::int32_t>(width - 1);
  segs.openRow();
  for (const ClassRun* r = b; r != e; ++r) {
    const bool fg = isFgClass(r->cls);
    if (segs.rowSize() > 0) {
      if (segs.back().fg == fg) continue;
      segs.back().x1 = r->x - 1;
    }
    segs.push(Seg{r->x, last, -1, fg});
  }
  segs.closeRow();
}

// All segments from foreground intervals (after morphology or fill cleanup).
void segmentsFromIntervals(const RowTable<Interval>& fg, long width, long height,
                           RowStore<Seg>& segs) {
  const std::int32_t last = static_cast<std::int32_t>(width - 1);
  segs.clear(static_cast<std::size_t>(width));
  for (long j = 0; j < height; ++j) {
    segs.openRow();
    std::int32_t next = 0;
    for (const Interval* r = fg.begin(j); r != fg.end(j); ++r) {
      if (r->x0 > next) segs.push(Seg{next, r->x0 - 1, -1, false});
      segs.push(Seg{r->x0, r->x1, -1, true});
      next = r->x1 + 1;
    }
    if (next <= last) segs.push(Seg{next, last, -1, false});
    segs.closeRow();
  }
}

// The foreground intervals of the segments.
RowTable<Interval> foregroundOf(const RowStore<Seg>& segs, long height) {
  RowTable<Interval> out;
  for (long j = 0; j < height; ++j) {
    for (const Seg* s = segs.begin(j); s != segs.end(j); ++s) {
      if (s->fg) out.items.push_back(Interval{s->x0, s->x1});
    }
    out.closeRow();
  }
  return out;
}

// Labels the segments (8-connected foreground, 4-connected background) and numbers the
// components in raster order of their first pixel: sets every segment's comp to its
// component index and fills `comps`.
void label(RowStore<Seg>& segs, long width, long height, std::vector<Component>& comps,
           UnionFind& uf, std::vector<std::int32_t>& index) {
  uf.parent.clear();
  const std::int32_t last = static_cast<std::int32_t>(width - 1);
  for (long j = 0; j < height; ++j) {
    ccAttention::check();
    Seg* cur = segs.begin(j);
    Seg* curEnd = segs.end(j);
    if (j == 0) {
      for (Seg* s = cur; s != curEnd; ++s) s->comp = uf.make();
      continue;
    }
    const Seg* prev = segs.begin(j - 1);
    const Seg* prevEnd = segs.end(j - 1);
    for (Seg* s = cur; s != curEnd; ++s) {
      const std::int32_t reach = s->fg ? 1 : 0;  // diagonal contact counts for the foreground
      while (prev != prevEnd && prev->x1 < s->x0 - reach) ++prev;
      for (const Seg* p = prev; p != prevEnd && p->x0 <= s->x1 + reach; ++p) {
        if (p->fg != s->fg) continue;
        if (s->comp < 0) {
          s->comp = p->comp;
        } else {
          uf.unite(s->comp, p->comp);
        }
      }
      if (s->comp < 0) s->comp = uf.make();
    }
  }
  // Every label straight to its root: a label's parent is never larger than the label, so
  // one increasing sweep finds each parent already pointing at its root.
  std::vector<std::int32_t>& root = uf.parent;
  for (std::size_t i = 0; i < root.size(); ++i) root[i] = root[static_cast<std::size_t>(root[i])];
  // Number the components in raster order of their first segment.
  index.assign(uf.parent.size(), -1);
  comps.clear();
  comps.reserve(uf.parent.size());
  for (long j = 0; j < height; ++j) {
    ccAttention::check();
    for (Seg* s = segs.begin(j); s != segs.end(j); ++s) {
      const std::int32_t r = root[static_cast<std::size_t>(s->comp)];
      if (index[r] < 0) {
        index[r] = static_cast<std::int32_t>(comps.size());
        Component c;
        c.fg = s->fg;
        c.firstX = c.minX = s->x0;
        c.maxX = s->x1;
        c.firstY = static_cast<std::int32_t>(j);
        comps.push_back(c);
      }
      s->comp = index[r];
      Component& c = comps[static_cast<std::size_t>(s->comp)];
      c.pixels += s->x1 - s->x0 + 1;
      c.minX = std::min(c.minX, s->x0);
      c.maxX = std::max(c.maxX, s->x1);
      c.lastY = static_cast<std::int32_t>(j);
      if (j == 0 || j == height - 1 || s->x0 == 0 || s->x1 == last) c.border = true;
    }
  }
  // The enclosing component is the one just above the first pixel. It was met earlier in
  // raster order, so parents always have smaller indices than their children.
  for (std::size_t i = 0; i < comps.size(); ++i) {
    checkEvery(i);
    Component& c = comps[i];
    if (c.border) continue;
    const Seg* b = segs.begin(c.firstY - 1);
    const Seg* e = segs.end(c.firstY - 1);
    const Seg* s =
        std::upper_bound(b, e, c.firstX, [](std::int32_t x, const Seg& sg) { return x < sg.x0; }) -
        1;
    c.parent = s->comp;
  }
}

// The foreground intervals after flipping the class of the given components.
RowTable<Interval> foregroundAfterFill(const RowStore<Seg>& segs, const std::vector<bool>& finalFg,
                                       long height) {
  RowTable<Interval> out;
  for (long j = 0; j < height; ++j) {
    for (const Seg* s = segs.begin(j); s != segs.end(j); ++s) {
      if (!finalFg[static_cast<std::size_t>(s->comp)]) continue;
      if (out.items.size() > out.start.back() && out.items.back().x1 + 1 == s->x0) {
        out.items.back().x1 = s->x1;
      } else {
        out.items.push_back(Interval{s->x0, s->x1});
      }
    }
    out.closeRow();
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Measures

// Weighted sums of one component, relative to its first pixel (to keep the second moments
// free of cancellation), plus its box and perimeter.
struct Accumulator {
  double w = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
  double perimeter = 0;
  std::int32_t refX = 0, refY = 0;
  std::int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;        // own pixels, window coordinates
  double boxMinX = 0, boxMaxX = 0, boxMinY = 0, boxMaxY = 0;  // with the fringe, window coordinates
  bool started = false;

  void addRun(std::int32_t y, std::int32_t x0, std::int32_t x1) {
    if (!started) {
      started = true;
      refX = x0;
      refY = y;
      minX = x0;
      maxX = x1;
      minY = maxY = y;
    } else {
      minX = std::min(minX, x0);
      maxX = std::max(maxX, x1);
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
    }
    // Sums of 1, x and x^2 over x = a..b in closed form.
    const double a = x0 - refX, b = x1 - refX, yy = y - refY;
    const double n = b - a + 1.0;
    const double s1 = 0.5 * n * (a + b);
    const double s2 = (b * (b + 1.0) * (2.0 * b + 1.0) - (a - 1.0) * a * (2.0 * a - 1.0)) / 6.0;
    w += n;
    sx += s1;
    sy += n * yy;
    sxx += s2;
    sxy += yy * s1;
    syy += n * yy * yy;
    perimeter += 2.0 * n + 2.0;
  }
  // Adds weight d (possibly negative) at pixel (x, y).
  void addPixel(std::int32_t x, std::int32_t y, double d) {
    const double dx = x - refX, dy = y - refY;
    w += d;
    sx += d * dx;
    sy += d * dy;
    sxx += d * dx * dx;
    sxy += d * dx * dy;
    syy += d * dy * dy;
  }
  // A fringe pixel of the other class giving weight g widens the box by g beyond its edge.
  void widenBox(std::int32_t x, std::int32_t y, double g) {
    boxMinX = std::min(boxMinX, x + 0.5 - g);
    boxMaxX = std::max(boxMaxX, x - 0.5 + g);
    boxMinY = std::min(boxMinY, y + 0.5 - g);
    boxMaxY = std::max(boxMaxY, y - 0.5 + g);
  }
};

// The class runs of one image row, at the start of `out` (which keeps room for a whole row);
// returns their number.
std::size_t classRuns(const unsigned char* p, long width, const Thresholding& th,
                      std::vector<ClassRun>& out) {
  // Every pixel is written as a run start and kept only where the class changes: on noise
  // that happens at random, and a branch there would mostly be mispredicted.
  if (out.size() < static_cast<std::size_t>(width)) out.resize(static_cast<std::size_t>(width));
  ClassRun* o = out.data();
  unsigned char c = th.cls[p[0]];
  o[0] = ClassRun{0, c};
  std::size_t n = 1;
  for (long i = 1; i < width; ++i) {
    const unsigned char k = th.cls[p[i]];
    o[n] = ClassRun{static_cast<std::int32_t>(i), k};
    n += k != c;
    c = k;
  }
  return n;
}

// One row as the fringe pass reads it: the class of every pixel's grey level, whether the
// pixel ended up foreground (after morphology and cleanup), and its component.
struct FringeRow {
  std::vector<unsigned char> cls;
  std::vector<unsigned char> fg;
  std::vector<std::int32_t> comp;

  void fill(const unsigned char* p, const Seg* b, const Seg* e, long width,
            const Thresholding& th) {
    const std::size_t n = static_cast<std::size_t>(width);
    cls.resize(n);
    fg.resize(n);
    comp.resize(n);
    for (std::size_t x = 0; x < n; ++x) cls[x] = th.cls[p[x]];
    // Segments are a few pixels long on noise: plain loops beat calls to fill.
    unsigned char* f = fg.data();
    std::int32_t* k = comp.data();
    for (const Seg* s = b; s != e; ++s) {
      const unsigned char sf = s->fg;
      const std::int32_t sc = s->comp;
      for (std::int32_t x = s->x0; x <= s->x1; ++x) {
        f[x] = sf;
        k[x] = sc;
      }
    }
  }
};

}  // namespace

// Working storage of the analysis, kept by the results between calls so that repeated
// analyses (the passes of one caller over one image) reuse their memory instead of faulting
// in fresh pages.
struct ccBlobScratch {
  RowStore<Seg> segs;
  RowStore<ccRLEBuffer::Run> levels;
  std::vector<ccRLEBuffer::RowRange> levelRows;
  std::vector<ClassRun> rowCls;  // class runs of one row
  FringeRow fringeRows[3];
  std::vector<unsigned char> mask;
  std::vector<Component> comps;
  std::vector<bool> pruned;         // per component: left out by connectivity cleanup
  std::vector<bool> finalFg;        // per component: class after fill cleanup
  std::vector<std::int32_t> accOf;  // per component: its accumulator, or -1 when it cannot be kept
  std::vector<Accumulator> acc;
  UnionFind uf;
  std::vector<std::int32_t> index;
  std::vector<Interval> cand;
  std::vector<std::int32_t> blobOf;
  std::vector<std::size_t> runStart;
  std::vector<std::size_t> fill;
  std::vector<ccBlob*> lastChild;
};

namespace {

// The pre-filter compares an upper bound of a component's area with the minimum area; the
// bound is exact in integers, the area a sum of doubles, so allow for rounding of that sum.
constexpr double kAreaBoundSlack = 1e-6;  // pixels

// An upper bound of a component's final area before its weights are summed. Each own pixel
// weighs at most 1; with a soft threshold each pixel of the other class among the eight
// neighbours of its pixels gives it at most 1 besides. So the area is at most nine times the
// pixel count, and at most the pixel extent grown by one pixel on every side.
double areaBound(const Component& k, bool soft) {
  const double n = static_cast<double>(k.pixels);
  if (!soft) return n;
  const double box =
      static_cast<double>(k.maxX - k.minX + 3) * static_cast<double>(k.lastY - k.firstY + 3);
  return std::min(box, 9.0 * n);
}

// Segments of every row and, when `levels` is given, the segmentation levels as runs: one
// run per stretch of equal level (a pure class run is one level throughout, a soft run is
// split where the level changes).
void classifyRows(const ccPelBuffer_const<unsigned char>& image, const Thresholding& th,
                  std::vector<ClassRun>& cls, RowStore<Seg>& segs,
                  RowStore<ccRLEBuffer::Run>* levels) {
  const long W = image.width(), H = image.height();
  segs.clear(static_cast<std::size_t>(W));
  if (levels) levels->clear(static_cast<std::size_t>(W));
  for (long j = 0; j < H; ++j) {
    ccAttention::check();
    const unsigned char* p = image.row(j);
    const std::size_t nRuns = classRuns(p, W, th, cls);
    segmentRow(cls.data(), cls.data() + nRuns, W, segs);
    if (!levels) continue;
    levels->openRow();
    // Extends the row's last run when it has the same level.
    auto put = [levels](std::int32_t x, std::int32_t n, unsigned char level) {
      if (levels->rowSize() > 0 && levels->back().value == level) {
        levels->back().length += n;
      } else {
        levels->push(ccRLEBuffer::Run{x, n, level});
      }
    };
    for (std::size_t k = 0; k < nRuns; ++k) {
      const ClassRun& r = cls[k];
      const std::int32_t end = k + 1 < nRuns ? cls[k + 1].x : static_cast<std::int32_t>(W);
      if (r.cls == kPureBg || r.cls == kPureFg) {
        put(r.x, end - r.x, th.level[p[r.x]]);
      } else {
        for (std::int32_t x = r.x; x < end; ++x) put(x, 1, th.level[p[x]]);
      }
    }
    levels->closeRow();
  }
}

// Connectivity cleanup. Prune marks the small components; fill flips them into the class of
// their surroundings and labels again (then nothing is pruned).
void cleanup(const ccBlobParams& params, long W, long H, ccBlobScratch& sc) {
  std::vector<Component>& comps = sc.comps;
  const long minPels = params.connectivityMinPels();
  sc.pruned.assign(comps.size(), false);
  if (params.connectivityCleanup() == ccBlobParams::eCleanupFill && minPels > 0) {
    // A small component takes the final class of its parent; a small one without a parent
    // (touching the border) takes the other class. Parents come first in index order.
    std::vector<bool>& finalFg = sc.finalFg;
    finalFg.assign(comps.size(), false);
    bool changed = false;
    for (std::size_t c = 0; c < comps.size(); ++c) {
      const Component& k = comps[c];
      if (k.pixels >= minPels) {
        finalFg[c] = k.fg;
      } else {
        finalFg[c] = k.parent >= 0 ? finalFg[static_cast<std::size_t>(k.parent)] : !k.fg;
      }
      changed = changed || finalFg[c] != k.fg;
    }
    if (changed) {
      segmentsFromIntervals(foregroundAfterFill(sc.segs, finalFg, H), W, H, sc.segs);
      label(sc.segs, W, H, comps, sc.uf, sc.index);
      sc.pruned.assign(comps.size(), false);
    }
  } else if (params.connectivityCleanup() == ccBlobParams::eCleanupPrune) {
    for (std::size_t c = 0; c < comps.size(); ++c) sc.pruned[c] = comps[c].pixels < minPels;
  }
}

// Gives an accumulator to every component that may be kept: without a pre-filter all that
// cleanup kept; with one those whose area bound reaches the minimum, and their ancestors (so
// that the tree above a kept blob is there). Returns the number of accumulators.
std::size_t selectCandidates(const std::vector<Component>& comps, const std::vector<bool>& pruned,
                             double minArea, bool soft, std::vector<std::int32_t>& accOf) {
  accOf.assign(comps.size(), -1);
  std::vector<std::int32_t>& mark = accOf;  // 0: candidate, before numbering
  if (minArea <= 0.0) {
    for (std::size_t c = 0; c < comps.size(); ++c) {
      if (!pruned[c]) mark[c] = 0;
    }
  } else {
    // Parents have smaller indices than their children, so one backward sweep closes the
    // set under ancestors. A pruned ancestor is marked too, to carry the mark past it.
    for (std::size_t c = comps.size(); c-- > 0;) {
      checkEvery(c);
      const Component& k = comps[c];
      if (mark[c] < 0 && !pruned[c] && areaBound(k, soft) >= minArea - kAreaBoundSlack) mark[c] = 0;
      if (mark[c] == 0 && k.parent >= 0) mark[static_cast<std::size_t>(k.parent)] = 0;
    }
  }
  std::int32_t n = 0;
  for (std::int32_t& a : mark) {
    if (a == 0) a = n++;
  }
  return static_cast<std::size_t>(n);
}

// Sums over the own runs of every component with an accumulator, and their perimeters.
void sumRuns(const RowStore<Seg>& segs, long H, const std::vector<std::int32_t>& accOf,
             std::vector<Accumulator>& acc) {
  for (long j = 0; j < H; ++j) {
    ccAttention::check();
    for (const Seg* s = segs.begin(j); s != segs.end(j); ++s) {
      const std::int32_t a = accOf[static_cast<std::size_t>(s->comp)];
      if (a >= 0)
        acc[static_cast<std::size_t>(a)].addRun(static_cast<std::int32_t>(j), s->x0, s->x1);
    }
    if (j == 0) continue;
    // Edges shared with the row above belong to no boundary.
    const Seg* p = segs.begin(j - 1);
    const Seg* pe = segs.end(j - 1);
    for (const Seg* s = segs.begin(j); s != segs.end(j); ++s) {
      const std::int32_t a = accOf[static_cast<std::size_t>(s->comp)];
      while (p != pe && p->x1 < s->x0) ++p;
      if (a < 0) continue;
      for (const Seg* q = p; q != pe && q->x0 <= s->x1; ++q) {
        if (q->comp == s->comp) {
          acc[static_cast<std::size_t>(a)].perimeter -=
              2.0 * (std::min(q->x1, s->x1) - std::max(q->x0, s->x0) + 1);
        }
      }
    }
  }
  for (Accumulator& a : acc) {
    a.boxMinX = a.minX - 0.5;
    a.boxMaxX = a.maxX + 0.5;
    a.boxMinY = a.minY - 0.5;
    a.boxMaxY = a.maxY + 0.5;
  }
}

// Marks the pixels of a row whose weight may differ from 0 or 1: soft pixels, and pixels
// whose class differs from a neighbour's along the row or from the pixel above or below.
void fringeCandidates(const FringeRow* up, const FringeRow& row, const FringeRow* down, long width,
                      std::vector<unsigned char>& mask) {
  const std::size_t n = static_cast<std::size_t>(width);
  mask.resize(n);
  const unsigned char* c = row.cls.data();
  unsigned char* m = mask.data();
  for (std::size_t x = 0; x < n; ++x)
    m[x] = static_cast<unsigned char>(c[x] - kSoftBg) <= kSoftFg - kSoftBg;
  for (std::size_t x = 1; x < n; ++x) {
    const unsigned char d = c[x] != c[x - 1];
    m[x] |= d;
    m[x - 1] |= d;
  }
  if (up) {
    const unsigned char* u = up->cls.data();
    for (std::size_t x = 0; x < n; ++x) m[x] |= c[x] != u[x];
  }
  if (down) {
    const unsigned char* d = down->cls.data();
    for (std::size_t x = 0; x < n; ++x) m[x] |= c[x] != d[x];
  }
}

// Moves fringe weight between components (soft thresholds only). Pixels between two
// components without accumulators are skipped before their weight is worked out.
void moveFringeWeights(const ccPelBuffer_const<unsigned char>& image, const Thresholding& th,
                       ccBlobScratch& sc) {
  const long W = image.width(), H = image.height();
  const RowStore<Seg>& segs = sc.segs;
  const std::vector<std::int32_t>& accOf = sc.accOf;
  std::vector<Accumulator>& acc = sc.acc;
  std::vector<unsigned char>& mask = sc.mask;
  // Rows j - 1, j and j + 1 in fr[(j + 2) % 3], fr[j % 3] and fr[(j + 1) % 3].
  FringeRow* fr = sc.fringeRows;
  for (long r = 0; r < std::min(H, 2L); ++r)
    fr[r].fill(image.row(r), segs.begin(r), segs.end(r), W, th);
  for (long j = 0; j < H; ++j) {
    ccAttention::check();
    if (j >= 1 && j + 1 < H)
      fr[(j + 1) % 3].fill(image.row(j + 1), segs.begin(j + 1), segs.end(j + 1), W, th);
    const FringeRow* up = j > 0 ? &fr[(j + 2) % 3] : nullptr;
    const FringeRow& row = fr[j % 3];
    const FringeRow* down = j + 1 < H ? &fr[(j + 1) % 3] : nullptr;
    fringeCandidates(up, row, down, W, mask);
    const unsigned char* p = image.row(j);
    const unsigned char* pu = j > 0 ? image.row(j - 1) : nullptr;
    const unsigned char* pd = j + 1 < H ? image.row(j + 1) : nullptr;
    const std::int32_t y = static_cast<std::int32_t>(j);
    for (std::int32_t x = 0; x < W; ++x) {
      // Runs of eight non-candidates at a time.
      if (x + 8 <= W) {
        std::uint64_t word;
        std::memcpy(&word, mask.data() + x, sizeof word);
        if (word == 0) {
          x += 7;
          continue;
        }
      }
      if (!mask[static_cast<std::size_t>(x)]) continue;
      const unsigned char ownFg = row.fg[static_cast<std::size_t>(x)];
      if (isFgClass(row.cls[static_cast<std::size_t>(x)]) != (ownFg != 0))
        continue;  // changed by morphology or cleanup
      // A neighbour of the other class: edge neighbours first (left, right, above, below),
      // then corners (above left, above right, below left, below right).
      const std::size_t ux = static_cast<std::size_t>(x);
      const bool hasL = x > 0, hasR = x + 1 < W;
      std::int32_t target = -1;
      auto tryPixel = [&](const FringeRow* r, std::size_t at) {
        if (target < 0 && r->fg[at] != ownFg) target = r->comp[at];
      };
      if (hasL) tryPixel(&row, ux - 1);
      if (hasR) tryPixel(&row, ux + 1);
      if (up) tryPixel(up, ux);
      if (down) tryPixel(down, ux);
      if (up && hasL) tryPixel(up, ux - 1);
      if (up && hasR) tryPixel(up, ux + 1);
      if (down && hasL) tryPixel(down, ux - 1);
      if (down && hasR) tryPixel(down, ux + 1);
      if (target < 0) continue;
      const std::int32_t ownAcc =
          accOf[static_cast<std::size_t>(row.comp[static_cast<std::size_t>(x)])];
      const std::int32_t targetAcc = accOf[static_cast<std::size_t>(target)];
      if (ownAcc < 0 && targetAcc < 0) continue;
      // Grey-level spread across the footprint: the difference between the two neighbours
      // along each axis (twice the one-sided difference at the window border). Grey-level
      // differences are small integers, so these are exact.
      double gx = 0.0, gy = 0.0;
      if (W > 1) {
        const double d = static_cast<double>(p[hasR ? ux + 1 : ux]) - p[hasL ? ux - 1 : ux];
        gx = hasL && hasR ? d : 2.0 * d;
      }
      if (H > 1) {
        const double d = static_cast<double>(pd ? pd[x] : p[x]) - (pu ? pu[x] : p[x]);
        gy = pu && pd ? d : 2.0 * d;
      }
      const double w = footprintWeight(th, p[x], gx, gy);
      const double give = ownFg ? 1.0 - w : w;  // weight that belongs to the other class
      if (give <= kMinWeightMove) continue;
      if (ownAcc >= 0) acc[static_cast<std::size_t>(ownAcc)].addPixel(x, y, -give);
      if (targetAcc >= 0) {
        Accumulator& t = acc[static_cast<std::size_t>(targetAcc)];
        t.addPixel(x, y, give);
        t.widenBox(x, y, give);
      }
    }
  }
}

}  // namespace

// Builds the scene of one analysis; a friend of the blob classes.
struct ccBlobBuilder {
  static void run(const ccPelBuffer_const<unsigned char>& image, const ccBlobParams& params,
                  ccBlobResults& results);
  // run(), leaving the results empty when it throws.
  static void analyse(const ccPelBuffer_const<unsigned char>& image, const ccBlobParams& params,
                      ccBlobResults& results) {
    try {
      run(image, params, results);
    } catch (...) {
      results.scene_->reset();
      results.rle_ = ccRLEBuffer();
      throw;
    }
  }
  // The blobs: the components kept, their runs, tree and measures.
  static void makeBlobs(const ccPelBuffer_const<unsigned char>& image, double minArea,
                        ccBlobScratch& sc, ccBlobSceneDescription& scene);
  static void setMeasures(const Component& k, const Accumulator& a, long ox, long oy, ccBlob& b);
};

void ccBlobBuilder::run(const ccPelBuffer_const<unsigned char>& image, const ccBlobParams& params,
                        ccBlobResults& results) {
  // The run-length image keeps its storage for reuse; it is replaced or emptied below.
  results.scene_->reset();
  if (!results.scratch_) results.scratch_ = std::make_shared<ccBlobScratch>();
  ccBlobScratch& sc = *results.scratch_;
  image.requireBound();
  const long W = image.width(), H = image.height();
  if (W <= 0 || H <= 0) throw ccPel::BadWindow(L"cfBlobAnalysis: the image window is empty");
  if (W > std::numeric_limits<std::int32_t>::max() / 2 ||
      H > std::numeric_limits<std::int32_t>::max() / 2) {
    throw ccPel::BadWindow(L"cfBlobAnalysis: the image window is too large");
  }
  if (params.segmentation() == ccBlobParams::eSoftThresh &&
      (params.thresh() < 0 || params.hiThresh() > 255 || params.thresh() > params.hiThresh() ||
       params.softness() < 0 || params.softness() > ccBlobParams::kMaxSoftness)) {
    throw ccBadArgument(L"cfBlobAnalysis: inconsistent soft threshold");
  }
  const Thresholding th = makeThresholding(params);
  const double minArea = params.prefilterMinArea();

  // 1. Segments; the segmentation image, before morphology and cleanup.
  classifyRows(image, th, sc.rowCls, sc.segs, params.keepRLE() ? &sc.levels : nullptr);
  if (params.keepRLE()) {
    sc.levelRows.resize(static_cast<std::size_t>(H));
    for (long j = 0; j < H; ++j)
      sc.levelRows[static_cast<std::size_t>(j)] = {sc.levels.begin(j), sc.levels.end(j)};
    results.rle_.assign(image.window(), sc.levelRows);
  } else {
    results.rle_ = ccRLEBuffer();
  }

  // 2. Morphology, labelling and cleanup.
  if (!params.morphOps().empty()) {
    segmentsFromIntervals(applyMorphology(foregroundOf(sc.segs, H), params.morphOps(), W, H), W, H,
                          sc.segs);
  }
  label(sc.segs, W, H, sc.comps, sc.uf, sc.index);
  cleanup(params, W, H, sc);

  // 3. Sums over runs and fringe weights of the components that may be kept.
  const std::size_t nAcc = selectCandidates(sc.comps, sc.pruned, minArea, th.soft, sc.accOf);
  sc.acc.assign(nAcc, Accumulator());
  sumRuns(sc.segs, H, sc.accOf, sc.acc);
  if (th.soft) moveFringeWeights(image, th, sc);

  // 4. Blobs.
  ccBlobSceneDescription& scene = *results.scene_;
  scene.window_ = image.window();
  scene.xform_ = image.clientFromImageXformBase();
  makeBlobs(image, minArea, sc, scene);
}

void ccBlobBuilder::makeBlobs(const ccPelBuffer_const<unsigned char>& image, double minArea,
                              ccBlobScratch& sc, ccBlobSceneDescription& scene) {
  const long ox = image.offset().x(), oy = image.offset().y();
  const std::vector<Component>& comps = sc.comps;
  const std::vector<bool>& pruned = sc.pruned;
  const std::vector<std::int32_t>& accOf = sc.accOf;

  // Kept: every component with an accumulator when there is no pre-filter; else those whose
  // area reaches the minimum, and their ancestors. keep[] shares storage with blobOf: 0 marks
  // a kept component until the blobs are numbered.
  std::vector<std::int32_t>& blobOf = sc.blobOf;
  blobOf.assign(comps.size(), -1);
  for (std::size_t c = comps.size(); c-- > 0;) {
    checkEvery(c);
    const std::int32_t a = accOf[c];
    if (a >= 0 && (minArea <= 0.0 || sc.acc[static_cast<std::size_t>(a)].w >= minArea))
      blobOf[c] = 0;
    if (blobOf[c] == 0 && comps[c].parent >= 0)
      blobOf[static_cast<std::size_t>(comps[c].parent)] = 0;
  }
  std::size_t nBlobs = 0;
  for (std::size_t c = 0; c < comps.size(); ++c) {
    if (blobOf[c] == 0 && !pruned[c]) {
      blobOf[c] = static_cast<std::int32_t>(nBlobs++);
    } else {
      blobOf[c] = -1;
    }
  }
  scene.blobs_.resize(nBlobs);

  // Own runs grouped by blob, in raster order.
  const RowStore<Seg>& segs = sc.segs;
  const long H = image.height();
  std::vector<std::size_t>& runStart = sc.runStart;
  runStart.assign(nBlobs + 1, 0);
  for (long j = 0; j < H; ++j) {
    for (const Seg* s = segs.begin(j); s != segs.end(j); ++s) {
      const std::int32_t b = blobOf[static_cast<std::size_t>(s->comp)];
      if (b >= 0) ++runStart[static_cast<std::size_t>(b) + 1];
    }
  }
  std::partial_sum(runStart.begin(), runStart.end(), runStart.begin());
  scene.runs_.resize(runStart.back());
  std::vector<std::size_t>& fill = sc.fill;
  fill.assign(runStart.begin(), runStart.end() - 1);
  for (long j = 0; j < H; ++j) {
    ccAttention::check();
    for (const Seg* s = segs.begin(j); s != segs.end(j); ++s) {
      const std::int32_t b = blobOf[static_cast<std::size_t>(s->comp)];
      if (b < 0) continue;
      scene.runs_[fill[static_cast<std::size_t>(b)]++] = ccBlobSceneDescription::Run{
          static_cast<std::int32_t>(j + oy), static_cast<std::int32_t>(s->x0 + ox),
          static_cast<std::int32_t>(s->x1 + ox)};
    }
  }

  // Records and the tree. A blob's parent is its nearest ancestor that cleanup kept (the
  // pre-filter keeps all of those); holes count every child cleanup kept, whether the
  // pre-filter kept it or not, so tree measures do not depend on the pre-filter.
  std::vector<ccBlob*>& lastChild = sc.lastChild;
  lastChild.assign(nBlobs, nullptr);
  for (std::size_t c = 0; c < comps.size(); ++c) {
    checkEvery(c);
    if (pruned[c]) continue;
    std::int32_t pc = comps[c].parent;
    while (pc >= 0 && pruned[static_cast<std::size_t>(pc)])
      pc = comps[static_cast<std::size_t>(pc)].parent;
    const std::int32_t pb = pc >= 0 ? blobOf[static_cast<std::size_t>(pc)] : -1;
    if (pb >= 0) scene.blobs_[static_cast<std::size_t>(pb)].m_[ccBlob::eHoles] += 1.0;
    const std::int32_t bi = blobOf[c];
    if (bi < 0) continue;
    ccBlob& b = scene.blobs_[static_cast<std::size_t>(bi)];
    b.scene_ = &scene;
    b.index_ = static_cast<std::size_t>(bi);
    b.runBegin_ = runStart[static_cast<std::size_t>(bi)];
    b.runEnd_ = runStart[static_cast<std::size_t>(bi) + 1];
    if (pc >= 0) {
      cstd_assert_(pb >= 0);  // the ancestors of a kept blob are kept
      ccBlob& parent = scene.blobs_[static_cast<std::size_t>(pb)];
      b.parent_ = &parent;
      if (lastChild[static_cast<std::size_t>(pb)]) {
        lastChild[static_cast<std::size_t>(pb)]->nextSibling_ = &b;
      } else {
        parent.firstChild_ = &b;
      }
      lastChild[static_cast<std::size_t>(pb)] = &b;
      b.m_[ccBlob::eDepth] = parent.m_[ccBlob::eDepth] + 1.0;
    }
    setMeasures(comps[c], sc.acc[static_cast<std::size_t>(accOf[c])], ox, oy, b);
  }

  // Principal boxes need the blob's runs in place.
  for (std::size_t i = 0; i < nBlobs; ++i) {
    checkEvery(i);
    ccBlob& b = scene.blobs_[i];
    const ccRadian a(b.m_[ccBlob::eAngle]);
    const ccRect box = b.boundingBox(false, a);
    const ccVector<2> c = ccBlob::boxCenter(box, a);
    const double lo = std::min(box.width(), box.height()), hi = std::max(box.width(), box.height());
    b.m_[ccBlob::eAspect] = hi > 0.0 ? lo / hi : 0.0;
    b.m_[ccBlob::eElongation] = lo > 0.0 ? hi / lo : 0.0;
    b.m_[ccBlob::ePrincipalLength] = box.width();
    b.m_[ccBlob::ePrincipalWidth] = box.height();
    b.m_[ccBlob::ePrincipalCenterX] = c.x();
    b.m_[ccBlob::ePrincipalCenterY] = c.y();
  }
}

// The measures that come from the sums: everything but the tree and the principal box.
void ccBlobBuilder::setMeasures(const Component& k, const Accumulator& a, long ox, long oy,
                                ccBlob& b) {
  b.pelBox_ = ccPelRect(a.minX + ox, a.minY + oy, a.maxX - a.minX + 1, a.maxY - a.minY + 1);
  double* m = b.m_;
  m[ccBlob::eLabel] = k.fg ? 1.0 : 0.0;
  m[ccBlob::ePixelCount] = static_cast<double>(k.pixels);
  m[ccBlob::ePerimeter] = a.perimeter;
  m[ccBlob::eNotClipped] = k.border ? 0.0 : 1.0;
  m[ccBlob::eArea] = a.w;
  double mx, my, mu20, mu11, mu02;
  if (a.w > kMinWeightMove) {
    mx = a.sx / a.w;
    my = a.sy / a.w;
    mu20 = std::max(0.0, a.sxx / a.w - mx * mx);
    mu02 = std::max(0.0, a.syy / a.w - my * my);
    mu11 = a.sxy / a.w - mx * my;
  } else {
    // No weight left (a blob made only of fringe): the centre of its own pixel box.
    mx = 0.5 * (a.minX + a.maxX) - a.refX;
    my = 0.5 * (a.minY + a.maxY) - a.refY;
    mu20 = mu02 = mu11 = 0.0;
  }
  b.com_ = ccVector<2>(a.refX + mx + ox, a.refY + my + oy);
  m[ccBlob::eCenterOfMassX] = b.com_.x();
  m[ccBlob::eCenterOfMassY] = b.com_.y();
  double theta = 0.0;
  const double d = mu20 - mu02;
  if (std::fabs(2.0 * mu11) + std::fabs(d) > 1e-12 * (mu20 + mu02)) {
    theta = 0.5 * std::atan2(2.0 * mu11, d);
    if (theta <= -0.5 * ccPi) theta += ccPi;
  }
  const double half = 0.5 * (mu20 + mu02), root = std::sqrt(0.25 * d * d + mu11 * mu11);
  m[ccBlob::eAngle] = theta;
  m[ccBlob::eInertiaMin] = std::max(0.0, half - root);
  m[ccBlob::eInertiaMax] = half + root;
  m[ccBlob::eBoundMinX] = a.boxMinX + ox;
  m[ccBlob::eBoundMaxX] = a.boxMaxX + ox;
  m[ccBlob::eBoundMinY] = a.boxMinY + oy;
  m[ccBlob::eBoundMaxY] = a.boxMaxY + oy;
  m[ccBlob::eBoundWidth] = a.boxMaxX - a.boxMinX;
  m[ccBlob::eBoundHeight] = a.boxMaxY - a.boxMinY;
}

void cfBlobAnalysis(const ccPelBuffer_const<unsigned char>& image, const ccBlobParams& params,
                    ccBlobResults& results) {
  ccBlobBuilder::analyse(image, params, results);
}
