// SPDX-License-Identifier: Apache-2.0
// Lattice growth over dot candidates: seed search, row and column predictions, the fit test
// that drops dots off their rows, and relabelling.
#include "cal/calib/dot_lattice.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "platform/foundation/assert.h"
#include "platform/foundation/attention.h"

namespace {

// Two dots match when the eigenvalues of inverse(Ma) * Mb lie in [1 / k, k]: sizes (areas)
// within this factor, and shapes alike. Neighbouring dots differ by far less under
// perspective; small dots measured on whole pixels differ by up to about 1.7.
constexpr double kDotShapeTolerance = 2.2;
// A predicted dot is accepted within this share of the shortest lattice step of the dot it
// was predicted from. The next wrong lattice position is a whole step away.
constexpr double kGrowthTolerance = 0.3;
// Seed: neighbours are searched out to this many dot diameters (square root of the area,
// so a lattice whose dots cover down to about 0.7 % of a cell still seeds).
constexpr double kSeedSearchRadius = 12.0;
constexpr std::size_t kSeedNeighbours = 16;
// The two seed axes must be at least 30 degrees from parallel.
constexpr double kMinSeedAxisSine = 0.5;
// Seed attempts (each a few neighbour look-ups) and lattices grown, at most.
constexpr std::size_t kMaxSeedTests = 4096;
constexpr std::size_t kMaxLatticeGrowths = 8;
// A lattice holding this share of all candidates ends the search.
constexpr double kDominantShare = 0.5;
// Fit test: a dot may lie off the midpoint of its two row neighbours by this share of half
// their distance, and off the extrapolation of the two dots behind it (at the end of a row)
// by this share of their spacing. Perspective and distortion bend rows far less.
constexpr double kMidpointTolerance = 0.15;
constexpr double kEndTolerance = 0.25;
// A measured dot nearer than this share of the shortest step to a labelled one is that dot.
constexpr double kSameDotDistance = 0.5;
constexpr int kCheckInterval = 64;

const ccLatticeLabel kSteps[4] = {ccLatticeLabel(1, 0), ccLatticeLabel(-1, 0), ccLatticeLabel(0, 1),
                                  ccLatticeLabel(0, -1)};

ccLatticeLabel scaled(const ccLatticeLabel& l, long s) {
  return ccLatticeLabel(l.x() * s, l.y() * s);
}

// Candidate positions bucketed in square cells, for radius queries.
class PointGrid {
 public:
  PointGrid(const std::vector<ccDotShape>& pts, double cell) : pts_(pts) {
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
    for (const ccDotShape& p : pts) {
      x0 = std::min(x0, p.centre.x());
      y0 = std::min(y0, p.centre.y());
      x1 = std::max(x1, p.centre.x());
      y1 = std::max(y1, p.centre.y());
    }
    if (pts.empty()) x0 = y0 = x1 = y1 = 0.0;
    // At most a few cells per point, whatever the cell size asked for.
    const double area = (x1 - x0 + 1.0) * (y1 - y0 + 1.0);
    cell_ = std::max({cell, std::sqrt(area / (4.0 * static_cast<double>(pts.size()) + 1.0)), 1.0});
    x0_ = x0;
    y0_ = y0;
    nx_ = static_cast<long>((x1 - x0) / cell_) + 1;
    ny_ = static_cast<long>((y1 - y0) / cell_) + 1;
    start_.assign(static_cast<std::size_t>(nx_ * ny_ + 1), 0);
    for (const ccDotShape& p : pts) ++start_[static_cast<std::size_t>(cellOf(p.centre)) + 1];
    for (std::size_t k = 1; k < start_.size(); ++k) start_[k] += start_[k - 1];
    items_.resize(pts.size());
    std::vector<int> fill(start_.begin(), start_.end() - 1);
    for (std::size_t i = 0; i < pts.size(); ++i)
      items_[static_cast<std::size_t>(fill[cellOf(pts[i].centre)]++)] = static_cast<int>(i);
  }

