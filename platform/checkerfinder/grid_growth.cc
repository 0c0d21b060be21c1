// SPDX-License-Identifier: Apache-2.0
// Grid growth: seeds, local predictions, the checker colour test and pruning.
#include "platform/checkerfinder/grid_growth.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>

#include "platform/foundation/attention.h"

namespace cclft_internal {
namespace {

// A predicted vertex is searched for within this fraction of the local step: tighter when
// the prediction extrapolates two earlier steps (it then follows perspective and
// distortion), looser when it repeats one step (the next step may be up to half again as
// long under strong perspective).
constexpr double kPredictionTolerance = 0.3;
constexpr double kLooseTolerance = 0.45;
// Most missing vertices bridged in one row or column (the fiducial's dark bands remove two).
constexpr int kMaxGap = 2;
// Between two successive steps along a row the length may change by at most this factor
// and the direction by at most this angle (radians) when extrapolating.
constexpr double kMaxStepRatio = 1.6;
constexpr double kMaxStepTurn = 0.25;
// Seeds: nearest candidates looked at, and the least angle between the two axes (sine).
constexpr int kSeedNeighbours = 10;
constexpr double kSeedMinSine = 0.5;
constexpr double kSeedMaxAxisRatio = 3.0;
// Candidates looked at as seeds per seed allowed by the settings.
constexpr int kSeedLookups = 8;
// The squares of one diagonal must agree to within this fraction of the contrast, and an
// edge midpoint must lie within this fraction of it from the middle grey.
constexpr double kDiagonalAgreement = 0.5;
// Seeds use the strict edge test: it is what tells the grid axes from its diagonals. A
// vertex grown from a seed has its position predicted already, and real edges stray from
// the midpoints (a saturated light level, a steered step), so growth uses the loose one.
constexpr double kEdgeMidTolerance = 0.35;
constexpr double kLooseEdgeMidTolerance = 0.45;
// The colour test samples at this fraction of the steps from the vertex (0.5 would be the
// square centres and edge midpoints): less, so that the outermost squares of a board,
// often narrowed by its frame, its margin or perspective, still pass; and, failing that,
// nearer still.
constexpr double kSampleReach = 0.35;
constexpr double kNearSampleReach = 0.2;
// Cell of the candidate hash, pixels.
constexpr double kHashCell = 16.0;

// Uniform-grid hash of candidate positions.
class CandidateIndex {
 public:
  CandidateIndex(const std::vector<Candidate>& c, int width, int height)
      : c_(c),
        gw_(static_cast<int>(width / kHashCell) + 1),
        gh_(static_cast<int>(height / kHashCell) + 1),
        cells_(static_cast<std::size_t>(gw_) * gh_) {
    for (std::size_t k = 0; k < c.size(); ++k) {
      cells_[cell(c[k].pos)].push_back(static_cast<int>(k));
    }
  }

  // Nearest candidate to p within `radius`, or -1.
  int nearest(const Vec& p, double radius) const {
    int best = -1;
    double bestD = radius * radius;
    const int x0 = clampX(static_cast<int>((p.x() - radius) / kHashCell));
    const int x1 = clampX(static_cast<int>((p.x() + radius) / kHashCell));
    const int y0 = clampY(static_cast<int>((p.y() - radius) / kHashCell));
    const int y1 = clampY(static_cast<int>((p.y() + radius) / kHashCell));
    for (int gy = y0; gy <= y1; ++gy) {
      for (int gx = x0; gx <= x1; ++gx) {
        for (int k : cells_[static_cast<std::size_t>(gy) * gw_ + gx]) {
          const double d = (c_[static_cast<std::size_t>(k)].pos - p).lengthSq();
          if (d <= bestD) {
            bestD = d;
            best = k;
          }
        }
      }
    }
    return best;
  }

  // Up to k nearest candidates to candidate `self` (excluding it), nearest first.
  std::vector<int> nearestK(int self, int k) const {
    const Vec p = c_[static_cast<std::size_t>(self)].pos;
    std::vector<std::pair<double, int>> found;
    const int cx = clampX(static_cast<int>(p.x() / kHashCell));
    const int cy = clampY(static_cast<int>(p.y() / kHashCell));
    const int maxRing = std::max(gw_, gh_);
    for (int ring = 0; ring <= maxRing; ++ring) {
      for (int gy = cy - ring; gy <= cy + ring; ++gy) {
        if (gy < 0 || gy >= gh_) continue;
        const bool edgeRow = gy == cy - ring || gy == cy + ring;
        for (int gx = cx - ring; gx <= cx + ring; gx += (edgeRow ? 1 : 2 * ring)) {
          if (gx >= 0 && gx < gw_) {
            for (int m : cells_[static_cast<std::size_t>(gy) * gw_ + gx]) {
              if (m != self)
                found.emplace_back((c_[static_cast<std::size_t>(m)].pos - p).lengthSq(), m);
            }
          }
          if (ring == 0) break;
        }
      }
      // Every candidate closer than ring * cell has been seen.
      if (static_cast<int>(found.size()) >= k) {
        std::partial_sort(found.begin(), found.begin() + k, found.end());
        const double reach = ring * kHashCell;
        if (found[static_cast<std::size_t>(k - 1)].first <= reach * reach) break;
      }
    }
    std::sort(found.begin(), found.end());
    std::vector<int> out;
    for (std::size_t m = 0; m < found.size() && static_cast<int>(m) < k; ++m)
      out.push_back(found[m].second);
    return out;
  }

 private:
  int clampX(int x) const { return std::clamp(x, 0, gw_ - 1); }
  int clampY(int y) const { return std::clamp(y, 0, gh_ - 1); }
  std::size_t cell(const Vec& p) const {
    return static_cast<std::size_t>(clampY(static_cast<int>(p.y() / kHashCell))) * gw_ +
           clampX(static_cast<int>(p.x() / kHashCell));
  }

  const std::vector<Candidate>& c_;
  int gw_, gh_;
  std::vector<std::vector<int>> cells_;
};

Vec rotate(const Vec& v, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  return Vec(c * v.x() - s * v.y(), s * v.x() + c * v.y());
}

double wrapAngle(double a) {
  while (a > M_PI) a -= 2 * M_PI;
  while (a < -M_PI) a += 2 * M_PI;
  return a;
}

// One growth attempt from one seed.
class Grower {
 public:
  Grower(const GrayView& image, std::vector<Candidate>& candidates, const CandidateIndex& index,
         int attempt)
      : image_(image), cand_(candidates), index_(index), attempt_(attempt) {}

  // Seeds a grid at candidate `seed`; false when it has no checker cross around it.
  bool seed(int seed) {
    const Vec c = cand_[static_cast<std::size_t>(seed)].pos;
    struct Axis {
      Vec v;
    };
    std::vector<Axis> axes;
    for (int n : index_.nearestK(seed, kSeedNeighbours)) {
      const Vec a = cand_[static_cast<std::size_t>(n)].pos - c;
      const double len = a.length();
      if (len < 3.0) continue;
      const int o = index_.nearest(c - a, kLooseTolerance * len);
      if (o < 0 || o == n || o == seed) continue;
      const Vec axis =
          (cand_[static_cast<std::size_t>(n)].pos - cand_[static_cast<std::size_t>(o)].pos) * 0.5;
      bool known = false;
      for (const Axis& ax : axes) {
        if (std::fabs(ax.v.cross(axis)) < 0.2 * ax.v.length() * axis.length() &&
            std::fabs(ax.v.length() - axis.length()) < kPredictionTolerance * axis.length()) {
          known = true;
        }
      }
      if (!known) axes.push_back({axis});
    }
    double bestLen = std::numeric_limits<double>::infinity();
    Vec bu, bv;
    double bestContrast = 0;
    for (std::size_t a = 0; a < axes.size(); ++a) {
      for (std::size_t b = a + 1; b < axes.size(); ++b) {
        const Vec& u = axes[a].v;
        const Vec& v = axes[b].v;
        const double lu = u.length(), lv = v.length();
        if (std::fabs(u.cross(v)) < kSeedMinSine * lu * lv) continue;
        if (lu > kSeedMaxAxisRatio * lv || lv > kSeedMaxAxisRatio * lu) continue;
        const double contrast = cfCheckerContrast(image_, c, u, v, kAllEdges, true);
        if (contrast == 0.0 || lu + lv >= bestLen) continue;
        bestLen = lu + lv;
        bu = u;
        bv = v;
        bestContrast = contrast;
      }
    }
    if (bestContrast == 0.0) return false;
    grid_.parity = bestContrast > 0 ? 1 : -1;
    GridNode n;
    n.candidate = seed;
    n.pos = c;
    n.step[0] = bu;
    n.step[1] = bv;
    n.contrast = std::fabs(bestContrast);
    take(seed, grid_.add(n));
    return true;
  }