  // Calls f(index, squared distance) for every point within r of p.
  template <class F>
  void visit(const ccVector<2>& p, double r, F&& f) const {
    const long cx0 = std::max(0L, static_cast<long>(std::floor((p.x() - r - x0_) / cell_)));
    const long cy0 = std::max(0L, static_cast<long>(std::floor((p.y() - r - y0_) / cell_)));
    const long cx1 = std::min(nx_ - 1, static_cast<long>(std::floor((p.x() + r - x0_) / cell_)));
    const long cy1 = std::min(ny_ - 1, static_cast<long>(std::floor((p.y() + r - y0_) / cell_)));
    const double r2 = r * r;
    for (long cy = cy0; cy <= cy1; ++cy) {
      for (long cx = cx0; cx <= cx1; ++cx) {
        const std::size_t c = static_cast<std::size_t>(cy * nx_ + cx);
        for (int k = start_[c]; k < start_[c + 1]; ++k) {
          const int i = items_[static_cast<std::size_t>(k)];
          const double d2 = (pts_[static_cast<std::size_t>(i)].centre - p).lengthSq();
          if (d2 <= r2) f(i, d2);
        }
      }
    }
  }

 private:
  long cellOf(const ccVector<2>& p) const {
    const long cx = std::min(nx_ - 1, std::max(0L, static_cast<long>((p.x() - x0_) / cell_)));
    const long cy = std::min(ny_ - 1, std::max(0L, static_cast<long>((p.y() - y0_) / cell_)));
    return cy * nx_ + cx;
  }

  const std::vector<ccDotShape>& pts_;
  double cell_ = 1.0, x0_ = 0.0, y0_ = 0.0;
  long nx_ = 1, ny_ = 1;
  std::vector<int> start_, items_;
};

// Growth of one lattice over the candidates not yet taken by an earlier lattice.
class Grower {
 public:
  Grower(const std::vector<ccDotShape>& cands, const PointGrid& grid, std::vector<char>& taken)
      : cands_(cands), grid_(grid), taken_(taken) {}

  // The seed at candidate k: its eight neighbours at c + a u + b v (a, b in -1..1), and no
  // dot at half steps (which would make u, v span only every other row). Fills `ring` with
  // the neighbours' indices, in the order of `kRing`.
  bool seed(int k, ccVector<2>& u, ccVector<2>& v, int ring[8]) const {
    const ccDotShape& c = cands_[static_cast<std::size_t>(k)];
    std::vector<std::pair<double, int>> near;
    grid_.visit(c.centre, kSeedSearchRadius * std::sqrt(c.area), [&](int i, double d2) {
      if (i != k && !taken_[static_cast<std::size_t>(i)] &&
          cfSimilarDotShapes(c, cands_[static_cast<std::size_t>(i)])) {
        near.emplace_back(d2, i);
      }
    });
    if (near.size() < 8) return false;
    const std::size_t n = std::min(near.size(), kSeedNeighbours);
    std::partial_sort(near.begin(), near.begin() + static_cast<long>(n), near.end());
    u = cands_[static_cast<std::size_t>(near[0].second)].centre - c.centre;
    bool haveV = false;
    for (std::size_t j = 1; j < n && !haveV; ++j) {
      const ccVector<2> w = cands_[static_cast<std::size_t>(near[j].second)].centre - c.centre;
      if (std::fabs(u.cross(w)) >= kMinSeedAxisSine * u.length() * w.length()) {
        v = w;
        haveV = true;
      }
    }
    if (!haveV) return false;
    const double tol =
        kGrowthTolerance * std::min({u.length(), v.length(), (u + v).length(), (u - v).length()});
    // The four axis neighbours first; each diagonal then completes the parallelogram of the
    // steps on its own side, which follows a change of scale across the seed (perspective).
    ccVector<2> step[4];  // towards +u, -u, +v, -v
    for (int r = 0; r < 4; ++r) {
      ring[r] = nearestSimilar(c.centre + u * kRing[r][0] + v * kRing[r][1], tol, c);
      if (ring[r] < 0) return false;
      step[r] = cands_[static_cast<std::size_t>(ring[r])].centre - c.centre;
    }
    for (int r = 4; r < 8; ++r) {
      const ccVector<2> along = kRing[r][0] > 0 ? step[0] : step[1],
                        across = kRing[r][1] > 0 ? step[2] : step[3];
      ring[r] = nearestSimilar(c.centre + along + across, tol, c);
      if (ring[r] < 0) return false;
    }
    for (const ccVector<2>& half : {u * 0.5, v * 0.5, (u + v) * 0.5, (u - v) * 0.5}) {
      if (nearestSimilar(c.centre + half, tol, c) >= 0) return false;
    }
    return true;
  }