  // Grows breadth-first from the seed.
  void grow() {
    std::deque<int> queue{0};
    int processed = 0;
    while (!queue.empty()) {
      const int k = queue.front();
      queue.pop_front();
      if ((++processed & 255) == 0) ccAttention::check();
      for (int axis = 0; axis < 2; ++axis) {
        for (int sign = -1; sign <= 1; sign += 2) {
          const int added = extend(k, axis, sign);
          if (added >= 0) queue.push_back(added);
        }
      }
    }
  }

  Grid& grid() { return grid_; }

 private:
  void take(int candidate, int node) {
    cand_[static_cast<std::size_t>(candidate)].attempt = attempt_;
    cand_[static_cast<std::size_t>(candidate)].node = node;
  }
  bool taken(int candidate) const {
    return cand_[static_cast<std::size_t>(candidate)].attempt == attempt_;
  }

  // Tries to label the next vertex from node k along `axis` in direction `sign`, bridging
  // up to kMaxGap missing vertices; returns the new node or -1.
  int extend(int k, int axis, int sign) {
    const GridNode& n = grid_.nodes[static_cast<std::size_t>(k)];
    const int di = axis == 0 ? sign : 0, dj = axis == 1 ? sign : 0;
    if (grid_.find(n.i + di, n.j + dj) >= 0) return -1;
    const int back = grid_.find(n.i - di, n.j - dj);
    double ratio = 1.0;
    bool secondOrder = false;
    const Vec step = predictStep(k, axis, sign, ratio, secondOrder);
    const double len = step.length();
    const double tolerance = secondOrder ? kPredictionTolerance : kLooseTolerance;
    if (len < 2.0) return -1;
    Vec pred = n.pos;
    Vec stride = step;
    for (int m = 1; m <= 1 + kMaxGap; ++m) {
      pred += stride;
      stride *= ratio;
      if (m > 1 && (back < 0 || grid_.find(n.i + m * di, n.j + m * dj) >= 0)) return -1;
      if (!image_.inside(pred, 0.0)) return -1;
      const int c = index_.nearest(pred, (m == 1 ? tolerance : kPredictionTolerance) * len);
      if (c < 0) continue;  // nothing here: perhaps a gap
      if (taken(c)) return -1;
      const Vec q = cand_[static_cast<std::size_t>(c)].pos;
      const int other = 1 - axis;
      Vec u = (q - n.pos) * (sign / static_cast<double>(m));
      Vec v = n.step[other];
      const int ti = n.i + m * di, tj = n.j + m * dj;
      // Use the target's own neighbours on the other axis when they exist.
      const int oi = other == 0 ? 1 : 0, oj = other == 1 ? 1 : 0;
      const int fwd = grid_.find(ti + oi, tj + oj), bwd = grid_.find(ti - oi, tj - oj);
      if (fwd >= 0)
        v = grid_.nodes[static_cast<std::size_t>(fwd)].pos - q;
      else if (bwd >= 0)
        v = q - grid_.nodes[static_cast<std::size_t>(bwd)].pos;
      // Edges required through the midpoints: only towards vertices already in the grid;
      // beyond the new vertex the squares may be cut short by the board's border, and
      // along a borrowed step the edge may be turned (perspective).
      unsigned towardsU = sign > 0 ? kEdgeMinusU : kEdgePlusU;
      unsigned towardsV = (fwd >= 0 ? kEdgePlusV : 0u) | (bwd >= 0 ? kEdgeMinusV : 0u);
      if (axis == 1) {  // u is the j step here: swap the roles for (si, sj)
        towardsU = sign > 0 ? kEdgeMinusV : kEdgePlusV;
        towardsV = (fwd >= 0 ? kEdgePlusU : 0u) | (bwd >= 0 ? kEdgeMinusU : 0u);
      }
      const Vec si = axis == 0 ? u : v, sj = axis == 0 ? v : u;
      const double contrast = cfCheckerContrast(image_, q, si, sj, towardsU | towardsV, false);
      const int expected = ((ti + tj) % 2 == 0) ? grid_.parity : -grid_.parity;
      if (contrast == 0.0 || (contrast > 0 ? 1 : -1) != expected) return -1;
      GridNode node;
      node.i = ti;
      node.j = tj;
      node.candidate = c;
      node.pos = q;
      node.step[0] = si;
      node.step[1] = sj;
      node.contrast = std::fabs(contrast);
      const int added = grid_.add(node);
      take(c, added);
      return added;
    }
    return -1;
  }

  // The image step from node k to its neighbour along axis/sign, the factor by which the
  // step grows per vertex along that line (1 without evidence), and whether two earlier
  // steps went into it.
  Vec predictStep(int k, int axis, int sign, double& ratio, bool& secondOrder) const {
    const GridNode& n = grid_.nodes[static_cast<std::size_t>(k)];
    const int di = axis == 0 ? sign : 0, dj = axis == 1 ? sign : 0;
    ratio = 1.0;
    const int b1 = grid_.find(n.i - di, n.j - dj);
    if (b1 >= 0) {
      const Vec v1 = n.pos - grid_.nodes[static_cast<std::size_t>(b1)].pos;
      const int b2 = grid_.find(n.i - 2 * di, n.j - 2 * dj);
      if (b2 < 0) return v1;
      secondOrder = true;
      const Vec v0 = grid_.nodes[static_cast<std::size_t>(b1)].pos -
                     grid_.nodes[static_cast<std::size_t>(b2)].pos;
      ratio =
          std::clamp(v1.length() / std::max(v0.length(), 1e-9), 1.0 / kMaxStepRatio, kMaxStepRatio);
      const double turn =
          std::clamp(wrapAngle(std::atan2(v1.y(), v1.x()) - std::atan2(v0.y(), v0.x())),
                     -kMaxStepTurn, kMaxStepTurn);
      return rotate(v1, turn) * ratio;
    }
    // Parallelograms with the neighbouring row or column.
    const int oi = axis == 0 ? 0 : 1, oj = axis == 0 ? 1 : 0;
    Vec sum;
    int count = 0;
    for (int s = -1; s <= 1; s += 2) {
      const int a = grid_.find(n.i + s * oi, n.j + s * oj);
      const int b = grid_.find(n.i + s * oi + di, n.j + s * oj + dj);
      if (a >= 0 && b >= 0) {
        sum += grid_.nodes[static_cast<std::size_t>(b)].pos -
               grid_.nodes[static_cast<std::size_t>(a)].pos;
        ++count;
      }
    }
    if (count > 0) return sum / count;
    return n.step[axis] * sign;
  }