  // The unlabelled candidate nearest `p` within `tol` whose shape matches `like`, or -1.
  int nearestSimilar(const ccVector<2>& p, double tol, const ccDotShape& like) const {
    int best = -1;
    double bestD2 = std::numeric_limits<double>::infinity();
    grid_.visit(p, tol, [&](int i, double d2) {
      if (d2 < bestD2 && !taken_[static_cast<std::size_t>(i)] &&
          cfSimilarDotShapes(like, cands_[static_cast<std::size_t>(i)])) {
        best = i;
        bestD2 = d2;
      }
    });
    return best;
  }

  // The four axis neighbours first, then the diagonals.
  static constexpr int kRing[8][2] = {{1, 0}, {-1, 0},  {0, 1},  {0, -1},
                                      {1, 1}, {-1, -1}, {1, -1}, {-1, 1}};

 private:
  const std::vector<ccDotShape>& cands_;
  const PointGrid& grid_;
  std::vector<char>& taken_;
};

constexpr int Grower::kRing[8][2];

// Median of the candidates' root areas (a typical dot diameter), for the grid cell size.
double typicalSize(const std::vector<ccDotShape>& cands) {
  std::vector<double> s;
  s.reserve(cands.size());
  for (const ccDotShape& c : cands) s.push_back(std::sqrt(std::max(c.area, 0.0)));
  if (s.empty()) return 1.0;
  std::nth_element(s.begin(), s.begin() + static_cast<long>(s.size() / 2), s.end());
  return s[s.size() / 2];
}

}  // namespace

bool cfSimilarDotShapes(const ccDotShape& a, const ccDotShape& b) {
  // Eigenvalues of inverse(Ma) Mb solve det(Mb - l Ma) = 0:
  // l^2 det(Ma) - l (a.xx b.yy + a.yy b.xx - 2 a.xy b.xy) + det(Mb) = 0.
  const double da = a.mxx * a.myy - a.mxy * a.mxy, db = b.mxx * b.myy - b.mxy * b.mxy;
  if (!(da > 0.0) || !(db > 0.0)) return false;
  const double p = a.mxx * b.myy + a.myy * b.mxx - 2.0 * a.mxy * b.mxy;
  const double disc = std::max(0.0, p * p - 4.0 * da * db);
  const double l1 = (p - std::sqrt(disc)) / (2.0 * da), l2 = (p + std::sqrt(disc)) / (2.0 * da);
  return l1 >= 1.0 / kDotShapeTolerance && l2 <= kDotShapeTolerance;
}

ccDotLattice ccDotLattice::grow(const std::vector<ccDotShape>& candidates) {
  ccDotLattice best;
  if (candidates.size() < 9) return best;
  const PointGrid grid(candidates, 2.0 * typicalSize(candidates));
  std::vector<char> taken(candidates.size(), 0);
  Grower grower(candidates, grid, taken);

  // Seeds are tried from the middle of the candidate cloud outwards.
  std::vector<double> xs, ys;
  for (const ccDotShape& c : candidates) {
    xs.push_back(c.centre.x());
    ys.push_back(c.centre.y());
  }
  std::nth_element(xs.begin(), xs.begin() + static_cast<long>(xs.size() / 2), xs.end());
  std::nth_element(ys.begin(), ys.begin() + static_cast<long>(ys.size() / 2), ys.end());
  const ccVector<2> middle(xs[xs.size() / 2], ys[ys.size() / 2]);
  std::vector<int> order(candidates.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return (candidates[static_cast<std::size_t>(a)].centre - middle).lengthSq() <
           (candidates[static_cast<std::size_t>(b)].centre - middle).lengthSq();
  });

  std::size_t tests = 0, growths = 0;
  for (int k : order) {
    if (taken[static_cast<std::size_t>(k)]) continue;
    if (++tests > kMaxSeedTests || growths >= kMaxLatticeGrowths) break;
    if (tests % kCheckInterval == 0) ccAttention::check();
    ccVector<2> u, v;
    int ring[8];
    if (!grower.seed(k, u, v, ring)) continue;
    ++growths;

    ccDotLattice lattice;
    lattice.add(ccLatticeLabel(0, 0), candidates[static_cast<std::size_t>(k)], k, u, v);
    taken[static_cast<std::size_t>(k)] = 1;
    for (int r = 0; r < 8; ++r) {
      const int i = ring[r];
      lattice.add(ccLatticeLabel(Grower::kRing[r][0], Grower::kRing[r][1]),
                  candidates[static_cast<std::size_t>(i)], i, u, v);
      taken[static_cast<std::size_t>(i)] = 1;
    }
    // Breadth-first growth: every dot tries its four neighbours once.
    for (std::size_t q = 0; q < lattice.dots_.size(); ++q) {
      if (q % kCheckInterval == 0) ccAttention::check();
      const int from = static_cast<int>(q);
      for (const ccLatticeLabel& step : kSteps) {
        const ccLatticeLabel next = lattice.dots_[q].label + step;
        if (lattice.find(next) >= 0) continue;
        const ccVector<2> where = lattice.predictFrom(from, step);
        const double tol = kGrowthTolerance * lattice.minSpacing(from);
        const int i = grower.nearestSimilar(where, tol, lattice.dots_[q].shape);
        if (i < 0) continue;
        ccVector<2> bx = lattice.foundX_[q], by = lattice.foundY_[q];
        const ccVector<2> actual =
            candidates[static_cast<std::size_t>(i)].centre - lattice.centre(from);
        if (step.x() != 0)
          bx = actual * static_cast<double>(step.x());
        else
          by = actual * static_cast<double>(step.y());
        lattice.add(next, candidates[static_cast<std::size_t>(i)], i, bx, by);
        taken[static_cast<std::size_t>(i)] = 1;
      }
    }
    if (lattice.size() > best.size()) best = std::move(lattice);
    if (static_cast<double>(best.size()) >= kDominantShare * static_cast<double>(candidates.size()))
      break;
  }
  return best;
}

int ccDotLattice::find(const ccLatticeLabel& label) const {
  const auto it = index_.find(key(label));
  return it == index_.end() ? -1 : it->second;
}

void ccDotLattice::add(const ccLatticeLabel& label, const ccDotShape& shape, int candidate,
                       const ccVector<2>& bx, const ccVector<2>& by) {
  cstd_assert_(find(label) < 0);
  index_[key(label)] = static_cast<int>(dots_.size());
  dots_.push_back(Dot{label, shape, candidate});
  foundX_.push_back(bx);
  foundY_.push_back(by);
}

void ccDotLattice::localBasis(int i, ccVector<2>& bx, ccVector<2>& by) const {
  const ccLatticeLabel l = dots_[static_cast<std::size_t>(i)].label;
  auto axis = [&](const ccLatticeLabel& step, const ccVector<2>& found) {
    const int ahead = find(l + step), behind = find(l - step);
    if (ahead >= 0 && behind >= 0) return (centre(ahead) - centre(behind)) * 0.5;
    if (ahead >= 0) return centre(ahead) - centre(i);
    if (behind >= 0) return centre(i) - centre(behind);
    return found;
  };
  bx = axis(ccLatticeLabel(1, 0), foundX_[static_cast<std::size_t>(i)]);
  by = axis(ccLatticeLabel(0, 1), foundY_[static_cast<std::size_t>(i)]);
}