  const GrayView& image_;
  std::vector<Candidate>& cand_;
  const CandidateIndex& index_;
  int attempt_;
  Grid grid_;
};

}  // namespace

namespace {

double contrastAt(const GrayView& image, const Vec& p, const Vec& u, const Vec& v, unsigned edges,
                  double reach, double edgeTolerance) {
  const Vec d1 = (u + v) * reach, d2 = (u - v) * reach;
  const Vec eu = u * reach, ev = v * reach;
  const Vec pts[8] = {p + d1, p - d1, p + d2, p - d2, p + eu, p - eu, p + ev, p - ev};
  double s[8];
  for (int k = 0; k < 8; ++k) {
    if (!image.inside(pts[k], 0.0)) return 0.0;
    s[k] = image.sample(pts[k].x(), pts[k].y());
  }
  const double a = 0.5 * (s[0] + s[1]), b = 0.5 * (s[2] + s[3]);
  const double contrast = a - b;
  const double c = std::fabs(contrast);
  if (c <= 0.0) return 0.0;
  if (std::fabs(s[0] - s[1]) > kDiagonalAgreement * c ||
      std::fabs(s[2] - s[3]) > kDiagonalAgreement * c)
    return 0.0;
  const double mid = 0.5 * (a + b);
  for (int k = 4; k < 8; ++k) {
    if ((edges & (1u << (k - 4))) == 0) continue;
    if (std::fabs(s[k] - mid) > edgeTolerance * c) return 0.0;
  }
  return contrast;
}

}  // namespace

double cfCheckerContrast(const GrayView& image, const Vec& p, const Vec& u, const Vec& v,
                         unsigned edges, bool strict) {
  const double tolerance = strict ? kEdgeMidTolerance : kLooseEdgeMidTolerance;
  const double c = contrastAt(image, p, u, v, edges, kSampleReach, tolerance);
  return c != 0.0 ? c : contrastAt(image, p, u, v, edges, kNearSampleReach, tolerance);
}

Vec cfGridAxis(const Grid& grid, const GridNode& n, int axis) {
  const int di = axis == 0 ? 1 : 0, dj = axis == 1 ? 1 : 0;
  const int f = grid.find(n.i + di, n.j + dj), b = grid.find(n.i - di, n.j - dj);
  if (f >= 0 && b >= 0) {
    return (grid.nodes[static_cast<std::size_t>(f)].pos -
            grid.nodes[static_cast<std::size_t>(b)].pos) *
           0.5;
  }
  if (f >= 0) return grid.nodes[static_cast<std::size_t>(f)].pos - n.pos;
  if (b >= 0) return n.pos - grid.nodes[static_cast<std::size_t>(b)].pos;
  return n.step[axis];
}

void cfPruneGrid(Grid& grid) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::size_t k = 0; k < grid.nodes.size(); ++k) {
      const GridNode& n = grid.nodes[k];
      if (!n.alive) continue;
      bool has[2] = {false, false};
      for (int m = 1; m <= 1 + kMaxGap; ++m) {
        has[0] = has[0] || grid.find(n.i + m, n.j) >= 0 || grid.find(n.i - m, n.j) >= 0;
        has[1] = has[1] || grid.find(n.i, n.j + m) >= 0 || grid.find(n.i, n.j - m) >= 0;
      }
      if (!has[0] || !has[1]) {
        grid.kill(static_cast<int>(k));
        changed = true;
      }
    }
  }
}

Grid cfGrowBestGrid(const GrayView& image, std::vector<Candidate>& candidates,
                    const FinderSettings& settings) {
  Grid best;
  if (candidates.empty()) return best;
  const CandidateIndex index(candidates, image.width, image.height);
  std::vector<int> order(candidates.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return (candidates[static_cast<std::size_t>(a)].pos - settings.startPoint).lengthSq() <
           (candidates[static_cast<std::size_t>(b)].pos - settings.startPoint).lengthSq();
  });
  // claimed[k]: taken by a grid big enough to count; such candidates seed nothing more.
  std::vector<char> claimed(candidates.size(), 0);
  int bestAttempt = -1;
  int seeds = 0;
  int lookups = 0;
  const int maxLookups = kSeedLookups * settings.maxSeeds;
  for (std::size_t o = 0; o < order.size() && seeds < settings.maxSeeds && lookups < maxLookups;
       ++o) {
    const int s = order[o];
    if (claimed[static_cast<std::size_t>(s)]) continue;
    ++lookups;
    ccAttention::check();
    const int attempt = static_cast<int>(o);
    Grower grower(image, candidates, index, attempt);
    if (!grower.seed(s)) continue;
    ++seeds;
    grower.grow();
    Grid& g = grower.grid();
    cfPruneGrid(g);
    if (g.liveCount() < settings.minVertices) continue;
    for (const GridNode& n : g.nodes) {
      if (n.alive) claimed[static_cast<std::size_t>(n.candidate)] = 1;
    }
    if (g.liveCount() > best.liveCount()) {
      best = std::move(g);
      bestAttempt = attempt;
    }
  }
  // Only the winning grid's candidates keep their node index.
  for (Candidate& c : candidates) {
    if (c.attempt != bestAttempt) c.node = -1;
  }
  for (const GridNode& n : best.nodes) {
    if (!n.alive) candidates[static_cast<std::size_t>(n.candidate)].node = -1;
  }
  return best;
}

}  // namespace cclft_internal