double ccDotLattice::minSpacing(int i) const {
  ccVector<2> bx, by;
  localBasis(i, bx, by);
  return std::min({bx.length(), by.length(), (bx + by).length(), (bx - by).length()});
}

int ccDotLattice::runBehind(int i, const ccLatticeLabel& step) const {
  const ccLatticeLabel l = dots_[static_cast<std::size_t>(i)].label;
  if (find(l - step) < 0) return 0;
  return find(l - scaled(step, 2)) < 0 ? 1 : 2;
}

ccVector<2> ccDotLattice::predictFrom(int i, const ccLatticeLabel& step) const {
  const ccLatticeLabel l = dots_[static_cast<std::size_t>(i)].label;
  const ccVector<2> p = centre(i);
  const int b1 = find(l - step);
  if (b1 >= 0) {
    const ccVector<2> last = p - centre(b1);
    const int b2 = find(l - scaled(step, 2));
    // Two steps behind: continue the change of step as well (exact for a quadratic run).
    if (b2 >= 0) return p + last * 2.0 - (centre(b1) - centre(b2));
    return p + last;
  }
  // Nothing behind: the same step taken by the neighbouring rows.
  const ccLatticeLabel side(step.y(), step.x());
  ccVector<2> sum;
  int n = 0;
  for (long s : {1L, -1L}) {
    const int a = find(l + scaled(side, s)), b = find(l + scaled(side, s) + step);
    if (a >= 0 && b >= 0) {
      sum += centre(b) - centre(a);
      ++n;
    }
  }
  if (n > 0) return p + sum / static_cast<double>(n);
  const ccVector<2> found =
      step.x() != 0 ? foundX_[static_cast<std::size_t>(i)] * static_cast<double>(step.x())
                    : foundY_[static_cast<std::size_t>(i)] * static_cast<double>(step.y());
  return p + found;
}

std::vector<ccLatticeLabel> ccDotLattice::gaps() const {
  std::vector<ccLatticeLabel> out;
  std::unordered_set<std::uint64_t> seen;
  for (const Dot& d : dots_) {
    for (const ccLatticeLabel& step : kSteps) {
      const ccLatticeLabel l = d.label + step;
      if (find(l) < 0 && seen.insert(key(l)).second) out.push_back(l);
    }
  }
  return out;
}

bool ccDotLattice::predict(const ccLatticeLabel& label, ccVector<2>& where, int& source) const {
  int bestRun = -1;
  for (const ccLatticeLabel& step : kSteps) {
    const int i = find(label - step);
    if (i < 0) continue;
    const int run = runBehind(i, step);
    if (run > bestRun) {
      bestRun = run;
      source = i;
      where = predictFrom(i, step);
    }
  }
  return bestRun >= 0;
}

bool ccDotLattice::tryAdd(const ccLatticeLabel& label, const ccDotShape& shape) {
  if (find(label) >= 0) return false;
  ccVector<2> where;
  int source = -1;
  if (!predict(label, where, source)) return false;
  const double spacing = minSpacing(source);
  if ((shape.centre - where).length() > kGrowthTolerance * spacing) return false;
  if (!cfSimilarDotShapes(dots_[static_cast<std::size_t>(source)].shape, shape)) return false;
  // A dot already labelled nearby is the same dot seen again, not a new one.
  for (long dy = -1; dy <= 1; ++dy) {
    for (long dx = -1; dx <= 1; ++dx) {
      const int n = find(label + ccLatticeLabel(dx, dy));
      if (n >= 0 && (centre(n) - shape.centre).length() < kSameDotDistance * spacing) return false;
    }
  }
  ccVector<2> bx, by;
  localBasis(source, bx, by);
  const ccLatticeLabel step = label - dots_[static_cast<std::size_t>(source)].label;
  const ccVector<2> actual = shape.centre - centre(source);
  if (step.x() != 0)
    bx = actual * static_cast<double>(step.x());
  else
    by = actual * static_cast<double>(step.y());
  add(label, shape, -1, bx, by);
  return true;
}

void ccDotLattice::setShape(int i, const ccDotShape& shape) {
  dots_[static_cast<std::size_t>(i)].shape = shape;
}

void ccDotLattice::remove(const std::vector<bool>& drop) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < dots_.size(); ++i) {
    if (i < drop.size() && drop[i]) continue;
    dots_[out] = dots_[i];
    foundX_[out] = foundX_[i];
    foundY_[out] = foundY_[i];
    ++out;
  }
  dots_.resize(out);
  foundX_.resize(out);
  foundY_.resize(out);
  rebuildIndex();
}

void ccDotLattice::rebuildIndex() {
  index_.clear();
  for (std::size_t i = 0; i < dots_.size(); ++i) index_[key(dots_[i].label)] = static_cast<int>(i);
}

std::size_t ccDotLattice::prune() {
  std::size_t removed = 0;
  for (;;) {
    ccAttention::check();
    // Count, per dot, the failed fit tests it takes part in.
    std::vector<int> failures(dots_.size(), 0);
    bool any = false;
    for (std::size_t i = 0; i < dots_.size(); ++i) {
      const ccLatticeLabel l = dots_[i].label;
      for (const ccLatticeLabel& step : {ccLatticeLabel(1, 0), ccLatticeLabel(0, 1)}) {
        const int a = find(l - step), b = find(l + step);
        if (a >= 0 && b >= 0) {
          const ccVector<2> mid = (centre(a) + centre(b)) * 0.5;
          if ((centre(static_cast<int>(i)) - mid).length() >
              kMidpointTolerance * 0.5 * (centre(b) - centre(a)).length()) {
            ++failures[i];
            ++failures[static_cast<std::size_t>(a)];
            ++failures[static_cast<std::size_t>(b)];
            any = true;
          }
        }
      }
      for (const ccLatticeLabel& step : kSteps) {
        // At the end of a row: the extrapolation of the two dots behind.
        if (find(l + step) >= 0) continue;
        const int a = find(l - step), b = find(l - scaled(step, 2));
        if (a < 0 || b < 0) continue;
        const ccVector<2> last = centre(a) - centre(b);
        if ((centre(static_cast<int>(i)) - (centre(a) + last)).length() >
            kEndTolerance * last.length()) {
          ++failures[i];
          ++failures[static_cast<std::size_t>(a)];
          ++failures[static_cast<std::size_t>(b)];
          any = true;
        }
      }
    }
    if (!any) return removed;
    const int worst = *std::max_element(failures.begin(), failures.end());
    std::vector<bool> drop(dots_.size(), false);
    for (std::size_t i = 0; i < dots_.size(); ++i) {
      if (failures[i] == worst) {
        drop[i] = true;
        ++removed;
      }
    }
    remove(drop);
  }
}

void ccDotLattice::relabel(long m00, long m01, long m10, long m11, const ccLatticeLabel& offset) {
  const double det = static_cast<double>(m00 * m11 - m01 * m10);
  cstd_assert_(det != 0.0);
  // A unit step of the new labels is inverse(m) times a step of the old ones.
  const double i00 = static_cast<double>(m11) / det, i01 = static_cast<double>(-m01) / det;
  const double i10 = static_cast<double>(-m10) / det, i11 = static_cast<double>(m00) / det;
  for (std::size_t i = 0; i < dots_.size(); ++i) {
    const ccLatticeLabel l = dots_[i].label;
    dots_[i].label = ccLatticeLabel(m00 * l.x() + m01 * l.y() + offset.x(),
                                    m10 * l.x() + m11 * l.y() + offset.y());
    const ccVector<2> bx = foundX_[i], by = foundY_[i];
    foundX_[i] = bx * i00 + by * i10;
    foundY_[i] = bx * i01 + by * i11;
  }
  rebuildIndex();
}
